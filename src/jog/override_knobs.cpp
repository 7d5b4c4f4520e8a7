#include "jog/override_knobs.h"

#include <cmath>

#include "core/core.h"

namespace {

struct Knob {
  WheelFunction function;
  MachineValue value;
  bool followsAxisReverse;  // wheelDirection rather than rawWheelDirection
  double upperLimit;
  double lowerLimit;
};

constexpr Knob kKnobs[] = {
    {WheelFunction::SlowJogRateKnob, MachineValue::SlowJogRate, false, 100.0, 0.1},
    {WheelFunction::FeedOverrideKnob, MachineValue::FeedOverride, false, 250.0, 1.0},
    {WheelFunction::SpindleOverrideKnob, MachineValue::SpindleOverride, true, 250.0, 1.0},
};

constexpr double kStepFraction = 0.005;

}  // namespace

bool RunOverrideKnob(Core& core, WheelFunction function, const WheelTurn& turn) {
  for (const Knob& knob : kKnobs) {
    if (knob.function != function) continue;
    const std::int32_t steps = turn.steps;
    if (steps == 0) return true;
    const bool down = (knob.followsAxisReverse ? turn.direction : turn.rawDirection) != 0;
    double v = core.machine.Value(knob.value);
    // A read-out that is not a finite number gives nothing sensible to scale.
    if (!std::isfinite(v)) return true;
    if (!down) {
      if (!(v < knob.upperLimit)) return true;
      v = (steps * kStepFraction + 1.0) * v;
      if (v > knob.upperLimit) v = knob.upperLimit;
    } else {
      if (!(v > 0.0)) return true;
      v = (1.0 - steps * kStepFraction) * v;
      if (v < knob.lowerLimit) v = knob.lowerLimit;
    }
    core.machine.SetValue(knob.value, v);
    return true;
  }
  return false;
}
