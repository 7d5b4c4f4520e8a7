// The host boundary: data-block offsets, the tick counter rules and unset callbacks or blocks.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "core/ticks.h"
#include "host_windows/host_blocks.h"
#include "host_windows/host_bridge.h"

namespace {

template <class T>
T At(const std::vector<std::uint8_t>& block, std::size_t offset) {
  T v{};
  std::memcpy(&v, block.data() + offset, sizeof v);
  return v;
}

template <class T>
void Put(std::vector<std::uint8_t>& block, std::size_t offset, T v) {
  std::memcpy(block.data() + offset, &v, sizeof v);
}

struct Blocks {
  std::vector<std::uint8_t> state = std::vector<std::uint8_t>(hostblock::kHostStateSize);
  std::vector<std::uint8_t> config = std::vector<std::uint8_t>(hostblock::kHostConfigSize);
  std::vector<std::uint8_t> motion = std::vector<std::uint8_t>(hostblock::kHostMotionSize);
  HostBridge bridge;
  Blocks() {
    bridge.HostState = state.data();
    bridge.HostConfig = config.data();
    bridge.HostMotion = motion.data();
  }
};

// Every field is pinned at its absolute byte offset, written by the test and read by the accessor.
TEST(HostBlocks, ReadFieldsAtTheirByteOffsets) {
  Blocks b;
  Put<std::int32_t>(b.state, 163840, 7);
  Put<std::int32_t>(b.state, 163844, 9);
  Put<std::uint8_t>(b.state, 166367, 1);
  Put<std::int32_t>(b.config, 1192, 1);
  Put<double>(b.config, 133672, 30.0);
  Put<std::int32_t>(b.motion, 800092, 11);
  Put<std::int32_t>(b.motion, 800096, 12);
  Put<std::int32_t>(b.motion, 801968, 1);
  Put<double>(b.motion, 801872, 0.001);
  for (int axis = 0; axis < 6; ++axis) {
    Put<double>(b.motion, 0xC3680 + 8 * axis, 1.5 + axis);
    Put<std::int32_t>(b.motion, 0xC3B48 + 4 * axis, 1000 + axis);
    Put<std::int32_t>(b.motion, 0xC3B60 + 4 * axis, 2000 + axis);
  }

  EXPECT_EQ(host_state::commandQueueIn(b.bridge), 7);
  EXPECT_EQ(host_state::commandQueueOut(b.bridge), 9);
  EXPECT_FALSE(host_state::CommandQueueEmpty(b.bridge));
  EXPECT_EQ(host_state::jogInhibit(b.bridge), 1);
  EXPECT_EQ(host_config::incrementalMode(b.bridge), 1);
  EXPECT_EQ(host_config::xyRotationDegrees(b.bridge), 30.0);
  EXPECT_EQ(host_motion::motionQueueIn(b.bridge), 11);
  EXPECT_EQ(host_motion::motionQueueOut(b.bridge), 12);
  EXPECT_EQ(host_motion::motionBusy(b.bridge), 1);
  EXPECT_EQ(host_motion::jogIncrement(b.bridge), 0.001);
  for (int axis = 0; axis < 6; ++axis) {
    EXPECT_EQ(host_motion::axisVelocity(b.bridge, axis), 1.5 + axis);
    EXPECT_EQ(host_motion::axisJogSpeedMax(b.bridge, axis), 1000 + axis);
    EXPECT_EQ(host_motion::axisJogAux(b.bridge, axis), 2000 + axis);
  }
  EXPECT_EQ(hostblock::kStatusMessage, 1161996u);
}

TEST(HostBlocks, AxisJogRecordsAreWrittenAtTheirOffsets) {
  Blocks b;
  for (int axis = 0; axis < 6; ++axis) {
    host_state::SetAxisJogSpeed(b.bridge, axis, 100 + axis);
    host_state::SetAxisJogSpeedMax(b.bridge, axis, 200 + axis);
    host_state::SetAxisJogAux(b.bridge, axis, 300 + axis);
    host_state::SetAxisJogStopRequest(b.bridge, axis, 1);
    host_state::SetAxisJogActive(b.bridge, axis, 1);
    host_state::SetAxisJogDirection(b.bridge, axis, 1);
  }
  for (int axis = 0; axis < 6; ++axis) {
    const std::size_t base = 96 * static_cast<std::size_t>(axis);
    EXPECT_EQ(At<std::int32_t>(b.state, 0x28064 + base), 100 + axis);
    EXPECT_EQ(At<std::int32_t>(b.state, 0x28068 + base), 200 + axis);
    EXPECT_EQ(At<std::int32_t>(b.state, 0x2806C + base), 300 + axis);
    EXPECT_EQ(At<std::uint8_t>(b.state, 0x28072 + base), 1);
    EXPECT_EQ(At<std::uint8_t>(b.state, 0x28074 + base), 1);
    EXPECT_EQ(At<std::int32_t>(b.state, 0x28078 + base), 1);
  }
  // Nothing else in the records' span was touched: six fields of 4+4+4+1+1+4 bytes per axis.
  std::size_t nonzero = 0;
  for (std::size_t i = 0x28000; i < 0x28064 + 6 * 96; ++i) nonzero += b.state[i] != 0;
  EXPECT_LE(nonzero, 6u * 18u);
}

TEST(HostBlocks, OutOfRangeAxesAndUnsetBlocksAreNeverTouched) {
  Blocks b;
  const auto before = b.state;
  for (int axis : {-1, 6, 100, std::numeric_limits<int>::min()}) {
    host_state::SetAxisJogSpeed(b.bridge, axis, 5);
    host_state::SetAxisJogActive(b.bridge, axis, 1);
    EXPECT_EQ(host_motion::axisVelocity(b.bridge, axis), 0.0);
    EXPECT_EQ(host_motion::axisJogSpeedMax(b.bridge, axis), 0);
  }
  EXPECT_EQ(b.state, before);

  HostBridge unset;
  host_state::SetAxisJogSpeed(unset, 0, 5);
  EXPECT_EQ(host_state::commandQueueIn(unset), 0);
  EXPECT_EQ(host_motion::jogIncrement(unset), 0.0);
  EXPECT_EQ(host_config::xyRotationDegrees(unset), 0.0);
}

TEST(HostBridge, UnsetCallbacksAreNotCalled) {
  HostBridge bridge;
  bridge.DoButton(1021);
  bridge.SetDRO(821, 100.0);
  bridge.Code("G90");
  EXPECT_FALSE(bridge.GetLED(800));
  EXPECT_EQ(bridge.GetDRO(22), 0.0);
}

// Hosts return a byte-sized boolean; garbage above the low byte must not read as lit.
std::uint8_t LedHighByteOnly(std::int32_t) {
  return 0x00;
}
std::uint8_t LedLit(std::int32_t) {
  return 0x01;
}
std::int16_t lastButton = 0;
void RecordButton(std::int16_t code) {
  lastButton = code;
}

TEST(HostBridge, ButtonCodesAreSixteenBitAndLedsReadTheLowByte) {
  HostBridge bridge;
  bridge.callbacks.GetLED = LedHighByteOnly;
  EXPECT_FALSE(bridge.GetLED(1));
  bridge.callbacks.GetLED = LedLit;
  EXPECT_TRUE(bridge.GetLED(1));
  bridge.callbacks.DoButton = RecordButton;
  bridge.DoButton(65536 + 1021);
  EXPECT_EQ(lastButton, 1021);
}

TEST(TickCounters, CounterRuleWrapsAbove1000To101) {
  struct Case {
    int updates;
    std::int32_t expected;
  };
  for (const Case& c : {Case{1000, 1000}, Case{1001, 1001}, Case{1002, 101}, Case{1003, 102}}) {
    TickCounters ticks;
    ticks.idleTicks = 0;
    ticks.pressTicks = 0;
    for (int i = 0; i < c.updates; ++i) ticks.Update();
    EXPECT_EQ(ticks.idleTicks, c.expected) << c.updates;
    EXPECT_EQ(ticks.pressTicks, c.expected) << c.updates;
  }
  TickCounters fresh;
  for (int i = 0; i < 901; ++i) fresh.Update();
  EXPECT_EQ(fresh.screenKeyTicks, 1001);
  fresh.Update();
  EXPECT_EQ(fresh.screenKeyTicks, 101);
}

TEST(TickCounters, HeartbeatRunsTwoTo255AndCountdownsStopAtZero) {
  TickCounters ticks;
  ticks.restoreCountdown = 3;
  ticks.jogActiveCountdown = 1;
  std::vector<std::int16_t> beats;
  for (int i = 0; i < 256; ++i) {
    ticks.Update();
    beats.push_back(ticks.heartbeat);
  }
  EXPECT_EQ(beats[0], 2);
  EXPECT_EQ(beats[253], 255);
  EXPECT_EQ(beats[254], 2);
  EXPECT_EQ(beats[255], 3);
  EXPECT_EQ(ticks.restoreCountdown, 0);
  EXPECT_EQ(ticks.jogActiveCountdown, 0);
}

}  // namespace
