#include "core/core.h"

#include "core/platform.h"

void ShowStatus(Core& core, const char* text) {
  if (core.host.muted) return;
  core.platform.ShowStatus(core.host, text);
}
