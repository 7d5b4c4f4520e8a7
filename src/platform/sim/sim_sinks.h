// Where the simulation's status texts and message boxes go: C callbacks that the simulated host
// registers through the Sim ABI. With no sink registered a text is dropped.
#pragma once

using SimTextSink = void (*)(const char* text);

// Shows a message box (the dialog's validation messages).
void SimShowMessageBox(const char* text);
// Replaces the host's status text.
void SimShowStatusText(const char* text);
// One line of the diagnostic trail.
void SimTraceLine(const char* line);

void SimSinksSetStatus(SimTextSink sink);
void SimSinksSetMessageBox(SimTextSink sink);
void SimSinksSetTrail(SimTextSink sink);
// Every sink unregistered, as right after load.
void SimSinksClear();
