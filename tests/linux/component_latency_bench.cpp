// The LinuxCNC component's reaction time and CPU use without LinuxCNC: the component's own loop
// (the hidraw bus's RunOnce and the component's handlers) runs in this process against the
// virtual pendant served through FUSE.
//   latency  each sample pushes one report into the virtual pendant, in turn a wheel step, the
//            safety input pressed and released, and times (but for the release), from the moment
//            the push is accepted, until the component's x jog-counts or estop pin (its
//            PendantPins, which the program copies to HAL right after each handler) has changed.
//            The pushes are spread over the 25 ms tick, so a figure that follows the tick shows in
//            the maximum.
//   CPU      the process's CPU time over wall time, idle (pendant connected, nothing reported)
//            and with the pendant streaming its state every millisecond.
// HAL's copy of the pins and LinuxCNC's servo thread are not in it. Allocations are counted
// inside the component's handlers; the bus's sysfs rescans between them are not counted.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "core/platform.h"
#include "host_linuxcnc/linuxcnc_pendant.h"
#include "input/input_report.h"
#include "platform/linux/hidraw_bus.h"
#include "support/counting_new.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// What the component is held to.
constexpr double kMedianLimitMs = 1.0;
constexpr double kMaxLimitMs = 5.0;
constexpr double kIdleCpuLimit = 1.0;       // percent of a core
constexpr double kStreamingCpuLimit = 3.0;  // percent of a core, one report per millisecond

// Counts the component's handlers and the allocations inside them, and passes everything on.
// Counts the component's handlers, the allocations and the time inside them, and passes
// everything on.
struct CountingListener final : BusListener {
  BusListener* inner = nullptr;
  long ticks = 0;
  long wakes = 0;
  long allocations = 0;
  double wakeHandlerUs = 0;  // inside the handlers of the wakes for reports
  template <typename Handler>
  void Counted(long& calls, Handler handler) {
    const long before = allocationCount;
    countingAllocations = true;
    handler();
    countingAllocations = false;
    allocations += allocationCount - before;
    ++calls;
  }
  void OnTick() override {
    Counted(ticks, [this] { inner->OnTick(); });
  }
  void OnReportsWaiting() override {
    const Clock::time_point start = Clock::now();
    Counted(wakes, [this] { inner->OnReportsWaiting(); });
    wakeHandlerUs += std::chrono::duration<double, std::micro>(Clock::now() - start).count();
  }
  void OnInterfaceArrived(std::string_view path) override { inner->OnInterfaceArrived(path); }
  void OnInterfaceGone(std::string_view path) override { inner->OnInterfaceGone(path); }
};

// The trail counted and its last line kept, without allocating inside the handlers.
struct CountingPlatform final : Platform {
  void Trace(const char* line) override {
    ++lines;
    std::snprintf(last, sizeof last, "%s", line);
  }
  long lines = 0;
  char last[256] = {};
};

// Where the component's reports come from: a node it finds and opens as it would a hidraw node.
class Source {
 public:
  virtual ~Source() = default;
  virtual const char* Name() const = 0;
  virtual HidrawBusPaths Paths() const = 0;
  virtual std::string Node() const = 0;
  // One report as hidraw hands it over: the 7 bytes after the report id.
  virtual bool Push(const std::uint8_t (&report)[7]) = 0;
  // From now on, the last report again every millisecond; or not.
  virtual void Stream(bool on) = 0;
};

// The virtual pendant through FUSE: the node, its sysfs entry and its hot-plug as hidraw has them,
// but every read, write and poll of the node is a round trip to the FUSE daemon, which costs this
// process far more kernel time than a hidraw node does.
class FuseSource final : public Source {
 public:
  explicit FuseSource(std::string mount) : mount_(std::move(mount)) {}
  const char* Name() const override { return "the virtual pendant through FUSE"; }
  HidrawBusPaths Paths() const override { return {mount_ + "/sys", mount_ + "/dev", "", 500}; }
  std::string Node() const override { return mount_ + "/dev/hidraw0"; }
  bool Push(const std::uint8_t (&report)[7]) override {
    char line[32] = "push 00";
    for (std::size_t i = 0; i < 7; ++i) std::snprintf(line + 7 + 2 * i, 3, "%02x", report[i]);
    return Command(line);
  }
  void Stream(bool on) override { Command(on ? "period 1" : "period 0"); }

 private:
  bool Command(std::string_view line) const {
    const int fd = open((mount_ + "/control").c_str(), O_WRONLY);
    if (fd < 0) return false;
    const bool ok = write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    close(fd);
    return ok;
  }
  std::string mount_;
};

// A pseudo-terminal in raw mode as the node (named by the component's --device): in the kernel
// like hidraw, with no daemon in between, so its CPU figures are what a hidraw node costs within
// a tty layer's margin. It has no sysfs entry and no hot-plug, and two reports queued before a
// read come out as one read of 14 bytes, which the component drops; neither matters here. A
// thread of its own streams and takes the component's output reports off the other end.
class PtySource final : public Source {
 public:
  PtySource() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
    const char* name = ptsname(master_);
    if (name == nullptr) return;
    path_ = name;
    // Held open, so that the terminal stays while the component reopens it.
    slave_ = open(path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios mode{};
    if (slave_ < 0 || tcgetattr(slave_, &mode) != 0) return;
    cfmakeraw(&mode);
    if (tcsetattr(slave_, TCSANOW, &mode) != 0) return;
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    ready_ = true;
    thread_ = std::thread([this] { Serve(); });
  }
  ~PtySource() override {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (slave_ >= 0) close(slave_);
    if (master_ >= 0) close(master_);
  }
  bool Ready() const { return ready_; }
  const char* Name() const override { return "a pseudo-terminal standing in for the hidraw node"; }
  HidrawBusPaths Paths() const override { return {"/nonexistent", "/nonexistent", path_, 500}; }
  std::string Node() const override { return path_; }
  bool Push(const std::uint8_t (&report)[7]) override {
    const std::lock_guard<std::mutex> lock(mutex_);
    std::memcpy(last_, report, sizeof last_);
    return write(master_, report, sizeof report) == static_cast<ssize_t>(sizeof report);
  }
  void Stream(bool on) override { streaming_ = on; }

 private:
  void Serve() {
    timespec next{};
    clock_gettime(CLOCK_MONOTONIC, &next);
    while (!stop_) {
      next.tv_nsec += 1000000;
      if (next.tv_nsec >= 1000000000) {
        next.tv_nsec -= 1000000000;
        ++next.tv_sec;
      }
      clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
      std::uint8_t output[256];
      while (read(master_, output, sizeof output) > 0) {
      }
      if (streaming_) {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (write(master_, last_, sizeof last_) < 0) continue;
      }
    }
  }
  int master_ = -1;
  int slave_ = -1;
  std::string path_;
  bool ready_ = false;
  std::atomic<bool> stop_{false};
  std::atomic<bool> streaming_{false};
  std::mutex mutex_;
  std::uint8_t last_[7] = {};
  std::thread thread_;
};

void Report(std::uint8_t wheel, bool safety, std::uint8_t (&report)[7]) {
  std::uint32_t word0 = static_cast<std::uint32_t>(wheel) << input_report::kWheelCounterShift;
  if (safety) word0 |= input_report::kSafetyMask;
  const std::uint8_t full[8] = {
      static_cast<std::uint8_t>(word0 & 0xFF), static_cast<std::uint8_t>((word0 >> 8) & 0xFF),
      static_cast<std::uint8_t>((word0 >> 16) & 0xFF), static_cast<std::uint8_t>(word0 >> 24)};
  // Byte 0 is the report id, which hidraw leaves out.
  std::memcpy(report, full + 1, sizeof report);
}

bool Push(Source& source, std::uint8_t wheel, bool safety) {
  std::uint8_t report[7];
  Report(wheel, safety, report);
  return source.Push(report);
}

// The component's thread only (a source's own thread is not the component), exact to the
// scheduler's clock.
double ThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The component's loop for `seconds`; its CPU time over it in percent of a core.
double CpuPercent(HidrawBus& bus, double seconds) {
  const double before = ThreadCpuSeconds();
  const Clock::time_point start = Clock::now();
  const auto length = std::chrono::duration<double>(seconds);
  while (Clock::now() - start < length) bus.RunOnce(100);
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  return 100.0 * (ThreadCpuSeconds() - before) / wall;
}

// The least any program pays that wakes for each report: a loop that waits on the node (and
// every 25 ms, as the component's tick) and reads what is there, doing nothing with it. What a
// wake and a read cost depends on the machine (a virtual machine's task switches are dear).
struct Floor {
  double idle = 0;            // percent of a core
  double streaming = 0;       // percent of a core
  double wakesPerSecond = 0;  // while streaming
};

Floor MeasureFloor(Source& source, double seconds) {
  Floor floor;
  const int fd = open(source.Node().c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return floor;
  long wakes = 0;
  const auto run = [&] {
    const double before = ThreadCpuSeconds();
    const Clock::time_point start = Clock::now();
    while (Clock::now() - start < std::chrono::duration<double>(seconds)) {
      pollfd watched{fd, POLLIN, 0};
      const timespec tick{0, 25000000};
      if (ppoll(&watched, 1, &tick, nullptr) <= 0) continue;
      ++wakes;
      std::uint8_t report[64];
      if (read(fd, report, sizeof report) < 0) continue;
    }
    return 100.0 * (ThreadCpuSeconds() - before) /
           std::chrono::duration<double>(Clock::now() - start).count();
  };
  floor.idle = run();
  source.Stream(true);
  wakes = 0;
  floor.streaming = run();
  floor.wakesPerSecond = static_cast<double>(wakes) / seconds;
  source.Stream(false);
  close(fd);
  return floor;
}

struct Figures {
  std::vector<double> ms;
  int missed = 0;
  double Median() const { return ms.empty() ? 0.0 : ms[ms.size() / 2]; }
  double Max() const { return ms.empty() ? 0.0 : ms.back(); }
  bool Met() const {
    return missed == 0 && !ms.empty() && Median() <= kMedianLimitMs && Max() <= kMaxLimitMs;
  }
};

const char* Verdict(bool met) {
  return met ? "met" : "NOT MET";
}

// Latency and CPU of a component reading `source`; 0 when every pin moved as it should and the
// handlers allocated nothing.
int Measure(Source& source) {
  auto owned = std::make_unique<HidrawBus>(source.Paths());
  HidrawBus& bus = *owned;
  CountingPlatform platform;
  PendantSettings settings;
  LinuxcncConfig config;
  config.maxJogSpeed[0] = config.maxJogSpeed[1] = config.maxJogSpeed[2] = 3000.0;
  LinuxcncPendant pendant(platform, settings, config, std::move(owned), nullptr);
  CountingListener counting;
  counting.inner = &pendant;
  pendant.Start();
  bus.SetListener(&counting);

  std::uint8_t wheel = 0;
  bool safety = false;
  Push(source, wheel, safety);
  for (int i = 0; i < 20; ++i) bus.RunOnce(100);  // connected, first report taken, warm
  if (!pendant.link->Connected()) {
    std::printf("%s: the pendant did not connect\n", source.Name());
    pendant.Stop();
    return 1;
  }

  std::mt19937 random(7);
  Figures wheelFigures;
  Figures safetyFigures;
  const long allocationsBefore = counting.allocations;
  const long ticksBefore = counting.ticks;
  const long wakesBefore = counting.wakes;
  for (int sample = 0; sample < 450 && pendant.link->Connected(); ++sample) {
    // A pause of 0..25 ms puts the next push anywhere in the tick period.
    const auto pause = std::chrono::microseconds(random() % 25000);
    const Clock::time_point pauseEnd = Clock::now() + pause;
    while (Clock::now() < pauseEnd) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(pauseEnd - Clock::now());
      bus.RunOnce(static_cast<std::uint32_t>(std::max<long long>(left.count(), 0)));
    }
    // A wheel step, the safety input pressed, released. The release is not timed: the stop the
    // press asked for is held until LinuxCNC shows it, or for halui's poll.
    const int kind = sample % 3;
    const bool wheelSample = kind == 0;
    Figures& figures = wheelSample ? wheelFigures : safetyFigures;
    const std::int32_t counts = pendant.pins.axis[0].jogCounts;
    if (wheelSample) {
      ++wheel;
    } else {
      safety = kind == 1;
    }
    if (!Push(source, wheel, safety)) break;
    const Clock::time_point pushed = Clock::now();
    const auto changed = [&] {
      return wheelSample ? pendant.pins.axis[0].jogCounts != counts : pendant.pins.estop == safety;
    };
    while (!changed() && Clock::now() - pushed < std::chrono::milliseconds(500)) bus.RunOnce(100);
    if (kind == 2) continue;
    if (!changed()) {
      ++figures.missed;
      continue;
    }
    figures.ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - pushed).count());
  }
  if (safety) Push(source, wheel, false);
  for (Figures* figures : {&wheelFigures, &safetyFigures})
    std::sort(figures->ms.begin(), figures->ms.end());
  const long ticks = counting.ticks - ticksBefore;
  const long wakes = counting.wakes - wakesBefore;

  constexpr double kCpuSeconds = 5.0;
  const double idle = CpuPercent(bus, kCpuSeconds);
  source.Stream(true);
  const long streamWakesBefore = counting.wakes;
  const double streamHandlerUsBefore = counting.wakeHandlerUs;
  const std::int32_t countsBefore = pendant.pins.axis[0].jogCounts;
  const double streaming = CpuPercent(bus, kCpuSeconds);
  const double wakesPerSecond =
      static_cast<double>(counting.wakes - streamWakesBefore) / kCpuSeconds;
  const double handlerUs = counting.wakes > streamWakesBefore
                               ? (counting.wakeHandlerUs - streamHandlerUsBefore) /
                                     static_cast<double>(counting.wakes - streamWakesBefore)
                               : 0.0;
  source.Stream(false);
  // A source that streams slower than it should (a busy machine), or whose reports run together,
  // wakes the component less often: its figure is scaled to one wake a millisecond.
  const double wakeUs = wakesPerSecond > 0 ? (streaming - idle) * 1e4 / wakesPerSecond : 0.0;
  const double streamingAt1ms = idle + wakeUs / 10.0;
  const bool still = pendant.pins.axis[0].jogCounts == countsBefore;
  const long allocations = counting.allocations - allocationsBefore;
  pendant.Stop();
  const Floor floor = MeasureFloor(source, kCpuSeconds);
  const double floorWakeUs =
      floor.wakesPerSecond > 0 ? (floor.streaming - floor.idle) * 1e4 / floor.wakesPerSecond : 0.0;

  std::printf("%s: report -> pin, the component acting on each report\n", source.Name());
  const auto line = [](const char* what, const char* pin, const Figures& f) {
    std::printf(
        "  %s -> %s: %zu reports, median %.3f ms, max %.3f ms (targets %.0f ms, %.0f ms: "
        "%s)%s\n",
        what, pin, f.ms.size(), f.Median(), f.Max(), kMedianLimitMs, kMaxLimitMs, Verdict(f.Met()),
        f.missed != 0 ? "; some never changed the pin" : "");
  };
  line("wheel count", "axis.x.jog-counts", wheelFigures);
  line("safety input pressed", "estop", safetyFigures);
  std::printf("  handlers meanwhile: %ld ticks, %ld wakes for reports; allocations in all: %ld\n",
              ticks, wakes, allocations);
  if (platform.lines > 0)
    std::printf("  trail: %ld lines, the last \"%s\"\n", platform.lines, platform.last);
  std::printf("  CPU idle: %.2f %% of a core (target < %.0f %%: %s)\n", idle, kIdleCpuLimit,
              Verdict(idle < kIdleCpuLimit));
  // A wake's price is mostly the machine's: the task switch into the wait and out of it, which
  // the floor pays as well. What the component adds is its handler and its loop's bookkeeping.
  const double ownAt1ms = idle + handlerUs / 10.0;
  std::printf(
      "  CPU streaming: %.2f %% of a core at %.0f wakes a second, %.1f us a wake (at one a "
      "millisecond %.2f %%)%s\n",
      streaming, wakesPerSecond, wakeUs, streamingAt1ms,
      still ? "" : "; the axis moved on a still wheel");
  std::printf(
      "    the machine's floor, a loop that only waits on the node and reads a report a wake: "
      "%.1f us a wake (at one a millisecond %.2f %%)\n",
      floorWakeUs, floor.idle + floorWakeUs / 10.0);
  std::printf(
      "    inside the component's handler (its read, the input chain, the pins): %.1f us a wake; "
      "idle and handlers at one a millisecond %.2f %% (target < %.0f %%: %s)\n",
      handlerUs, ownAt1ms, kStreamingCpuLimit, Verdict(ownAt1ms < kStreamingCpuLimit));
  const bool pinsOk = wheelFigures.missed == 0 && safetyFigures.missed == 0 &&
                      !wheelFigures.ms.empty() && !safetyFigures.ms.empty();
  return pinsOk && still && allocations == 0 ? 0 : 1;
}

int RunPty() {
  PtySource source;
  if (!source.Ready()) {
    std::printf("skip: no pseudo-terminal\n");
    return 77;
  }
  return Measure(source);
}

int RunFuse(const char* fuse) {
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
    FuseSource source(mount);
    rc = Measure(source);
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
  const int fuse = RunFuse(argv[1]);
  std::printf("\n");
  const int pty = RunPty();
  if (fuse == 1 || pty == 1) return 1;
  return fuse == 77 && pty == 77 ? 77 : 0;
}
