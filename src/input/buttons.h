#pragma once

#include <cstdint>

#include "input/input_report.h"
#include "input/wheel_function.h"

struct Core;

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
  bool enPressLatch[5] = {false, false, false, false, false};  // F1..F5
  TapPhase tap[5] = {TapPhase::Idle, TapPhase::Idle, TapPhase::Idle, TapPhase::Idle,
                     TapPhase::Idle};
  BurstMode burstMode = BurstMode::NotCaptured;
  bool modeSelectSent = false;
};

// Mode buttons, wheel function and the five function buttons; third step of the input chain.
// `wheelFunction` is the window's: a new window starts before the first poll again.
void ProcessButtons(Core& core, ButtonState& state, WheelFunction& wheelFunction,
                    std::int32_t selectedAxis, const input_report::Words& report);
