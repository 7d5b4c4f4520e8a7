#include "jog/continuous_jog.h"

#include <array>
#include <cmath>
#include <cstdint>

#include "core/core.h"
#include "core/saturating_add.h"
#include "settings/lists.h"

namespace {

constexpr std::int32_t kBurstCountdownStart = 3;
constexpr std::int32_t kEndJogCountdownStart = 5;
constexpr std::int32_t kReversalSettleTicks = 3;
constexpr std::int32_t kCModeCountLimit = 30001;
constexpr std::int32_t kCModeCountRestart = 400;

// Newest samples weigh most; the weights, in hundredths, add up to 10. Whole hundredths keep the
// sum of whole speed samples exact, so a steady wheel gives exactly ten times its speed.
constexpr double kSpeedWeightsHundredths[10] = {18, 36, 55, 73, 91, 109, 127, 145, 164, 182};

template <std::size_t N>
std::int32_t ClampedDivisor(const std::array<const char*, N>& list, std::int32_t index) {
  const std::int32_t last = static_cast<std::int32_t>(N) - 1;
  const std::int32_t clamped = index < 0 ? 0 : (index > last ? last : index);
  return LeadingNumber(ListEntry(list, clamped));
}

void ClearSpeedHistory(ContinuousJogState& s) {
  for (double& v : s.speedHistory) v = 0.0;
}

void StartJog(Core& core, ContinuousJogState& s, WheelFunction function, const WheelTurn& turn,
              double speed) {
  if (!std::isfinite(speed)) {
    // No speed can be given for it: stopping is the only safe thing to ask for.
    EndContinuousJog(core, s, turn.axis);
    return;
  }
  if (!s.jogStarted) {
    if (core.jogModes != nullptr) core.jogModes->BeginJogBurst();
    s.jogStarted = true;
  }
  s.runningAxis = turn.axis;
  s.runningFunction = function;
  core.machine.Jog(turn.axis, turn.direction, speed);
}

// Ends the jog when the wheel has not moved for two evaluated polls; returns whether it did.
bool DeltaCheckEndedJog(Core& core, ContinuousJogState& s, const WheelTurn& turn) {
  s.deltaHistoryIndex = (s.deltaHistoryIndex + 1) % 2;
  if (s.deltaHistoryIndex < 0) s.deltaHistoryIndex = 0;
  s.deltaHistory[s.deltaHistoryIndex] = turn.steps;
  if (s.deltaHistory[0] + s.deltaHistory[1] != 0.0) return false;
  EndContinuousJog(core, s, turn.axis);
  return true;
}

bool Reversed(const Core& core, const ContinuousJogState& s, std::int32_t direction) {
  return direction != s.lastJogDirection && core.ticks.jogActiveCountdown != 0;
}

}  // namespace

std::int32_t VelocityDivisor(std::int32_t vel) {
  return ClampedDivisor(kVelocityDivisorList, vel);
}

std::int32_t SlowDownDivisor(std::int32_t slowDownRate) {
  return ClampedDivisor(kSlowDownList, slowDownRate);
}

void EndContinuousJog(Core& core, ContinuousJogState& s, std::int32_t axis) {
  if (axis == s.runningAxis) s.runningAxis = kNoRunningJog;
  core.machine.EndJog(axis);
}

void EndRunningJog(Core& core, ContinuousJogState& s) {
  if (s.runningAxis != kNoRunningJog) EndContinuousJog(core, s, s.runningAxis);
}

void EndAbandonedJog(Core& core, ContinuousJogState& s, WheelFunction function, std::int32_t axis) {
  if (s.runningAxis == kNoRunningJog) return;
  const bool handedOver =
      s.runningFunction == WheelFunction::VelocityJog && function == WheelFunction::StepJog;
  if (axis != s.runningAxis || (function != s.runningFunction && !handedOver))
    EndRunningJog(core, s);
}

void EndBurst(Core& core, ContinuousJogState& s) {
  EndRunningJog(core, s);
  s.jogStarted = false;
  if (core.jogModes != nullptr) core.jogModes->EndJogBurst();
}

bool LeaveContinuousJog(Core& core, ContinuousJogState& s, std::int32_t axis) {
  if (!s.leavingContinuous) return true;
  EndContinuousJog(core, s, axis);
  if (s.endJogCountdown != 0) return false;
  s.leavingContinuous = false;
  return true;
}

void StepEndJogCountdown(ContinuousJogState& s) {
  if (s.endJogCountdown != 0) --s.endJogCountdown;
}

void VelocityJog(Core& core, ContinuousJogState& s, const WheelTurn& turn) {
  s.leavingContinuous = true;
  s.endJogCountdown = kEndJogCountdownStart;
  const std::int32_t velocityDivisor = VelocityDivisor(core.settings.Vel);
  const std::int32_t slowDownDivisor = SlowDownDivisor(core.settings.SlowDownRate);

  if (Reversed(core, s, turn.direction)) {
    EndContinuousJog(core, s, turn.axis);
    ClearSpeedHistory(s);
    core.ticks.reversalTicks = 0;
    s.lastJogDirection = turn.direction;
    return;
  }
  if (core.ticks.reversalTicks < kReversalSettleTicks) return;

  if (turn.speed != 0) {
    core.ticks.jogActiveCountdown = kBurstCountdownStart;
    if (!core.machine.JogAllowed()) return;
  }
  if (core.ticks.jogActiveCountdown == 0) {
    EndBurst(core, s);
    ClearSpeedHistory(s);
    return;
  }
  if (DeltaCheckEndedJog(core, s, turn)) return;
  if (!core.machine.MotionAllowed()) return;

  for (int k = 0; k < 9; ++k) s.speedHistory[k] = s.speedHistory[k + 1];
  s.speedHistory[9] = turn.speed;
  double weightedHundredths = 0.0;
  for (int k = 0; k < 10; ++k) weightedHundredths += kSpeedWeightsHundredths[k] * s.speedHistory[k];
  double velocityRatio = weightedHundredths / 100.0 / 400.0 * 3.0 / velocityDivisor;
  if (turn.enableHeld) velocityRatio /= slowDownDivisor;
  if (velocityRatio > 1.0) velocityRatio = 1.0;

  if (turn.speed != 0) {
    const double speed = core.machine.MaxJogSpeed(turn.axis) * velocityRatio;
    StartJog(core, s, WheelFunction::VelocityJog, turn, speed);
  } else {
    EndContinuousJog(core, s, turn.axis);
  }
  s.lastJogDirection = turn.direction;
}

void CModeJog(Core& core, ContinuousJogState& s, const WheelTurn& turn) {
  if (Reversed(core, s, turn.direction)) {
    EndContinuousJog(core, s, turn.axis);
    core.ticks.reversalTicks = 0;
    s.cModeCount = 0;
    s.lastJogDirection = turn.direction;
    return;
  }
  if (core.ticks.reversalTicks < kReversalSettleTicks) return;

  if (turn.speed != 0) {
    core.ticks.jogActiveCountdown = kBurstCountdownStart;
    s.cModeCount = SaturatingAdd(s.cModeCount, turn.steps);  // DelaySteps may be out of reach
    if (!core.machine.JogAllowed()) return;
  }
  if (core.ticks.jogActiveCountdown == 0) {
    s.cModeCount = 0;
    EndBurst(core, s);
    return;
  }
  if (s.cModeCount < core.settings.DelaySteps) return;
  if (s.cModeCount >= kCModeCountLimit) s.cModeCount = kCModeCountRestart;
  if (DeltaCheckEndedJog(core, s, turn)) return;
  if (!core.machine.MotionAllowed()) return;

  if (turn.speed != 0) {
    const double speed =
        core.machine.Value(MachineValue::SlowJogRate) * core.machine.MaxJogSpeed(turn.axis) / 100.0;
    StartJog(core, s, WheelFunction::CModeJog, turn, speed);
  } else {
    EndContinuousJog(core, s, turn.axis);
  }
  s.lastJogDirection = turn.direction;
}
