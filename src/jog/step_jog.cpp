#include "jog/step_jog.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>

#include "core/core.h"
#include "host/host_blocks.h"
#include "host/host_codes.h"
#include "jog/command_line.h"

namespace {

constexpr const char* kRateStepFormat = "G91G1 F%d %s %.4f";
constexpr const char* kPlainCatchUpFormat = "G91G1 %s %.4f";
constexpr const char* kFeedStepFormat = "G91G1 F%.4f %s %.4f";
constexpr const char* kSlowRateStepFormat = "G91G1 F%f %s %.4f";
constexpr const char* kRotatedStepFormat = "G91G1 X%.4f Y%.4f ";

constexpr double kDegreesToRadians = 0.017453293;
constexpr int kRotatedDecimals = 4;  // of kRotatedStepFormat
constexpr std::int32_t kCatchUpChunk = 5;
constexpr double kPendingMovesLimit = 20.0;
constexpr std::int32_t kAxisX = 0;
constexpr std::int32_t kAxisY = 1;
constexpr int kRestoreCountdownStart = 3;

std::int32_t SignedSteps(std::int32_t direction, std::int32_t steps) {
  return direction != 0 ? -steps : steps;
}

// Keeps the feed values of the first step of a burst and re-arms the restore countdown.
void SaveFeedValues(Core& core, StepJogState& s) {
  if (!s.savedValid) {
    s.savedFeedRate = core.host.GetDRO(host_dro::kFeedRate);
    s.savedFeedOverride = core.host.GetDRO(host_dro::kFeedOverride);
    s.savedValid = true;
  }
  core.ticks.restoreCountdown = kRestoreCountdownStart;
}

// Builds a relative move line, submits it unless `hold`, then sends "G90" when restoreAbsolute is
// set. A line that cannot be written in full sends nothing, not even the "G90".
void SendStepLine(Core& core, const StepJogState& s, bool hold, const char* format,
                  std::initializer_list<LineArg> args) {
  CommandLine line;
  if (!line.Format(format, args)) return;
  if (!hold) core.host.Code(line.c_str());
  if (s.restoreAbsolute) core.host.Code(kAbsoluteModeLine);
}

bool RotatedAxis(const Core& core, std::int32_t axis) {
  return host_config::xyRotationDegrees(core.host) != 0.0 && (axis == kAxisX || axis == kAxisY);
}

// The step turned by -theta so that it runs along the rotated plane's axis. Each line carries
// what the rounding of the lines before it left out.
void SendRotatedStep(Core& core, StepJogState& s, std::int32_t axis, double distance, bool hold) {
  const double degrees = host_config::xyRotationDegrees(core.host);
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
  SendStepLine(core, s, hold, kRotatedStepFormat,
               {LineArg::Real(rotatedX), LineArg::Real(rotatedY)});
  // A held line moves nothing, and a line that could not be written leaves nothing to carry.
  if (hold) return;
  const double sentX = AsWritten(rotatedX, kRotatedDecimals);
  const double sentY = AsWritten(rotatedY, kRotatedDecimals);
  const bool sent = std::isfinite(sentX) && std::isfinite(sentY);
  s.rotatedCarryX = sent ? rotatedX - sentX : 0.0;
  s.rotatedCarryY = sent ? rotatedY - sentY : 0.0;
}

bool PendingMovesAllowSend(const Core& core) {
  return core.host.GetDRO(host_dro::kPendingMoves) < kPendingMovesLimit;
}

void SendCatchUpLine(Core& core, const StepJogState& s, const WheelTurn& turn, double distance) {
  const std::int32_t rate = core.settings.StepJogRate;
  const char* letter = AxisLetter(turn.axis);
  if (rate != 0) {
    SendStepLine(core, s, turn.axisChangeHold, kRateStepFormat,
                 {LineArg::Int(rate), LineArg::Text(letter), LineArg::Real(distance)});
  } else {
    SendStepLine(core, s, turn.axisChangeHold, kPlainCatchUpFormat,
                 {LineArg::Text(letter), LineArg::Real(distance)});
  }
}

// Held-back steps drain by one line of five and one line of the remainder per still poll.
void CatchUp(Core& core, StepJogState& s, const WheelTurn& turn) {
  const double increment = host_motion::jogIncrement(core.host);
  if (std::abs(s.pendingSteps) >= kCatchUpChunk && PendingMovesAllowSend(core)) {
    const bool backward = s.pendingSteps < 0;
    SendCatchUpLine(core, s, turn, (backward ? -kCatchUpChunk : kCatchUpChunk) * increment);
    s.pendingSteps += backward ? kCatchUpChunk : -kCatchUpChunk;
  }
  if (std::abs(s.pendingSteps) < kCatchUpChunk && PendingMovesAllowSend(core)) {
    SendCatchUpLine(core, s, turn, s.pendingSteps * increment);
    s.pendingSteps = 0;
  }
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

void PlainStep(Core& core, StepJogState& s, const WheelTurn& turn) {
  const std::int32_t steps = TakeBackHeldSteps(s, SignedSteps(turn.direction, turn.steps));
  if (steps == 0) return;
  SaveFeedValues(core, s);
  const std::int32_t rate = core.settings.StepJogRate;
  if (rate != 0) {
    core.host.SetDRO(host_dro::kFeedOverride, 100.0);
    s.feedOverrideForced = true;
  }
  if (!PendingMovesAllowSend(core)) {
    AddPendingSteps(s, steps);
    return;
  }
  const double distance = steps * host_motion::jogIncrement(core.host);
  const char* letter = AxisLetter(turn.axis);
  if (rate != 0) {
    SendStepLine(core, s, turn.axisChangeHold, kRateStepFormat,
                 {LineArg::Int(rate), LineArg::Text(letter), LineArg::Real(distance)});
  } else {
    const double feed = core.host.GetDRO(host_dro::kFeedRate);
    SendStepLine(core, s, turn.axisChangeHold, kFeedStepFormat,
                 {LineArg::Real(feed), LineArg::Text(letter), LineArg::Real(distance)});
  }
}

// Single precision as the host's jog feed is kept; a value beyond float's range (or not a number)
// has no single-precision form and yields NaN, which no line is built from.
double ToSingle(double value) {
  if (!std::isfinite(value) || std::abs(value) > static_cast<double>(FLT_MAX))
    return std::numeric_limits<double>::quiet_NaN();
  return static_cast<double>(static_cast<float>(value));
}

}  // namespace

void StepJog(Core& core, StepJogState& s, ContinuousJogState& continuous, const WheelTurn& turn) {
  if (!LeaveContinuousJog(core, continuous, turn.axis)) return;
  if (turn.steps == 0 && s.pendingSteps != 0) {
    CatchUp(core, s, turn);
    return;
  }
  if (turn.steps == 0 || !MotionGateAllows(core)) return;
  if (!JogEnabled(core)) return;
  if (!RotatedAxis(core, turn.axis)) {
    PlainStep(core, s, turn);
    return;
  }
  // Rotated steps are sent at once or dropped; they are never held back.
  if (!PendingMovesAllowSend(core)) return;
  const double distance =
      SignedSteps(turn.direction, turn.steps) * host_motion::jogIncrement(core.host);
  SendRotatedStep(core, s, turn.axis, distance, turn.axisChangeHold);
}

void SlowRateStepJog(Core& core, StepJogState& s, const WheelTurn& turn) {
  if (turn.steps == 0) return;
  if (!JogEnabled(core)) return;
  const double distance =
      SignedSteps(turn.direction, turn.steps) * host_motion::jogIncrement(core.host);
  if (RotatedAxis(core, turn.axis)) {
    SendRotatedStep(core, s, turn.axis, distance, false);
    return;
  }
  SaveFeedValues(core, s);
  core.host.SetDRO(host_dro::kFeedOverride, 100.0);
  s.feedOverrideForced = true;
  double feed = ToSingle(host_motion::axisVelocity(core.host, turn.axis) * 60.0);
  feed = ToSingle(core.host.GetDRO(host_dro::kSlowJogRate) * feed / 100.0);
  SendStepLine(
      core, s, false, kSlowRateStepFormat,
      {LineArg::Real(feed), LineArg::Text(AxisLetter(turn.axis)), LineArg::Real(distance)});
}

void RestoreAfterStepBurst(Core& core, StepJogState& s) {
  if (!s.savedValid || core.ticks.restoreCountdown != 0) return;
  core.host.SetDRO(host_dro::kFeedRate, s.savedFeedRate);
  // Read-out 821 goes back whenever the burst set it to 100, also at StepJogRate 0 after a slow
  // rate step, so the user's feed override is never left at 100.
  if (core.settings.StepJogRate != 0 || s.feedOverrideForced)
    core.host.SetDRO(host_dro::kFeedOverride, s.savedFeedOverride);
  s.savedValid = false;
  s.feedOverrideForced = false;
}

void NoteHostDistanceMode(const Core& core, StepJogState& s) {
  const HostBridge& host = core.host;
  if (host_motion::motionBusy(host) == 0 &&
      host_motion::motionQueueIn(host) == host_motion::motionQueueOut(host) &&
      host_state::CommandQueueEmpty(host))
    s.restoreAbsolute = host_config::incrementalMode(host) == 0;
}
