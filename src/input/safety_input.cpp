// Safety input, once per poll:
//
//   phase     input active                        input inactive
//   Idle      stop -> Latched                     stay
//   Latched   stop not shown: stop again, stay    stop -> Released
//   Released  stop -> Latched                     stay
#include "input/safety_input.h"

#include "core/core.h"

void CheckSafetyInput(Core& core, SafetyState& state, const input_report::Words& report) {
  const bool active = input_report::SafetyActive(report.word0);
  if (core.watch != nullptr) core.watch->SafetyInputLevel(active);
  switch (state.phase) {
    case SafetyPhase::Idle:
    case SafetyPhase::Released:
      if (active) {
        core.machine.SafetyStop();
        state.phase = SafetyPhase::Latched;
      }
      break;
    case SafetyPhase::Latched:
      if (!active) {
        state.phase = SafetyPhase::Released;
        core.machine.SafetyStop();
      } else if (!core.machine.SafetyStopShown()) {
        // Pressed again while the host has not shown the stop yet.
        core.machine.SafetyStop();
      }
      break;
  }
}

void ForgetSafetyLatch(SafetyState& state) {
  if (state.phase == SafetyPhase::Latched) state.phase = SafetyPhase::Idle;
}
