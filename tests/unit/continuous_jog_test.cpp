// Velocity mode and C mode: the host's jog record, "DOJOG"/"ENDJOG", speeds, the start delay,
// reversals and the burst around host buttons 204 and 205.
#include "jog/continuous_jog.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "host_windows/host_blocks.h"
#include "jog/wheel.h"
#include "support/pendant_fixture.h"

namespace {

using Calls = std::vector<std::string>;

struct JogRecord {
  std::int32_t speed, speedMax, aux;
  std::uint8_t stopRequest, active;
  std::int32_t direction;
};

class ContinuousJogTest : public ::testing::Test, protected PendantFixture {
 protected:
  ContinuousJogTest() {
    host.leds[83] = true;
    module.settings.DelaySteps = 0;
    for (int axis = 0; axis < 6; ++axis) {
      hostblock::Write<std::int32_t>(host.hostMotion.data(), 0xC3B48 + 4 * axis, 1000);
      hostblock::Write<std::int32_t>(host.hostMotion.data(), 0xC3B60 + 4 * axis, 70 + axis);
    }
  }
  // Turns the wheel by `steps` (negative: counter falling) with the given speed byte.
  void Turn(int steps, int speed) {
    report[1] = static_cast<std::uint8_t>(win->wheel.lastWheelCount + steps);
    report[2] = static_cast<std::uint8_t>(speed);
    Wheel();
  }
  // The record at the host's own offsets, not through the accessors.
  JogRecord Record(int axis) const {
    const std::uint8_t* base = host.hostState.data() + 0x28064 + 96 * axis;
    JogRecord r{};
    std::memcpy(&r.speed, base + 0x0, 4);
    std::memcpy(&r.speedMax, base + 0x4, 4);
    std::memcpy(&r.aux, base + 0x8, 4);
    r.stopRequest = base[0xE];
    r.active = base[0x10];
    std::memcpy(&r.direction, base + 0x14, 4);
    return r;
  }
};

TEST_F(ContinuousJogTest, VelocityRatioOfASteadyWheel) {
  struct Case {
    std::int16_t vel;
    int speedByte;
    bool en;
    std::int16_t slowDown;
    std::int32_t expectedSpeed;
  } cases[] = {
      {0, 40, false, 0, 1000},                         // full speed
      {9, 40, false, 0, 120},                          // 3 / 25
      {0, 64, false, 0, 1000},                         // 1.6, capped
      {0, 64, true, 0, 800},                           // halved before the cap
      {0, 64, true, 2, 400},   {3, 80, true, 1, 333},  // 2 * 3/6 / 3
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.vel << "/" << c.speedByte << "/" << c.en);
    PendantFixture f;
    f.win->wheelFunction = WheelFunction{2};
    f.host.leds[83] = true;
    f.module.settings.Vel = c.vel;
    f.module.settings.SlowDownRate = c.slowDown;
    f.report[3] = c.en ? 0x10 : 0;  // EN
    hostblock::Write<std::int32_t>(f.host.hostMotion.data(), 0xC3B48, 1000);
    for (int poll = 0; poll < 10; ++poll) {
      f.report[1] = static_cast<std::uint8_t>(poll * 3 + 3);
      f.report[2] = static_cast<std::uint8_t>(c.speedByte);
      f.Wheel();
    }
    std::int32_t speed = 0;
    std::memcpy(&speed, f.host.hostState.data() + 0x28064, 4);
    EXPECT_EQ(speed, c.expectedSpeed);
  }
}

TEST_F(ContinuousJogTest, VelocityJogStartsSlowlyAndWritesTheRecord) {
  win->wheelFunction = WheelFunction{2};
  win->axis.selectedAxis = 4;
  std::int32_t previous = -1;
  for (int poll = 0; poll < 10; ++poll) {
    Turn(-2, 40);
    EXPECT_EQ(host.Take(), Calls{"Code DOJOG"});
    const JogRecord r = Record(4);
    EXPECT_GT(r.speed, previous);
    previous = r.speed;
    EXPECT_EQ(r.speedMax, 1000);
    EXPECT_EQ(r.aux, 74);
    EXPECT_EQ(r.stopRequest, 0);
    EXPECT_EQ(r.active, 1);
    EXPECT_EQ(r.direction, 1);
  }
  EXPECT_EQ(Record(0).active, 0) << "only the selected axis";
  EXPECT_EQ(win->continuousJog.leavingContinuous, 1);
  EXPECT_EQ(win->continuousJog.endJogCountdown, 5);
}

TEST_F(ContinuousJogTest, SpeedsAreTruncated) {
  win->wheelFunction = WheelFunction{2};
  hostblock::Write<std::int32_t>(host.hostMotion.data(), 0xC3B48, 999);
  for (int poll = 0; poll < 10; ++poll) Turn(1, 4);  // ratio 0.1: 99.9
  EXPECT_EQ(Record(0).speed, 99);
}

TEST_F(ContinuousJogTest, OutOfListSettingsTakeTheNearestDivisor) {
  struct Case {
    std::int32_t index;
    std::int32_t velocity, slowDown;
  } cases[] = {{-1, 3, 2}, {0, 3, 2},   {2, 5, 4},     {3, 6, 4},
               {9, 25, 4}, {10, 25, 4}, {32767, 25, 4}};
  for (const Case& c : cases) {
    EXPECT_EQ(VelocityDivisor(c.index), c.velocity) << c.index;
    EXPECT_EQ(SlowDownDivisor(c.index), c.slowDown) << c.index;
  }
}

TEST_F(ContinuousJogTest, VelocityBurstEndsAfterTheCountdown) {
  win->wheelFunction = WheelFunction{2};
  host.leds[15] = true;
  Turn(3, 40);
  EXPECT_EQ(host.Take(), (Calls{"DoButton 204", "Code DOJOG"}));
  Turn(3, 40);
  EXPECT_EQ(host.Take(), Calls{"Code DOJOG"});
  Turn(0, 0);  // one still poll: the delta history still holds a step
  EXPECT_EQ(host.Take(), Calls{"Code ENDJOG"});
  EXPECT_EQ(Record(0).stopRequest, 1);
  Turn(0, 0);  // two still polls: the delta check ends the jog
  EXPECT_EQ(host.Take(), Calls{"Code ENDJOG"});
  Update(3);
  Turn(0, 0);
  EXPECT_EQ(host.Take(), Calls{"DoButton 205"});
  EXPECT_EQ(win->continuousJog.jogStarted, 0);
  for (double s : win->continuousJog.speedHistory) EXPECT_EQ(s, 0.0);
  Turn(0, 0);
  EXPECT_TRUE(host.Take().empty());
}

TEST_F(ContinuousJogTest, VelocityReversalPausesForThreeUpdates) {
  win->wheelFunction = WheelFunction{2};
  Turn(3, 40);
  Turn(3, 40);
  host.Take();
  Turn(-3, 40);
  EXPECT_EQ(host.Take(), Calls{"Code ENDJOG"});
  EXPECT_EQ(win->continuousJog.lastJogDirection, 1);
  for (double s : win->continuousJog.speedHistory) EXPECT_EQ(s, 0.0);
  Turn(-3, 40);
  Update(2);
  Turn(-3, 40);
  EXPECT_TRUE(host.Take().empty());
  Update();
  Turn(-3, 40);
  EXPECT_EQ(host.Take(), Calls{"Code DOJOG"});
  EXPECT_EQ(Record(0).direction, 1);
}

TEST_F(ContinuousJogTest, GatesAndJogEnabled) {
  win->wheelFunction = WheelFunction{2};
  host.leds[83] = false;
  Turn(3, 40);
  Turn(3, 40);
  EXPECT_EQ(host.Take(), (Calls{"Status  Jog OFF. ", "Status  Jog OFF. "}));
  host.leds[83] = true;
  host.leds[805] = true;
  Turn(3, 40);
  Turn(3, 40);
  EXPECT_TRUE(host.Take().empty());
  for (double s : win->continuousJog.speedHistory)
    EXPECT_EQ(s, 0.0) << "refused polls keep the history";
  Turn(0, 0);
  EXPECT_TRUE(host.Take().empty());
  Turn(0, 0);
  EXPECT_EQ(host.Take(), Calls{"Code ENDJOG"}) << "the delta check still runs";
  host.leds[806] = true;
  Turn(3, 40);
  EXPECT_EQ(host.Take(), Calls{"Code DOJOG"});
}

TEST_F(ContinuousJogTest, CModeStartsAfterDelaySteps) {
  win->wheelFunction = WheelFunction{3};
  module.settings.DelaySteps = 25;
  host.dros[3] = 50.0;
  for (int poll = 0; poll < 4; ++poll) Turn(5, 20);
  EXPECT_TRUE(host.Take().empty());
  Turn(5, 20);
  EXPECT_EQ(host.Take(), Calls{"Code DOJOG"});
  EXPECT_EQ(Record(0).speed, 500);
  EXPECT_EQ(win->continuousJog.cModeCount, 25);
}

TEST_F(ContinuousJogTest, CModeWithoutDelayJogsAtOnce) {
  win->wheelFunction = WheelFunction{3};
  host.dros[3] = 100.0;
  Turn(1, 5);
  EXPECT_EQ(host.Take(), Calls{"Code DOJOG"});
  EXPECT_EQ(Record(0).speed, 1000);
}

TEST_F(ContinuousJogTest, CModeBurstAgainstThePreviousJogPausesFirst) {
  win->wheelFunction = WheelFunction{3};
  module.settings.DelaySteps = 10;
  host.dros[3] = 100.0;
  Turn(-4, 20);  // counting; lastJogDirection still 0
  EXPECT_TRUE(host.Take().empty());
  Turn(-4, 20);
  EXPECT_EQ(host.Take(), Calls{"Code ENDJOG"});
  EXPECT_EQ(win->continuousJog.cModeCount, 0);
  Turn(-4, 20);
  EXPECT_TRUE(host.Take().empty());
  Update(3);
  Turn(-4, 20);
  Turn(-4, 20);
  EXPECT_TRUE(host.Take().empty());
  Turn(-4, 20);
  EXPECT_EQ(host.Take(), Calls{"Code DOJOG"});
  EXPECT_EQ(Record(0).direction, 1);
}

TEST_F(ContinuousJogTest, CModeCountRestartsBeyondItsLimit) {
  win->wheelFunction = WheelFunction{3};
  host.dros[3] = 10.0;
  win->continuousJog.cModeCount = 29990;
  Turn(20, 9);
  EXPECT_EQ(win->continuousJog.cModeCount, 400);
  EXPECT_EQ(host.Take(), Calls{"Code DOJOG"});
  // A DelaySteps out of reach never lets the count wrap.
  module.settings.DelaySteps = std::numeric_limits<std::int32_t>::max();
  win->continuousJog.cModeCount = std::numeric_limits<std::int32_t>::max() - 3;
  host.Take();
  Turn(1, 9);
  EXPECT_EQ(win->continuousJog.cModeCount, std::numeric_limits<std::int32_t>::max() - 2);
  EXPECT_TRUE(host.Take().empty());
  Turn(100, 9);  // saturates at the limit, which then counts as reached
  EXPECT_EQ(win->continuousJog.cModeCount, 400);
  EXPECT_EQ(host.Take(), Calls{"Code DOJOG"});
}

TEST_F(ContinuousJogTest, CModeSpeedWithoutAFiniteValueStopsTheJog) {
  win->wheelFunction = WheelFunction{3};
  struct Case {
    double rate;
    const char* line;
    std::int32_t speed;
  } cases[] = {
      {std::numeric_limits<double>::quiet_NaN(), "Code ENDJOG", 0},
      {-std::numeric_limits<double>::infinity(), "Code ENDJOG", 0},
      {1e300, "Code DOJOG", std::numeric_limits<std::int32_t>::max()},
      {-1e300, "Code DOJOG", std::numeric_limits<std::int32_t>::min()},
  };
  for (const Case& c : cases) {
    host.dros[3] = c.rate;
    hostblock::Write<std::int32_t>(host.hostState.data(), 0x28064, 0);
    Turn(2, 9);
    EXPECT_EQ(host.Take(), Calls{c.line}) << c.rate;
    EXPECT_EQ(Record(0).speed, c.speed);
  }
}

}  // namespace
