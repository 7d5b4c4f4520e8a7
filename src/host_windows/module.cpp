#include "host_windows/module.h"

#include <utility>

Module::Module(WindowsPlatform& platformServices)
    : Core(platformServices, windowsHost), windowsPlatform(platformServices) {
  calls = this;
  host.muted = &muted;
  heldSteps = &windowsHost;
  jogModes = &windowsHost;
  display = &windowsHost;
  gates = &windowsHost;
}

Module::~Module() = default;

std::unique_ptr<PendantLink> MakePendantLink(Module& module, std::unique_ptr<DeviceBus> bus) {
  module.windowsHost.NewWindow();
  return std::make_unique<PendantLink>(module, module.latches, std::move(bus));
}
