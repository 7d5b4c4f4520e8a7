#include "host_windows/lifecycle.h"

#include <utility>

#include "host_windows/module.h"
#include "settings/pendant_settings_io.h"
#include "settings/profile_store.h"

namespace {

// Ends the window now when none of its frames can be on the stack; otherwise retires it.
void EndWindow(Module& module, bool framesMayBeRunning) {
  if (!module.pendantLink) return;
  if (!framesMayBeRunning) {
    module.pendantLink.reset();
    return;
  }
  module.retired.reserve(module.retired.size() + 1);
  module.pendantLink->Shutdown();
  module.retired.push_back(std::move(module.pendantLink));
}

bool MakeWindow(Module& module, void* hostState, void* hostConfig, void* hostMotion,
                void* hostParentWindow, bool framesMayBeRunning) {
  module.host.HostState = hostState;
  module.host.HostConfig = hostConfig;
  module.host.HostMotion = hostMotion;
  module.host.hostParentWindow = hostParentWindow;
  // A second InitControl replaces the window; the old one closes its handles first.
  EndWindow(module, framesMayBeRunning);
  module.pendantLink =
      MakePendantLink(module, module.windowsPlatform.CreateDeviceBus(hostParentWindow));
  return module.pendantLink->Ready();
}

void PostInitNow(Module& module) {
  ProfileStore store(module.profilePath, module.windowsPlatform.Files());
  LoadSettings(store, module.settings, 0, [&module] {
    if (module.pendantLink) module.pendantLink->FindPendant();
  });
}

// Runs at the end of the outermost call, while that call's own frames (a window's message
// handler, say) may still be on the stack.
void RunDeferred(Module& module) {
  while (module.pending.Any()) {
    const PendingLifecycle work = std::exchange(module.pending, PendingLifecycle{});
    try {
      switch (work.window) {
        case PendingLifecycle::Window::Keep:
          break;
        case PendingLifecycle::Window::Stop:
          EndWindow(module, true);
          break;
        case PendingLifecycle::Window::Replace:
          MakeWindow(module, work.hostState, work.hostConfig, work.hostMotion,
                     work.hostParentWindow, true);
          break;
      }
      module.muted = false;
      if (work.postInit) PostInitNow(module);
    } catch (...) {
      // Failures are silent towards the host; what was done stays done.
      module.muted = false;
    }
  }
}

}  // namespace

bool Module::EnterCall() {
  const bool nested = callDepth > 0;
  ++callDepth;
  // No frame of a retired window can be running now.
  if (!nested && !retired.empty()) retired.clear();
  return nested;
}

void Module::LeaveCall(bool nested) {
  // The depth stays raised meanwhile, so nothing the deferred work causes counts as outermost.
  if (!nested && pending.Any()) RunDeferred(*this);
  --callDepth;
}

ModuleCall::ModuleCall(Module& module) noexcept : module_(module), nested_(module.EnterCall()) {}

ModuleCall::~ModuleCall() {
  module_.LeaveCall(nested_);
}

bool InitControlCall(Module& module, const ModuleCall& call, void* hostState, void* hostConfig,
                     void* hostMotion, void* hostParentWindow) {
  if (!call.Nested())
    return MakeWindow(module, hostState, hostConfig, hostMotion, hostParentWindow, false);
  PendingLifecycle& pending = module.pending;
  pending.window = PendingLifecycle::Window::Replace;
  pending.hostState = hostState;
  pending.hostConfig = hostConfig;
  pending.hostMotion = hostMotion;
  pending.hostParentWindow = hostParentWindow;
  pending.postInit = false;
  module.muted = true;
  return true;
}

void StopPlugCall(Module& module, const ModuleCall& call) {
  if (!call.Nested()) {
    // Once the window is gone nothing could end a jog, a held action or a step burst's feed
    // values: they end now, while the host's callbacks are still good.
    if (module.pendantLink) module.pendantLink->WindDown();
    if (!module.muted) module.windowsHost.RestoreFeedValues();
    EndWindow(module, false);
    return;
  }
  module.pending.window = PendingLifecycle::Window::Stop;
  module.pending.postInit = false;
  module.muted = true;
}

void PostInitControlCall(Module& module, const ModuleCall& call) {
  if (!call.Nested()) {
    PostInitNow(module);
    return;
  }
  module.pending.postInit = true;
}
