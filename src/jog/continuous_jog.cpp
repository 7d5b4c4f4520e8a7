#include "jog/continuous_jog.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>

#include "host/host_blocks.h"
#include "host/module.h"
#include "input/lists.h"
#include "jog/wheel_rules.h"
#include "link/shuttle_win.h"

namespace {

constexpr std::int32_t kBurstCountdownStart = 3;
constexpr std::int32_t kEndJogCountdownStart = 5;
constexpr std::int32_t kReversalSettleTicks = 3;
constexpr std::int32_t kCModeCountLimit = 30001;
constexpr std::int32_t kCModeCountRestart = 400;
constexpr std::int32_t kLedHostJogMode = 15;

// Newest samples weigh most; the weights, in hundredths, add up to 10. Whole hundredths keep the
// sum of whole speed samples exact, so a steady wheel gives exactly ten times its speed.
constexpr double kSpeedWeightsHundredths[10] = {18, 36, 55, 73, 91, 109, 127, 145, 164, 182};

template <std::size_t N>
std::int32_t ClampedDivisor(const std::array<const char*, N>& list, std::int32_t index) {
  const std::int32_t last = static_cast<std::int32_t>(N) - 1;
  const std::int32_t clamped = index < 0 ? 0 : (index > last ? last : index);
  return LeadingNumber(ListEntry(list, clamped));
}

void ClearSpeedHistory(ShuttleWin& win) {
  for (double& s : win.speedHistory) s = 0.0;
}

// Jog speeds are whole numbers, truncated toward zero; returns false for a speed that has no
// int32 form (not finite), and saturates a finite one beyond the int32 range.
bool TruncatedSpeed(double speed, std::int32_t& out) {
  if (!std::isfinite(speed)) return false;
  constexpr double hi = std::numeric_limits<std::int32_t>::max();
  constexpr double lo = std::numeric_limits<std::int32_t>::min();
  out = speed >= hi   ? std::numeric_limits<std::int32_t>::max()
        : speed <= lo ? std::numeric_limits<std::int32_t>::min()
                      : static_cast<std::int32_t>(speed);
  return true;
}

void StartJog(Module& module, ShuttleWin& win, std::int32_t direction, double speed) {
  std::int32_t truncated = 0;
  if (!TruncatedSpeed(speed, truncated)) {
    // No speed can be given for it: stopping is the only safe thing to ask for.
    EndContinuousJog(module, win);
    return;
  }
  if (win.jogStarted == 0) {
    if (module.host.GetLED(kLedHostJogMode)) {
      module.host.DoButton(kButtonJogModeEnter);
      win.hostJogModeSwitched = 1;
    } else {
      win.hostJogModeSwitched = 0;
    }
    win.jogStarted = 1;
  }
  const HostBridge& host = module.host;
  const std::int32_t axis = win.selectedAxis;
  host_state::SetAxisJogDirection(host, axis, direction);
  host_state::SetAxisJogSpeed(host, axis, truncated);
  host_state::SetAxisJogAux(host, axis, host_motion::axisJogAux(host, axis));
  host_state::SetAxisJogSpeedMax(host, axis, host_motion::axisJogSpeedMax(host, axis));
  host_state::SetAxisJogStopRequest(host, axis, 0);
  host_state::SetAxisJogActive(host, axis, 1);
  module.host.Code(kStartJogLine);
}

void EndBurst(Module& module, ShuttleWin& win) {
  win.jogStarted = 0;
  if (win.hostJogModeSwitched != 0) {
    module.host.DoButton(kButtonJogModeLeave);
    win.hostJogModeSwitched = 0;
  }
}

// Ends the jog when the wheel has not moved for two evaluated polls; returns whether it did.
bool DeltaCheckEndedJog(Module& module, ShuttleWin& win, std::int32_t steps) {
  win.deltaHistoryIndex = (win.deltaHistoryIndex + 1) % 2;
  if (win.deltaHistoryIndex < 0) win.deltaHistoryIndex = 0;
  win.deltaHistory[win.deltaHistoryIndex] = steps;
  if (win.deltaHistory[0] + win.deltaHistory[1] != 0.0) return false;
  EndContinuousJog(module, win);
  return true;
}

bool Reversed(const Module& module, const ShuttleWin& win, std::int32_t direction) {
  return direction != win.lastJogDirection && module.ticks.jogActiveCountdown != 0;
}

// C mode's step count must not wrap while DelaySteps is out of reach.
void AddCModeSteps(ShuttleWin& win, std::int32_t steps) {
  const std::int64_t sum = static_cast<std::int64_t>(win.cModeCount) + steps;
  constexpr std::int64_t hi = std::numeric_limits<std::int32_t>::max();
  win.cModeCount = static_cast<std::int32_t>(sum > hi ? hi : sum);
}

}  // namespace

std::int32_t VelocityDivisor(std::int32_t vel) {
  return ClampedDivisor(kVelocityDivisorList, vel);
}

std::int32_t SlowDownDivisor(std::int32_t slowDownRate) {
  return ClampedDivisor(kSlowDownList, slowDownRate);
}

void VelocityJog(Module& module, ShuttleWin& win, std::int32_t direction, std::int32_t steps) {
  win.leavingContinuous = 1;
  win.endJogCountdown = kEndJogCountdownStart;
  const std::int32_t velocityDivisor = VelocityDivisor(module.settings.Vel);
  const std::int32_t slowDownDivisor = SlowDownDivisor(module.settings.SlowDownRate);
  win.wheelSpeed = WheelSpeedByte(win);

  if (Reversed(module, win, direction)) {
    EndContinuousJog(module, win);
    ClearSpeedHistory(win);
    module.ticks.reversalTicks = 0;
    win.lastJogDirection = direction;
    return;
  }
  if (module.ticks.reversalTicks < kReversalSettleTicks) return;

  if (win.wheelSpeed != 0) {
    module.ticks.jogActiveCountdown = kBurstCountdownStart;
    if (!JogEnabled(module)) return;
  }
  if (module.ticks.jogActiveCountdown == 0) {
    EndBurst(module, win);
    ClearSpeedHistory(win);
    return;
  }
  if (DeltaCheckEndedJog(module, win, steps)) return;
  if (!MotionGateAllows(module)) return;

  for (int k = 0; k < 9; ++k) win.speedHistory[k] = win.speedHistory[k + 1];
  win.speedHistory[9] = win.wheelSpeed;
  double weightedHundredths = 0.0;
  for (int k = 0; k < 10; ++k)
    weightedHundredths += kSpeedWeightsHundredths[k] * win.speedHistory[k];
  win.velocityRatio = weightedHundredths / 100.0 / 400.0 * 3.0 / velocityDivisor;
  if (win.enableHeld != 0) win.velocityRatio /= slowDownDivisor;
  if (win.velocityRatio > 1.0) win.velocityRatio = 1.0;

  if (win.wheelSpeed != 0) {
    const double speed =
        host_motion::axisJogSpeedMax(module.host, win.selectedAxis) * win.velocityRatio;
    StartJog(module, win, direction, speed);
  } else {
    EndContinuousJog(module, win);
  }
  win.lastJogDirection = direction;
}

void CModeJog(Module& module, ShuttleWin& win, std::int32_t direction, std::int32_t steps) {
  win.wheelSpeed = WheelSpeedByte(win);

  if (Reversed(module, win, direction)) {
    EndContinuousJog(module, win);
    module.ticks.reversalTicks = 0;
    win.cModeCount = 0;
    win.lastJogDirection = direction;
    return;
  }
  if (module.ticks.reversalTicks < kReversalSettleTicks) return;

  if (win.wheelSpeed != 0) {
    module.ticks.jogActiveCountdown = kBurstCountdownStart;
    AddCModeSteps(win, steps);
    if (!JogEnabled(module)) return;
  }
  if (module.ticks.jogActiveCountdown == 0) {
    win.cModeCount = 0;
    EndBurst(module, win);
    return;
  }
  if (win.cModeCount < module.settings.DelaySteps) return;
  if (win.cModeCount >= kCModeCountLimit) win.cModeCount = kCModeCountRestart;
  if (DeltaCheckEndedJog(module, win, steps)) return;
  if (!MotionGateAllows(module)) return;

  if (win.wheelSpeed != 0) {
    const double speed = module.host.GetDRO(kDroSlowJogRate) *
                         host_motion::axisJogSpeedMax(module.host, win.selectedAxis) / 100.0;
    StartJog(module, win, direction, speed);
  } else {
    EndContinuousJog(module, win);
  }
  win.lastJogDirection = direction;
}
