//   P-R P----R   tap, then press within the tap window (ticks 0..7 after the tap): the action
//                begins at the second press and ends at its release, whatever EN did meanwhile
// 15 ticks after the last button was let go, the burst ends.
#include "input/tap_hold.h"

#include "core/core.h"

namespace {

constexpr std::int32_t kShortPressTicks = 7;
constexpr std::int32_t kTapWindowTicks = 8;
constexpr std::int32_t kIdleTicksEndingBurst = 15;

}  // namespace

void CloseTapWindow(const Core& core, TapHoldState& s, int button) {
  // A tick the polls did not see must not leave a button armed, so the window closes at 8 or
  // later, and before this report's press is looked at: the press may come after the window.
  TapPhase& phase = s.tap[button];
  if (phase == TapPhase::Armed && core.ticks.tapWindowTicks[button] >= kTapWindowTicks)
    phase = TapPhase::Idle;
}

void RunTapHold(Core& core, TapHoldState& s, int button, bool down) {
  TapPhase& phase = s.tap[button];
  switch (phase) {
    case TapPhase::Idle:
      if (down) {
        core.ticks.pressTicks = 0;
        phase = TapPhase::FirstPress;
      }
      break;
    case TapPhase::FirstPress:
      if (!down) {
        phase = TapPhase::Idle;
        if (core.ticks.pressTicks < kShortPressTicks) {
          phase = TapPhase::Armed;
          core.ticks.tapWindowTicks[button] = 0;
        }
      }
      break;
    case TapPhase::Armed:
      if (down) {
        if (core.jogModes != nullptr) core.jogModes->BeginHoldBurst();
        s.burstRunning = true;
        core.ticks.idleTicks = 0;
        core.machine.BeginHold(button);
        phase = TapPhase::Holding;
      }
      break;
    case TapPhase::Holding:
      if (!down) {
        phase = TapPhase::Idle;
        core.machine.EndHold(button);
      }
      break;
  }
}

void EndHolds(Core& core, TapHoldState& s) {
  for (int button = 0; button < 5; ++button) {
    if (s.tap[button] != TapPhase::Holding) continue;
    s.tap[button] = TapPhase::Idle;
    core.machine.EndHold(button);
  }
  if (s.burstRunning) {
    s.burstRunning = false;
    if (core.jogModes != nullptr) core.jogModes->EndHoldBurst();
  }
}

void EndIdleHoldBurst(Core& core, TapHoldState& s) {
  // Likewise at 15 idle ticks or later, once per burst.
  if (core.ticks.idleTicks >= kIdleTicksEndingBurst && s.burstRunning) {
    if (core.jogModes != nullptr) core.jogModes->EndHoldBurst();
    s.burstRunning = false;
  }
}
