#pragma once

struct Module;
class ShuttleWin;

struct ButtonState {
  bool modeLatch[3] = {false, false, false};
  bool enPressLatch[5] = {false, false, false, false, false};  // F1..F5
  bool tapLatch[5] = {false, false, false, false, false};
  bool tapArmed[5] = {false, false, false, false, false};
  bool hostModeCaptured = false;
  bool led14WasLit = false;
  bool led15WasLit = false;
  bool led57WasLit = false;
  bool modeSelectSent = false;
};

// Mode buttons, wheel function and the five function buttons; third step of the input chain.
void ProcessButtons(Module& module, ShuttleWin& win);
