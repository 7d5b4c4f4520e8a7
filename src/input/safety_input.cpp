// Safety input, once per poll:
//
//   phase     input active                        input inactive
//   Idle      press 1021 -> Latched               stay
//   Latched   LED 800 off: press 1021, stay       press 1021 -> Released
//   Released  press 1021 -> Latched               stay
#include "input/safety_input.h"

#include "core/core.h"
#include "host/host_codes.h"

void CheckSafetyInput(Core& core, SafetyState& state, const input_report::Words& report) {
  const bool active = input_report::SafetyActive(report.word0);
  switch (state.phase) {
    case SafetyPhase::Idle:
    case SafetyPhase::Released:
      if (active) {
        core.host.DoButton(host_button::kSafetyStop);
        state.phase = SafetyPhase::Latched;
      }
      break;
    case SafetyPhase::Latched:
      if (!active) {
        state.phase = SafetyPhase::Released;
        core.host.DoButton(host_button::kSafetyStop);
      } else if (!core.host.GetLED(host_led::kSafetyStop)) {
        // Pressed again while the host has not shown the stop yet.
        core.host.DoButton(host_button::kSafetyStop);
      }
      break;
  }
}

void ForgetSafetyLatch(SafetyState& state) {
  if (state.phase == SafetyPhase::Latched) state.phase = SafetyPhase::Idle;
}
