// The module-wide state: one HostBridge, one PendantSettings, the tick counters, the input latches,
// wheelMode and the single ShuttleWin. Logic receives the module explicitly, so a test builds a
// fresh one per case; exactly one static instance exists, at the export boundary.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "host/host_bridge.h"
#include "host/platform.h"
#include "host/ticks.h"
#include "input/axis_select.h"
#include "input/buttons.h"
#include "input/chords.h"
#include "input/safety_input.h"
#include "settings/pendant_settings.h"

class ShuttleWin;

struct Module {
  explicit Module(Platform& platformServices);
  ~Module();
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;

  Platform& platform;
  HostBridge host;
  PendantSettings settings;
  TickCounters ticks;

  std::string profilePath;
  std::string proName;  // returned by SetProName, valid until the next call
  std::unique_ptr<ShuttleWin> shuttleWin;

  // Wheel mode 1..6; survives reconnection and a new ShuttleWin.
  std::int32_t wheelMode = 1;
  // Wheel direction before the per-axis reverse settings.
  std::uint8_t rawWheelDirection = 0;
  // Raised at an axis change while the host's command queue is not empty.
  bool axisChangeHold = false;

  SafetyState safety;
  ChordState chords;
  ButtonState buttons;
  AxisKeyState axisKeys;
};

// Replaces the host's status message text.
void ShowStatus(Module& module, const char* text);
