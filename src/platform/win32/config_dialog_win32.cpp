#include "platform/win32/config_dialog_win32.h"

#include "settings/config_dialog.h"

void RunWin32ConfigDialog(ConfigDialog&) {}
