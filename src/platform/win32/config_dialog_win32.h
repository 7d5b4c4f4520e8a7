// The configuration dialog of Pendant.dll, built from the resource template in config_dialog.rc.
#pragma once

class ConfigDialog;

// Runs the dialog modally over `dialog`, owned by the host's window; returns after OK or Esc.
// The modal loop keeps dispatching the hidden window's timer, so the pendant stays polled.
void RunWin32ConfigDialog(ConfigDialog& dialog);
