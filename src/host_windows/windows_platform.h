// What the Windows host's module needs from the operating system or the simulation beyond the
// neutral Platform: the hidden window with its device bus, the host's status text, the module's
// name, the profile's files, message boxes and the configuration dialog. One implementation lives
// in src/platform/win32, one in src/platform/sim; tests provide their own.
#pragma once

#include <memory>
#include <string>

#include "core/platform.h"

class DeviceBus;
class ProfileFiles;
class ConfigDialog;
class HostBridge;

class WindowsPlatform : public Platform {
 public:
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
};
