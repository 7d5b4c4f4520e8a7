#include "host_linuxcnc/ini_settings.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "settings/settings_keys.h"
#include "text/ascii.h"

namespace {

bool ParseReal(const char* text, double& value) {
  if (text == nullptr) return false;
  char* end = nullptr;
  const double v = std::strtod(text, &end);
  if (end == text || !(v > 0.0)) return false;
  value = v;
  return true;
}

// The first positive one of the keys, in order.
double FirstPositive(const IniFind& find,
                     std::initializer_list<std::pair<const char*, const char*>> keys) {
  for (const auto& [section, key] : keys) {
    double v = 0.0;
    if (ParseReal(find(section, key), v)) return v;
  }
  return 0.0;
}

}  // namespace

std::int8_t ParseButtonAction(const char* name, bool& known) {
  known = true;
  if (name == nullptr) return kBuiltInAction;
  while (ascii::IsSpace(*name)) ++name;
  if (*name == '\0' || std::strcmp(name, "none") == 0) return kNoAction;
  for (int a = 0; a < kActionCount; ++a) {
    if (std::strcmp(name, kActionNames[a]) == 0) return static_cast<std::int8_t>(a);
  }
  known = false;
  return kNoAction;
}

void LoadIniSettings(const IniFind& find, const IniWarn& warn, PendantSettings& settings,
                     LinuxcncConfig& config) {
  for (const SettingKey& entry : SettingKeys()) {
    if (std::strncmp(entry.key, "BUTTON", 6) == 0) continue;  // names, below
    const char* text = find(kPendantSection, entry.key);
    if (entry.type == SettingType::Text) {
      entry.text(settings) = text != nullptr ? text : entry.defaultText;
      continue;
    }
    std::int32_t value = entry.defaultInt;
    // A text without a number is a mistake in the INI: said, and the key keeps its default.
    if (text != nullptr && !ParseSettingInteger(text, value)) {
      warn(entry.key, text);
      value = entry.defaultInt;
    }
    entry.setInt(settings, value);
  }

  for (int b = 0; b < kFunctionButtonCount; ++b) {
    char key[24];  // room for any int, so the compiler can see nothing is cut
    std::snprintf(key, sizeof key, "BUTTON%d", b);
    const char* name = find(kPendantSection, key);
    bool known = true;
    config.buttonAction[b] = ParseButtonAction(name, known);
    if (!known) warn(key, name);
  }

  for (int a = 0; a < kPinAxisCount; ++a) {
    char section[8];
    std::snprintf(section, sizeof section, "AXIS_%c", kPinAxisLetters[a] - 'a' + 'A');
    const bool rotary = a >= 3;
    const double perSecond =
        FirstPositive(find, {{section, "MAX_VELOCITY"},
                             {"DISPLAY", rotary ? "MAX_ANGULAR_VELOCITY" : "MAX_LINEAR_VELOCITY"},
                             {"TRAJ", rotary ? "MAX_ANGULAR_VELOCITY" : "MAX_LINEAR_VELOCITY"}});
    config.maxJogSpeed[a] = perSecond * 60.0;
  }

  double fraction = 0.0;
  if (ParseReal(find("DISPLAY", "MAX_FEED_OVERRIDE"), fraction))
    config.feedOverrideMax = fraction * 100.0;
  if (ParseReal(find("DISPLAY", "MIN_SPINDLE_OVERRIDE"), fraction))
    config.spindleOverrideMin = fraction * 100.0;
  if (ParseReal(find("DISPLAY", "MAX_SPINDLE_OVERRIDE"), fraction))
    config.spindleOverrideMax = fraction * 100.0;
}
