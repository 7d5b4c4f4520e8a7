// The component's pins as plain values: what the pendant asks of LinuxCNC (outputs) and what it
// shows of it (inputs). The program copies them to and from HAL around each poll, so the
// rendering and its tests need no LinuxCNC header. Names follow examples/linuxcnc/pendant.hal.
#pragma once

#include <cstdint>

#include "core/axes.h"

inline constexpr int kPinAxisCount = kAxisCount;
inline constexpr char kPinAxisLetters[kPinAxisCount + 1] = "xyzabc";
inline constexpr int kFunctionButtonCount = 5;

// Pulsed pins, `action.NAME`: a function button's configured action, or a built-in one.
enum class PendantAction : std::uint8_t {
  ZeroX,
  ZeroY,
  ZeroZ,
  ZeroA,
  GotoZero,
  Stop,
  HomeAll,
  Chord1,
  Chord2,
  Chord3,
  Count,
};
inline constexpr int kActionCount = static_cast<int>(PendantAction::Count);
inline constexpr const char* kActionNames[kActionCount] = {
    "zero-x", "zero-y",   "zero-z",  "zero-a",  "goto-zero",
    "stop",   "home-all", "chord-1", "chord-2", "chord-3",
};

struct JogAxisPins {
  std::int32_t jogCounts = 0;  // running total; motion travels its changes x jogScale
  double jogScale = 0.0;
  bool jogEnable = false;
  bool jogPlus = false;
  bool jogMinus = false;
  // The joint of the same number, for velocity jogging before homing (identity kinematics).
  bool jointPlus = false;
  bool jointMinus = false;
};

// halui's override inputs; `value` is halui's current fraction (1.0 = 100 %), an input.
struct OverridePins {
  std::int32_t counts = 0;
  bool countEnable = false;
  bool directValue = false;
  double scale = 0.0;
  double value = 1.0;
};

struct PendantPins {
  // Outputs.
  JogAxisPins axis[kPinAxisCount];
  double jogSpeed = 0.0;  // units per minute
  OverridePins feedOverride;
  OverridePins spindleOverride;
  bool estop = true;  // an absent pendant holds the machine in E-stop
  bool connected = false;
  // Changes at every poll: the E-stop chain's watchdog sees the component alive.
  bool watchdog = false;
  // Wheel counts dropped because the axis would still be travelling them long after the wheel
  // stopped; a running total.
  std::int32_t droppedCounts = 0;
  bool action[kActionCount] = {};
  bool hold[kFunctionButtonCount] = {};  // tap-and-hold of F1..F5, from the second press on
  double stepSize = 0.0;
  double slowJogRate = 0.0;  // percent
  // Presets LinuxCNC has no input for: offered for the integrator to wire.
  double feedRate = 0.0;
  double spindleSpeed = 0.0;

  // Inputs.
  bool machineIsOn = false;
  bool estopIsActivated = false;
  bool programIsRunning = false;
  bool isHomed = false;
  bool coordMode = false;
};
