#pragma once

struct Module;
class ShuttleWin;

// Fills the 5-byte output report from the host's indicators, the axis, the wheel mode and the
// heartbeat.
void FillOutputReport(Module& module, ShuttleWin& win);
