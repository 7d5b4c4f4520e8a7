// Preset stepping: with EN held, one flick of the wheel selects the next nonzero preset of nine in
// the turning direction and sets it as the machine's value. Step sizes, slow jog
// rates, feed overrides or feed rates and spindle overrides or spindle speeds share one stepping
// rule, told apart by a table of members.
#pragma once

#include <cstdint>

#include "input/wheel_function.h"
#include "jog/wheel_rules.h"

struct Core;

// Each function's position among its nine presets (1..9); a new window starts at 1.
struct PresetState {
  std::int32_t stepPresetIndex = 1;
  std::int32_t slowJogPresetIndex = 1;
  std::int32_t feedOverridePresetIndex = 1;
  std::int32_t feedRatePresetIndex = 1;
  std::int32_t spindlePresetIndex = 1;
  bool wheelMovingBefore = false;  // a flick counts when the wheel starts to move
};

// Returns false when `function` is not a preset function.
bool RunPresetFunction(Core& core, PresetState& state, WheelFunction function,
                       const WheelTurn& turn);

// The decimal number at the start of `text`: leading white space, an optional sign, digits with
// an optional '.' fraction and an optional exponent. 0 when the text starts with no number or the
// number lies beyond double's range. The result does not depend on the process locale.
double LeadingDecimal(const char* text);

// LeadingDecimal in single precision; a number beyond single precision's range counts as 0, so it
// is skipped like an empty preset rather than written as infinity.
float LeadingDecimalSingle(const char* text);
