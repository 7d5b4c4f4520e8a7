// Continuous jogging: the host's jog of the selected axis driven by "DOJOG" and "ENDJOG", at a
// speed that follows the wheel (velocity mode, wheel function 2) or at the slow jog rate once the
// wheel has turned DelaySteps steps (C mode, wheel function 3).
#pragma once

#include <cstdint>

struct Module;
class ShuttleWin;

void VelocityJog(Module& module, ShuttleWin& win, std::int32_t direction, std::int32_t steps);
void CModeJog(Module& module, ShuttleWin& win, std::int32_t direction, std::int32_t steps);

// Divisors picked by the Vel and SlowDownRate settings. An index outside the list (a hand-edited
// profile) takes the nearest entry.
std::int32_t VelocityDivisor(std::int32_t vel);
std::int32_t SlowDownDivisor(std::int32_t slowDownRate);
