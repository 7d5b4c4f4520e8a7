#include "input/safety_input.h"

#include "host/module.h"
#include "link/shuttle_win.h"

void CheckSafetyInput(Module&, ShuttleWin&) {}
