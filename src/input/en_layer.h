// The EN layer of the function buttons: a short press with EN held runs the button's configured
// action, or its built-in one.
#pragma once

#include <cstdint>

struct Core;

// One poll of function button `button` (F1..F5 = 0..4) in a press begun with EN held. `began`:
// this poll's report pressed it. A press whose EN is let go first does nothing.
void RunEnLayer(Core& core, int button, std::int32_t selectedAxis, bool down, bool began,
                bool enableHeld);
