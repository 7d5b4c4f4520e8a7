// The pendant's 8-byte input report, seen by the input chain as two little-endian words:
// word0 = bytes 0..3, word1 = bytes 4..7. A set bit means pressed or active. Every
// handler reads the levels afresh each poll and derives its own edges.
//
//   byte 0  report id              word0 bits  0..7   (not examined)
//   byte 1  wheel counter          word0 bits  8..15
//   byte 2  wheel speed            word0 bits 16..23  (0 at rest)
//   byte 3  safety,key1,key2,key3,EN,X/A,Y/B,Z/C      word0 bits 24..31
//   byte 4  modeButtons(2 bits),-,F3,F1,F2,F4,F5      word1 bits 0..7
//   bytes 5..7 unused
#pragma once

#include <cstdint>

namespace input_report {

// word0
inline constexpr std::uint32_t kSafetyMask = 1u << 24;
inline constexpr std::uint32_t kKey1Mask = 1u << 25;
inline constexpr std::uint32_t kKey2Mask = 1u << 26;
inline constexpr std::uint32_t kKey3Mask = 1u << 27;
inline constexpr std::uint32_t kEnableMask = 1u << 28;
inline constexpr std::uint32_t kXAMask = 1u << 29;
inline constexpr std::uint32_t kYBMask = 1u << 30;
inline constexpr std::uint32_t kZCMask = 1u << 31;
inline constexpr unsigned kWheelCounterShift = 8;
inline constexpr unsigned kWheelSpeedShift = 16;

// word1
inline constexpr std::uint32_t kModeButtonsMask = 0x3u;
inline constexpr std::uint32_t kF3Mask = 1u << 3;
inline constexpr std::uint32_t kF1Mask = 1u << 4;
inline constexpr std::uint32_t kF2Mask = 1u << 5;
inline constexpr std::uint32_t kF4Mask = 1u << 6;
inline constexpr std::uint32_t kF5Mask = 1u << 7;

// F1..F5 in button order (index 0 is F1).
inline constexpr std::uint32_t kFunctionMasks[5] = {kF1Mask, kF2Mask, kF3Mask, kF4Mask, kF5Mask};
// X/A, Y/B, Z/C in axis order.
inline constexpr std::uint32_t kAxisKeyMasks[3] = {kXAMask, kYBMask, kZCMask};

inline constexpr std::uint32_t Word(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

// One report as the input chain reads it.
struct Words {
  std::uint32_t word0 = 0;
  std::uint32_t word1 = 0;

  static constexpr Words Of(const std::uint8_t* report) { return {Word(report), Word(report + 4)}; }
};

inline constexpr bool SafetyActive(std::uint32_t word0) {
  return (word0 & kSafetyMask) != 0;
}
inline constexpr bool Key1(std::uint32_t word0) {
  return (word0 & kKey1Mask) != 0;
}
inline constexpr bool Key2(std::uint32_t word0) {
  return (word0 & kKey2Mask) != 0;
}
inline constexpr bool Key3(std::uint32_t word0) {
  return (word0 & kKey3Mask) != 0;
}
inline constexpr bool EnablePressed(std::uint32_t word0) {
  return (word0 & kEnableMask) != 0;
}
// The wheel's 8-bit position counter.
inline constexpr std::uint8_t WheelCounter(std::uint32_t word0) {
  return static_cast<std::uint8_t>(word0 >> kWheelCounterShift);
}
// The wheel's 8-bit speed value, 0 at rest.
inline constexpr std::uint8_t WheelSpeed(std::uint32_t word0) {
  return static_cast<std::uint8_t>(word0 >> kWheelSpeedShift);
}
// 0: no mode button down; 1..3: mode button 1..3 down.
inline constexpr std::int32_t ModeButtons(std::uint32_t word1) {
  return static_cast<std::int32_t>(word1 & kModeButtonsMask);
}
// index 0..4 for F1..F5; false for any other index.
inline constexpr bool FunctionButton(std::uint32_t word1, int index) {
  return index >= 0 && index < 5 && (word1 & kFunctionMasks[index]) != 0;
}
// index 0..2 for X/A, Y/B, Z/C; false for any other index.
inline constexpr bool AxisKey(std::uint32_t word0, int index) {
  return index >= 0 && index < 3 && (word0 & kAxisKeyMasks[index]) != 0;
}

}  // namespace input_report
