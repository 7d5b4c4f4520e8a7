#include "jog/wheel.h"

#include "host/module.h"
#include "link/shuttle_win.h"

void ProcessWheel(Module&, ShuttleWin&) {}
void RunWheelFunction(Module&, ShuttleWin&, std::int32_t, std::int32_t) {}
