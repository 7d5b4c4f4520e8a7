// The module-wide state: one HostBridge, one PendantSettings, the tick counters, the input latches,
// wheelMode and the single ShuttleWin. Logic receives the module explicitly, so a test builds a
// fresh one per case; exactly one static instance exists, at the export boundary.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/host_bridge.h"
#include "host/platform.h"
#include "host/ticks.h"
#include "input/axis_select.h"
#include "input/buttons.h"
#include "input/chords.h"
#include "input/safety_input.h"
#include "settings/pendant_settings.h"

class ShuttleWin;

// Lifecycle work asked for from inside a callback, done when the outermost call returns
// (host/lifecycle.h).
struct PendingLifecycle {
  enum class Window : std::uint8_t { Keep, Stop, Replace };
  Window window = Window::Keep;
  // InitControl's arguments for Replace.
  void* hostState = nullptr;
  void* hostConfig = nullptr;
  void* hostMotion = nullptr;
  void* hostParentWindow = nullptr;
  bool postInit = false;

  bool Any() const { return window != Window::Keep || postInit; }
};

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

  // The module's frames on the stack (exports and window messages); see host/lifecycle.h.
  std::int32_t callDepth = 0;
  PendingLifecycle pending;
  // Windows that went while one of their messages was being handled: inert, freed at the next
  // outermost call.
  std::vector<std::unique_ptr<ShuttleWin>> retired;

  // Wheel mode 1..6; survives reconnection and a new ShuttleWin.
  std::int32_t wheelMode = 1;

  // The behaviours' latches, which survive a new ShuttleWin; the window keeps the rest.
  SafetyState safety;
  ChordState chords;
  ButtonState buttons;
  AxisKeyState axisKeys;
};

// Replaces the host's status message text.
void ShowStatus(Module& module, const char* text);
