// pendant: the jog pendant as a LinuxCNC userspace HAL component.
//
//   pendant [--device PATH] [--sysfs ROOT] [--dev-root ROOT] [--name NAME]
//
// Settings come from [PENDANT] of the INI file LinuxCNC names in INI_FILE_NAME. The pendant is
// found by its USB ids among the hidraw nodes (ROOT/class/hidraw under --sysfs, nodes under
// --dev-root), or is the node --device or [PENDANT] DEVICE names (a fixed udev symlink). LinuxCNC
// stops the component with SIGTERM: it then lets go of everything and leaves through hal_exit.
#include <hal.h>
#include <inifile.h>
#include <signal.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <string>

#include "core/platform.h"
#include "host_linuxcnc/ini_settings.h"
#include "module/linuxcnc_pendant.h"
#include "platform/linux/hidraw_bus.h"
#include "platform/linuxcnc/hal_pins.h"
#include "settings/profile_files.h"

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void OnStopSignal(int) {
  stopRequested = 1;
}

// The component keeps no profile: its settings are the INI's.
class NoProfileFiles final : public ProfileFiles {
 public:
  ReadResult ReadAll(const std::string&, std::string&) override { return ReadResult::Missing; }
  WriteResult ReplaceAll(const std::string&, const std::string&) override {
    return WriteResult::Failed;
  }
  std::string ToDocument(const std::string& text) override { return text; }
  std::string FromDocument(const std::string& text) override { return text; }
};

// Status texts and the link's trail go to stderr, which LinuxCNC keeps in its log.
class ComponentPlatform final : public Platform {
 public:
  std::unique_ptr<DeviceBus> CreateDeviceBus(void*) override { return nullptr; }
  void ShowStatus(const HostBridge&, const char* text) override {
    // Once per change: a behaviour may say the same thing at every poll.
    if (std::strncmp(text, lastStatus_, sizeof lastStatus_ - 1) == 0) return;
    std::snprintf(lastStatus_, sizeof lastStatus_, "%s", text);
    std::fprintf(stderr, "pendant: %s\n", text);
  }
  std::string ModuleBaseName() override { return "pendant"; }
  ProfileFiles& Files() override { return files_; }
  void RunConfigDialog(ConfigDialog&) override {}
  void Trace(const char* line) override { std::fprintf(stderr, "pendant: %s\n", line); }

 private:
  NoProfileFiles files_;
  char lastStatus_[128] = {};
};

struct Options {
  std::string device;
  std::string sysfsRoot = "/sys";
  std::string devRoot = "/dev";
  std::string name = "pendant";
};

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 >= argc) return false;
    if (arg == "--device") {
      options.device = argv[++i];
    } else if (arg == "--sysfs") {
      options.sysfsRoot = argv[++i];
    } else if (arg == "--dev-root") {
      options.devRoot = argv[++i];
    } else if (arg == "--name") {
      options.name = argv[++i];
    } else {
      return false;
    }
  }
  return true;
}

// iniFind answers into a buffer of its own that the next call overwrites: callers copy at once.
struct IniFile {
  FILE* file = nullptr;
  explicit IniFile(const char* path) : file(path != nullptr ? std::fopen(path, "r") : nullptr) {}
  ~IniFile() {
    if (file != nullptr) std::fclose(file);
  }
  IniFile(const IniFile&) = delete;
  IniFile& operator=(const IniFile&) = delete;
  const char* Find(const char* section, const char* key) const {
    return file != nullptr ? iniFind(file, key, section) : nullptr;
  }
};

int Run(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::fprintf(stderr,
                 "usage: pendant [--device PATH] [--sysfs ROOT] [--dev-root ROOT] [--name NAME]\n");
    return 2;
  }
  const char* iniPath = std::getenv("INI_FILE_NAME");
  const IniFile ini(iniPath);
  if (iniPath != nullptr && ini.file == nullptr)
    std::fprintf(stderr, "pendant: cannot read %s; using the default settings\n", iniPath);

  PendantSettings settings;
  LinuxcncConfig config;
  LoadIniSettings([&ini](const char* section, const char* key) { return ini.Find(section, key); },
                  [](const char* key, const char* value) {
                    std::fprintf(stderr, "pendant: [PENDANT] %s = %s is not understood\n", key,
                                 value);
                  },
                  settings, config);
  if (options.device.empty()) {
    if (const char* device = ini.Find(kPendantSection, "DEVICE")) options.device = device;
  }

  const int id = hal_init(options.name.c_str());
  if (id < 0) {
    std::fprintf(stderr, "pendant: hal_init failed (%d)\n", id);
    return 1;
  }
  HalPins halPins;
  if (!halPins.Create(id, options.name.c_str())) {
    hal_exit(id);
    return 1;
  }

  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: the bus's wait returns on the signal.
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);

  HidrawBusPaths paths;
  paths.sysfsRoot = options.sysfsRoot;
  paths.devRoot = options.devRoot;
  paths.devicePath = options.device;
  paths.rescanPeriodMs = 500;
  auto bus = std::make_unique<HidrawBus>(paths);
  HidrawBus& driver = *bus;
  ComponentPlatform platform;
  LinuxcncPendant pendant(platform, settings, config, std::move(bus), &halPins);
  pendant.Start();
  hal_ready(id);
  std::fprintf(stderr, "pendant: ready, %s\n",
               pendant.link->Connected() ? "pendant connected" : "waiting for the pendant");

  while (stopRequested == 0) driver.RunOnce(100);

  pendant.Stop();
  hal_exit(id);
  std::fprintf(stderr, "pendant: stopped\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "pendant: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "pendant: stopped by an unknown error\n");
  }
  return 1;
}
