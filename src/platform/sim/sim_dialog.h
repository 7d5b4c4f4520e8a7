// The configuration dialog of the simulation: a script of control actions queued by the simulated
// host before it calls Config.
#pragma once

class ConfigDialog;

// Plays the queued script over `dialog` in order and empties it. A refused OK shows its message
// through the message-box sink and the script goes on; a dialog still open at the end is closed
// with Esc.
void RunSimConfigDialog(ConfigDialog& dialog);

// Appends to the script. Unknown ids and ids of another kind of control are ignored when played;
// a press of 1 is OK, of 2 Esc.
void QueueSimDialogText(int controlId, const char* text);
void QueueSimDialogSelect(int controlId, int index);
void QueueSimDialogCheck(int controlId, int checked);
void QueueSimDialogPress(int controlId);
// `count` timer messages while the dialog is open: the poll runs and the status area follows.
void QueueSimDialogTick(int count);

// The status area as the dialog showed it last ("" before the first dialog).
const char* SimDialogShownStatus();
const char* SimDialogShownLiveView();
// Receives the status area's texts whenever they change while a dialog is open.
using SimDialogViewSink = void (*)(const char* status, const char* liveView);
void SetSimDialogViewSink(SimDialogViewSink sink);

// Drops every queued action (SimReset and SimDialogClear).
void ClearSimDialogScript();
// Forgets the status area last shown and the view sink (SimReset).
void ResetSimDialogView();
