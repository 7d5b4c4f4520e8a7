#include "jog/step_jog.h"

#include <cstdint>

#include "core/core.h"

namespace {

std::int32_t SignedSteps(const WheelTurn& turn) {
  return turn.direction != 0 ? -turn.steps : turn.steps;
}

}  // namespace

void StepJog(Core& core, ContinuousJogState& continuous, const WheelTurn& turn) {
  if (!LeaveContinuousJog(core, continuous, turn.axis)) return;
  Machine& machine = core.machine;
  // A still wheel lets the machine catch up on what it held back; no gate is asked for it.
  if (turn.steps == 0) {
    if (core.heldSteps != nullptr) core.heldSteps->StepIdle(turn.axis, turn.axisChangeHold);
    return;
  }
  if (!machine.MotionAllowed()) return;
  if (!machine.JogAllowed()) return;
  machine.StepAxis(turn.axis, SignedSteps(turn), turn.axisChangeHold);
}

void SlowRateStepJog(Core& core, const WheelTurn& turn) {
  if (turn.steps == 0) return;
  if (!core.machine.JogAllowed()) return;
  core.machine.SlowStepAxis(turn.axis, SignedSteps(turn));
}
