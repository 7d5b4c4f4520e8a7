// How soon a change on the pendant reaches the host, and what a poll costs the host's thread, for
// a pendant that reports only on change and one that streams a report every 8 ms, over a system
// that hands queued reports over at once (as Windows does) or a little later (as Wine does). Time
// is the virtual bus's: the gaps between polls and the waits inside them pass it, nothing else.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <string>
#include <vector>

#include "host_windows/host_blocks.h"
#include "host_windows/module.h"
#include "link/pendant_link.h"
#include "platform/sim/virtual_bus.h"
#include "support/fake_platform.h"
#include "support/recording_host.h"

namespace {

using Report = std::array<std::uint8_t, 8>;

constexpr std::uint64_t kMs = 1000;
constexpr std::uint64_t kPollUs = kPollPeriodMs * kMs;
constexpr std::uint64_t kLatencyBoundUs = (kPollPeriodMs + kReadWaitMs) * kMs;
constexpr std::uint64_t kPollCostBoundUs = kReadWaitMs * kMs;
constexpr std::uint8_t kSafety = 0x01;  // byte 3

Report State(std::uint8_t byte3, std::uint8_t wheel = 0) {
  return Report{0, wheel, 0, byte3, 0, 0, 0, 0};
}

struct Regime {
  const char* name;
  std::uint32_t streamPeriodUs;  // 0: a report per change
  std::uint32_t handOverUs;      // 0: a queued report is handed over within the read's start
};
constexpr Regime kRegimes[] = {
    {"on change, handed over at once", 0, 0},
    {"on change, handed over later", 0, 150},
    {"streaming every 8 ms, handed over at once", 8000, 0},
    {"streaming every 8 ms, handed over later", 8000, 150},
};

class PollLatencyTest : public ::testing::Test {
 protected:
  FakePlatform platform;
  RecordingHost host;
  Module module{platform};
  Regime regime{};
  std::uint64_t nextPollUs = 0;
  std::vector<std::uint64_t> pollCostsUs;
  std::vector<std::uint64_t> safetyPressesUs;  // end of the poll that pressed 1021

  void SetUp() override { host.Install(module.host); }
  void TearDown() override {
    module.pendantLink.reset();
    VirtualBusReset();
  }

  void Start(const Regime& r) {
    module.pendantLink.reset();
    VirtualBusReset();
    regime = r;
    VirtualBusAddDevice(0x845E, 0x0001);
    VirtualBusAddDevice(kPendantVendorId, kPendantProductId);
    VirtualBusSetCompletionDelay(r.handOverUs);
    VirtualBusSetStreamPeriod(r.streamPeriodUs);
    module.pendantLink = MakePendantLink(module, CreateVirtualBus());
    ASSERT_TRUE(module.pendantLink->FindPendant());
    host.calls.clear();
    host.leds[800] = true;  // the host confirms a safety stop: 1021 is pressed on edges only
    nextPollUs = kPollUs;
    pollCostsUs.clear();
    safetyPressesUs.clear();
  }

  void AdvanceTo(std::uint64_t us) {
    if (VirtualBusNowUs() < us) VirtualBusAdvanceTime(us - VirtualBusNowUs());
  }
  // Runs every poll due before `us`, each in its 25 ms slot or as soon as the one before ended.
  void PollBefore(std::uint64_t us) {
    while (nextPollUs < us) {
      AdvanceTo(nextPollUs);
      const std::uint64_t start = VirtualBusNowUs();
      const std::size_t before = host.calls.size();
      ASSERT_EQ(VirtualBusTimerTick(), 1);
      const std::uint64_t end = VirtualBusNowUs();
      pollCostsUs.push_back(end - start);
      for (std::size_t i = before; i < host.calls.size(); ++i) {
        if (host.calls[i] == "DoButton 1021") safetyPressesUs.push_back(end);
      }
      nextPollUs += kPollUs;
    }
  }
  // The pendant's input becomes `state` at `us` (or when the poll running then has ended).
  // Returns when the report carrying the change reaches the system.
  std::uint64_t Set(std::uint64_t us, const Report& state) {
    PollBefore(us);
    AdvanceTo(us);
    const std::uint64_t now = VirtualBusNowUs();
    VirtualBusSetInputState(state.data());
    if (regime.streamPeriodUs == 0) return now;
    return (now / regime.streamPeriodUs + 1) * regime.streamPeriodUs;  // the next stream report
  }
  std::uint64_t Median(std::vector<std::uint64_t> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
  }
};

// Safety pulses of a poll period and longer, and shorter ones that still reach the system as a
// report of their own, starting anywhere in the poll's slot: each edge presses 1021 once, within
// one poll period plus the bounded wait of the report that carried it.
TEST_F(PollLatencyTest, EveryEdgeReachesTheHostWithinOnePollPeriodPlusTheWait) {
  const std::uint64_t lengthsUs[] = {10 * kMs, kPollUs, 40 * kMs, 300 * kMs};
  const std::uint64_t offsetsUs[] = {2000, 9300, 17100, 24600};
  for (const Regime& r : kRegimes) {
    SCOPED_TRACE(r.name);
    Start(r);
    std::uint64_t t = 100 * kMs;
    for (std::uint64_t length : lengthsUs) {
      for (std::uint64_t offset : offsetsUs) {
        SCOPED_TRACE("pulse of " + std::to_string(length) + " us at offset " +
                     std::to_string(offset));
        const std::uint64_t on = t / kPollUs * kPollUs + offset;
        const std::uint64_t sentOn = Set(on, State(kSafety));
        const std::uint64_t sentOff = Set(on + length, State(0));
        PollBefore(sentOff + 4 * kPollUs);
        ASSERT_EQ(safetyPressesUs.size(), 2u);
        EXPECT_GE(safetyPressesUs[0], sentOn);
        EXPECT_LE(safetyPressesUs[0], sentOn + kLatencyBoundUs);
        EXPECT_GE(safetyPressesUs[1], sentOff);
        EXPECT_LE(safetyPressesUs[1], sentOff + kLatencyBoundUs);
        safetyPressesUs.clear();
        t = nextPollUs + 3 * kPollUs;
      }
    }
    EXPECT_EQ(VirtualBusTestStats().reportsDropped, 0);
  }
}

// An idle pendant costs the host's thread no wait at all; a streaming one at most one short wait
// per poll, and the input queue never fills up (no backlog builds).
TEST_F(PollLatencyTest, PollsHoldTheHostThreadBriefly) {
  for (const Regime& r : kRegimes) {
    SCOPED_TRACE(r.name);
    Start(r);
    Set(1 * kMs, State(0, 1));  // a first report, then nothing changes for ten seconds
    PollBefore(10000 * kMs);
    const VirtualBusStats stats = VirtualBusTestStats();
    const std::vector<std::uint64_t> steady(pollCostsUs.begin() + 2, pollCostsUs.end());
    EXPECT_LE(*std::max_element(pollCostsUs.begin(), pollCostsUs.end()), kPollCostBoundUs);
    if (r.streamPeriodUs == 0) {
      EXPECT_EQ(*std::max_element(steady.begin(), steady.end()), 0u);
      EXPECT_LE(stats.timedOutWaits, 2);
    } else {
      EXPECT_LE(stats.timedOutWaits, static_cast<int>(pollCostsUs.size()));
      // A wait for each report still being handed over, and one that finds none: together at
      // most a millisecond.
      EXPECT_LE(Median(steady), 1 * kMs);
      if (r.handOverUs == 0) {
        EXPECT_EQ(Median(steady), 0u);
      }
    }
    EXPECT_EQ(stats.reportsDropped, 0);
  }
}

// The host's thread stalls for 600 ms while the pendant streams; the safety input goes active
// 20 ms before the stall ends. The first poll afterwards takes the whole backlog within the
// bound and presses 1021.
TEST_F(PollLatencyTest, AfterAStalledHostThreadTheFirstPollCatchesUp) {
  for (const Regime& r : kRegimes) {
    if (r.streamPeriodUs == 0) continue;
    SCOPED_TRACE(r.name);
    Start(r);
    PollBefore(100 * kMs);
    const std::uint64_t resume = nextPollUs + 600 * kMs;
    AdvanceTo(resume - 20 * kMs);
    VirtualBusSetInputState(State(kSafety).data());
    nextPollUs = resume;
    const std::size_t pollsBefore = pollCostsUs.size();
    PollBefore(resume + 1);
    ASSERT_EQ(pollCostsUs.size(), pollsBefore + 1);
    EXPECT_LE(pollCostsUs.back(), kPollCostBoundUs);
    EXPECT_EQ(safetyPressesUs.size(), 1u);
  }
}

// A pendant that streams faster than reports can be handed over never lets a poll end by itself:
// the poll stops at its bound all the same.
TEST_F(PollLatencyTest, AnEndlessStreamCannotHoldThePoll) {
  Start(Regime{"streaming every 0.1 ms, handed over later", 100, 150});
  PollBefore(500 * kMs);
  EXPECT_LE(*std::max_element(pollCostsUs.begin(), pollCostsUs.end()),
            kPollCostBoundUs + kHandOverWaitMaxUs);
  EXPECT_LE(VirtualBusTestStats().readsStarted,
            static_cast<int>(pollCostsUs.size() * kMaxReportsPerPoll) + 1);
}

// The wheel turning one count per report, in step mode: the reports of one poll that differ only
// in the wheel give one move line, and the lines add up to the whole turn.
TEST_F(PollLatencyTest, WheelReportsOfOnePollFoldIntoOneMoveOfTheirSum) {
  for (const Regime& r : kRegimes) {
    SCOPED_TRACE(r.name);
    Start(r);
    host.leds[83] = true;  // jogging enabled
    module.settings.StepJogRate = 100;
    hostblock::Write(host.hostMotion.data(), hostblock::kJogIncrement, 0.001);
    constexpr int kCounts = 300;  // wraps the 8-bit counter
    for (int i = 1; i <= kCounts; ++i) {
      Set(static_cast<std::uint64_t>(i) * 8 * kMs + 500, State(0, static_cast<std::uint8_t>(i)));
      if (i % 4 == 0) module.ticks.Update();  // lets the step bursts end and restart
    }
    PollBefore(VirtualBusNowUs() + 10 * kPollUs);
    double moved = 0.0;
    int lines = 0;
    for (const std::string& call : host.calls) {
      if (call.rfind("Code G91G1", 0) != 0) continue;
      ++lines;
      moved += std::strtod(call.c_str() + call.rfind(' ') + 1, nullptr);
    }
    // The pendant's first report only sets the counter: a streaming one has sent its counter at 0
    // by then, one that reports on change starts at 1.
    const int turned = r.streamPeriodUs != 0 ? kCounts : kCounts - 1;
    EXPECT_NEAR(moved, turned * 0.001, 1e-9);
    EXPECT_LE(lines, static_cast<int>(pollCostsUs.size()));
    EXPECT_GT(lines, kCounts / 4);
  }
}

}  // namespace
