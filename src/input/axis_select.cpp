#include "input/axis_select.h"

#include "host/module.h"
#include "link/shuttle_win.h"

void SelectAxis(Module&, ShuttleWin&) {}
