// What the portable layers need from the operating system or the simulation. Each host's wing
// extends it with what only that host needs (host_windows/windows_platform.h); tests provide
// their own.
#pragma once

class Platform {
 public:
  virtual ~Platform() = default;

  // One line of the diagnostic trail (connection events), without a line end. Platforms without
  // a place for it drop it. Called from the poll too: must not allocate for short lines.
  virtual void Trace(const char* /*line*/) {}
};
