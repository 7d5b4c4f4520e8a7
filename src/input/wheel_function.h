// What the wheel does, chosen by the wheel mode and EN. The numbers are the ones the diagnostics
// and the tests know the functions by.
#pragma once

#include <cstdint>

enum class WheelFunction : std::int32_t {
  BeforeFirstPoll = 1,  // no function chosen yet; nothing runs
  VelocityJog = 2,
  CModeJog = 3,
  SlowJogRateKnob = 4,
  FeedOverrideKnob = 5,
  SpindleOverrideKnob = 6,
  StepJog = 10,
  StepSizePresets = 12,
  SlowRateStepJog = 13,
  SlowJogRatePresets = 14,
  FeedPresets = 15,
  SpindlePresets = 16,
};

// Whether the function acts on the wheel's course from report to report (starting, stopping,
// turning back), not only on how far it turned: the continuous jogs and the presets.
constexpr bool FollowsWheelCourse(WheelFunction function) {
  switch (function) {
    case WheelFunction::VelocityJog:
    case WheelFunction::CModeJog:
    case WheelFunction::StepSizePresets:
    case WheelFunction::SlowJogRatePresets:
    case WheelFunction::FeedPresets:
    case WheelFunction::SpindlePresets:
      return true;
    default:
      return false;
  }
}
