// Wheel counter to step count and direction, the per-axis reverse settings, and the jog inhibit.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host_windows/host_blocks.h"
#include "jog/wheel.h"
#include "support/pendant_fixture.h"

namespace {

using Calls = std::vector<std::string>;

TEST(WheelDelta, CounterChangeGivesStepsAndDirection) {
  struct Case {
    int last, current;
    int delta, direction;  // the previous report moved 7 steps, direction 1
  } cases[] = {
      {250, 4, 10, 0},     // wrapped forward
      {4, 250, 10, 1},     // wrapped backward
      {0, 30, 30, 0},      //
      {30, 30, 0, 1},      // unchanged: no steps, direction kept
      {0, 128, 7, 1},      // half a turn: the previous poll's values
      {200, 72, 7, 1},     // -128
      {100, 227, 127, 0},  // largest forward
      {227, 100, 127, 1},  // largest backward
      {255, 0, 1, 0},      // -255 wraps to one step forward
      {0, 255, 1, 1},      // 255 wraps to one step backward
      {0, 129, 127, 1},    // 129 wraps backward
      {129, 0, 127, 0},    // -129 wraps forward
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.last << " -> " << c.current);
    PendantFixture f;
    f.win->wheel.lastWheelCount = c.last;
    f.win->wheel.reportSteps = 7;
    f.win->wheel.reportDirection = 1;
    f.report[1] = static_cast<std::uint8_t>(c.current);
    f.Wheel();
    EXPECT_EQ(f.win->wheel.reportSteps, c.delta);
    EXPECT_EQ(f.win->wheel.reportDirection, c.direction);
    EXPECT_EQ(f.win->wheel.lastWheelCount, c.current);
    EXPECT_TRUE(f.host.Take().empty()) << "wheel function 1 does nothing";
  }
}

TEST(WheelDelta, PerAxisReverse) {
  struct Case {
    int axis;
    bool x, y, z;
    int direction;  // of the step line sent for a rising counter
  } cases[] = {
      {0, true, false, false, 1}, {0, false, true, true, 0}, {1, false, true, false, 1},
      {2, false, false, true, 1}, {3, true, true, true, 0},  {4, true, true, true, 0},
      {5, true, true, true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.axis);
    PendantFixture f;
    f.win->axis.selectedAxis = c.axis;
    f.module.settings.Xreverse = c.x;
    f.module.settings.Yreverse = c.y;
    f.module.settings.Zreverse = c.z;
    f.win->wheelFunction = WheelFunction::StepJog;
    f.host.leds[83] = true;
    f.module.settings.StepJogRate = 100;
    hostblock::Write(f.host.hostMotion.data(), hostblock::kJogIncrement, 1.0);
    f.win->wheel.lastWheelCount = 0;
    f.report[1] = 3;  // rising counter
    f.Wheel();
    const Calls calls = f.host.Take();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_NE(calls[1].find(c.direction != 0 ? " -3.0000" : " 3.0000"), std::string::npos)
        << calls[1];
  }
}

TEST(WheelDelta, InhibitDropsPendingStepsAndLeavesTheHostJogModeOnce) {
  PendantFixture f;
  f.win->wheelFunction = WheelFunction{10};
  f.host.leds[83] = true;
  f.module.windowsHost.stepJog.pendingSteps = 9;
  f.win->continuousJog.jogStarted = 1;
  f.module.windowsHost.hostJogModeSwitched = 1;
  f.module.windowsHost.stepJog.savedValid = 1;
  f.module.windowsHost.stepJog.savedFeedRate = 33.0;
  f.host.hostState[hostblock::kJogInhibit] = 1;
  f.report[1] = 5;
  f.Wheel();
  // The restore after a step burst still runs in such a poll.
  EXPECT_EQ(f.host.Take(), (Calls{"DoButton 205", "SetDRO 818 33"}));
  EXPECT_EQ(f.module.windowsHost.stepJog.pendingSteps, 0);
  EXPECT_EQ(f.win->continuousJog.jogStarted, 0);
  f.report[1] = 9;
  f.Wheel();
  EXPECT_TRUE(f.host.Take().empty());
}

TEST(WheelDelta, UnknownWheelFunctionsDoNothing) {
  for (int function : {0, 1, 7, 8, 9, 11, 17, -1}) {
    PendantFixture f;
    f.win->wheelFunction = WheelFunction{function};
    f.host.leds[83] = true;
    f.module.settings.StepJogRate = 100;
    f.host.dros[821] = 50.0;
    f.report[1] = 3;
    f.report[2] = 40;
    f.Wheel();
    EXPECT_TRUE(f.host.Take().empty()) << function;
  }
}

}  // namespace
