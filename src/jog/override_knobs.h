// The wheel as a knob for a percentage of the machine's: slow jog rate, feed override and spindle
// speed override. Each step changes the value by 0.5 percent of itself.
#pragma once

#include "input/wheel_function.h"
#include "jog/wheel_rules.h"

struct Core;

// Returns false when `function` is not a knob.
bool RunOverrideKnob(Core& core, WheelFunction function, const WheelTurn& turn);
