// Rules every wheel function shares: what one poll's turn of the wheel is, axis letters, the
// motion gate and the jog-enabled check.
#pragma once

#include <cstdint>

struct Core;

inline constexpr const char* kAbsoluteModeLine = "G90";
inline constexpr const char* kStartJogLine = "DOJOG";
inline constexpr const char* kEndJogLine = "ENDJOG";
inline constexpr const char* kJogOffText = " Jog OFF. ";

// One poll's turn of the wheel, as every wheel function sees it.
struct WheelTurn {
  std::int32_t steps = 0;
  std::int32_t direction = 0;     // 1: backward, after the selected axis's reverse setting
  std::int32_t rawDirection = 0;  // the same before the reverse setting
  std::int32_t speed = 0;         // the report's wheel speed byte, 0 at rest
  bool enableHeld = false;
  std::int32_t axis = 0;  // the selected axis
  bool axisChangeHold = false;
};

// "X".."C" for axis 0..5; nullptr for any other value, so no line is built for it.
const char* AxisLetter(std::int32_t axis);

// (804 and 805 both unlit) or 806 lit; 805 and 806 are asked only when needed.
bool MotionGateAllows(const Core& core);

// Indicator 83 lit; otherwise shows " Jog OFF. " and returns false.
bool JogEnabled(Core& core);
