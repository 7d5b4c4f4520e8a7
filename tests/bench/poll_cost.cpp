// Drives libpendant_sim.so through the Sim ABI for tests/bench/poll_cost.sh, which runs it under
// callgrind collecting only inside SimTimerTick. Two phases, each warmed up and then measured
// between callgrind client requests (no-ops outside valgrind):
//   idle     the pendant connected, no report arriving: each poll finds the queue empty;
//   turning  step mode, one report per poll with the wheel counter one count on, jogging enabled
//            (LED 83 lit, read-out 22 at 0) so that each poll sends a step line.
// The host calls Update once per poll, as a running host does, so step bursts stay alive.
// Usage: poll_cost LIBRARY [POLLS]. It checks that each phase did what it claims (no line while
// idle, one step line per turning poll) so that a changed scenario cannot pass unnoticed.
#include <valgrind/callgrind.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "support/sim_library.h"

namespace {

constexpr unsigned short kVendorId = 0x04d8;
constexpr unsigned short kProductId = 0xfce4;
constexpr int kWarmUpPolls = 100;

int codeLines = 0;

void DoButton(short) {}
void SetDRO(int, double) {}
double GetDRO(int) {
  return 0.0;
}
unsigned char GetLED(int led) {
  return led == 83 ? 1 : 0;
}
void SetLED() {}
void Code(const char*) {
  ++codeLines;
}

struct Poller {
  SimLibrary& lib;
  unsigned char report[8] = {};

  // One host cycle: an Update, then the timer message that runs the poll.
  bool Poll() {
    lib.Update();
    return lib.SimTimerTick() == 1;
  }
  bool Turn() {
    ++report[1];
    report[2] = 10;  // a slow, steady turn
    lib.SimQueueInputReport(report);
    return Poll();
  }
};

// Where the plug-in writes its profile back; removed with everything in it.
struct ScratchDir {
  std::filesystem::path path;
  ScratchDir() {
    std::error_code ec;
    std::string name = (std::filesystem::temp_directory_path(ec) / "poll_cost.XXXXXX").string();
    if (mkdtemp(name.data()) != nullptr) path = name;
  }
  ~ScratchDir() {
    std::error_code ec;
    if (!path.empty()) std::filesystem::remove_all(path, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
};

bool Fail(const char* what) {
  std::fprintf(stderr, "poll_cost: %s\n", what);
  return false;
}

bool Run(SimLibrary& lib, int polls) {
  // A profile that does not exist yet: the default settings.
  const ScratchDir dir;
  if (dir.path.empty()) return Fail("cannot make a scratch folder");
  const std::filesystem::path profile = dir.path / "profile.xml";

  std::vector<unsigned char> hostState(PENDANT_SIM_HOST_STATE_SIZE);
  std::vector<unsigned char> hostConfig(PENDANT_SIM_HOST_CONFIG_SIZE);
  std::vector<unsigned char> hostMotion(PENDANT_SIM_HOST_MOTION_SIZE);
  const double increment = 0.001;
  std::memcpy(&hostMotion[PENDANT_SIM_JOG_INCREMENT], &increment, sizeof increment);
  int parentWindow = 0;

  lib.SimReset();
  lib.SimAddDevice(kVendorId, kProductId);
  lib.SetProName(profile.c_str());
  lib.SetDoButton(DoButton);
  lib.SetSetDRO(SetDRO);
  lib.SetGetDRO(GetDRO);
  lib.SetGetLED(GetLED);
  lib.SetSetLED(SetLED);
  lib.SetCode(Code);
  if (lib.InitControl(hostState.data(), hostConfig.data(), hostMotion.data(), &parentWindow) == 0)
    return Fail("InitControl failed");
  lib.PostInitControl();

  Poller poller{lib};
  // The first report only sets the counter.
  lib.SimQueueInputReport(poller.report);
  for (int i = 0; i < kWarmUpPolls; ++i)
    if (!poller.Poll()) return Fail("the poll timer is not running");
  if (lib.SimOpenHandleCount() == 0) return Fail("the pendant was not opened");

  codeLines = 0;
  CALLGRIND_ZERO_STATS;
  for (int i = 0; i < polls; ++i) poller.Poll();
  CALLGRIND_DUMP_STATS_AT("idle");
  if (codeLines != 0) return Fail("an idle poll sent a line");

  for (int i = 0; i < kWarmUpPolls; ++i) poller.Turn();
  codeLines = 0;
  CALLGRIND_ZERO_STATS;
  for (int i = 0; i < polls; ++i) poller.Turn();
  CALLGRIND_DUMP_STATS_AT("turning");
  // Each step is a relative move and the line that restores absolute mode.
  if (codeLines != 2 * polls) return Fail("a turning poll did not send one step line");

  lib.StopPlug();
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: poll_cost LIBRARY [POLLS]\n");
    return 2;
  }
  const int polls = argc == 3 ? std::atoi(argv[2]) : 1000;
  if (polls <= 0) {
    Fail("POLLS must be positive");
    return 2;
  }
  SimLibrary lib(argv[1]);
  if (lib.handle == nullptr || !lib.missing.empty()) {
    std::fprintf(stderr, "poll_cost: cannot load %s:%s\n", argv[1], lib.missing.c_str());
    return 1;
  }
  return Run(lib, polls) ? 0 : 1;
}
