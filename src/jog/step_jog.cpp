#include "jog/step_jog.h"

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>

#include "host/host_blocks.h"
#include "host/module.h"
#include "jog/wheel_rules.h"
#include "link/shuttle_win.h"

namespace {

constexpr const char* kRateStepFormat = "G91G1 F%d %s %.4f";
constexpr const char* kPlainCatchUpFormat = "G91G1 %s %.4f";
constexpr const char* kFeedStepFormat = "G91G1 F%.4f %s %.4f";
constexpr const char* kSlowRateStepFormat = "G91G1 F%f %s %.4f";
constexpr const char* kRotatedStepFormat = "G91G1 X%.4f Y%.4f ";

constexpr double kDegreesToRadians = 0.017453293;
constexpr std::int32_t kCatchUpChunk = 5;
constexpr double kPendingMovesLimit = 20.0;
constexpr std::int32_t kAxisX = 0;
constexpr std::int32_t kAxisY = 1;

std::int32_t SignedSteps(std::int32_t direction, std::int32_t steps) {
  return direction != 0 ? -steps : steps;
}

bool RotatedAxis(const Module& module, const ShuttleWin& win) {
  return host_config::xyRotationDegrees(module.host) != 0.0 &&
         (win.selectedAxis == kAxisX || win.selectedAxis == kAxisY);
}

// The step turned by -theta so that it runs along the rotated plane's axis.
void SendRotatedStep(Module& module, const ShuttleWin& win, double distance, bool hold) {
  const double theta = host_config::xyRotationDegrees(module.host) * kDegreesToRadians;
  const double x = win.selectedAxis == kAxisX ? distance : 0.0;
  const double y = win.selectedAxis == kAxisY ? distance : 0.0;
  const double rotatedX = std::cos(theta) * x + std::sin(theta) * y;
  const double rotatedY = std::cos(theta) * y - std::sin(theta) * x;
  SendStepLine(module, win, hold, kRotatedStepFormat,
               {LineArg::Real(rotatedX), LineArg::Real(rotatedY)});
}

bool PendingMovesAllowSend(const Module& module) {
  return module.host.GetDRO(kDroPendingMoves) < kPendingMovesLimit;
}

void SendCatchUpLine(Module& module, const ShuttleWin& win, double distance) {
  const std::int32_t rate = module.settings.StepJogRate;
  const char* letter = AxisLetter(win.selectedAxis);
  if (rate != 0) {
    SendStepLine(module, win, module.axisChangeHold, kRateStepFormat,
                 {LineArg::Int(rate), LineArg::Text(letter), LineArg::Real(distance)});
  } else {
    SendStepLine(module, win, module.axisChangeHold, kPlainCatchUpFormat,
                 {LineArg::Text(letter), LineArg::Real(distance)});
  }
}

// Held-back steps drain by one line of five and one line of the remainder per still poll.
void CatchUp(Module& module, ShuttleWin& win) {
  const double increment = host_motion::jogIncrement(module.host);
  if (std::abs(win.pendingSteps) >= kCatchUpChunk && PendingMovesAllowSend(module)) {
    const bool backward = win.pendingSteps < 0;
    SendCatchUpLine(module, win, (backward ? -kCatchUpChunk : kCatchUpChunk) * increment);
    win.pendingSteps += backward ? kCatchUpChunk : -kCatchUpChunk;
  }
  if (std::abs(win.pendingSteps) < kCatchUpChunk && PendingMovesAllowSend(module)) {
    SendCatchUpLine(module, win, win.pendingSteps * increment);
    win.pendingSteps = 0;
  }
}

// Adds without overflowing: a host that never drains its queue must not wrap the count.
void AddPendingSteps(ShuttleWin& win, std::int32_t steps) {
  const std::int64_t sum = static_cast<std::int64_t>(win.pendingSteps) + steps;
  const std::int64_t hi = std::numeric_limits<std::int32_t>::max();
  const std::int64_t lo = -hi;
  win.pendingSteps = static_cast<std::int32_t>(sum > hi ? hi : (sum < lo ? lo : sum));
}

void PlainStep(Module& module, ShuttleWin& win, std::int32_t direction, std::int32_t steps) {
  SaveFeedValues(module, win);
  const std::int32_t rate = module.settings.StepJogRate;
  if (rate != 0) {
    module.host.SetDRO(kDroFeedOverride, 100.0);
    win.feedOverrideForced = 1;
  }
  if (!PendingMovesAllowSend(module)) {
    AddPendingSteps(win, SignedSteps(direction, steps));
    return;
  }
  const double distance = SignedSteps(direction, steps) * host_motion::jogIncrement(module.host);
  const char* letter = AxisLetter(win.selectedAxis);
  if (rate != 0) {
    SendStepLine(module, win, module.axisChangeHold, kRateStepFormat,
                 {LineArg::Int(rate), LineArg::Text(letter), LineArg::Real(distance)});
  } else {
    const double feed = module.host.GetDRO(kDroFeedRate);
    SendStepLine(module, win, module.axisChangeHold, kFeedStepFormat,
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

void StepJog(Module& module, ShuttleWin& win, std::int32_t direction, std::int32_t steps) {
  if (win.leavingContinuous != 0) {
    EndContinuousJog(module, win);
    if (win.endJogCountdown != 0) return;
    win.leavingContinuous = 0;
  }
  if (steps == 0 && win.pendingSteps != 0) {
    CatchUp(module, win);
    return;
  }
  if (steps == 0 || !MotionGateAllows(module)) return;
  if (!JogEnabled(module)) return;
  if (!RotatedAxis(module, win)) {
    PlainStep(module, win, direction, steps);
    return;
  }
  // Rotated steps are sent at once or dropped; they are never held back.
  if (!PendingMovesAllowSend(module)) return;
  const double distance = SignedSteps(direction, steps) * host_motion::jogIncrement(module.host);
  SendRotatedStep(module, win, distance, module.axisChangeHold);
}

void SlowRateStepJog(Module& module, ShuttleWin& win, std::int32_t direction, std::int32_t steps) {
  if (steps == 0) return;
  if (!JogEnabled(module)) return;
  const double distance = SignedSteps(direction, steps) * host_motion::jogIncrement(module.host);
  if (RotatedAxis(module, win)) {
    SendRotatedStep(module, win, distance, false);
    return;
  }
  SaveFeedValues(module, win);
  module.host.SetDRO(kDroFeedOverride, 100.0);
  win.feedOverrideForced = 1;
  double feed = ToSingle(host_motion::axisVelocity(module.host, win.selectedAxis) * 60.0);
  feed = ToSingle(module.host.GetDRO(kDroSlowJogRate) * feed / 100.0);
  SendStepLine(
      module, win, false, kSlowRateStepFormat,
      {LineArg::Real(feed), LineArg::Text(AxisLetter(win.selectedAxis)), LineArg::Real(distance)});
}
