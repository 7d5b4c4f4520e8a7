// Mode buttons, wheel function and the five function buttons.
//
// Each function button has two layers, and a press belongs to the one it began in:
//   EN held:  P--R   released within 7 ticks, EN still held: the configured action (or the
//                    default when NONE)
//   EN up:    P-R P----R   tap, then press within the tap window (ticks 0..7 after the tap):
//                 start code at the second press, end code at its release, whatever EN did
// A burst of tap-and-hold actions runs with the host in the mode of LED 14 (entered with 204);
// 15 ticks after the last button was let go, the mode lit at the start of the burst is restored.
#include "input/buttons.h"

#include <charconv>
#include <cstdint>

#include "core/core.h"
#include "host/host_codes.h"
#include "settings/lists.h"

namespace {

using DefaultFunction = void (*)(Core&, std::int32_t selectedAxis);

struct FunctionButton {
  int index;  // F1..F5 = 0..4: report bit, BUTTON setting, latches and tap window
  DefaultFunction defaultFunction;
  std::int32_t startCode;
  std::int32_t endCode;
};

// Wheel function by wheel mode 1..6, without and with EN.
using enum WheelFunction;
constexpr WheelFunction kWheelFunctions[6][2] = {
    {StepJog, StepSizePresets},      {VelocityJog, VelocityJog},
    {CModeJog, SlowRateStepJog},     {SlowJogRateKnob, SlowJogRatePresets},
    {FeedOverrideKnob, FeedPresets}, {SpindleOverrideKnob, SpindlePresets},
};

constexpr std::int32_t kShortPressTicks = 7;
constexpr std::int32_t kTapWindowTicks = 8;
constexpr std::int32_t kRestoreIdleTicks = 15;

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

void ZeroSelectedAxis(Core& core, std::int32_t selectedAxis) {
  // Only X, Y, Z and A have a zero button.
  if (selectedAxis >= 0 && selectedAxis <= 3)
    core.host.DoButton(host_button::kZeroX + selectedAxis);
}

void GotoZs(Core& core, std::int32_t) {
  core.host.DoButton(host_button::kGotoZeros);
}

void ResetWheelModeValue(Core& core, std::int32_t) {
  switch (core.wheelMode) {
    case 4:
      core.host.SetDRO(host_dro::kSlowJogRate, 100.0);
      break;
    case 5:
      core.host.DoButton(host_button::kResetFeedOverride);
      break;
    case 6:
      core.host.DoButton(host_button::kResetSpindleOverride);
      break;
    default:
      break;
  }
}

void ToggleJog(Core& core, std::int32_t) {
  core.host.DoButton(host_button::kToggleJog);
}

// Read-out 46 runs 1, 2, 3, 4, then the machine-coordinate display (256, LED 16), then the
// distance-to-go display (333, LED 163), then 1 again.
void CycleReadout(Core& core, std::int32_t) {
  constexpr std::int32_t kDro = host_dro::kReadoutCycle;
  constexpr std::int32_t kMachineCoordsCode = host_button::kMachineCoordinates;
  constexpr std::int32_t kDistToGoCode = host_button::kDistanceToGo;
  constexpr std::int32_t kMachineCoordsLed = host_led::kMachineCoordinates;
  constexpr std::int32_t kDistToGoLed = host_led::kDistanceToGo;
  const HostBridge& host = core.host;
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

void RunMacro(Core& core, std::int16_t macroNumber) {
  // "M" and any int16 with its sign, never truncated, independent of the locale.
  char line[8] = {'M'};
  const auto result = std::to_chars(line + 1, line + sizeof line - 1, macroNumber);
  *result.ptr = '\0';
  core.host.Code(line);
}

void PerformConfiguredAction(Core& core, std::int32_t selectedAxis, const FunctionButton& button) {
  const char* entry = ListEntry(kButtonActionList, core.settings.BUTTON[button.index]);
  // An index outside the list (a hand-edited profile, or no selection in the dialog) is not a
  // choice of NONE: performing a default the operator did not pick could zero an axis.
  if (entry == nullptr) return;
  const std::int32_t code = LeadingNumber(entry);
  if (code == kNoneCode) {
    button.defaultFunction(core, selectedAxis);
  } else if (code < kFirstReservedCode || code >= kFirstHostCodeAfterReserved) {
    core.host.DoButton(code);
  } else if (code >= kFirstOemCode && code < kFirstOemCode + 4) {
    const int k = code - kFirstOemCode;
    core.host.DoButton(core.settings.OEM[static_cast<std::size_t>(k)]);
    ShowStatus(core, kOemMessages[k]);
  } else if (code >= kFirstMacroCode && code < kFirstMacroCode + 4) {
    const int k = code - kFirstMacroCode;
    RunMacro(core, core.settings.Macro[static_cast<std::size_t>(k)]);
    ShowStatus(core, kMacroMessages[k]);
  }
  // Other codes from 800 to 899 are separators.
}

void UpdateWheelFunction(Core& core, ButtonState& s, WheelFunction& wheelFunction,
                         std::int32_t selectedAxis, std::int32_t mode, bool enableHeld) {
  if (mode >= 1 && mode <= 3 && !enableHeld && !s.modeLatch[mode - 1]) {
    s.modeLatch[mode - 1] = true;
    const std::int32_t first = 2 * mode - 1;  // 1, 3, 5: the first mode of the button's pair
    core.wheelMode = core.wheelMode == first ? first + 1 : first;
  }
  const std::int32_t wheelMode = core.wheelMode >= 1 && core.wheelMode <= 6 ? core.wheelMode : 1;
  const WheelFunction previous = wheelFunction;
  wheelFunction = kWheelFunctions[wheelMode - 1][enableHeld ? 1 : 0];
  for (int k = 1; k <= 3; ++k) {
    if (k != mode) s.modeLatch[k - 1] = false;
  }
  // No end code at start-up: nothing was running under a wheel function before the first poll.
  if (previous != WheelFunction::BeforeFirstPoll && wheelFunction != previous)
    core.host.DoButton(host_button::kWheelFunctionChange + selectedAxis);
}

// An EN press that outlasts EN does nothing: letting go of EN first abandons it.
void ProcessEnLayer(Core& core, std::int32_t selectedAxis, const FunctionButton& button, bool down,
                    bool began, bool enableHeld) {
  if (down && began) {
    core.ticks.pressTicks = 0;
  } else if (!down && enableHeld && core.ticks.pressTicks < kShortPressTicks) {
    PerformConfiguredAction(core, selectedAxis, button);
  }
}

void CaptureHostMode(Core& core, ButtonState& s) {
  const HostBridge& host = core.host;
  if (s.burstMode != BurstMode::NotCaptured) return;
  if (host.GetLED(host_led::kMode14)) {
    s.burstMode = BurstMode::Led14;
  } else if (host.GetLED(host_led::kMode15)) {
    s.burstMode = BurstMode::Led15;
  } else if (host.GetLED(host_led::kMode57)) {
    s.burstMode = BurstMode::Led57;
  } else {
    s.burstMode = BurstMode::NoneLit;
  }
}

void ProcessPlainLayer(Core& core, ButtonState& s, const FunctionButton& button, bool down) {
  TapPhase& phase = s.tap[button.index];
  switch (phase) {
    case TapPhase::Idle:
      if (down) {
        core.ticks.pressTicks = 0;
        phase = TapPhase::FirstPress;
      }
      break;
    case TapPhase::FirstPress:
      if (!down) {
        phase = TapPhase::Idle;
        if (core.ticks.pressTicks < kShortPressTicks) {
          phase = TapPhase::Armed;
          core.ticks.tapWindowTicks[button.index] = 0;
        }
      }
      break;
    case TapPhase::Armed:
      if (down) {
        CaptureHostMode(core, s);
        if (s.burstMode != BurstMode::Led14 && !s.modeSelectSent) {
          core.host.DoButton(host_button::kModeOfLed14);
          s.modeSelectSent = true;
        }
        core.ticks.idleTicks = 0;
        core.host.DoButton(button.startCode);
        phase = TapPhase::Holding;
      }
      break;
    case TapPhase::Holding:
      if (!down) {
        phase = TapPhase::Idle;
        core.host.DoButton(button.endCode);
      }
      break;
  }
}

void RestoreHostMode(Core& core, ButtonState& s) {
  switch (s.burstMode) {
    case BurstMode::Led14:
      core.host.DoButton(host_button::kModeOfLed14);
      break;
    case BurstMode::Led15:
      core.host.DoButton(host_button::kModeOfLed15);
      break;
    case BurstMode::Led57:
      core.host.DoButton(host_button::kModeOfLed57);
      break;
    case BurstMode::NoneLit:
    case BurstMode::NotCaptured:
      break;
  }
  s.burstMode = BurstMode::NotCaptured;
  s.modeSelectSent = false;
}

}  // namespace

void ProcessButtons(Core& core, ButtonState& s, WheelFunction& wheelFunction,
                    std::int32_t selectedAxis, const input_report::Words& report) {
  const std::int32_t mode = input_report::ModeButtons(report.word1);
  const bool enableHeld = input_report::EnablePressed(report.word0);
  UpdateWheelFunction(core, s, wheelFunction, selectedAxis, mode, enableHeld);

  bool anyPlainDown = false;
  for (const FunctionButton& button : kFunctionButtons) {
    const bool down = input_report::FunctionButton(report.word1, button.index);
    // A tick the polls did not see must not leave a button armed, so the window closes at 8 or
    // later, and before this report's press is looked at: the press may come after the window.
    TapPhase& phase = s.tap[button.index];
    if (phase == TapPhase::Armed && core.ticks.tapWindowTicks[button.index] >= kTapWindowTicks)
      phase = TapPhase::Idle;
    PressLayer& layer = s.press[button.index];
    const bool began = down && layer == PressLayer::Up;
    if (began) layer = enableHeld ? PressLayer::En : PressLayer::Plain;
    switch (layer) {
      case PressLayer::En:
        ProcessEnLayer(core, selectedAxis, button, down, began, enableHeld);
        break;
      case PressLayer::Plain:
        ProcessPlainLayer(core, s, button, down);
        anyPlainDown = anyPlainDown || down;
        break;
      case PressLayer::Up:
        break;
    }
    if (!down) layer = PressLayer::Up;
  }
  if (anyPlainDown) core.ticks.idleTicks = 0;
  // Likewise the restore happens at 15 idle ticks or later, once per captured burst.
  if (core.ticks.idleTicks >= kRestoreIdleTicks && s.burstMode != BurstMode::NotCaptured)
    RestoreHostMode(core, s);
}
