// What one poll's turn of the wheel is, as every wheel function sees it.
#pragma once

#include <cstdint>

struct WheelTurn {
  std::int32_t steps = 0;
  std::int32_t direction = 0;     // 1: backward, after the selected axis's reverse setting
  std::int32_t rawDirection = 0;  // the same before the reverse setting
  std::int32_t speed = 0;         // the report's wheel speed byte, 0 at rest
  bool enableHeld = false;
  std::int32_t axis = 0;  // the selected axis
  bool axisChangeHold = false;
};
