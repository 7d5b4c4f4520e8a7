// The fixed selectable lists. Each entry is a number, a comma and a label; a setting stores the
// index of the chosen entry, the dialog shows the label and the code that acts on it takes the
// leading number.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

inline constexpr std::size_t kButtonActionCount = 66;
inline constexpr std::size_t kScreenCount = 7;
inline constexpr std::size_t kVelocityDivisorCount = 10;
inline constexpr std::size_t kSlowDownCount = 3;

// Actions a function button can be given; the leading number is the action code.
extern const std::array<const char*, kButtonActionCount> kButtonActionList;

struct ScreenListEntry {
  const char* text;
  std::int32_t hostCode;  // pressed when the screen key switches to this screen; 0 for NONE
};
// Index 0 marks an unused screen slot.
extern const std::array<ScreenListEntry, kScreenCount> kScreenList;

// Velocity mode sensitivity ("3,1".."25,10"); the leading number is the divisor.
extern const std::array<const char*, kVelocityDivisorCount> kVelocityDivisorList;
// Slow-down while EN is held ("2,2".."4,4"); the leading number is the divisor.
extern const std::array<const char*, kSlowDownCount> kSlowDownList;

// The decimal number made of the text's leading digits; 0 when it starts with no digit or is null.
// Saturates at INT32_MAX rather than overflowing.
std::int32_t LeadingNumber(const char* text);

// The entry of `list` at `index`, or nullptr when the index lies outside the list.
template <std::size_t N>
const char* ListEntry(const std::array<const char*, N>& list, std::int64_t index) {
  if (index < 0 || static_cast<std::uint64_t>(index) >= N) return nullptr;
  return list[static_cast<std::size_t>(index)];
}
