// The Windows host's buttons, read-outs and indicators for everything but the wheel's moves.
//
// Tap-and-hold: a burst runs with the host in the mode of LED 14 (entered with 204); at its end
// the mode lit at its start is restored.
#include "host_windows/windows_machine.h"

#include <charconv>
#include <cstdint>

#include "core/core.h"
#include "core/platform.h"
#include "host_windows/host_blocks.h"
#include "host_windows/host_codes.h"
#include "settings/lists.h"

namespace {

constexpr const char* kJogOffText = " Jog OFF. ";

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

// The host buttons a tap-and-hold of F1..F5 presses at the second press and at its release.
struct HoldCodes {
  std::int32_t start;
  std::int32_t end;
};
constexpr HoldCodes kHoldCodes[5] = {{311, 336}, {309, 335}, {308, 334}, {307, 334}, {310, 335}};

std::int32_t Readout(MachineValue value) {
  switch (value) {
    case MachineValue::StepSize:
      return host_dro::kStepSize;
    case MachineValue::SlowJogRate:
      return host_dro::kSlowJogRate;
    case MachineValue::FeedRate:
      return host_dro::kFeedRate;
    case MachineValue::FeedOverride:
      return host_dro::kFeedOverride;
    case MachineValue::SpindleSpeed:
      return host_dro::kSpindleSpeed;
    case MachineValue::SpindleOverride:
      return host_dro::kSpindleOverride;
  }
  return 0;
}

void RunMacro(const HostBridge& host, std::int16_t macroNumber) {
  // "M" and any int16 with its sign, never truncated, independent of the locale.
  char line[8] = {'M'};
  const auto result = std::to_chars(line + 1, line + sizeof line - 1, macroNumber);
  *result.ptr = '\0';
  host.Code(line);
}

// With 806 out and 804 lit, 1001 goes first and 1000 follows only while 804 stays lit.
void PressChord2(const HostBridge& host) {
  if (!host.GetLED(host_led::kMotionOverride) && host.GetLED(host_led::kMotionGateA)) {
    host.DoButton(host_button::kChord2Alt);
    if (!host.GetLED(host_led::kMotionGateA)) return;
  }
  host.DoButton(host_button::kChord2);
}

}  // namespace

void WindowsMachine::ShowStatus(const char* text) {
  if (core_.muted) return;
  core_.platform.ShowStatus(host_, text);
}

void WindowsMachine::NewWindow() {
  stepJog = StepJogState{};
  hostJogModeSwitched = false;
}

void WindowsMachine::SafetyStop() {
  host_.DoButton(host_button::kSafetyStop);
}

bool WindowsMachine::SafetyStopShown() {
  return host_.GetLED(host_led::kSafetyStop);
}

// (804 and 805 both unlit) or 806 lit; 805 and 806 are asked only when needed.
bool WindowsMachine::MotionAllowed() {
  if (!host_.GetLED(host_led::kMotionGateA) && !host_.GetLED(host_led::kMotionGateB)) return true;
  return host_.GetLED(host_led::kMotionOverride);
}

bool WindowsMachine::JogAllowed() {
  if (host_.GetLED(host_led::kJogEnabled)) return true;
  ShowStatus(kJogOffText);
  return false;
}

bool WindowsMachine::JogInhibited() {
  return host_state::jogInhibit(host_) != 0;
}

bool WindowsMachine::PresetsAllowed() {
  return !host_.GetLED(host_led::kMotionGateA) && !host_.GetLED(host_led::kMotionGateB);
}

bool WindowsMachine::CommandsQueued() {
  return !host_state::CommandQueueEmpty(host_);
}

double WindowsMachine::Value(MachineValue value) {
  return host_.GetDRO(Readout(value));
}

void WindowsMachine::SetValue(MachineValue value, double v) {
  host_.SetDRO(Readout(value), v);
}

void WindowsMachine::ResetValue(MachineValue value) {
  switch (value) {
    case MachineValue::SlowJogRate:
      host_.SetDRO(host_dro::kSlowJogRate, 100.0);
      break;
    case MachineValue::FeedOverride:
      host_.DoButton(host_button::kResetFeedOverride);
      break;
    case MachineValue::SpindleOverride:
      host_.DoButton(host_button::kResetSpindleOverride);
      break;
    case MachineValue::StepSize:
    case MachineValue::FeedRate:
    case MachineValue::SpindleSpeed:
      break;
  }
}

void WindowsMachine::WheelFunctionChanged(std::int32_t axis) {
  host_.DoButton(host_button::kWheelFunctionChange + axis);
}

bool WindowsMachine::RunConfiguredAction(int button) {
  const char* entry = ListEntry(kButtonActionList, core_.settings.BUTTON[button]);
  // An index outside the list (a hand-edited profile, or no selection in the dialog) is not a
  // choice of NONE: performing a default the operator did not pick could zero an axis.
  if (entry == nullptr) return true;
  const std::int32_t code = LeadingNumber(entry);
  if (code == kNoneCode) return false;
  if (code < kFirstReservedCode || code >= kFirstHostCodeAfterReserved) {
    host_.DoButton(code);
  } else if (code >= kFirstOemCode && code < kFirstOemCode + 4) {
    const int k = code - kFirstOemCode;
    host_.DoButton(core_.settings.OEM[static_cast<std::size_t>(k)]);
    ShowStatus(kOemMessages[k]);
  } else if (code >= kFirstMacroCode && code < kFirstMacroCode + 4) {
    const int k = code - kFirstMacroCode;
    RunMacro(host_, core_.settings.Macro[static_cast<std::size_t>(k)]);
    ShowStatus(kMacroMessages[k]);
  }
  // Other codes from 800 to 899 are separators.
  return true;
}

void WindowsMachine::ZeroAxis(std::int32_t axis) {
  // Only X, Y, Z and A have a zero button.
  if (axis >= 0 && axis <= 3) host_.DoButton(host_button::kZeroX + axis);
}

void WindowsMachine::GotoZeros() {
  host_.DoButton(host_button::kGotoZeros);
}

void WindowsMachine::ToggleJog() {
  host_.DoButton(host_button::kToggleJog);
}

// Read-out 46 runs 1, 2, 3, 4, then the machine-coordinate display (256, LED 16), then the
// distance-to-go display (333, LED 163), then 1 again.
void WindowsMachine::CycleReadout() {
  constexpr std::int32_t kDro = host_dro::kReadoutCycle;
  constexpr std::int32_t kMachineCoordsCode = host_button::kMachineCoordinates;
  constexpr std::int32_t kDistToGoCode = host_button::kDistanceToGo;
  constexpr std::int32_t kMachineCoordsLed = host_led::kMachineCoordinates;
  constexpr std::int32_t kDistToGoLed = host_led::kDistanceToGo;
  if (host_.GetDRO(kDro) == 1.0) {
    host_.SetDRO(kDro, 2.0);
  } else if (host_.GetDRO(kDro) == 2.0) {
    host_.SetDRO(kDro, 3.0);
  } else if (host_.GetDRO(kDro) == 3.0) {
    host_.SetDRO(kDro, 4.0);
  } else if (host_.GetDRO(kDro) == 4.0 && !host_.GetLED(kMachineCoordsLed) &&
             !host_.GetLED(kDistToGoLed)) {
    host_.DoButton(kMachineCoordsCode);
  } else if (host_.GetLED(kMachineCoordsLed)) {
    host_.DoButton(kMachineCoordsCode);
    host_.DoButton(kDistToGoCode);
  } else if (host_.GetLED(kDistToGoLed)) {
    host_.DoButton(kDistToGoCode);
    host_.SetDRO(kDro, 1.0);
  }
}

void WindowsMachine::CaptureHostMode() {
  if (burstMode != BurstMode::NotCaptured) return;
  if (host_.GetLED(host_led::kMode14)) {
    burstMode = BurstMode::Led14;
  } else if (host_.GetLED(host_led::kMode15)) {
    burstMode = BurstMode::Led15;
  } else if (host_.GetLED(host_led::kMode57)) {
    burstMode = BurstMode::Led57;
  } else {
    burstMode = BurstMode::NoneLit;
  }
}

void WindowsMachine::BeginHoldBurst() {
  CaptureHostMode();
  if (burstMode != BurstMode::Led14 && !modeSelectSent) {
    host_.DoButton(host_button::kModeOfLed14);
    modeSelectSent = true;
  }
}

void WindowsMachine::BeginHold(int button) {
  host_.DoButton(kHoldCodes[button].start);
}

void WindowsMachine::EndHold(int button) {
  host_.DoButton(kHoldCodes[button].end);
}

void WindowsMachine::EndHoldBurst() {
  switch (burstMode) {
    case BurstMode::Led14:
      host_.DoButton(host_button::kModeOfLed14);
      break;
    case BurstMode::Led15:
      host_.DoButton(host_button::kModeOfLed15);
      break;
    case BurstMode::Led57:
      host_.DoButton(host_button::kModeOfLed57);
      break;
    case BurstMode::NoneLit:
    case BurstMode::NotCaptured:
      break;
  }
  burstMode = BurstMode::NotCaptured;
  modeSelectSent = false;
}

void WindowsMachine::RunChord(ChordKey chord, bool alone) {
  switch (chord) {
    case ChordKey::Key1:
      host_.DoButton(host_button::kChord1);
      break;
    case ChordKey::Key2:
      PressChord2(host_);
      break;
    case ChordKey::Key3:
      host_.DoButton(host_button::kChord3);
      if (alone) host_.DoButton(host_button::kChord3Follow);
      break;
  }
}

void WindowsMachine::ToggleScreen() {
  host_.DoButton(host_button::kToggleTabScreen);
}

void WindowsMachine::ShowScreen(std::int32_t screen) {
  host_.DoButton(screen);
}

// Asked in this order, as the output report's bits are laid out.
PendantLamps WindowsMachine::Lamps() {
  PendantLamps lamps;
  lamps.safetyStop = host_.GetLED(host_led::kSafetyStop);
  lamps.output = host_.GetLED(host_led::kOutput11);
  lamps.motionHeldA = host_.GetLED(host_led::kMotionGateA);
  lamps.motionHeldB = host_.GetLED(host_led::kMotionGateB);
  lamps.motionOverride = host_.GetLED(host_led::kMotionOverride);
  return lamps;
}
