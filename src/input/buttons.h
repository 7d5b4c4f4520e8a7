#pragma once

#include <cstdint>

#include "input/input_report.h"
#include "input/wheel_function.h"

struct Core;

// The layer a function button's press began in: the whole press belongs to it, whatever EN does
// meanwhile.
enum class PressLayer : std::uint8_t {
  Up,     // not pressed
  Plain,  // begun with EN up: tap-and-hold
  En,     // begun with EN held: the configured action
};

// Tap-and-hold of one function button with EN up.
enum class TapPhase : std::uint8_t {
  Idle,
  FirstPress,  // down, counting the press length
  Armed,       // tapped: a press within the tap window starts the action
  Holding,     // the second press is held: its start code went, its end code follows on release
};

// The host mode lit when a burst of tap-and-hold actions began, restored at its end.
enum class BurstMode : std::uint8_t {
  NotCaptured,  // no burst running
  NoneLit,
  Led14,
  Led15,
  Led57,
};

struct ButtonState {
  bool modeLatch[3] = {false, false, false};
  PressLayer press[5] = {PressLayer::Up, PressLayer::Up, PressLayer::Up, PressLayer::Up,
                         PressLayer::Up};  // F1..F5
  TapPhase tap[5] = {TapPhase::Idle, TapPhase::Idle, TapPhase::Idle, TapPhase::Idle,
                     TapPhase::Idle};
  BurstMode burstMode = BurstMode::NotCaptured;
  bool modeSelectSent = false;
};

// Mode buttons, wheel function and the five function buttons; third step of the input chain.
// `wheelFunction` is the window's: a new window starts before the first poll again.
void ProcessButtons(Core& core, ButtonState& state, WheelFunction& wheelFunction,
                    std::int32_t selectedAxis, const input_report::Words& report);
