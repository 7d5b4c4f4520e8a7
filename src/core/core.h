// What the behaviours and the link work on: the host's rendering, the settings, the tick counters,
// the wheel mode and the platform's services. Each host's module object is this and what ties the
// layers together; logic receives it explicitly, so a test builds a fresh one per case.
#pragma once

#include <cstdint>

#include "core/machine.h"
#include "core/ticks.h"
#include "core/wheel_mode.h"
#include "settings/pendant_settings.h"

class Platform;

// Brackets each message of the window: the module counts its frames on the stack and, when the
// outermost one ends, does the lifecycle work asked for inside it (host_windows/lifecycle.h).
class CallScope {
 public:
  // Returns whether the call was made from inside one of the module's own frames.
  virtual bool EnterCall() = 0;
  virtual void LeaveCall(bool nested) = 0;

 protected:
  ~CallScope() = default;
};

struct Core {
  Core(Platform& platformServices, Machine& hostMachine)
      : platform(platformServices), machine(hostMachine) {}
  Core(const Core&) = delete;
  Core& operator=(const Core&) = delete;

  Platform& platform;
  // The host's rendering of what the behaviours ask for.
  Machine& machine;
  // What only some hosts have (core/machine.h); null where the host has none of it.
  HostHeldSteps* heldSteps = nullptr;
  HostJogModes* jogModes = nullptr;
  HostDisplay* display = nullptr;
  HostGates* gates = nullptr;
  PendantWatch* watch = nullptr;
  // Set while the window that is running goes (the host stopped or replaced it from inside one
  // of its own calls): the behaviours and the link stop, and nothing more reaches the host.
  bool muted = false;
  PendantSettings settings;
  TickCounters ticks;
  WheelMode wheelMode = WheelMode::StepJog;
  // Set by the module; without one a window's message is just handled.
  CallScope* calls = nullptr;

 protected:
  ~Core() = default;
};

// One frame of the module on the stack, for a message of the window.
class CoreCall {
 public:
  explicit CoreCall(Core& core) noexcept
      : calls_(core.calls), nested_(calls_ != nullptr && calls_->EnterCall()) {}
  ~CoreCall() {
    if (calls_ != nullptr) calls_->LeaveCall(nested_);
  }
  CoreCall(const CoreCall&) = delete;
  CoreCall& operator=(const CoreCall&) = delete;

 private:
  CallScope* calls_;
  bool nested_;
};
