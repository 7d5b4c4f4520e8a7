// Safety input, once per poll:
//
//   state     input active                        input inactive
//   Idle      press 1021 -> Latched               stay
//   Latched   LED 800 off: press 1021, stay       press 1021 -> Released
//   Released  press 1021 -> Latched               stay
#include "input/safety_input.h"

#include "host/module.h"
#include "input/input_report.h"
#include "link/shuttle_win.h"

namespace {
inline constexpr std::int32_t kSafetyButton = 1021;
inline constexpr std::int32_t kSafetyLed = 800;
}  // namespace

void CheckSafetyInput(Module& module, ShuttleWin& win) {
  SafetyState& s = module.safety;
  if (input_report::SafetyActive(win.reportWord0)) {
    // LED 800 is asked only while latched: the host has not confirmed the stop yet.
    if (!s.safetyLatched || !module.host.GetLED(kSafetyLed)) {
      module.host.DoButton(kSafetyButton);
      s.safetyLatched = true;
      s.safetyReleaseSent = false;
    }
  } else if (!s.safetyReleaseSent && s.safetyLatched) {
    s.safetyLatched = false;
    s.safetyReleaseSent = true;
    module.host.DoButton(kSafetyButton);
  }
}
