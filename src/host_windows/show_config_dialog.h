// The host's Config: the configuration dialog over the profile's settings.
#pragma once

#include "settings/config_dialog.h"

struct Module;
class ProfileStore;

inline constexpr const char* kSettingsNotSavedMessage = "The pendant settings were not saved. ";

// Loads the settings (Vel defaulting to 2), runs the dialog, saves every setting whatever happened.
// `statusSource` fills the dialog's status area.
void ShowConfigDialog(Module& module, ProfileStore& store, DialogStatusSource statusSource = {});
