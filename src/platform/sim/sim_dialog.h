// The configuration dialog of the simulation: a script of control actions queued by the simulated
// host before it calls Config.
#pragma once

class ConfigDialog;

// Plays the queued script over `dialog` and empties it; closes with Esc when the script leaves the
// dialog open.
void RunSimConfigDialog(ConfigDialog& dialog);

// Drops every queued action (used by SimReset and SimDialogClear).
void ClearSimDialogScript();
