#pragma once

#include <cstdint>

#include "input/input_report.h"

struct Core;

struct AxisKeyState {
  bool axisKeyLatch[3] = {false, false, false};  // X/A, Y/B, Z/C
};

// The selected axis; a new window starts again at X.
struct AxisSelection {
  std::int32_t selectedAxis = 0;  // 0..5: X, Y, Z, A, B, C
  std::int32_t previousAxis = 1;  // differs at first, so the first poll counts as a change
  // Raised at an axis change while the host's command queue is not empty: step lines are held
  // back until it has drained.
  bool axisChangeHold = false;
};

// The three axis keys; fourth step of the input chain. Returns whether the selected axis changed.
bool SelectAxis(Core& core, AxisKeyState& keys, AxisSelection& axis,
                const input_report::Words& report);
