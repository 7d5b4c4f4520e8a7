// The one table of the 82 profile keys: name, type, default and the field each one fills.
// Load, save and the configuration dialog all iterate it.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "settings/pendant_settings.h"

enum class SettingType : std::uint8_t { Int16, Int32, Bool, Text };

struct SettingKey {
  const char* key;  // profile key, e.g. "BUTTON0", "StepJogRate", "S1"
  SettingType type;
  std::int32_t defaultInt;  // numbers and bools; Vel's real default comes from the caller
  const char* defaultText;  // texts only, else nullptr
  // Number fields (Int16, Int32, Bool): the field widened to 32 bits, and stored back with the
  // type's conversion (low 16 bits for Int16, nonzero -> 1 for Bool). Unused for texts.
  std::int32_t (*getInt)(const PendantSettings&);
  void (*setInt)(PendantSettings&, std::int32_t);
  // Text fields only.
  std::string& (*text)(PendantSettings&);
  const std::string& (*constText)(const PendantSettings&);
};

// All keys, in load and save order.
std::span<const SettingKey> SettingKeys();

// The entry for `key`, or nullptr.
const SettingKey* FindSettingKey(const char* key);

// A number key's value from its stored text, the same in every host: C white space, an optional
// sign, then the decimal digits up to the first other character, taken modulo 2^32 as the
// Windows host reads its own profile. False, leaving `value`, when the text has no digits.
bool ParseSettingInteger(std::string_view text, std::int32_t& value);

inline constexpr const char* kVelKey = "Vel";
