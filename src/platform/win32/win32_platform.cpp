// The Win32 services behind the portable layers.
#include <windows.h>

#include <cstring>
#include <string>

#include "host_windows/exports.h"
#include "host_windows/windows_platform.h"
#include "link/device_bus.h"
#include "platform/win32/config_dialog_win32.h"
#include "platform/win32/host_string.h"
#include "platform/win32/module_instance.h"
#include "platform/win32/module_name.h"
#include "platform/win32/win32_device_bus.h"
#include "platform/win32/win32_profile_files.h"

namespace {

// The full path of this DLL, however long the folder is.
std::string ModuleFilePath() {
  std::string path(MAX_PATH, '\0');
  for (;;) {
    const DWORD n =
        GetModuleFileNameA(ThisModuleInstance(), path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    if (path.size() >= 32768) return {};
    path.resize(path.size() * 2);
  }
}

class Win32Platform final : public WindowsPlatform {
 public:
  std::unique_ptr<DeviceBus> CreateDeviceBus(void* hostParentWindow) override {
    return CreateWin32DeviceBus(hostParentWindow);
  }
  void ShowStatus(const HostBridge& host, const char* text) override {
    AssignHostStatus(host, text);
  }
  std::string ModuleBaseName() override { return BaseNameWithoutExtension(ModuleFilePath()); }
  ProfileFiles& Files() override { return Win32ProfileFilesInstance(); }
  void RunConfigDialog(ConfigDialog& dialog) override { RunWin32ConfigDialog(dialog); }
  // Task-modal: the host's windows wait for the operator to read it.
  void ShowMessage(const std::string& text) override {
    MessageBoxA(nullptr, text.c_str(), ModuleBaseName().c_str(),
                MB_OK | MB_ICONEXCLAMATION | MB_TASKMODAL | MB_SETFOREGROUND);
  }

  // Where Windows developers look: a debugger's output window or a debug-output viewer. One call
  // per line, ending in a line feed as those viewers expect.
  void Trace(const char* line) override {
    if (line == nullptr) return;
    const std::size_t length = std::strlen(line);
    char buffer[512];
    if (length + 2 <= sizeof buffer) {
      std::memcpy(buffer, line, length);
      buffer[length] = '\n';
      buffer[length + 1] = '\0';
      OutputDebugStringA(buffer);
    } else {
      OutputDebugStringA((std::string(line, length) + '\n').c_str());
    }
  }
};

}  // namespace

WindowsPlatform& ThePlatform() {
  static Win32Platform platform;
  return platform;
}
