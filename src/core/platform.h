// What the portable layers need from the operating system or the simulation. One implementation
// lives in src/platform/win32, one in src/platform/sim; tests provide their own.
#pragma once

#include <memory>
#include <string>

class DeviceBus;
class ProfileFiles;
class ConfigDialog;
class HostBridge;

class Platform {
 public:
  virtual ~Platform() = default;

  // Creates the hidden child window of the host's window, with its device bus and timer.
  virtual std::unique_ptr<DeviceBus> CreateDeviceBus(void* hostParentWindow) = 0;

  // Replaces the host's status message text.
  virtual void ShowStatus(const HostBridge& host, const char* text) = 0;

  // This module's own file name, without directory and without its last extension.
  virtual std::string ModuleBaseName() = 0;

  // File access and text conversion for the profile.
  virtual ProfileFiles& Files() = 0;

  // Shows a message box with an OK button and an exclamation icon; returns when it was closed.
  // Both real platforms show it; a test platform that does not care may leave it out.
  virtual void ShowMessage(const std::string& /*text*/) {}

  // Runs the configuration dialog modally over `dialog`; returns when it was closed (OK or Esc).
  virtual void RunConfigDialog(ConfigDialog& dialog) = 0;

  // One line of the diagnostic trail (connection events), without a line end. Platforms without
  // a place for it drop it. Called from the poll too: must not allocate for short lines.
  virtual void Trace(const char* /*line*/) {}
};
