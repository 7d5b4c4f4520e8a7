// Step jogging: wheel steps sent as relative moves by the host's jog increment, at StepJogRate
// (wheel function 10) or at the axis's slow jog rate (wheel function 13).
#pragma once

#include <cstdint>

struct Module;
class ShuttleWin;

void StepJog(Module& module, ShuttleWin& win, std::int32_t direction, std::int32_t steps);
void SlowRateStepJog(Module& module, ShuttleWin& win, std::int32_t direction, std::int32_t steps);
