// The poll path allocates nothing on the heap once warm: global operator new is counted while a
// stretch of polls runs with the wheel turning and keys going down and up.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>

#include "host_linuxcnc/linuxcnc_pendant.h"
#include "host_windows/host_blocks.h"
#include "host_windows/module.h"
#include "input/input_report.h"
#include "link/pendant_link.h"
#include "platform/sim/virtual_bus.h"
#include "support/counting_new.h"
#include "support/fake_platform.h"
#include "support/idle_host.h"
#include "support/recording_host.h"

namespace {

int codeLines = 0;  // proves the jog path ran, without doing any work per line
void NoCode(const char*) {
  ++codeLines;
}

class QuietPlatform final : public WindowsPlatform {
 public:
  std::unique_ptr<DeviceBus> CreateDeviceBus(void*) override { return CreateVirtualBus(); }
  void ShowStatus(const HostBridge&, const char*) override {}
  std::string ModuleBaseName() override { return "Pendant"; }
  ProfileFiles& Files() override { return files; }
  void RunConfigDialog(ConfigDialog&) override {}
  MemoryProfileFiles files;
};

// Report of poll `i`: the wheel advances one count per poll, and now and then a function key,
// an axis key, the screen key or an EN chord is held for a few polls. The pattern repeats every
// 64 polls.
void MakeReport(int i, std::uint8_t report[8]) {
  std::uint32_t word0 = static_cast<std::uint32_t>(i & 0xFF) << input_report::kWheelCounterShift;
  std::uint32_t word1 = 0;
  switch ((i / 4) % 16) {
    case 2:
      word1 |= input_report::kF1Mask;
      break;
    case 4:
      word1 |= input_report::kF3Mask;
      break;
    case 6:
      word0 |= input_report::kYBMask;
      break;
    case 8:
      word0 |= input_report::kKey3Mask;
      break;
    case 10:
      word0 |= input_report::kEnableMask | input_report::kKey1Mask;
      break;
    case 12:
      word0 |= input_report::kXAMask;
      break;
    case 14:
      word1 |= input_report::kF5Mask;
      break;
    default:
      break;
  }
  for (int b = 0; b < 4; ++b) {
    report[b] = static_cast<std::uint8_t>(word0 >> (8 * b));
    report[4 + b] = static_cast<std::uint8_t>(word1 >> (8 * b));
  }
}

TEST(PollAllocation, SteadyStatePollsAllocateNothing) {
  VirtualBusReset();
  VirtualBusAddDevice(kPendantVendorId, kPendantProductId);
  QuietPlatform platform;
  RecordingHost blocks;  // only for its zeroed data blocks
  Module module{platform};
  blocks.Install(module.host);
  module.host.callbacks = idle_host::Callbacks(NoCode);
  module.settings.StepJogRate = 100;
  hostblock::Write(module.host.HostMotion, hostblock::kJogIncrement, 0.001);
  module.pendantLink = MakePendantLink(module, CreateVirtualBus());
  ASSERT_TRUE(module.pendantLink->FindPendant());

  std::uint8_t report[8];
  std::uint8_t earlier[8];
  int poll = 0;
  auto run = [&](int polls) {
    for (int n = 0; n < polls; ++n, ++poll) {
      // Now and then two reports reach one poll, the older with other keys down.
      if (poll % 8 == 0) {
        MakeReport(poll + 17, earlier);
        VirtualBusQueueInputReport(earlier);
      }
      MakeReport(poll, report);
      VirtualBusQueueInputReport(report);
      VirtualBusTimerTick();
      if (poll % 3 == 0) module.ticks.Update();
    }
  };
  run(128);  // two rounds of the pattern
  allocationCount = 0;
  codeLines = 0;
  countingAllocations = true;
  run(1024);
  countingAllocations = false;

  EXPECT_EQ(allocationCount, 0);
  // The counter does count: a string too long for its own buffer allocates.
  countingAllocations = true;
  const std::string text(static_cast<std::size_t>(codeLines), 'x');
  countingAllocations = false;
  EXPECT_EQ(allocationCount, 1) << text.size();
  EXPECT_GT(codeLines, 500);
  EXPECT_EQ(module.wheelMode, WheelMode::StepJog);
  EXPECT_GT(VirtualBusOutputReportCount(), 1000);
  module.pendantLink.reset();
  VirtualBusReset();
}

// The LinuxCNC component's poll: the same pattern, with its pins read and written around it.
TEST(PollAllocation, LinuxcncComponentPollsAllocateNothing) {
  struct CountingExchange final : PinExchange {
    int writes = 0;
    void Read(PendantPins&) override {}
    void Write(const PendantPins&) override { ++writes; }
  } exchange;
  VirtualBusReset();
  VirtualBusAddDevice(kPendantVendorId, kPendantProductId);
  QuietPlatform platform;
  PendantSettings settings;
  settings.S[0] = "0.001";
  LinuxcncConfig config;
  config.maxJogSpeed[0] = config.maxJogSpeed[1] = config.maxJogSpeed[2] = 3000.0;
  LinuxcncPendant pendant(platform, settings, config, CreateVirtualBus(), &exchange);
  pendant.Start();
  ASSERT_TRUE(pendant.link->Connected());

  std::uint8_t report[8];
  auto run = [&](int polls, int first) {
    for (int poll = first; poll < first + polls; ++poll) {
      MakeReport(poll, report);
      VirtualBusQueueInputReport(report);
      VirtualBusTimerTick();
    }
  };
  run(128, 0);
  const std::int32_t counts = pendant.pins.axis[0].jogCounts + pendant.pins.axis[1].jogCounts;
  allocationCount = 0;
  countingAllocations = true;
  run(1024, 128);
  countingAllocations = false;

  EXPECT_EQ(allocationCount, 0);
  EXPECT_NE(pendant.pins.axis[0].jogCounts + pendant.pins.axis[1].jogCounts, counts);
  EXPECT_GT(exchange.writes, 1000);
  pendant.Stop();
  VirtualBusReset();
}

}  // namespace
