#include "jog/override_knobs.h"

#include <cmath>

#include "host/module.h"
#include "jog/wheel_rules.h"
#include "link/shuttle_win.h"

namespace {

struct Knob {
  std::int32_t wheelFunction;
  std::int32_t readout;
  bool followsAxisReverse;  // wheelDirection rather than rawWheelDirection
  double upperLimit;
  double lowerLimit;
};

constexpr Knob kKnobs[] = {
    {4, kDroSlowJogRate, false, 100.0, 0.1},
    {5, kDroFeedOverride, false, 250.0, 1.0},
    {6, kDroSpindleOverride, true, 250.0, 1.0},
};

constexpr double kStepFraction = 0.005;

}  // namespace

bool RunOverrideKnob(Module& module, ShuttleWin&, std::int32_t wheelFunction,
                     std::int32_t direction, std::int32_t steps) {
  for (const Knob& knob : kKnobs) {
    if (knob.wheelFunction != wheelFunction) continue;
    if (steps == 0) return true;
    const bool down = (knob.followsAxisReverse ? direction : module.rawWheelDirection) != 0;
    double v = module.host.GetDRO(knob.readout);
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
    module.host.SetDRO(knob.readout, v);
    return true;
  }
  return false;
}
