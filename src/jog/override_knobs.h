// The wheel as a knob for a host percentage: slow jog rate (wheel function 4), feed override (5)
// and spindle speed override (6). Each step changes the value by 0.5 percent of itself.
#pragma once

#include <cstdint>

struct Module;
class ShuttleWin;

// Returns false when `wheelFunction` is not a knob.
bool RunOverrideKnob(Module& module, ShuttleWin& win, std::int32_t wheelFunction,
                     std::int32_t direction, std::int32_t steps);
