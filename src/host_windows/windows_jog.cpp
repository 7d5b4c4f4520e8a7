// The wheel's moves on the Windows host: relative step lines through Code, held back while the
// host's queue of pending moves is deep, and continuous jogs through the axis's jog record and
// "DOJOG"/"ENDJOG".
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>

#include "core/core.h"
#include "host/host_blocks.h"
#include "host/host_codes.h"
#include "host_windows/windows_machine.h"
#include "jog/command_line.h"

namespace {

constexpr const char* kAbsoluteModeLine = "G90";
constexpr const char* kStartJogLine = "DOJOG";
constexpr const char* kEndJogLine = "ENDJOG";

constexpr const char* kRateStepFormat = "G91G1 F%d %s %.4f";
constexpr const char* kPlainCatchUpFormat = "G91G1 %s %.4f";
constexpr const char* kFeedStepFormat = "G91G1 F%.4f %s %.4f";
constexpr const char* kSlowRateStepFormat = "G91G1 F%f %s %.4f";
constexpr const char* kRotatedStepFormat = "G91G1 X%.4f Y%.4f ";

constexpr const char* kAxisLetters[hostblock::kAxisCount] = {"X", "Y", "Z", "A", "B", "C"};

constexpr double kDegreesToRadians = 0.017453293;
constexpr int kRotatedDecimals = 4;  // of kRotatedStepFormat
constexpr std::int32_t kCatchUpChunk = 5;
constexpr double kPendingMovesLimit = 20.0;
constexpr std::int32_t kAxisX = 0;
constexpr std::int32_t kAxisY = 1;
constexpr int kRestoreCountdownStart = 3;

// "X".."C" for axis 0..5; nullptr for any other value, so no line is built for it.
const char* AxisLetter(std::int32_t axis) {
  return hostblock::ValidAxis(axis) ? kAxisLetters[axis] : nullptr;
}

// Adds without overflowing: a host that never drains its queue must not wrap the count.
void AddPendingSteps(StepJogState& s, std::int32_t steps) {
  const std::int64_t sum = static_cast<std::int64_t>(s.pendingSteps) + steps;
  const std::int64_t hi = std::numeric_limits<std::int32_t>::max();
  const std::int64_t lo = -hi;
  s.pendingSteps = static_cast<std::int32_t>(sum > hi ? hi : (sum < lo ? lo : sum));
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

// Keeps the feed values of the first step of a burst and re-arms the restore countdown.
void WindowsMachine::SaveFeedValues() {
  if (!stepJog.savedValid) {
    stepJog.savedFeedRate = core_.host.GetDRO(host_dro::kFeedRate);
    stepJog.savedFeedOverride = core_.host.GetDRO(host_dro::kFeedOverride);
    stepJog.savedValid = true;
  }
  core_.ticks.restoreCountdown = kRestoreCountdownStart;
}

// Builds a relative move line, submits it unless `hold`, then sends "G90" when restoreAbsolute is
// set. A line that cannot be written in full sends nothing, not even the "G90".
void WindowsMachine::SendStepLine(bool hold, const char* format,
                                  std::initializer_list<LineArg> args) {
  if (!stepLine_.FormatAgain(format, args)) return;
  if (!hold) core_.host.Code(stepLine_.c_str());
  if (stepJog.restoreAbsolute) core_.host.Code(kAbsoluteModeLine);
}

bool WindowsMachine::RotatedAxis(std::int32_t axis) const {
  return host_config::xyRotationDegrees(core_.host) != 0.0 && (axis == kAxisX || axis == kAxisY);
}

// The step turned by -theta so that it runs along the rotated plane's axis. Each line carries
// what the rounding of the lines before it left out.
void WindowsMachine::SendRotatedStep(std::int32_t axis, double distance, bool hold) {
  StepJogState& s = stepJog;
  const double degrees = host_config::xyRotationDegrees(core_.host);
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
  return core_.host.GetDRO(host_dro::kPendingMoves) < kPendingMovesLimit;
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
  const double increment = host_motion::jogIncrement(core_.host);
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
    SendRotatedStep(axis, signedSteps * host_motion::jogIncrement(core_.host), hold);
    return;
  }
  const std::int32_t steps = TakeBackHeldSteps(stepJog, signedSteps);
  if (steps == 0) return;
  SaveFeedValues();
  const std::int32_t rate = core_.settings.StepJogRate;
  if (rate != 0) {
    core_.host.SetDRO(host_dro::kFeedOverride, 100.0);
    stepJog.feedOverrideForced = true;
  }
  if (!PendingMovesAllowSend()) {
    AddPendingSteps(stepJog, steps);
    return;
  }
  const double distance = steps * host_motion::jogIncrement(core_.host);
  const char* letter = AxisLetter(axis);
  if (rate != 0) {
    SendStepLine(hold, kRateStepFormat,
                 {LineArg::Int(rate), LineArg::Text(letter), LineArg::Real(distance)});
  } else {
    const double feed = core_.host.GetDRO(host_dro::kFeedRate);
    SendStepLine(hold, kFeedStepFormat,
                 {LineArg::Real(feed), LineArg::Text(letter), LineArg::Real(distance)});
  }
}

void WindowsMachine::SlowStepAxis(std::int32_t axis, std::int32_t signedSteps) {
  const double distance = signedSteps * host_motion::jogIncrement(core_.host);
  if (RotatedAxis(axis)) {
    SendRotatedStep(axis, distance, false);
    return;
  }
  SaveFeedValues();
  core_.host.SetDRO(host_dro::kFeedOverride, 100.0);
  stepJog.feedOverrideForced = true;
  double feed = ToSingle(host_motion::axisVelocity(core_.host, axis) * 60.0);
  feed = ToSingle(core_.host.GetDRO(host_dro::kSlowJogRate) * feed / 100.0);
  SendStepLine(false, kSlowRateStepFormat,
               {LineArg::Real(feed), LineArg::Text(AxisLetter(axis)), LineArg::Real(distance)});
}

void WindowsMachine::DropHeldSteps() {
  stepJog.pendingSteps = 0;
}

// While the host is idle, notes whether it is in absolute mode.
void WindowsMachine::BeforeInput() {
  const HostBridge& host = core_.host;
  if (host_motion::motionBusy(host) == 0 &&
      host_motion::motionQueueIn(host) == host_motion::motionQueueOut(host) &&
      host_state::CommandQueueEmpty(host))
    stepJog.restoreAbsolute = host_config::incrementalMode(host) == 0;
}

// The saved feed values go back once the burst's countdown has run out.
void WindowsMachine::AfterWheel() {
  if (core_.ticks.restoreCountdown == 0) RestoreFeedValues();
}

void WindowsMachine::RestoreFeedValues() {
  StepJogState& s = stepJog;
  if (!s.savedValid) return;
  core_.host.SetDRO(host_dro::kFeedRate, s.savedFeedRate);
  // Read-out 821 goes back whenever the burst set it to 100, also at StepJogRate 0 after a slow
  // rate step, so the user's feed override is never left at 100.
  if (core_.settings.StepJogRate != 0 || s.feedOverrideForced)
    core_.host.SetDRO(host_dro::kFeedOverride, s.savedFeedOverride);
  s.savedValid = false;
  s.feedOverrideForced = false;
}

// A continuous jog runs in the host mode of LED 14: from the mode of LED 15 the burst switches to
// it, and back at its end.
void WindowsMachine::BeginJogBurst() {
  if (core_.host.GetLED(host_led::kMode15)) {
    core_.host.DoButton(host_button::kModeOfLed14);
    hostJogModeSwitched = true;
  } else {
    hostJogModeSwitched = false;
  }
}

void WindowsMachine::EndJogBurst() {
  if (!hostJogModeSwitched) return;
  core_.host.DoButton(host_button::kModeOfLed15);
  hostJogModeSwitched = false;
}

void WindowsMachine::Jog(std::int32_t axis, std::int32_t direction, double speed) {
  const HostBridge& host = core_.host;
  host_state::SetAxisJogDirection(host, axis, direction);
  host_state::SetAxisJogSpeed(host, axis, TruncatedSpeed(speed));
  host_state::SetAxisJogAux(host, axis, host_motion::axisJogAux(host, axis));
  host_state::SetAxisJogSpeedMax(host, axis, host_motion::axisJogSpeedMax(host, axis));
  host_state::SetAxisJogStopRequest(host, axis, 0);
  host_state::SetAxisJogActive(host, axis, 1);
  host.Code(kStartJogLine);
}

void WindowsMachine::EndJog(std::int32_t axis) {
  host_state::SetAxisJogStopRequest(core_.host, axis, 1);
  core_.host.Code(kEndJogLine);
}

double WindowsMachine::MaxJogSpeed(std::int32_t axis) {
  return host_motion::axisJogSpeedMax(core_.host, axis);
}
