#pragma once

struct Module;
class ShuttleWin;

struct AxisKeyState {
  bool axisKeyLatch[3] = {false, false, false};  // X/A, Y/B, Z/C
};

// The three axis keys; fourth step of the input chain.
void SelectAxis(Module& module, ShuttleWin& win);
