// The axis keys, driven through the whole input chain.
#include "input/axis_select.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "host_windows/host_blocks.h"
#include "support/pendant_fixture.h"

namespace {

constexpr std::uint8_t kXA = 0x20;
constexpr std::uint8_t kYB = 0x40;
constexpr std::uint8_t kZC = 0x80;

std::array<std::uint8_t, 8> Keys(std::uint8_t byte3) {
  return {0, 0, 0, byte3, 0, 0, 0, 0};
}

struct AxisSelectTest : ::testing::Test, PendantFixture {
  AxisSelectTest() { Decode(Keys(0)); }

  // Presses and releases `keys`; returns the selected axis.
  std::int32_t Press(std::uint8_t keys) {
    Decode(Keys(keys));
    Decode(Keys(keys));  // held: no second step
    Decode(Keys(0));
    return win->axis.selectedAxis;
  }

  void SetQueue(std::int32_t in, std::int32_t out) {
    hostblock::Write(module.host.HostState, hostblock::kCommandQueueIn, in);
    hostblock::Write(module.host.HostState, hostblock::kCommandQueueOut, out);
  }
};

TEST_F(AxisSelectTest, RepeatedPressesAlternateOnlyWithRotaryEnabled) {
  struct Case {
    std::uint8_t key;
    bool a, b, c;
    std::vector<std::int32_t> axes;
  } cases[] = {
      {kXA, false, true, true, {0, 0, 0}},   {kXA, true, false, false, {3, 0, 3}},
      {kYB, false, false, false, {1, 1, 1}}, {kYB, false, true, false, {1, 4, 1}},
      {kZC, false, false, false, {2, 2, 2}}, {kZC, false, false, true, {2, 5, 2}},
  };
  for (const Case& c : cases) {
    module.settings.SelectAAxis = c.a;
    module.settings.SelectBAxis = c.b;
    module.settings.SelectCAxis = c.c;
    Press(kXA);
    if (win->axis.selectedAxis == 3) Press(kXA);  // start from X
    std::vector<std::int32_t> got;
    for (std::size_t i = 0; i < c.axes.size(); ++i) got.push_back(Press(c.key));
    EXPECT_EQ(got, c.axes) << int{c.key} << c.a << c.b << c.c;
  }
  EXPECT_EQ(host.calls, std::vector<std::string>{});
}

TEST_F(AxisSelectTest, AnotherKeySelectsItsLinearAxis) {
  module.settings.SelectAAxis = 1;
  module.settings.SelectBAxis = 1;
  EXPECT_EQ(Press(kXA), 3);
  EXPECT_EQ(Press(kYB), 1);
  EXPECT_EQ(Press(kYB), 4);
  EXPECT_EQ(Press(kXA), 0);
}

TEST_F(AxisSelectTest, XAndZTogetherAlwaysEndOnZ) {
  module.settings.SelectAAxis = 1;
  module.settings.SelectCAxis = 1;
  for (std::int32_t from = 0; from < 6; ++from) {
    win->axis.selectedAxis = from;
    EXPECT_EQ(Press(kXA | kZC), 2) << from;
  }
}

// In velocity mode, where the wheel leaves pending steps alone.
TEST_F(AxisSelectTest, AxisChangeClearsPendingStepsAndHoldsWhileQueueBusy) {
  module.wheelMode = WheelMode::VelocityJog;
  const auto select = [this](std::uint8_t keys) { Decode(Keys(keys)); };
  module.windowsHost.stepJog.pendingSteps = 7;
  select(kXA);  // no change
  select(0);
  EXPECT_EQ(module.windowsHost.stepJog.pendingSteps, 7);

  select(kYB);  // change with the queue empty
  EXPECT_EQ(module.windowsHost.stepJog.pendingSteps, 0);
  EXPECT_FALSE(win->axis.axisChangeHold);
  select(0);

  SetQueue(5, 3);
  module.windowsHost.stepJog.pendingSteps = 7;
  select(kZC);
  EXPECT_EQ(module.windowsHost.stepJog.pendingSteps, 0);
  EXPECT_TRUE(win->axis.axisChangeHold);
  select(0);
  EXPECT_TRUE(win->axis.axisChangeHold);
  SetQueue(5, 5);
  select(0);
  EXPECT_FALSE(win->axis.axisChangeHold);
}

TEST(AxisSelect, FirstPollCountsAsAChange) {
  PendantFixture f;
  hostblock::Write(f.module.host.HostState, hostblock::kCommandQueueIn, std::int32_t{1});
  f.Decode(Keys(0));
  EXPECT_EQ(f.win->axis.selectedAxis, 0);
  EXPECT_TRUE(f.win->axis.axisChangeHold);
}

}  // namespace
