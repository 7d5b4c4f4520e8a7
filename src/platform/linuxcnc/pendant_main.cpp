// pendant: the jog pendant as a LinuxCNC userspace HAL component (kUsage and kHelp below).
//
// Settings come from [PENDANT] of the INI file LinuxCNC names in INI_FILE_NAME. The pendant is
// found by its USB ids among the hidraw nodes (ROOT/class/hidraw under --sysfs, nodes under
// --dev-root), or is the node --device or [PENDANT] DEVICE names (a fixed udev symlink). LinuxCNC
// stops the component with SIGTERM: it then lets go of everything and leaves through hal_exit.
#include <hal.h>
#include <inifile.h>
#include <signal.h>
#include <sys/shm.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>

#include "core/platform.h"
#include "host_linuxcnc/ini_settings.h"
#include "host_linuxcnc/linuxcnc_pendant.h"
#include "platform/linux/hidraw_bus.h"
#include "platform/linux/pendant_monitor.h"
#include "platform/linuxcnc/hal_pins.h"

namespace {

std::atomic<bool> stopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

void OnStopSignal(int) {
  stopRequested.store(true);
}

// The link's trail goes to stderr, which LinuxCNC keeps in its log.
class ComponentPlatform final : public Platform {
 public:
  void Trace(const char* line) override { std::fprintf(stderr, "pendant: %s\n", line); }
};

constexpr const char* kUsage =
    "usage: pendant [--device PATH] [--sysfs ROOT] [--dev-root ROOT] [--name NAME]\n"
    "       pendant --monitor [--device PATH] [--sysfs ROOT] [--dev-root ROOT]\n"
    "       pendant --help\n";

constexpr const char* kHelp =
    "\n"
    "The USB jog pendant (04d8:fce4) as a LinuxCNC userspace HAL component. LinuxCNC starts it\n"
    "from its HAL file (pendant.hal: loadusr -Wn pendant [PENDANT]COMPONENT) and stops it; its\n"
    "settings are the INI's [PENDANT] section. Run by hand it needs a running LinuxCNC or halrun.\n"
    "\n"
    "  --device PATH    the pendant's hidraw node, e.g. /dev/pendant (the udev rule names it);\n"
    "                   else [PENDANT] DEVICE; else the first hidraw node with the pendant's USB\n"
    "                   ids, found again when it is plugged in later or into another port\n"
    "  --sysfs ROOT     where sysfs is, for that search (default /sys)\n"
    "  --dev-root ROOT  where the hidraw nodes are (default /dev)\n"
    "  --name NAME      the HAL component's name, the prefix of all its pins (default pendant).\n"
    "                   It must be the NAME of `loadusr -Wn NAME` and the prefix of every pin\n"
    "                   pendant.hal uses (NAME.axis.x.jog-counts, NAME.estop, ...)\n"
    "  --monitor        no LinuxCNC needed: open the pendant as the component would and print\n"
    "                   what it reports (keys and buttons held, the wheel counter and its steps,\n"
    "                   the safety input), or why it cannot be opened; Ctrl-C ends it\n"
    "  --help           this text\n";

struct Options {
  std::string device;
  std::string sysfsRoot = "/sys";
  std::string devRoot = "/dev";
  std::string name = "pendant";
  bool monitor = false;
  bool help = false;
};

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      options.help = true;
      continue;
    }
    if (arg == "--monitor") {
      options.monitor = true;
      continue;
    }
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

// HAL's shared memory key (LinuxCNC's hal_priv.h, which is not installed).
constexpr key_t kHalMemoryKey = 0x48414C32;

// Started by LinuxCNC (INI_FILE_NAME) or halrun (HAL_RTMOD_DIR), or beside a running HAL (halcmd
// in another shell). Otherwise hal_init would make a HAL of its own and the component would wait
// in it for a LinuxCNC that never comes.
bool LinuxcncAround() {
  if (std::getenv("INI_FILE_NAME") != nullptr || std::getenv("HAL_RTMOD_DIR") != nullptr)
    return true;
  return shmget(kHalMemoryKey, 0, 0) >= 0 || errno != ENOENT;
}

HidrawBusPaths BusPaths(const Options& options) {
  HidrawBusPaths paths;
  paths.sysfsRoot = options.sysfsRoot;
  paths.devRoot = options.devRoot;
  paths.devicePath = options.device;
  paths.rescanPeriodMs = 500;
  return paths;
}

void CatchStopSignals() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: the bus's wait returns on the signal.
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
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
    std::fprintf(stderr, "%s", kUsage);
    return 2;
  }
  if (options.help) {
    std::printf("%s%s", kUsage, kHelp);
    return 0;
  }
  if (options.monitor) {
    CatchStopSignals();
    return RunPendantMonitor(BusPaths(options), stdout, stderr, stopRequested);
  }
  if (!LinuxcncAround()) {
    std::fprintf(
        stderr,
        "pendant: no LinuxCNC is running. LinuxCNC starts this component from its HAL\n"
        "  file (loadusr -Wn %s [PENDANT]COMPONENT). To check the pendant on its own, run\n"
        "    pendant --monitor\n",
        options.name.c_str());
    return 1;
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

  CatchStopSignals();
  auto bus = std::make_unique<HidrawBus>(BusPaths(options));
  HidrawBus& driver = *bus;
  ComponentPlatform platform;
  LinuxcncPendant pendant(platform, settings, config, std::move(bus), &halPins);
  pendant.Start();
  hal_ready(id);
  std::fprintf(stderr, "pendant: ready, %s\n",
               pendant.link->Connected() ? "pendant connected" : "waiting for the pendant");

  while (!stopRequested.load()) driver.RunOnce(100);

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
