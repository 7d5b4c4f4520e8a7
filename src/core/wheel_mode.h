// The wheel mode the three mode buttons choose, two per button; module-wide, so it survives a
// reconnection and a new window. The numbers are the ones the diagnostics and the tests know the
// modes by; a value outside 1..6 (never chosen by the buttons) counts as StepJog.
#pragma once

#include <cstdint>

enum class WheelMode : std::int32_t {
  StepJog = 1,  // mode button 1
  VelocityJog = 2,
  ContinuousJog = 3,  // mode button 2
  SlowJogRate = 4,
  FeedOverride = 5,  // mode button 3
  SpindleOverride = 6,
};

// 0..5 for StepJog..SpindleOverride, for tables by mode; 0 for a value outside 1..6.
inline int WheelModeIndex(WheelMode mode) {
  const auto m = static_cast<std::int32_t>(mode);
  return m >= 1 && m <= 6 ? m - 1 : 0;
}
