// The LinuxCNC component's reaction time without LinuxCNC: the component's own loop (the hidraw
// bus's RunOnce and the component's poll) runs in this process against the virtual pendant served
// through FUSE. Each sample pushes one wheel step into the virtual pendant and times, from the
// moment the push is accepted, until the component's x jog-counts pin (its PendantPins, which the
// program copies to HAL right after each poll) has changed. HAL's copy and LinuxCNC's servo
// thread are not in it. The pushes are spread over the 25 ms poll period, so the figures are
// mostly where in the period a report lands. Allocations are counted inside the polls only; the
// bus's sysfs rescans between polls are not polls.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "host_linuxcnc/linuxcnc_pendant.h"
#include "input/input_report.h"
#include "platform/linux/hidraw_bus.h"
#include "support/counting_new.h"
#include "support/fake_platform.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// Counts allocations inside the component's polls and passes everything on.
struct CountingListener final : BusListener {
  BusListener* inner = nullptr;
  long polls = 0;
  long allocations = 0;
  double lastPollUs = 0;
  void OnTick() override {
    const long before = allocationCount;
    const Clock::time_point start = Clock::now();
    countingAllocations = true;
    inner->OnTick();
    countingAllocations = false;
    lastPollUs = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
    allocations += allocationCount - before;
    ++polls;
  }
  void OnInterfaceArrived(std::string_view path) override { inner->OnInterfaceArrived(path); }
  void OnInterfaceGone(std::string_view path) override { inner->OnInterfaceGone(path); }
};

bool Push(const std::string& control, std::uint8_t wheel) {
  const std::uint32_t word0 = static_cast<std::uint32_t>(wheel) << input_report::kWheelCounterShift;
  char line[32];
  const int n = std::snprintf(line, sizeof line, "push %02x%02x%02x%02x00000000", word0 & 0xFF,
                              (word0 >> 8) & 0xFF, (word0 >> 16) & 0xFF, word0 >> 24);
  const int fd = open(control.c_str(), O_WRONLY);
  if (fd < 0) return false;
  const bool ok = write(fd, line, static_cast<std::size_t>(n)) == n;
  close(fd);
  return ok;
}

int Run(const char* fuse) {
  char folder[] = "/tmp/vpendant-bench-XXXXXX";
  if (mkdtemp(folder) == nullptr) return 1;
  const std::string mount = folder;
  const std::string control = mount + "/control";
  pid_t pid = -1;
  const char* argv[] = {fuse, folder, nullptr};
  if (posix_spawn(&pid, fuse, nullptr, nullptr, const_cast<char**>(argv), environ) != 0) pid = -1;
  bool mounted = false;
  struct stat st {};
  for (int i = 0; i < 300 && pid > 0 && !mounted; ++i) {
    mounted = stat(control.c_str(), &st) == 0;
    if (!mounted) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  int rc = 77;
  if (!mounted) {
    std::printf("skip: the virtual pendant cannot mount (FUSE)\n");
  } else {
    rc = 1;
    HidrawBusPaths paths{mount + "/sys", mount + "/dev", "", 500};
    auto owned = std::make_unique<HidrawBus>(paths);
    HidrawBus& bus = *owned;
    FakePlatform platform;
    PendantSettings settings;
    LinuxcncConfig config;
    config.maxJogSpeed[0] = config.maxJogSpeed[1] = config.maxJogSpeed[2] = 3000.0;
    LinuxcncPendant pendant(platform, settings, config, std::move(owned), nullptr);
    CountingListener counting;
    counting.inner = &pendant;
    pendant.Start();
    bus.SetListener(&counting);
    std::uint8_t wheel = 0;
    Push(control, wheel);
    for (int i = 0; i < 20; ++i) bus.RunOnce(100);  // connected, first report taken, warm

    std::mt19937 random(7);
    std::vector<double> ms;
    std::vector<double> pollUs;  // the poll that read the report and changed the pin
    int missed = 0;
    const long pollsBefore = counting.polls;
    const long allocationsBefore = counting.allocations;
    for (int sample = 0; sample < 200 && pendant.link->Connected(); ++sample) {
      // A pause of 0..25 ms puts the next push anywhere in the poll period.
      std::this_thread::sleep_for(std::chrono::microseconds(random() % 25000));
      const std::int32_t counts = pendant.pins.axis[0].jogCounts;
      if (!Push(control, ++wheel)) break;
      const Clock::time_point pushed = Clock::now();
      while (pendant.pins.axis[0].jogCounts == counts &&
             Clock::now() - pushed < std::chrono::milliseconds(500))
        bus.RunOnce(100);
      if (pendant.pins.axis[0].jogCounts == counts) {
        ++missed;
        continue;
      }
      ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - pushed).count());
      pollUs.push_back(counting.lastPollUs);
    }
    pendant.Stop();
    if (!ms.empty()) {
      std::sort(ms.begin(), ms.end());
      std::sort(pollUs.begin(), pollUs.end());
      const long polls = counting.polls - pollsBefore;
      std::printf(
          "component (no LinuxCNC): virtual pendant report -> x jog-counts pin, %zu reports, "
          "poll period %u ms\n  median %.2f ms, max %.2f ms, min %.2f ms; %d without a change\n"
          "  of which the poll that read it and set the pin: median %.0f us, max %.0f us\n"
          "  allocations per poll: %.3f (%ld in %ld polls)\n",
          ms.size(), kPollPeriodMs, ms[ms.size() / 2], ms.back(), ms.front(), missed,
          pollUs[pollUs.size() / 2], pollUs.back(),
          polls > 0 ? static_cast<double>(counting.allocations - allocationsBefore) / polls : 0.0,
          counting.allocations - allocationsBefore, polls);
      rc = missed == 0 ? 0 : 1;
    } else {
      std::printf("component: no report moved the pin\n");
    }
  }
  if (pid > 0) {
    kill(pid, SIGTERM);  // it unmounts on its way out
    waitpid(pid, nullptr, 0);
  }
  if (stat(control.c_str(), &st) == 0) umount2(folder, MNT_DETACH);
  rmdir(folder);
  return rc;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: component_latency_bench VPENDANT_FUSE\n");
    return 2;
  }
  return Run(argv[1]);
}
