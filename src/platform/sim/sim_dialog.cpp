#include "platform/sim/sim_dialog.h"

#include "settings/config_dialog.h"

void RunSimConfigDialog(ConfigDialog&) {}
void ClearSimDialogScript() {}
