// Step jogging: each poll's wheel steps become a move of the selected axis by as many increments
// of the step size, at the configured rate or at the axis's slow jog rate.
#pragma once

#include "jog/continuous_jog.h"
#include "jog/wheel_rules.h"

struct Core;

void StepJog(Core& core, ContinuousJogState& continuous, const WheelTurn& turn);
void SlowRateStepJog(Core& core, const WheelTurn& turn);
