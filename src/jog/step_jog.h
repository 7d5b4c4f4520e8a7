// Step jogging: wheel steps sent as relative moves by the host's jog increment, at StepJogRate
// or at the axis's slow jog rate; the feed values a burst changed go back when it ends.
#pragma once

#include <cstdint>

#include "jog/continuous_jog.h"
#include "jog/wheel_rules.h"

struct Core;

struct StepJogState {
  std::int32_t pendingSteps = 0;  // held back while the host's queue is full
  // The feed values of the first step of a burst, written back when it ends.
  double savedFeedRate = 0.0;
  double savedFeedOverride = 0.0;
  bool savedValid = false;
  bool feedOverrideForced = false;  // the burst set read-out 821 to 100, so restore it
  // The host was in absolute mode when last idle: each step line is followed by "G90".
  bool restoreAbsolute = true;
  // What the four-decimal rounding of the rotated lines has left out so far, carried into the
  // next line while the axis and the rotation stay the same, so that small steps add up.
  double rotatedCarryX = 0.0;
  double rotatedCarryY = 0.0;
  std::int32_t rotatedCarryAxis = -1;
  double rotatedCarryDegrees = 0.0;
};

void StepJog(Core& core, StepJogState& state, ContinuousJogState& continuous,
             const WheelTurn& turn);
void SlowRateStepJog(Core& core, StepJogState& state, const WheelTurn& turn);

// Once per poll after the wheel function: the saved feed values go back once the burst's
// countdown has run out.
void RestoreAfterStepBurst(Core& core, StepJogState& state);
// Once per poll before any input: while the host is idle, notes whether it is in absolute mode.
void NoteHostDistanceMode(const Core& core, StepJogState& state);
