// The wheel's function: the three mode buttons choose the wheel mode, and EN picks the mode's
// second layer.
#pragma once

#include "input/input_report.h"
#include "input/wheel_function.h"

struct Core;

struct ModeButtonState {
  bool modeLatch[3] = {false, false, false};
};

// `wheelFunction` is the window's: a new window starts before the first poll again.
void ChooseWheelFunction(Core& core, ModeButtonState& state, WheelFunction& wheelFunction,
                         std::int32_t selectedAxis, const input_report::Words& report);
