// Step jogging: relative move lines, held-back steps and their catch-up, rotated X/Y steps, the
// slow-rate step function, gates, and the restore of the feed values after a burst.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "host_windows/host_blocks.h"
#include "jog/wheel.h"
#include "support/pendant_fixture.h"

namespace {

using Calls = std::vector<std::string>;

class StepJogTest : public ::testing::Test, protected PendantFixture {
 protected:
  StepJogTest() {
    win->wheelFunction = WheelFunction{10};
    host.leds[83] = true;
    module.settings.StepJogRate = 100;
    Increment(0.001);
  }
  void Increment(double v) {
    hostblock::Write(host.hostMotion.data(), hostblock::kJogIncrement, v);
  }
  void Rotation(double deg) {
    hostblock::Write(host.hostConfig.data(), hostblock::kXyRotationDegrees, deg);
  }
  // Moves the wheel counter to `counter` and runs the wheel step of the poll.
  void Wheel(int counter) {
    report[1] = static_cast<std::uint8_t>(counter);
    PendantFixture::Wheel();
  }
};

struct PlainCase {
  const char* name;
  int axis;
  std::int32_t stepJogRate;
  int fromCounter, toCounter;
  Calls expected;
};

TEST_F(StepJogTest, PlainStepLines) {
  const PlainCase cases[] = {
      {"rate, forward", 1, 100, 0, 3, {"SetDRO 821 100", "Code G91G1 F100 Y 0.0030", "Code G90"}},
      {"host feed, forward", 1, 0, 0, 3, {"Code G91G1 F25.0000 Y 0.0030", "Code G90"}},
      {"backward", 0, 100, 10, 8, {"SetDRO 821 100", "Code G91G1 F100 X -0.0020", "Code G90"}},
      {"backward across the wrap",
       5,
       40,
       1,
       255,
       {"SetDRO 821 100", "Code G91G1 F40 C -0.0020", "Code G90"}},
  };
  for (const PlainCase& c : cases) {
    SCOPED_TRACE(c.name);
    PendantFixture f;
    f.win->wheelFunction = WheelFunction{10};
    f.win->axis.selectedAxis = c.axis;
    f.win->wheel.lastWheelCount = c.fromCounter;
    f.host.leds[83] = true;
    f.host.dros[818] = 25.0;
    f.module.settings.StepJogRate = c.stepJogRate;
    hostblock::Write(f.host.hostMotion.data(), hostblock::kJogIncrement, 0.001);
    f.report[1] = static_cast<std::uint8_t>(c.toCounter);
    f.Wheel();
    EXPECT_EQ(f.host.Take(), c.expected);
  }
}

TEST_F(StepJogTest, HostCallOrderOfAFirstStep) {
  host.recordReads = true;
  host.dros[818] = 40.0;
  host.dros[821] = 80.0;
  Wheel(1);
  EXPECT_EQ(host.Take(),
            (Calls{"GetLED 804", "GetLED 805", "GetLED 83", "GetDRO 818", "GetDRO 821",
                   "SetDRO 821 100", "GetDRO 22", "Code G91G1 F100 X 0.0010", "Code G90"}));
  // Later steps keep the saved values; with StepJogRate 0 the feed is read for the line.
  module.settings.StepJogRate = 0;
  Wheel(2);
  EXPECT_EQ(host.Take(), (Calls{"GetLED 804", "GetLED 805", "GetLED 83", "GetDRO 22", "GetDRO 818",
                                "Code G91G1 F40.0000 X 0.0010", "Code G90"}));
}

TEST_F(StepJogTest, CatchUpOfTwelveHeldSteps) {
  host.dros[22] = 20.0;
  Wheel(12);
  EXPECT_EQ(module.windowsHost.stepJog.pendingSteps, 12);
  EXPECT_EQ(host.Take(), Calls{"SetDRO 821 100"});
  host.dros[22] = 0.0;
  Wheel(12);
  EXPECT_EQ(host.Take(), (Calls{"Code G91G1 F100 X 0.0050", "Code G90"}));
  EXPECT_EQ(module.windowsHost.stepJog.pendingSteps, 7);
  Wheel(12);
  EXPECT_EQ(host.Take(), (Calls{"Code G91G1 F100 X 0.0050", "Code G90", "Code G91G1 F100 X 0.0020",
                                "Code G90"}));
  EXPECT_EQ(module.windowsHost.stepJog.pendingSteps, 0);
  Wheel(12);
  EXPECT_TRUE(host.Take().empty());
}

TEST_F(StepJogTest, CatchUpOfAMultipleOfFiveEndsWithAZeroLine) {
  module.settings.StepJogRate = 0;
  module.windowsHost.stepJog.restoreAbsolute = false;
  host.dros[22] = 25.0;
  Wheel(251);  // five steps backward
  EXPECT_EQ(module.windowsHost.stepJog.pendingSteps, -5);
  host.dros[22] = 3.0;
  Wheel(251);
  EXPECT_EQ(host.Take(), (Calls{"Code G91G1 X -0.0050", "Code G91G1 X 0.0000"}));
}

TEST_F(StepJogTest, RotatedSteps) {
  struct Case {
    double degrees;
    int axis;
    Calls expected;
  } cases[] = {
      {90.0, 0, {"Code G91G1 X-0.0000 Y-0.0100 ", "Code G90"}},
      {30.0, 1, {"Code G91G1 X0.0050 Y0.0087 ", "Code G90"}},
      {30.0, 2, {"SetDRO 821 100", "Code G91G1 F100 Z 0.0100", "Code G90"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.degrees);
    PendantFixture f;
    f.win->wheelFunction = WheelFunction{10};
    f.win->axis.selectedAxis = c.axis;
    f.host.leds[83] = true;
    f.module.settings.StepJogRate = 100;
    hostblock::Write(f.host.hostMotion.data(), hostblock::kJogIncrement, 0.01);
    hostblock::Write(f.host.hostConfig.data(), hostblock::kXyRotationDegrees, c.degrees);
    f.report[1] = 1;
    f.Wheel();
    EXPECT_EQ(f.host.Take(), c.expected);
    // Rotated steps neither save nor touch the feed values.
    EXPECT_EQ(f.module.windowsHost.stepJog.savedValid, c.axis == 2 ? 1 : 0);
  }
}

TEST_F(StepJogTest, RotatedStepsRefusedByReadOut22AreDropped) {
  Rotation(45.0);
  host.dros[22] = 20.0;
  Wheel(4);
  EXPECT_TRUE(host.Take().empty());
  EXPECT_EQ(module.windowsHost.stepJog.pendingSteps, 0);
}

TEST_F(StepJogTest, AxisChangeHoldKeepsTheLineButSendsG90) {
  win->axis.axisChangeHold = true;
  Wheel(2);
  EXPECT_EQ(host.Take(), (Calls{"SetDRO 821 100", "Code G90"}));
  module.windowsHost.stepJog.restoreAbsolute = false;
  Wheel(3);
  EXPECT_EQ(host.Take(), Calls{"SetDRO 821 100"});
}

TEST_F(StepJogTest, MotionGateAndJogEnabled) {
  struct Case {
    bool l804, l805, l806, l83;
    Calls expected;
  } cases[] = {
      {true, false, false, true, {}},
      {false, true, false, true, {}},
      {true, true, true, true, {"SetDRO 821 100", "Code G91G1 F100 X 0.0010", "Code G90"}},
      {false, false, false, false, {"Status  Jog OFF. "}},
      {true, false, false, false, {}},  // the gate is asked first
  };
  for (const Case& c : cases) {
    PendantFixture f;
    f.win->wheelFunction = WheelFunction{10};
    f.module.settings.StepJogRate = 100;
    hostblock::Write(f.host.hostMotion.data(), hostblock::kJogIncrement, 0.001);
    f.host.leds = {{804, c.l804}, {805, c.l805}, {806, c.l806}, {83, c.l83}};
    f.report[1] = 1;
    f.Wheel();
    EXPECT_EQ(f.host.Take(), c.expected);
    EXPECT_EQ(f.module.windowsHost.stepJog.pendingSteps, 0) << "refused steps are dropped";
  }
}

TEST_F(StepJogTest, LeavingVelocityModeEndsTheJogFirst) {
  win->continuousJog.leavingContinuous = 1;
  win->continuousJog.endJogCountdown = 2;
  win->axis.selectedAxis = 2;
  Wheel(1);
  EXPECT_EQ(host.Take(), Calls{"Code ENDJOG"});
  EXPECT_EQ(
      host_state::ReadAxisJog<std::uint8_t>(module.host, 2, hostblock::kAxisJogRecordStopRequest),
      1);
  win->continuousJog.endJogCountdown = 0;
  Wheel(2);
  EXPECT_EQ(host.Take(),
            (Calls{"Code ENDJOG", "SetDRO 821 100", "Code G91G1 F100 Z 0.0010", "Code G90"}));
  EXPECT_EQ(win->continuousJog.leavingContinuous, 0);
  Wheel(3);
  EXPECT_EQ(host.Take().front(), "SetDRO 821 100");
}

TEST_F(StepJogTest, SlowRateStepFeed) {
  win->wheelFunction = WheelFunction{13};
  module.settings.StepJogRate = 0;
  hostblock::Write(host.hostMotion.data(), hostblock::kAxisVelocity, 2.5);
  host.dros[3] = 10.0;
  host.dros[22] = 50.0;  // not consulted by this function
  Wheel(1);
  EXPECT_EQ(host.Take(), (Calls{"SetDRO 821 100", "Code G91G1 F15.000000 X 0.0010", "Code G90"}));
  // The feed is kept in single precision.
  hostblock::Write(host.hostMotion.data(), hostblock::kAxisVelocity, 0.1);
  host.dros[3] = 100.0;
  Wheel(2);
  EXPECT_EQ(host.Take()[1], "Code G91G1 F6.000000 X 0.0010");
  Wheel(2);  // no steps, nothing
  EXPECT_TRUE(host.Take().empty());
}

TEST_F(StepJogTest, RestoreAfterABurst) {
  struct Case {
    int wheelFunction;
    std::int32_t stepJogRate;
    Calls restore;
  } cases[] = {
      {10, 100, {"SetDRO 818 40", "SetDRO 821 80"}},
      {10, 0, {"SetDRO 818 40"}},
      // The slow-rate step forces 821 to 100 at every rate, so it is always put back.
      {13, 0, {"SetDRO 818 40", "SetDRO 821 80"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.wheelFunction * 1000 + c.stepJogRate);
    PendantFixture f;
    f.win->wheelFunction = WheelFunction{c.wheelFunction};
    f.module.settings.StepJogRate = c.stepJogRate;
    f.host.leds[83] = true;
    f.host.dros[818] = 40.0;
    f.host.dros[821] = 80.0;
    hostblock::Write(f.host.hostMotion.data(), hostblock::kJogIncrement, 0.001);
    f.report[1] = 1;
    f.Wheel();
    f.host.dros[818] = 7.0;  // changed by the moves; the saved values must win
    f.report[1] = 2;
    f.Wheel();
    f.host.Take();
    f.Update(2);
    f.Wheel();
    EXPECT_TRUE(f.host.Take().empty()) << "countdown still running";
    f.Update();
    f.Wheel();
    EXPECT_EQ(f.host.Take(), c.restore);
    EXPECT_EQ(f.module.windowsHost.stepJog.savedValid, 0);
    f.Update(5);
    f.Wheel();
    EXPECT_TRUE(f.host.Take().empty()) << "restored once";
  }
}

TEST_F(StepJogTest, UnwritableValuesSendNothing) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    const char* name;
    double increment, feed818, rotation;
    std::int32_t rate;
  } cases[] = {
      {"NaN increment", nan, 10.0, 0.0, 100},
      {"infinite increment", -inf, 10.0, 0.0, 100},
      {"infinite host feed", 0.001, inf, 0.0, 0},
      {"NaN rotation", 0.001, 10.0, nan, 100},
      {"increment overflowing in the sum", 1e308, 10.0, 0.0, 100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PendantFixture f;
    f.win->wheelFunction = WheelFunction{10};
    f.module.settings.StepJogRate = c.rate;
    f.host.leds[83] = true;
    f.host.dros[818] = c.feed818;
    hostblock::Write(f.host.hostMotion.data(), hostblock::kJogIncrement, c.increment);
    hostblock::Write(f.host.hostConfig.data(), hostblock::kXyRotationDegrees, c.rotation);
    f.report[1] = 2;
    f.Wheel();
    for (const std::string& call : f.host.Take())
      EXPECT_EQ(call.rfind("Code", 0), std::string::npos) << call;
  }
}

TEST_F(StepJogTest, HugeFiniteDistanceIsSentInFull) {
  Increment(1e300);
  Wheel(1);
  const Calls calls = host.Take();
  ASSERT_EQ(calls.size(), 3u);
  const std::string& line = calls[1];
  EXPECT_EQ(line.rfind("Code G91G1 F100 X 1000000000000000052504760255204420248704", 0), 0u);
  EXPECT_EQ(line.size(), std::string("Code G91G1 F100 X ").size() + 301 + 5);
}

}  // namespace
