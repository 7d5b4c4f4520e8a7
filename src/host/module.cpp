#include "host/module.h"

#include "link/shuttle_win.h"

Module::Module(Platform& platformServices) : platform(platformServices) {}

Module::~Module() = default;

void ShowStatus(Module& module, const char* text) {
  if (module.host.muted) return;
  module.platform.ShowStatus(module.host, text);
}
