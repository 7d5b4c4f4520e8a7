#include "input/chords.h"

#include "host/module.h"
#include "link/shuttle_win.h"

void ProcessChords(Module&, ShuttleWin&) {}
