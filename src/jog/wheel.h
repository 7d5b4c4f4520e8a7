#pragma once

#include <cstdint>

struct Module;
class ShuttleWin;

// Last step of the input chain: wheel delta, reversal, dispatch, restore after a step burst.
void ProcessWheel(Module& module, ShuttleWin& win);
void RunWheelFunction(Module& module, ShuttleWin& win, std::int32_t direction, std::int32_t steps);
