// The wheel's function: the three mode buttons choose the wheel mode, and EN picks the mode's
// second layer.
#pragma once

#include "core/wheel_mode.h"
#include "input/input_report.h"
#include "input/wheel_function.h"

struct Core;

struct ModeButtonState {
  bool modeLatch[3] = {false, false, false};
};

// The wheel's function in `mode`, with EN held or not.
inline WheelFunction WheelFunctionFor(WheelMode mode, bool enableHeld) {
  // By wheel mode 1..6, without and with EN.
  using enum WheelFunction;
  static constexpr WheelFunction kFunctions[6][2] = {
      {StepJog, StepSizePresets},      {VelocityJog, VelocityJog},
      {CModeJog, SlowRateStepJog},     {SlowJogRateKnob, SlowJogRatePresets},
      {FeedOverrideKnob, FeedPresets}, {SpindleOverrideKnob, SpindlePresets},
  };
  return kFunctions[WheelModeIndex(mode)][enableHeld ? 1 : 0];
}

// `wheelFunction` is the window's: a new window starts before the first poll again.
void ChooseWheelFunction(Core& core, ModeButtonState& state, WheelFunction& wheelFunction,
                         std::int32_t selectedAxis, const input_report::Words& report);
