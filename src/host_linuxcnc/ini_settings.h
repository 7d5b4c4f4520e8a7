// The component's settings from the INI file: [PENDANT] keyed as in the Windows profile (missing
// or unreadable keys take the profile's defaults), BUTTON0..4 as action names, and the machine's
// speed and override limits from its own sections.
#pragma once

#include <functional>

#include "host_linuxcnc/linuxcnc_machine.h"
#include "settings/pendant_settings.h"

inline constexpr const char* kPendantSection = "PENDANT";

// The value of `key` in `section`, or nullptr when absent.
using IniFind = std::function<const char*(const char* section, const char* key)>;
// Told about each value that is not understood.
using IniWarn = std::function<void(const char* key, const char* value)>;

// The action an action name stands for: an index into kActionNames, kNoAction for "" and "none",
// kBuiltInAction for nullptr (key absent); unknown names are kNoAction and warned about.
std::int8_t ParseButtonAction(const char* name, bool& known);

void LoadIniSettings(const IniFind& find, const IniWarn& warn, PendantSettings& settings,
                     LinuxcncConfig& config);
