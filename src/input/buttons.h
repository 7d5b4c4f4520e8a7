// The function buttons F1..F5 and the wheel's function, third step of the input chain.
#pragma once

#include <cstdint>

#include "input/input_report.h"
#include "input/tap_hold.h"
#include "input/wheel_function.h"
#include "input/wheel_function_choice.h"

struct Core;

// The layer a function button's press began in: the whole press belongs to it, whatever EN does
// meanwhile.
enum class PressLayer : std::uint8_t {
  Up,     // not pressed
  Plain,  // begun with EN up: tap-and-hold
  En,     // begun with EN held: the configured action
};

struct ButtonState {
  ModeButtonState modeButtons;
  PressLayer press[5] = {PressLayer::Up, PressLayer::Up, PressLayer::Up, PressLayer::Up,
                         PressLayer::Up};  // F1..F5
  TapHoldState tapHold;
  bool plainPressHeld = false;  // at the last report: a press begun with EN up was held
};

// No function button in a press and none waiting for a tap's second press.
inline bool PressesAtRest(const ButtonState& s) {
  for (int button = 0; button < 5; ++button) {
    if (s.press[button] != PressLayer::Up || s.tapHold.tap[button] != TapPhase::Idle) return false;
  }
  return true;
}

// First in the input chain, before this report's keys: a tap-and-hold burst whose buttons have
// been idle long enough ends. The idle time is the host's ticks, so the end comes before whatever
// this report brings, however the reports were grouped into polls.
void EndIdleButtons(Core& core, ButtonState& state);

// A report that repeats the keys of the last one decoded, taken after the ticks moved on: a press
// begun with EN up that it shows still held is not idle, as decoding that report would say.
void NotePlainPressStillHeld(Core& core, const ButtonState& state);

// Mode buttons, wheel function and the five function buttons.
// `wheelFunction` is the window's: a new window starts before the first poll again.
void ProcessButtons(Core& core, ButtonState& state, WheelFunction& wheelFunction,
                    std::int32_t selectedAxis, const input_report::Words& report);
