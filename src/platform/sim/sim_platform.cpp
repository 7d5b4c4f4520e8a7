// The simulation platform: virtual device bus, sinks registered by the simulated host, files on
// disk.
#include <dlfcn.h>

#include <string>

#include "host_windows/windows_platform.h"
#include "platform/sim/posix_profile_files.h"
#include "platform/sim/sim_dialog.h"
#include "platform/sim/sim_sinks.h"
#include "platform/sim/virtual_bus.h"
#include "text/ascii.h"

namespace {

class SimPlatform final : public WindowsPlatform {
 public:
  std::unique_ptr<DeviceBus> CreateDeviceBus(void*) override { return CreateVirtualBus(); }

  void ShowStatus(const HostBridge&, const char* text) override { SimShowStatusText(text); }

  std::string ModuleBaseName() override {
    // The object that holds this code: the shared library when a host loaded it.
    Dl_info info{};
    if (dladdr(reinterpret_cast<const void*>(&SimShowStatusText), &info) == 0 ||
        info.dli_fname == nullptr)
      return {};
    // "/x/libpendant_sim.so" -> "libpendant_sim"
    return std::string(ascii::BaseNameWithoutExtension(info.dli_fname, "/"));
  }

  ProfileFiles& Files() override { return PosixProfileFilesInstance(); }

  void RunConfigDialog(ConfigDialog& dialog) override { RunSimConfigDialog(dialog); }

  void ShowMessage(const std::string& text) override { SimShowMessageBox(text.c_str()); }
  void Trace(const char* line) override { SimTraceLine(line); }
};

}  // namespace

WindowsPlatform& ThePlatform() {
  static SimPlatform platform;
  return platform;
}
