// The wheel: its counter turned into steps and a direction, handed to the wheel function.
#pragma once

#include <cstdint>

#include "input/axis_select.h"
#include "input/input_report.h"
#include "input/wheel_function.h"
#include "jog/continuous_jog.h"
#include "jog/presets.h"
#include "jog/step_jog.h"

struct Core;

struct WheelState {
  std::int32_t lastWheelCount = 0;
  // The last poll's steps and direction (1: backward, after the axis's reverse setting); a change
  // of exactly half a turn has no direction of its own and repeats them.
  std::int32_t wheelDelta = 0;
  std::int32_t wheelDirection = 0;
};

// The behaviours a turn of the wheel drives, each with its own state.
struct WheelTargets {
  StepJogState& stepJog;
  ContinuousJogState& continuousJog;
  PresetState& presets;
};

// Last step of the input chain: wheel delta, reversal, dispatch, restore after a step burst.
void ProcessWheel(Core& core, WheelState& wheel, const WheelTargets& targets,
                  WheelFunction function, const AxisSelection& axis,
                  const input_report::Words& report);
