// The pendant link over the virtual bus: discovery, plug and unplug, the poll's read and write.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#include "host_windows/host_blocks.h"
#include "host_windows/module.h"
#include "input/input_report.h"
#include "link/pendant_link.h"
#include "platform/sim/virtual_bus.h"
#include "support/fake_platform.h"
#include "support/recording_host.h"

namespace {

using Report = std::array<std::uint8_t, 8>;

constexpr std::uint8_t kSafetyBit = 0x01;  // byte 3

Report MakeReport(std::uint8_t wheel, std::uint8_t byte3 = 0) {
  return Report{0, wheel, 0, byte3, 0, 0, 0, 0};
}

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

class LinkTest : public ::testing::Test {
 protected:
  FakePlatform platform;
  RecordingHost host;
  Module module{platform};
  PendantLink* win = nullptr;

  void SetUp() override {
    VirtualBusReset();
    host.Install(module.host);
    host.leds[800] = true;  // the host confirms a safety stop, so 1021 is pressed only on edges
  }
  void TearDown() override {
    module.pendantLink.reset();
    VirtualBusReset();
  }

  void CreateWindow() {
    module.pendantLink = MakePendantLink(module, CreateVirtualBus());
    win = module.pendantLink.get();
  }
  // Adds the pendant after the devices already added and lets a new window find it.
  int ConnectPendant() {
    const int pendant = VirtualBusAddDevice(kPendantVendorId, kPendantProductId);
    CreateWindow();
    EXPECT_TRUE(win->FindPendant());
    return pendant;
  }
  void Queue(const Report& r) { VirtualBusQueueInputReport(r.data()); }
  Report Decoded() const {
    Report r;
    std::memcpy(r.data(), win->DecodedReport(), r.size());
    return r;
  }
  int Presses(int code) {
    const std::string line = "DoButton " + std::to_string(code);
    return static_cast<int>(std::count(host.calls.begin(), host.calls.end(), line));
  }
};

TEST_F(LinkTest, DiscoveryOpensOnlyThePendantAndAlwaysStartsTheTimer) {
  struct Case {
    const char* name;
    std::vector<std::pair<std::uint16_t, std::uint16_t>> devices;
    int pendantIndex;  // -1: none expected
  };
  const Case cases[] = {
      {"no device", {}, -1},
      {"pendant second", {{0x845E, 0x0001}, {kPendantVendorId, kPendantProductId}}, 1},
      {"same vendor, other product", {{kPendantVendorId, 0xFCE5}}, -1},
      {"first of two pendants",
       {{kPendantVendorId, kPendantProductId}, {kPendantVendorId, kPendantProductId}},
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    VirtualBusReset();
    for (auto [vid, pid] : c.devices) VirtualBusAddDevice(vid, pid);
    CreateWindow();

    EXPECT_EQ(win->FindPendant(), c.pendantIndex >= 0);
    const VirtualBusStats stats = VirtualBusTestStats();
    EXPECT_TRUE(stats.timerRunning);
    EXPECT_EQ(stats.timerId, 1u);
    EXPECT_EQ(stats.timerPeriodMs, 25u);
    EXPECT_TRUE(stats.notificationsRegistered);  // so that a later plug-in is noticed
    for (int i = 0; i < static_cast<int>(c.devices.size()); ++i)  // probe, read and write
      EXPECT_EQ(VirtualBusOpenHandleCount(i), i == c.pendantIndex ? 3 : 0) << "device " << i;
    if (c.pendantIndex >= 0) {
      EXPECT_EQ(win->DevicePath(), VirtualBusDevicePath(c.pendantIndex));
    }
    module.pendantLink.reset();
  }
}

TEST_F(LinkTest, FailedOpensLeaveHandlesInvalidAndPollsStillRun) {
  const int pendant = VirtualBusAddDevice(kPendantVendorId, kPendantProductId);
  VirtualBusTestFailDataOpens(pendant, true);
  CreateWindow();

  EXPECT_TRUE(win->FindPendant());
  EXPECT_EQ(VirtualBusOpenHandleCount(pendant), 1);  // the probe handle alone
  Queue(MakeReport(5));
  EXPECT_EQ(VirtualBusTimerTick(), 1);
  EXPECT_EQ(VirtualBusTestStats().readsStarted, 0);
  EXPECT_EQ(VirtualBusOutputReportCount(), 0);
}

TEST_F(LinkTest, UnopenablePendantIsNotFoundUntilItOpens) {
  const int pendant = VirtualBusAddDevice(kPendantVendorId, kPendantProductId);
  VirtualBusSetOpenFails(pendant, 1);
  CreateWindow();

  EXPECT_FALSE(win->FindPendant());
  EXPECT_TRUE(VirtualBusTestStats().timerRunning);
  EXPECT_EQ(VirtualBusDeviceChange(kDeviceArrival, VirtualBusDevicePath(pendant)), 1);
  EXPECT_FALSE(win->Connected());
  EXPECT_EQ(VirtualBusOpenHandleCount(-1), 0);

  VirtualBusSetOpenFails(pendant, 0);
  VirtualBusDeviceChange(kDeviceArrival, VirtualBusDevicePath(pendant));
  EXPECT_TRUE(win->Connected());
  EXPECT_EQ(VirtualBusOpenHandleCount(pendant), 3);
}

TEST_F(LinkTest, DeviceChangeReleasesOnlyThePendantAndArrivalReopensIt) {
  struct Case {
    const char* name;
    std::uint32_t eventType;
    bool named;        // the event names an interface
    bool pendantName;  // else another device's name
    bool upperCase;
    bool released;
  };
  // The Windows window maps a removal of another device type to none (the Wine bus test).
  const Case cases[] = {
      {"removal", kDeviceRemoveComplete, true, true, false, true},
      {"removal, other letter case", kDeviceRemoveComplete, true, true, true, true},
      {"removal of another device", kDeviceRemoveComplete, true, false, false, false},
      {"removal naming no interface", kDeviceRemoveComplete, false, true, false, false},
      {"other event", 0x8001, true, true, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    VirtualBusReset();
    const int other = VirtualBusAddDevice(0x1234, 0x5678);
    const int pendant = ConnectPendant();
    host.calls.clear();

    std::string name = VirtualBusDevicePath(c.pendantName ? pendant : other);
    if (c.upperCase) name = Upper(name);
    EXPECT_EQ(VirtualBusDeviceChange(c.eventType, c.named ? name.c_str() : nullptr), 1);

    EXPECT_EQ(win->Connected(), !c.released);
    EXPECT_EQ(Presses(1021), c.released ? 1 : 0);
    EXPECT_EQ(host.calls.size(), c.released ? 1u : 0u);
    EXPECT_EQ(VirtualBusOpenHandleCount(pendant), c.released ? 1 : 3);  // the probe handle stays

    // Any arrival reopens the pendant's path, whichever device it was.
    EXPECT_EQ(VirtualBusDeviceChange(kDeviceArrival, VirtualBusDevicePath(other)), 1);
    EXPECT_TRUE(win->Connected());
    EXPECT_EQ(VirtualBusOpenHandleCount(pendant), 3);
    module.pendantLink.reset();
  }
}

// The last report before an unplug may hold a turning wheel. After any arrival it is not decoded
// again: with the pendant still gone, a velocity jog must not be restarted at every poll.
TEST_F(LinkTest, ArrivalDecodesNothingUntilAFreshReportArrives) {
  const int other = VirtualBusAddDevice(0x1234, 0x5678);
  const int pendant = ConnectPendant();
  module.wheelMode = WheelMode::VelocityJog;  // velocity jogging
  host.leds[83] = true;
  hostblock::Write<std::int32_t>(host.hostMotion.data(), hostblock::kAxisJogSpeedMax, 1000);
  Queue(Report{0, 4, 40, 0, 0, 0, 0, 0});
  VirtualBusTimerTick();
  Queue(Report{0, 8, 40, 0, 0, 0, 0, 0});
  VirtualBusTimerTick();
  ASSERT_NE(std::find(host.calls.begin(), host.calls.end(), "Code DOJOG"), host.calls.end());
  // Reports still waiting when the pendant goes (the outstanding read takes the first) go with
  // its handle.
  Queue(Report{0, 12, 40, 0, 0, 0, 0, 0});
  Queue(Report{0, 16, 40, 0, 0, 0, 0, 0});

  VirtualBusDeviceChange(kDeviceRemoveComplete, VirtualBusDevicePath(pendant));
  VirtualBusSetDevicePresent(pendant, 0);
  // Another device arrives: the pendant's path does not open and no search finds it.
  EXPECT_EQ(VirtualBusDeviceChange(kDeviceArrival, VirtualBusDevicePath(other)), 1);
  EXPECT_FALSE(win->Connected());
  host.calls.clear();
  for (int i = 0; i < 5; ++i) VirtualBusTimerTick();
  EXPECT_TRUE(host.calls.empty());

  // The pendant is back but silent: its reports from before the unplug stay undecoded.
  VirtualBusSetDevicePresent(pendant, 1);
  VirtualBusDeviceChange(kDeviceArrival, VirtualBusDevicePath(pendant));
  ASSERT_TRUE(win->Connected());
  for (int i = 0; i < 5; ++i) VirtualBusTimerTick();
  EXPECT_EQ(std::count(host.calls.begin(), host.calls.end(), "Code DOJOG"), 0);
  EXPECT_TRUE(win->AwaitingReport());

  // It reports a wheel at rest: decoding resumes with that report.
  Queue(Report{0, 8, 0, 0, 0, 0, 0, 0});
  VirtualBusTimerTick();
  EXPECT_EQ(std::count(host.calls.begin(), host.calls.end(), "Code DOJOG"), 0);
  EXPECT_EQ(Decoded(), (Report{0, 8, 0, 0, 0, 0, 0, 0}));
  EXPECT_FALSE(win->AwaitingReport());
}

TEST_F(LinkTest, RemovalWithoutBroadcastChangesNothing) {
  ConnectPendant();
  EXPECT_EQ(VirtualBusDeviceChange(kDeviceRemoveComplete, nullptr), 1);
  EXPECT_TRUE(win->Connected());
  EXPECT_TRUE(host.calls.empty());
}

TEST_F(LinkTest, PollsWhileDisconnectedOnlyStepTheEndJogCountdown) {
  const int pendant = ConnectPendant();
  VirtualBusDeviceChange(kDeviceRemoveComplete, VirtualBusDevicePath(pendant));
  host.calls.clear();
  host.recordReads = true;
  win->continuousJog.endJogCountdown = 2;
  const VirtualBusStats before = VirtualBusTestStats();
  Queue(MakeReport(9, kSafetyBit));

  for (int i = 0; i < 3; ++i) EXPECT_EQ(VirtualBusTimerTick(), 1);

  EXPECT_EQ(win->continuousJog.endJogCountdown, 0);
  EXPECT_TRUE(host.calls.empty());
  EXPECT_EQ(VirtualBusTestStats().readsStarted, before.readsStarted);
  EXPECT_EQ(VirtualBusTestStats().waits, before.waits);
  EXPECT_EQ(VirtualBusOutputReportCount(), 0);
}

TEST_F(LinkTest, ReadTimeoutDecodesThePreviousReportWithoutRepeatingEdges) {
  ConnectPendant();
  const Report active = MakeReport(7, kSafetyBit);
  Queue(active);
  VirtualBusTimerTick();
  EXPECT_EQ(Decoded(), active);
  EXPECT_EQ(Presses(1021), 1);

  for (int i = 0; i < 3; ++i) VirtualBusTimerTick();  // nothing arrives

  EXPECT_EQ(Decoded(), active);
  EXPECT_EQ(Presses(1021), 1);
  EXPECT_EQ(VirtualBusOutputReportCount(), 4);  // written in every poll all the same
}

TEST_F(LinkTest, PendingReadIsWaitedOnAgain) {
  ConnectPendant();
  VirtualBusTestHoldReads(true);
  Queue(MakeReport(3));

  for (int i = 0; i < 4; ++i) VirtualBusTimerTick();
  VirtualBusStats stats = VirtualBusTestStats();
  EXPECT_EQ(stats.readsStarted, 1);
  EXPECT_EQ(stats.waits, 4);
  // Only the read started in the first poll may be on its way and gets the short wait; later
  // polls only check the one still pending.
  EXPECT_EQ(stats.timedOutUs, kHandOverWaitMaxUs);
  EXPECT_EQ(Decoded(), Report{});
  EXPECT_EQ(VirtualBusOutputReportCount(), 4);

  VirtualBusTestHoldReads(false);
  VirtualBusTimerTick();  // the outstanding read completes with the queued report
  EXPECT_EQ(Decoded(), MakeReport(3));

  Queue(MakeReport(4));
  VirtualBusTimerTick();
  EXPECT_EQ(Decoded(), MakeReport(4));
}

TEST_F(LinkTest, PendingReadIsCancelledWhenItsHandleCloses) {
  const char* triggers[] = {"removal", "arrival", "search again", "destruction"};
  for (const char* trigger : triggers) {
    SCOPED_TRACE(trigger);
    VirtualBusReset();
    const int pendant = ConnectPendant();
    VirtualBusTestHoldReads(true);
    VirtualBusTimerTick();
    ASSERT_EQ(VirtualBusTestStats().readsStarted, 1);
    ASSERT_EQ(VirtualBusTestStats().cancels, 0);

    const std::string t = trigger;
    if (t == "removal")
      VirtualBusDeviceChange(kDeviceRemoveComplete, VirtualBusDevicePath(pendant));
    if (t == "arrival") VirtualBusDeviceChange(kDeviceArrival, VirtualBusDevicePath(pendant));
    if (t == "search again") win->FindPendant();
    if (t == "destruction") module.pendantLink.reset();

    const VirtualBusStats stats = VirtualBusTestStats();
    EXPECT_EQ(stats.cancels, 1);
    if (module.pendantLink) {
      VirtualBusTestHoldReads(false);
      Queue(MakeReport(1));
      VirtualBusTimerTick();  // a fresh read on whatever is open now
      if (t != "removal") {
        EXPECT_GT(VirtualBusTestStats().readsStarted, 1);
      }
    }
    module.pendantLink.reset();
  }
}

TEST_F(LinkTest, ShortOrFailedReadsKeepTheLastCompleteReport) {
  ConnectPendant();
  const Report first = MakeReport(10);
  Queue(first);
  VirtualBusTimerTick();
  ASSERT_EQ(Decoded(), first);

  const Report second = MakeReport(20, kSafetyBit);
  VirtualBusTestQueueShortReport(second.data(), 7);
  VirtualBusTimerTick();
  EXPECT_EQ(Decoded(), first);
  VirtualBusTestQueueShortReport(second.data(), 0);
  VirtualBusTimerTick();
  EXPECT_EQ(Decoded(), first);
  VirtualBusTestQueueReadError();
  VirtualBusTimerTick();
  EXPECT_EQ(Decoded(), first);
  EXPECT_EQ(Presses(1021), 0);

  Queue(second);
  VirtualBusTimerTick();
  EXPECT_EQ(Decoded(), second);
  EXPECT_EQ(Presses(1021), 1);
}

TEST_F(LinkTest, RestoreAbsoluteFollowsIncrementalModeOnlyWhileTheHostIsIdle) {
  ConnectPendant();
  struct Case {
    const char* name;
    std::int32_t motionBusy, motionIn, motionOut, commandIn, commandOut, incremental;
    bool before, after;
  };
  const Case cases[] = {
      {"idle, absolute", 0, 4, 4, 2, 2, 0, false, true},
      {"idle, incremental", 0, 4, 4, 2, 2, 1, true, false},
      {"motion busy", 1, 4, 4, 2, 2, 1, true, true},
      {"motion queue not empty", 0, 5, 4, 2, 2, 1, true, true},
      {"command queue not empty", 0, 4, 4, 3, 2, 0, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    hostblock::Write(module.host.HostMotion, hostblock::kMotionBusy, c.motionBusy);
    hostblock::Write(module.host.HostMotion, hostblock::kMotionQueueIn, c.motionIn);
    hostblock::Write(module.host.HostMotion, hostblock::kMotionQueueOut, c.motionOut);
    hostblock::Write(module.host.HostState, hostblock::kCommandQueueIn, c.commandIn);
    hostblock::Write(module.host.HostState, hostblock::kCommandQueueOut, c.commandOut);
    hostblock::Write(module.host.HostConfig, hostblock::kIncrementalMode, c.incremental);
    module.windowsHost.stepJog.restoreAbsolute = c.before;
    VirtualBusTimerTick();
    EXPECT_EQ(module.windowsHost.stepJog.restoreAbsolute, c.after);
  }
}

TEST_F(LinkTest, HundredPlugCyclesLeakNoHandle) {
  const int pendant = ConnectPendant();
  const char* path = VirtualBusDevicePath(pendant);
  for (int i = 0; i < 100; ++i) {
    Queue(MakeReport(static_cast<std::uint8_t>(i)));
    VirtualBusTestHoldReads(i % 3 == 0);  // some cycles unplug with a read outstanding
    VirtualBusTimerTick();
    VirtualBusSetDevicePresent(pendant, 0);
    VirtualBusDeviceChange(kDeviceRemoveComplete, path);
    ASSERT_EQ(VirtualBusOpenHandleCount(pendant), 1) << "cycle " << i;
    VirtualBusSetDevicePresent(pendant, 1);
    VirtualBusDeviceChange(kDeviceArrival, path);
    VirtualBusDeviceChange(kDeviceArrival, path);  // a second arrival replaces, never adds
    ASSERT_EQ(VirtualBusOpenHandleCount(pendant), 3) << "cycle " << i;
  }
  EXPECT_EQ(Presses(1021), 100);

  module.pendantLink.reset();
  const VirtualBusStats stats = VirtualBusTestStats();
  EXPECT_EQ(VirtualBusOpenHandleCount(-1), 0);
  EXPECT_EQ(stats.registrations, 1);
  EXPECT_EQ(stats.unregistrations, 1);
  EXPECT_FALSE(stats.notificationsRegistered);
  EXPECT_FALSE(stats.timerRunning);
  EXPECT_FALSE(stats.listenerSet);
  EXPECT_EQ(VirtualBusTimerTick(), 0);
}

TEST_F(LinkTest, SearchingAgainReplacesTheHandlesAndRegistersOnce) {
  const int pendant = ConnectPendant();
  EXPECT_TRUE(win->FindPendant());
  EXPECT_TRUE(win->FindPendant());
  EXPECT_EQ(VirtualBusOpenHandleCount(pendant), 3);
  EXPECT_EQ(VirtualBusTestStats().registrations, 1);

  VirtualBusSetDevicePresent(pendant, 0);
  EXPECT_FALSE(win->FindPendant());
  EXPECT_EQ(VirtualBusOpenHandleCount(-1), 0);
}

TEST_F(LinkTest, WindowWithoutBusIsInert) {
  module.pendantLink = MakePendantLink(module, nullptr);
  win = module.pendantLink.get();
  EXPECT_FALSE(win->FindPendant());
  win->Poll();
  win->OnInterfaceArrived({});
  win->OnInterfaceGone({});
  EXPECT_TRUE(host.calls.empty());
}

// A pendant absent at start-up, or plugged back into another port (another path), is taken at
// the next arrival with the search of start-up. Nothing is pressed before its first fresh report.
TEST_F(LinkTest, PendantIsTakenWheneverAndWhereverItIsPluggedIn) {
  struct Case {
    const char* name;
    bool presentAtStart;
    bool otherPort;       // comes back under a new path
    bool unrelatedFirst;  // another device arrives before the pendant
  };
  const Case cases[] = {
      {"plugged in after start-up", false, false, false},
      {"another device arrives first", false, false, true},
      {"re-plugged into another port", true, true, false},
      {"re-plugged into the same port", true, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    VirtualBusReset();
    const int other = VirtualBusAddDevice(0x1234, 0x5678);
    int pendant = VirtualBusAddDevice(kPendantVendorId, kPendantProductId);
    VirtualBusSetDevicePresent(pendant, c.presentAtStart ? 1 : 0);
    CreateWindow();
    EXPECT_EQ(win->FindPendant(), c.presentAtStart);
    if (c.presentAtStart) {
      Queue(MakeReport(40));
      VirtualBusTimerTick();
      VirtualBusSetDevicePresent(pendant, 0);
      VirtualBusDeviceChange(kDeviceRemoveComplete, VirtualBusDevicePath(pendant));
    }
    if (c.unrelatedFirst) {
      EXPECT_EQ(VirtualBusDeviceChange(kDeviceArrival, VirtualBusDevicePath(other)), 1);
      EXPECT_FALSE(win->Connected());
      EXPECT_EQ(VirtualBusOpenHandleCount(-1), 0);
    }
    if (c.otherPort) pendant = VirtualBusAddDevice(kPendantVendorId, kPendantProductId);
    VirtualBusSetDevicePresent(pendant, 1);
    host.calls.clear();

    EXPECT_EQ(VirtualBusDeviceChange(kDeviceArrival, VirtualBusDevicePath(pendant)), 1);
    EXPECT_TRUE(win->Connected());
    EXPECT_EQ(win->DevicePath(), VirtualBusDevicePath(pendant));
    EXPECT_EQ(VirtualBusOpenHandleCount(pendant), 3);
    EXPECT_EQ(VirtualBusOpenHandleCount(-1), 3);  // nothing left open on the old path
    // A wheel that stood at 40 before and reads 41 now would be a step if the stale report
    // counted; nothing happens until the pendant reports.
    for (int i = 0; i < 3; ++i) VirtualBusTimerTick();
    EXPECT_TRUE(host.calls.empty());
    Queue(MakeReport(41, kSafetyBit));
    VirtualBusTimerTick();
    EXPECT_EQ(Presses(1021), 1);

    // A removal of the new path releases it as usual.
    VirtualBusDeviceChange(kDeviceRemoveComplete, VirtualBusDevicePath(pendant));
    EXPECT_FALSE(win->Connected());
    EXPECT_EQ(Presses(1021), 2);
    EXPECT_EQ(VirtualBusOpenHandleCount(pendant), 1);  // the probe handle stays, as at start
    module.pendantLink.reset();
  }
}

TEST_F(LinkTest, HundredLatePlugAndPortChangeCyclesLeakNoHandle) {
  CreateWindow();
  EXPECT_FALSE(win->FindPendant());
  for (int i = 0; i < 100; ++i) {
    // Every cycle the pendant comes in at a new path, once while none is known and once in
    // place of the path it had, some cycles with a read outstanding.
    const int pendant = VirtualBusAddDevice(kPendantVendorId, kPendantProductId);
    VirtualBusDeviceChange(kDeviceArrival, VirtualBusDevicePath(pendant));
    ASSERT_TRUE(win->Connected()) << "cycle " << i;
    VirtualBusTestHoldReads(i % 3 == 0);
    VirtualBusTimerTick();
    VirtualBusSetDevicePresent(pendant, 0);
    const int moved = VirtualBusAddDevice(kPendantVendorId, kPendantProductId);
    VirtualBusDeviceChange(kDeviceArrival, VirtualBusDevicePath(moved));
    ASSERT_EQ(win->DevicePath(), VirtualBusDevicePath(moved)) << "cycle " << i;
    ASSERT_EQ(VirtualBusOpenHandleCount(-1), 3) << "cycle " << i;
    VirtualBusSetDevicePresent(moved, 0);
    VirtualBusDeviceChange(kDeviceRemoveComplete, VirtualBusDevicePath(moved));
    ASSERT_EQ(VirtualBusOpenHandleCount(-1), 1) << "cycle " << i;
    // An unrelated arrival with the pendant gone: the old path fails, the search finds nothing.
    VirtualBusDeviceChange(kDeviceArrival, nullptr);
    ASSERT_FALSE(win->Connected()) << "cycle " << i;
    ASSERT_EQ(VirtualBusOpenHandleCount(-1), 0) << "cycle " << i;
  }
  EXPECT_EQ(VirtualBusTestStats().registrations, 1);
  module.pendantLink.reset();
  EXPECT_EQ(VirtualBusOpenHandleCount(-1), 0);
}

// With no pendant known there is no path: a removal naming nothing must not release anything.
TEST_F(LinkTest, RemovalWithAnEmptyNameWhileNoPendantIsKnownPressesNothing) {
  CreateWindow();
  EXPECT_FALSE(win->FindPendant());
  EXPECT_EQ(VirtualBusDeviceChange(kDeviceRemoveComplete, ""), 1);
  EXPECT_TRUE(host.calls.empty());
}

// One trail line per connection event, never one per poll: a dead handle fails at every poll.
TEST_F(LinkTest, TrailTellsEachConnectionEventOnce) {
  const int other = VirtualBusAddDevice(0x1234, 0x5678);
  CreateWindow();
  win->FindPendant();
  const std::string otherPath = VirtualBusDevicePath(other);
  const int pendant = VirtualBusAddDevice(kPendantVendorId, kPendantProductId);
  const std::string path = VirtualBusDevicePath(pendant);
  VirtualBusDeviceChange(kDeviceArrival, path.c_str());
  VirtualBusDeviceChange(kDeviceRemoveComplete, otherPath.c_str());
  Queue(MakeReport(1));
  VirtualBusTimerTick();
  VirtualBusTestQueueReadError();
  VirtualBusTestQueueReadError();
  for (int i = 0; i < 3; ++i) VirtualBusTimerTick();
  Queue(MakeReport(2));
  VirtualBusTimerTick();
  VirtualBusSetDevicePresent(pendant, 0);  // gone without a removal: every read fails
  for (int i = 0; i < 5; ++i) VirtualBusTimerTick();
  VirtualBusSetOpenFails(pendant, 1);
  VirtualBusSetDevicePresent(pendant, 1);
  VirtualBusDeviceChange(kDeviceArrival, nullptr);
  VirtualBusDeviceChange(kDeviceRemoveComplete, path.c_str());

  const std::vector<std::string> expected = {
      "Pendant: search: none among 1 HID interfaces",
      "Pendant: arrival: " + path + "; no pendant known, searching",
      "Pendant: search: found " + path,
      "Pendant: removal: " + otherPath + "; not the pendant",
      "Pendant: read error: error 31",
      "Pendant: read error: error 1167",
      "Pendant: arrival: (no name); reopening " + path,
      "Pendant: open failed: read " + path + ": error 5",
      "Pendant: open failed: write " + path + ": error 5",
      "Pendant: open failed: probe " + path + ": error 5",
      "Pendant: search: none among 2 HID interfaces",
      "Pendant: removal: " + path + "; the pendant, released",
  };
  EXPECT_EQ(platform.trail, expected);
}

}  // namespace
