// Tap-and-hold of the function buttons with EN up: a tap, then a press within the tap window,
// runs the button's action from that press to its release. A run of such actions is a burst,
// ended once the buttons have been idle a while.
#pragma once

#include <cstdint>

struct Core;

enum class TapPhase : std::uint8_t {
  Idle,
  FirstPress,  // down, counting the press length
  Armed,       // tapped: a press within the tap window starts the action
  Holding,     // the second press is held: its action runs until release
};

struct TapHoldState {
  TapPhase tap[5] = {TapPhase::Idle, TapPhase::Idle, TapPhase::Idle, TapPhase::Idle,
                     TapPhase::Idle};  // F1..F5
  bool burstRunning = false;
};

// Before a button's report is looked at: an armed button whose tap window has passed is no longer.
void CloseTapWindow(const Core& core, TapHoldState& state, int button);
// One poll of function button `button` (F1..F5 = 0..4) in a press begun with EN up.
void RunTapHold(Core& core, TapHoldState& state, int button, bool down);
// After all buttons: a burst whose buttons have been idle long enough ends.
void EndIdleHoldBurst(Core& core, TapHoldState& state);
// The plug-in stops: every held action ends, then the burst.
void EndHolds(Core& core, TapHoldState& state);
