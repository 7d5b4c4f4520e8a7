// Continuous jogging: a jog of the selected axis at a speed that follows the wheel (velocity
// mode) or at the slow jog rate once the wheel has turned DelaySteps steps (C mode).
#pragma once

#include <cstdint>

#include "input/wheel_function.h"
#include "jog/wheel_rules.h"

struct Core;

inline constexpr std::int32_t kNoRunningJog = -1;

struct ContinuousJogState {
  std::int32_t lastJogDirection = 0;
  double deltaHistory[2] = {0.0, 0.0};
  std::int32_t deltaHistoryIndex = 0;
  double speedHistory[10] = {};
  std::int32_t cModeCount = 0;
  bool jogStarted = false;  // a burst of jogs has begun
  // Velocity jogging ran: step jogging first ends the jog and waits out endJogCountdown polls.
  bool leavingContinuous = false;
  std::int32_t endJogCountdown = 0;
  // The jog the machine was asked to run and not yet to end: its axis (kNoRunningJog: none)
  // and the wheel function that started it, which alone can end it the ordinary way.
  std::int32_t runningAxis = kNoRunningJog;
  WheelFunction runningFunction = WheelFunction::BeforeFirstPoll;
};

void VelocityJog(Core& core, ContinuousJogState& state, const WheelTurn& turn);
void CModeJog(Core& core, ContinuousJogState& state, const WheelTurn& turn);

void EndContinuousJog(Core& core, ContinuousJogState& state, std::int32_t axis);
// Ends the running jog on its own axis, if there is one.
void EndRunningJog(Core& core, ContinuousJogState& state);
// First in the wheel's poll: a running jog whose function can no longer end it (the axis or the
// wheel function changed) is ended. Velocity jogging's hand-over to step jogging ends its own.
void EndAbandonedJog(Core& core, ContinuousJogState& state, WheelFunction function,
                     std::int32_t axis);
// The end of a burst: a jog still running ends, then the burst.
void EndBurst(Core& core, ContinuousJogState& state);
// Step jogging after velocity jogging: ends the jog at every poll until endJogCountdown has run
// out; returns whether step jogging may go on.
bool LeaveContinuousJog(Core& core, ContinuousJogState& state, std::int32_t axis);
// Once per poll, whatever the wheel does.
void StepEndJogCountdown(ContinuousJogState& state);

// Divisors picked by the Vel and SlowDownRate settings. An index outside the list (a hand-edited
// profile) takes the nearest entry.
std::int32_t VelocityDivisor(std::int32_t vel);
std::int32_t SlowDownDivisor(std::int32_t slowDownRate);
