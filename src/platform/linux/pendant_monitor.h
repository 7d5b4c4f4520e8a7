// `pendant --monitor`: the pendant opened as the component opens it, and what it reports printed
// live, with no LinuxCNC and no HAL. A new user's first check: is it there, may this user open
// it, and does it report what is pressed and turned.
#pragma once

#include <atomic>
#include <cstdio>

#include "platform/linux/hidraw_bus.h"

// Finds and opens the pendant through `paths` (the named node, or the first hidraw node with the
// pendant's USB ids), says where it is on `out`, then writes a line for each report that shows
// something new: "Held: EN X/A   Wheel: 132 (+3)   Safety input: off". Returns 0 once `stop` is
// set, 1 when the pendant goes; when it cannot be found or opened, says why on `err` (no such
// device; permission denied, with what the udev rule and the group give) and returns 1.
int RunPendantMonitor(const HidrawBusPaths& paths, std::FILE* out, std::FILE* err,
                      const std::atomic<bool>& stop);
