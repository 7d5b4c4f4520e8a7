// The Windows host's rendering of the pendant's requests.
//
// The wheel's moves: relative step lines through Code, held back while the host's queue of
// pending moves is deep, and continuous jogs through the axis's jog record and "DOJOG"/"ENDJOG".
//
// Tap-and-hold: a burst runs with the host in the mode of LED 14 (entered with 204); at its end
// the mode lit at its start is restored.
#include "host_windows/windows_machine.h"

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>

#include "core/axes.h"
#include "core/core.h"
#include "core/saturating_add.h"
#include "host_windows/host_blocks.h"
#include "host_windows/host_codes.h"
#include "host_windows/windows_platform.h"
#include "jog/command_line.h"
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

constexpr const char* kAbsoluteModeLine = "G90";
constexpr const char* kStartJogLine = "DOJOG";
constexpr const char* kEndJogLine = "ENDJOG";

constexpr const char* kRateStepFormat = "G91G1 F%d %s %.4f";
constexpr const char* kPlainCatchUpFormat = "G91G1 %s %.4f";
constexpr const char* kFeedStepFormat = "G91G1 F%.4f %s %.4f";
constexpr const char* kSlowRateStepFormat = "G91G1 F%f %s %.4f";
constexpr const char* kRotatedStepFormat = "G91G1 X%.4f Y%.4f ";

constexpr const char* kAxisLetters[kAxisCount] = {"X", "Y", "Z", "A", "B", "C"};

constexpr double kDegreesToRadians = 0.017453293;
constexpr int kRotatedDecimals = 4;  // of kRotatedStepFormat
constexpr std::int32_t kCatchUpChunk = 5;
constexpr double kPendingMovesLimit = 20.0;
constexpr int kRestoreCountdownStart = 3;

// "X".."C" for axis 0..5; nullptr for any other value, so no line is built for it.
const char* AxisLetter(std::int32_t axis) {
  return ValidAxis(axis) ? kAxisLetters[axis] : nullptr;
}

// Steps held back are older than the turn now: a turn the other way first takes them back, so
// the axis never backs off first and surges forward later. Returns the signed steps left.
std::int32_t TakeBackHeldSteps(StepJogState& s, std::int32_t steps) {
  if (s.pendingSteps == 0 || (steps < 0) == (s.pendingSteps < 0)) return steps;
  const std::int32_t taken = std::min(std::abs(steps), std::abs(s.pendingSteps));
  s.pendingSteps += s.pendingSteps < 0 ? taken : -taken;
  return steps + (steps < 0 ? taken : -taken);
}

// Single precision as the host's jog feed is kept; a value beyond float's range (or not a number)
// has no single-precision form and yields NaN, which no line is built from.
double ToSingle(double value) {
  if (!std::isfinite(value) || std::abs(value) > static_cast<double>(FLT_MAX))
    return std::numeric_limits<double>::quiet_NaN();
  return static_cast<double>(static_cast<float>(value));
}

// The jog record takes whole speeds, truncated toward zero and saturated at the int32 range.
std::int32_t TruncatedSpeed(double speed) {
  constexpr double hi = std::numeric_limits<std::int32_t>::max();
  constexpr double lo = std::numeric_limits<std::int32_t>::min();
  return speed >= hi   ? std::numeric_limits<std::int32_t>::max()
         : speed <= lo ? std::numeric_limits<std::int32_t>::min()
                       : static_cast<std::int32_t>(speed);
}

}  // namespace

void WindowsMachine::ShowStatus(const char* text) {
  if (core_.muted) return;
  platform_.ShowStatus(host_, text);
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

// Keeps the feed values of the first step of a burst and re-arms the restore countdown.
void WindowsMachine::SaveFeedValues() {
  if (!stepJog.savedValid) {
    stepJog.savedFeedRate = host_.GetDRO(host_dro::kFeedRate);
    stepJog.savedFeedOverride = host_.GetDRO(host_dro::kFeedOverride);
    stepJog.savedValid = true;
  }
  core_.ticks.restoreCountdown = kRestoreCountdownStart;
}

// Builds a relative move line, submits it unless `hold`, then sends "G90" when restoreAbsolute is
// set. A line that cannot be written in full sends nothing, not even the "G90".
void WindowsMachine::SendStepLine(bool hold, const char* format,
                                  std::initializer_list<LineArg> args) {
  if (!stepLine_.FormatAgain(format, args)) return;
  if (!hold) host_.Code(stepLine_.c_str());
  if (stepJog.restoreAbsolute) host_.Code(kAbsoluteModeLine);
}

bool WindowsMachine::RotatedAxis(std::int32_t axis) const {
  return host_config::xyRotationDegrees(host_) != 0.0 && (axis == kAxisX || axis == kAxisY);
}

// The step turned by -theta so that it runs along the rotated plane's axis. Each line carries
// what the rounding of the lines before it left out.
void WindowsMachine::SendRotatedStep(std::int32_t axis, double distance, bool hold) {
  StepJogState& s = stepJog;
  const double degrees = host_config::xyRotationDegrees(host_);
  const double theta = degrees * kDegreesToRadians;
  const double x = axis == kAxisX ? distance : 0.0;
  const double y = axis == kAxisY ? distance : 0.0;
  if (axis != s.rotatedCarryAxis || degrees != s.rotatedCarryDegrees) {
    s.rotatedCarryX = 0.0;
    s.rotatedCarryY = 0.0;
    s.rotatedCarryAxis = axis;
    s.rotatedCarryDegrees = degrees;
  }
  const double rotatedX = std::cos(theta) * x + std::sin(theta) * y + s.rotatedCarryX;
  const double rotatedY = std::cos(theta) * y - std::sin(theta) * x + s.rotatedCarryY;
  SendStepLine(hold, kRotatedStepFormat, {LineArg::Real(rotatedX), LineArg::Real(rotatedY)});
  // A held line moves nothing, and a line that could not be written leaves nothing to carry.
  if (hold) return;
  const double sentX = AsWritten(rotatedX, kRotatedDecimals);
  const double sentY = AsWritten(rotatedY, kRotatedDecimals);
  const bool sent = std::isfinite(sentX) && std::isfinite(sentY);
  s.rotatedCarryX = sent ? rotatedX - sentX : 0.0;
  s.rotatedCarryY = sent ? rotatedY - sentY : 0.0;
}

bool WindowsMachine::PendingMovesAllowSend() const {
  return host_.GetDRO(host_dro::kPendingMoves) < kPendingMovesLimit;
}

void WindowsMachine::SendCatchUpLine(std::int32_t axis, bool hold, double distance) {
  const std::int32_t rate = core_.settings.StepJogRate;
  const char* letter = AxisLetter(axis);
  if (rate != 0) {
    SendStepLine(hold, kRateStepFormat,
                 {LineArg::Int(rate), LineArg::Text(letter), LineArg::Real(distance)});
  } else {
    SendStepLine(hold, kPlainCatchUpFormat, {LineArg::Text(letter), LineArg::Real(distance)});
  }
}

// Held-back steps drain by one line of five and one line of the remainder per still poll.
void WindowsMachine::StepIdle(std::int32_t axis, bool hold) {
  StepJogState& s = stepJog;
  if (s.pendingSteps == 0) return;
  const double increment = host_motion::jogIncrement(host_);
  if (std::abs(s.pendingSteps) >= kCatchUpChunk && PendingMovesAllowSend()) {
    const bool backward = s.pendingSteps < 0;
    SendCatchUpLine(axis, hold, (backward ? -kCatchUpChunk : kCatchUpChunk) * increment);
    s.pendingSteps += backward ? kCatchUpChunk : -kCatchUpChunk;
  }
  if (std::abs(s.pendingSteps) < kCatchUpChunk && PendingMovesAllowSend()) {
    SendCatchUpLine(axis, hold, s.pendingSteps * increment);
    s.pendingSteps = 0;
  }
}

void WindowsMachine::StepAxis(std::int32_t axis, std::int32_t signedSteps, bool hold) {
  if (RotatedAxis(axis)) {
    // Rotated steps are sent at once or dropped; they are never held back.
    if (!PendingMovesAllowSend()) return;
    SendRotatedStep(axis, signedSteps * host_motion::jogIncrement(host_), hold);
    return;
  }
  const std::int32_t steps = TakeBackHeldSteps(stepJog, signedSteps);
  if (steps == 0) return;
  SaveFeedValues();
  const std::int32_t rate = core_.settings.StepJogRate;
  if (rate != 0) {
    host_.SetDRO(host_dro::kFeedOverride, 100.0);
    stepJog.feedOverrideForced = true;
  }
  if (!PendingMovesAllowSend()) {
    // A host that never drains its queue must not wrap the count.
    stepJog.pendingSteps = SaturatingAdd(stepJog.pendingSteps, steps);
    return;
  }
  const double distance = steps * host_motion::jogIncrement(host_);
  const char* letter = AxisLetter(axis);
  if (rate != 0) {
    SendStepLine(hold, kRateStepFormat,
                 {LineArg::Int(rate), LineArg::Text(letter), LineArg::Real(distance)});
  } else {
    const double feed = host_.GetDRO(host_dro::kFeedRate);
    SendStepLine(hold, kFeedStepFormat,
                 {LineArg::Real(feed), LineArg::Text(letter), LineArg::Real(distance)});
  }
}

void WindowsMachine::SlowStepAxis(std::int32_t axis, std::int32_t signedSteps) {
  const double distance = signedSteps * host_motion::jogIncrement(host_);
  if (RotatedAxis(axis)) {
    SendRotatedStep(axis, distance, false);
    return;
  }
  SaveFeedValues();
  host_.SetDRO(host_dro::kFeedOverride, 100.0);
  stepJog.feedOverrideForced = true;
  double feed = ToSingle(host_motion::axisVelocity(host_, axis) * 60.0);
  feed = ToSingle(host_.GetDRO(host_dro::kSlowJogRate) * feed / 100.0);
  SendStepLine(false, kSlowRateStepFormat,
               {LineArg::Real(feed), LineArg::Text(AxisLetter(axis)), LineArg::Real(distance)});
}

void WindowsMachine::DropHeldSteps() {
  stepJog.pendingSteps = 0;
}

// While the host is idle, notes whether it is in absolute mode.
void WindowsMachine::BeforeInput() {
  if (host_motion::motionBusy(host_) == 0 &&
      host_motion::motionQueueIn(host_) == host_motion::motionQueueOut(host_) &&
      host_state::CommandQueueEmpty(host_))
    stepJog.restoreAbsolute = host_config::incrementalMode(host_) == 0;
}

// The saved feed values go back once the burst's countdown has run out.
void WindowsMachine::AfterWheel() {
  if (core_.ticks.restoreCountdown == 0) RestoreFeedValues();
}

void WindowsMachine::RestoreFeedValues() {
  StepJogState& s = stepJog;
  if (!s.savedValid) return;
  host_.SetDRO(host_dro::kFeedRate, s.savedFeedRate);
  // Read-out 821 goes back whenever the burst set it to 100, also at StepJogRate 0 after a slow
  // rate step, so the user's feed override is never left at 100.
  if (core_.settings.StepJogRate != 0 || s.feedOverrideForced)
    host_.SetDRO(host_dro::kFeedOverride, s.savedFeedOverride);
  s.savedValid = false;
  s.feedOverrideForced = false;
}

// A continuous jog runs in the host mode of LED 14: from the mode of LED 15 the burst switches to
// it, and back at its end.
void WindowsMachine::BeginJogBurst() {
  if (host_.GetLED(host_led::kMode15)) {
    host_.DoButton(host_button::kModeOfLed14);
    hostJogModeSwitched = true;
  } else {
    hostJogModeSwitched = false;
  }
}

void WindowsMachine::EndJogBurst() {
  if (!hostJogModeSwitched) return;
  host_.DoButton(host_button::kModeOfLed15);
  hostJogModeSwitched = false;
}

void WindowsMachine::Jog(std::int32_t axis, std::int32_t direction, double speed) {
  host_state::SetAxisJogDirection(host_, axis, direction);
  host_state::SetAxisJogSpeed(host_, axis, TruncatedSpeed(speed));
  host_state::SetAxisJogAux(host_, axis, host_motion::axisJogAux(host_, axis));
  host_state::SetAxisJogSpeedMax(host_, axis, host_motion::axisJogSpeedMax(host_, axis));
  host_state::SetAxisJogStopRequest(host_, axis, 0);
  host_state::SetAxisJogActive(host_, axis, 1);
  host_.Code(kStartJogLine);
}

void WindowsMachine::EndJog(std::int32_t axis) {
  host_state::SetAxisJogStopRequest(host_, axis, 1);
  host_.Code(kEndJogLine);
}

double WindowsMachine::MaxJogSpeed(std::int32_t axis) {
  return host_motion::axisJogSpeedMax(host_, axis);
}
