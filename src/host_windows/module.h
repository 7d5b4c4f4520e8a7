// The module: the Core the behaviours work on, the latches that outlive a window, the single
// PendantLink and the lifecycle's bookkeeping. Exactly one static instance exists, at the export
// boundary.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/core.h"
#include "host_windows/host_bridge.h"
#include "host_windows/windows_machine.h"
#include "host_windows/windows_platform.h"
#include "link/device_bus.h"
#include "link/pendant_link.h"

// Lifecycle work asked for from inside a callback, done when the outermost call returns
// (host_windows/lifecycle.h).
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

struct Module final : Core, CallScope {
  explicit Module(WindowsPlatform& platformServices);
  ~Module();
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;

  // The module's frames on the stack (host_windows/lifecycle.h).
  bool EnterCall() override;
  void LeaveCall(bool nested) override;

  // The host's callbacks and data blocks, and its rendering of the behaviours' requests.
  HostBridge host;
  // The same platform as Core's, with the services only this host needs.
  WindowsPlatform& windowsPlatform;
  WindowsMachine windowsHost{*this, host, windowsPlatform};
  std::string profilePath;
  std::string proName;  // returned by SetProName, valid until the next call
  PendantLatches latches;
  std::unique_ptr<PendantLink> pendantLink;

  // The module's frames on the stack (exports and window messages); see host_windows/lifecycle.h.
  std::int32_t callDepth = 0;
  PendingLifecycle pending;
  // Windows that went while one of their messages was being handled: inert, freed at the next
  // outermost call.
  std::vector<std::unique_ptr<PendantLink>> retired;
};

// A window of this module over `bus`.
std::unique_ptr<PendantLink> MakePendantLink(Module& module, std::unique_ptr<DeviceBus> bus);
