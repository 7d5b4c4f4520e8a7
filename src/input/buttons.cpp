// Mode buttons, wheel function and the five function buttons.
//
// Each function button has two layers:
//   EN held:  P--R   released within 7 ticks: the configured action (or the default when NONE)
//   EN up:    P-R P----R   tap, then press within the tap window (ticks 0..7 after the tap):
//                 start code at the second press, end code at its release
// A burst of tap-and-hold actions runs with the host in the mode of LED 14 (entered with 204);
// 15 ticks after the last button was let go, the mode lit at the start of the burst is restored.
#include "input/buttons.h"

#include <charconv>
#include <cstdint>

#include "host/module.h"
#include "input/input_report.h"
#include "input/lists.h"
#include "link/shuttle_win.h"

namespace {

using DefaultFunction = void (*)(Module&, ShuttleWin&);

struct FunctionButton {
  int index;  // F1..F5 = 0..4: report bit, BUTTON setting, latches and tap window
  DefaultFunction defaultFunction;
  std::int32_t startCode;
  std::int32_t endCode;
};

// Wheel function by wheel mode 1..6, without and with EN.
constexpr std::int32_t kWheelFunctions[6][2] = {{10, 12}, {2, 2},  {3, 13},
                                                {4, 14},  {5, 15}, {6, 16}};
// ShuttleWin's wheelFunction before the first poll; the table never produces it.
constexpr std::int32_t kWheelFunctionBeforeFirstPoll = 1;
constexpr std::int32_t kWheelFunctionChangeCode = 334;  // + selectedAxis

constexpr std::int32_t kShortPressTicks = 7;
constexpr std::int32_t kTapWindowTicks = 8;
constexpr std::int32_t kRestoreIdleTicks = 15;

constexpr std::int32_t kLedMode14 = 14;
constexpr std::int32_t kLedMode15 = 15;
constexpr std::int32_t kLedMode57 = 57;
constexpr std::int32_t kEnterMode14Code = 204;
constexpr std::int32_t kEnterMode15Code = 205;
constexpr std::int32_t kEnterMode57Code = 327;

constexpr std::int32_t kNoneCode = 0;
constexpr std::int32_t kFirstOemCode = 813;
constexpr std::int32_t kFirstMacroCode = 817;
constexpr std::int32_t kFirstReservedCode = 800;
constexpr std::int32_t kFirstHostCodeAfterReserved = 900;

constexpr const char* kOemMessages[4] = {
    " OEM Function #1 executed. ",
    "OEM Function #2 executed.",
    "OEM Function #3 executed. ",
    "OEM Function #4 executed.",
};
constexpr const char* kMacroMessages[4] = {
    " Custom Macro #1 executed. ",
    " Custom Macro #2 executed. ",
    " Custom Macro #3 executed. ",
    " Custom Macro #4 executed. ",
};

void ZeroSelectedAxis(Module& module, ShuttleWin& win) {
  // Only X, Y, Z and A have a zero button.
  if (win.selectedAxis >= 0 && win.selectedAxis <= 3) module.host.DoButton(1008 + win.selectedAxis);
}

void GotoZs(Module& module, ShuttleWin&) {
  module.host.DoButton(1017);
}

void ResetWheelModeValue(Module& module, ShuttleWin&) {
  switch (module.wheelMode) {
    case 4:
      module.host.SetDRO(3, 100.0);
      break;
    case 5:
      module.host.DoButton(1014);
      break;
    case 6:
      module.host.DoButton(183);
      break;
    default:
      break;
  }
}

void ToggleJog(Module& module, ShuttleWin&) {
  module.host.DoButton(103);
}

// Read-out 46 runs 1, 2, 3, 4, then the machine-coordinate display (256, LED 16), then the
// distance-to-go display (333, LED 163), then 1 again.
void CycleReadout(Module& module, ShuttleWin&) {
  constexpr std::int32_t kDro = 46;
  constexpr std::int32_t kMachineCoordsCode = 256;
  constexpr std::int32_t kDistToGoCode = 333;
  constexpr std::int32_t kMachineCoordsLed = 16;
  constexpr std::int32_t kDistToGoLed = 163;
  const HostBridge& host = module.host;
  if (host.GetDRO(kDro) == 1.0) {
    host.SetDRO(kDro, 2.0);
  } else if (host.GetDRO(kDro) == 2.0) {
    host.SetDRO(kDro, 3.0);
  } else if (host.GetDRO(kDro) == 3.0) {
    host.SetDRO(kDro, 4.0);
  } else if (host.GetDRO(kDro) == 4.0 && !host.GetLED(kMachineCoordsLed) &&
             !host.GetLED(kDistToGoLed)) {
    host.DoButton(kMachineCoordsCode);
  } else if (host.GetLED(kMachineCoordsLed)) {
    host.DoButton(kMachineCoordsCode);
    host.DoButton(kDistToGoCode);
  } else if (host.GetLED(kDistToGoLed)) {
    host.DoButton(kDistToGoCode);
    host.SetDRO(kDro, 1.0);
  }
}

// In the order the buttons are handled: F3, F1, F2, F4, F5.
constexpr FunctionButton kFunctionButtons[5] = {
    {2, ResetWheelModeValue, 308, 334}, {0, ZeroSelectedAxis, 311, 336}, {1, GotoZs, 309, 335},
    {3, ToggleJog, 307, 334},           {4, CycleReadout, 310, 335},
};

void RunMacro(Module& module, std::int16_t macroNumber) {
  // "M" and any int16 with its sign, never truncated, independent of the locale.
  char line[8] = {'M'};
  const auto result = std::to_chars(line + 1, line + sizeof line - 1, macroNumber);
  *result.ptr = '\0';
  module.host.Code(line);
}

void PerformConfiguredAction(Module& module, ShuttleWin& win, const FunctionButton& button) {
  const char* entry = ListEntry(kButtonActionList, module.settings.BUTTON[button.index]);
  // An index outside the list (a hand-edited profile, or no selection in the dialog) is not a
  // choice of NONE: performing a default the operator did not pick could zero an axis.
  if (entry == nullptr) return;
  const std::int32_t code = LeadingNumber(entry);
  if (code == kNoneCode) {
    button.defaultFunction(module, win);
  } else if (code < kFirstReservedCode || code >= kFirstHostCodeAfterReserved) {
    module.host.DoButton(code);
  } else if (code >= kFirstOemCode && code < kFirstOemCode + 4) {
    const int k = code - kFirstOemCode;
    module.host.DoButton(module.settings.OEM[static_cast<std::size_t>(k)]);
    ShowStatus(module, kOemMessages[k]);
  } else if (code >= kFirstMacroCode && code < kFirstMacroCode + 4) {
    const int k = code - kFirstMacroCode;
    RunMacro(module, module.settings.Macro[static_cast<std::size_t>(k)]);
    ShowStatus(module, kMacroMessages[k]);
  }
  // Other codes from 800 to 899 are separators.
}

void UpdateWheelFunction(Module& module, ShuttleWin& win) {
  ButtonState& s = module.buttons;
  const std::int32_t mode = win.modeButtons;
  if (mode >= 1 && mode <= 3 && win.enableHeld == 0 && !s.modeLatch[mode - 1]) {
    s.modeLatch[mode - 1] = true;
    const std::int32_t first = 2 * mode - 1;  // 1, 3, 5: the first mode of the button's pair
    module.wheelMode = module.wheelMode == first ? first + 1 : first;
  }
  const std::int32_t wheelMode =
      module.wheelMode >= 1 && module.wheelMode <= 6 ? module.wheelMode : 1;
  win.wheelFunction = kWheelFunctions[wheelMode - 1][win.enableHeld != 0 ? 1 : 0];
  for (int k = 1; k <= 3; ++k) {
    if (k != mode) s.modeLatch[k - 1] = false;
  }
  // No end code at start-up: nothing was running under a wheel function before the first poll.
  if (win.previousWheelFunction != kWheelFunctionBeforeFirstPoll &&
      win.wheelFunction != win.previousWheelFunction) {
    module.host.DoButton(kWheelFunctionChangeCode + win.selectedAxis);
  }
  win.previousWheelFunction = win.wheelFunction;
}

void ProcessEnLayer(Module& module, ShuttleWin& win, const FunctionButton& button, bool down) {
  bool& latch = module.buttons.enPressLatch[button.index];
  if (win.enableHeld == 0) return;
  if (down && !latch) {
    module.ticks.pressTicks = 0;
    latch = true;
  } else if (!down && latch) {
    latch = false;
    if (module.ticks.pressTicks < kShortPressTicks) PerformConfiguredAction(module, win, button);
  }
}

void CaptureHostMode(Module& module) {
  ButtonState& s = module.buttons;
  const HostBridge& host = module.host;
  if (s.hostModeCaptured) return;
  if (host.GetLED(kLedMode14)) {
    s.led14WasLit = true;
  } else if (host.GetLED(kLedMode15)) {
    s.led15WasLit = true;
  } else if (host.GetLED(kLedMode57)) {
    s.led57WasLit = true;
  }
  s.hostModeCaptured = true;
}

void ProcessPlainLayer(Module& module, ShuttleWin& win, const FunctionButton& button, bool down) {
  ButtonState& s = module.buttons;
  bool& tapLatch = s.tapLatch[button.index];
  bool& tapArmed = s.tapArmed[button.index];
  if (win.enableHeld != 0) return;
  if (down && !tapLatch && !tapArmed) {
    module.ticks.pressTicks = 0;
    tapLatch = true;
  } else if (!down && tapLatch && !tapArmed) {
    tapLatch = false;
    if (module.ticks.pressTicks < kShortPressTicks) {
      tapArmed = true;
      module.ticks.tapWindowTicks[button.index] = 0;
    }
  } else if (down && !tapLatch && tapArmed) {
    CaptureHostMode(module);
    if (!s.led14WasLit && !s.modeSelectSent) {
      module.host.DoButton(kEnterMode14Code);
      s.modeSelectSent = true;
    }
    module.ticks.idleTicks = 0;
    module.host.DoButton(button.startCode);
    tapLatch = true;
  } else if (!down && tapLatch && tapArmed) {
    tapArmed = false;
    module.host.DoButton(button.endCode);
    tapLatch = false;
  }
}

void RestoreHostMode(Module& module) {
  ButtonState& s = module.buttons;
  if (s.led14WasLit) {
    module.host.DoButton(kEnterMode14Code);
  } else if (s.led15WasLit) {
    module.host.DoButton(kEnterMode15Code);
  } else if (s.led57WasLit) {
    module.host.DoButton(kEnterMode57Code);
  }
  s.hostModeCaptured = false;
  s.led14WasLit = false;
  s.led15WasLit = false;
  s.led57WasLit = false;
  s.modeSelectSent = false;
}

}  // namespace

void ProcessButtons(Module& module, ShuttleWin& win) {
  ButtonState& s = module.buttons;
  win.modeButtons = input_report::ModeButtons(win.reportWord1);
  win.enableHeld = input_report::EnablePressed(win.reportWord0) ? 1 : 0;
  UpdateWheelFunction(module, win);

  bool anyPlainDown = false;
  for (const FunctionButton& button : kFunctionButtons) {
    const bool down = input_report::FunctionButton(win.reportWord1, button.index);
    ProcessEnLayer(module, win, button, down);
    ProcessPlainLayer(module, win, button, down);
    anyPlainDown = anyPlainDown || (down && win.enableHeld == 0);
  }

  // A tick the polls did not see must not leave a button armed, so the window closes at 8 or later.
  for (const FunctionButton& button : kFunctionButtons) {
    if (module.ticks.tapWindowTicks[button.index] >= kTapWindowTicks && !s.tapLatch[button.index])
      s.tapArmed[button.index] = false;
  }
  if (anyPlainDown) module.ticks.idleTicks = 0;
  // Likewise the restore happens at 15 idle ticks or later, once per captured burst.
  if (module.ticks.idleTicks >= kRestoreIdleTicks && s.hostModeCaptured) RestoreHostMode(module);
}
