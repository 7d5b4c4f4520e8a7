#include "input/buttons.h"

#include "host/module.h"
#include "link/shuttle_win.h"

void ProcessButtons(Module&, ShuttleWin&) {}
