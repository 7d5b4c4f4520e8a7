#pragma once

struct Module;
class ShuttleWin;

struct SafetyState {
  bool safetyLatched = false;      // 1021 pressed for the input being active
  bool safetyReleaseSent = false;  // 1021 pressed for the input going inactive
};

// First step of the input chain: presses host code 1021 on activation and on release.
void CheckSafetyInput(Module& module, ShuttleWin& win);
