// LinuxCNC's rendering through the real input chain: reports decoded by the link of a
// LinuxcncPendant, the pin values checked.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "host_linuxcnc/ini_settings.h"
#include "host_linuxcnc/linuxcnc_pendant.h"
#include "input/input_report.h"
#include "support/fake_platform.h"

namespace {

using Report = std::array<std::uint8_t, 8>;

struct Buttons {
  std::uint8_t counter = 0;
  std::uint8_t speed = 0;
  std::uint32_t word0Keys = 0;  // input_report masks of word0
  std::uint32_t word1 = 0;
};

Report MakeReport(const Buttons& b) {
  const std::uint32_t w0 = (std::uint32_t{b.counter} << input_report::kWheelCounterShift) |
                           (std::uint32_t{b.speed} << input_report::kWheelSpeedShift) | b.word0Keys;
  Report r{};
  for (int i = 0; i < 4; ++i) {
    r[i] = static_cast<std::uint8_t>(w0 >> (8 * i));
    r[4 + i] = static_cast<std::uint8_t>(b.word1 >> (8 * i));
  }
  return r;
}

PendantSettings TestSettings() {
  PendantSettings s;
  LinuxcncConfig ignored;
  LoadIniSettings([](const char*, const char*) -> const char* { return nullptr; },
                  [](const char*, const char*) {}, s, ignored);
  s.S = {"0.01", "0.1", "1", "0", "0", "0", "0", "0", "0"};
  return s;
}

struct Rig {
  FakePlatform platform;
  LinuxcncConfig config;
  std::unique_ptr<LinuxcncPendant> pendant;
  Buttons state;

  explicit Rig(PendantSettings settings = TestSettings()) {
    config.maxJogSpeed[0] = config.maxJogSpeed[1] = config.maxJogSpeed[2] = 3000.0;
    pendant = std::make_unique<LinuxcncPendant>(platform, settings, config,
                                                std::make_unique<NullBus>(), nullptr);
    pendant->link->wheel.lastWheelCount = 0;
  }
  PendantPins& pins() { return pendant->pins; }
  LinuxcncMachine& machine() { return pendant->linuxcncHost; }

  // One poll's report.
  void Poll() {
    pendant->ticks.Update();
    const Report r = MakeReport(state);
    pendant->link->DecodeInput(r.data());
  }
  void Press(std::uint32_t word0Key, std::uint32_t word1Key = 0) {
    state.word0Keys |= word0Key;
    state.word1 |= word1Key;
    Poll();
    state.word0Keys &= ~word0Key;
    state.word1 &= ~word1Key;
    Poll();
  }
  void Turn(int counts) {
    state.counter = static_cast<std::uint8_t>(state.counter + counts);
    state.speed = 20;
    Poll();
  }
  void Still(int polls) {
    state.speed = 0;
    for (int i = 0; i < polls; ++i) Poll();
  }
};

TEST(LinuxcncMachine, StepTurnMovesCountsOfTheSelectedAxisAtTheStepSize) {
  struct Case {
    int axisKey;  // 0..2: X, Y, Z
    bool reversed;
    int counts;
  };
  const Case cases[] = {{0, false, 7},  {0, false, -7}, {1, false, 40},
                        {2, false, -3}, {0, true, 5},   {2, true, -12}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "axis " << c.axisKey << " reversed " << c.reversed << " counts " << c.counts);
    PendantSettings settings = TestSettings();
    settings.Xreverse = settings.Zreverse = c.reversed ? 1 : 0;
    Rig rig(settings);
    rig.Poll();
    rig.Press(input_report::kAxisKeyMasks[c.axisKey]);
    rig.Turn(c.counts);
    const int expected = c.reversed ? -c.counts : c.counts;
    for (int a = 0; a < kPinAxisCount; ++a) {
      EXPECT_EQ(rig.pins().axis[a].jogCounts, a == c.axisKey ? expected : 0) << "axis " << a;
    }
    EXPECT_NEAR(rig.pins().axis[c.axisKey].jogScale, 0.01, 1e-9);
    EXPECT_TRUE(rig.pins().axis[c.axisKey].jogEnable);
  }
}

TEST(LinuxcncMachine, CountsTurnedWhileMotionCannotJogAreDroppedNotReplayed) {
  struct Case {
    const char* name;
    bool ownAction;  // the pendant's go-to-zero, rather than a program started elsewhere
  };
  for (const Case c : {Case{"a program", false}, Case{"the pendant's go-to-zero", true}}) {
    SCOPED_TRACE(c.name);
    Rig rig;
    rig.Poll();
    if (c.ownAction) rig.machine().GotoZeros();
    rig.pins().coordMode = rig.pins().programIsRunning = true;
    rig.Turn(10);
    rig.Turn(-3);
    rig.pins().coordMode = rig.pins().programIsRunning = false;
    rig.Still(2);
    EXPECT_EQ(rig.pins().axis[0].jogCounts, 0);
    // The wheel works again at once, from where it stands.
    rig.Turn(4);
    EXPECT_EQ(rig.pins().axis[0].jogCounts, 4);
  }
}

// Motion travels every count at the axis's speed; the pendant passes on only what the axis can
// travel within half a second of the last count, at any step size.
TEST(LinuxcncMachine, WheelBacklogIsBoundedToHalfASecondOfTravel) {
  struct Case {
    const char* name;
    double step;
    std::vector<int> turns;  // counts per 25 ms poll
    std::int32_t expected;   // counts passed on
  };
  // 3000 units/min: 25 units in half a second.
  const Case cases[] = {
      {"fine steps all travel", 0.01, {50, 50, 50}, 150},
      {"coarse flick: 25 of 100", 1.0, {100}, 25},
      {"coarse, turned on while the axis travels", 1.0, {20, 20, 20}, 20 + 6 + 1},
      {"turned back: taken at once", 1.0, {25, -40}, 25 - 40},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    std::uint64_t now = 1000000;
    rig.machine().SetTime(now);
    rig.Poll();
    rig.machine().SetValue(MachineValue::StepSize, c.step);
    const std::int32_t before = rig.pins().axis[0].jogCounts;
    const std::int32_t droppedBefore = rig.pins().droppedCounts;
    std::int32_t turned = 0;
    for (const int counts : c.turns) {
      now += 25000;
      rig.machine().SetTime(now);
      rig.Turn(counts);
      turned += counts;
    }
    EXPECT_EQ(rig.pins().axis[0].jogCounts - before, c.expected);
    EXPECT_EQ(rig.pins().droppedCounts - droppedBefore, std::abs(turned - c.expected));
  }
}

TEST(LinuxcncMachine, VelocityModeJogsWhileTheWheelTurnsAndEndsWhenItStops) {
  Rig rig;
  rig.Poll();
  rig.Press(0, 1);  // mode button 1: velocity jogging
  ASSERT_EQ(rig.pendant->wheelMode, WheelMode::VelocityJog);
  // Before homing halui jogs joints only; after it, axes.
  for (const bool homed : {false, true}) {
    SCOPED_TRACE(homed ? "homed" : "not homed");
    rig.pins().isHomed = homed;
    for (int i = 0; i < 4; ++i) rig.Turn(-2);
    const JogAxisPins& x = rig.pins().axis[0];
    EXPECT_EQ(x.jogMinus, homed);
    EXPECT_EQ(x.jointMinus, !homed);
    EXPECT_FALSE(x.jogPlus || x.jointPlus);
    EXPECT_GT(rig.pins().jogSpeed, 0.0);
    EXPECT_LE(rig.pins().jogSpeed, 3000.0);
    rig.Still(3);
    EXPECT_FALSE(x.jogMinus || x.jogPlus || x.jointMinus || x.jointPlus);
  }
}

TEST(LinuxcncMachine, EstopFollowsConnectionSafetyAndAskedStops) {
  struct Case {
    bool connected;
    bool latched;
    bool estop;
  };
  for (const Case c : {Case{false, false, true}, Case{false, true, true}, Case{true, true, true},
                       Case{true, false, false}}) {
    Rig rig;
    rig.machine().Publish(c.connected, c.latched);
    EXPECT_EQ(rig.pins().estop, c.estop) << c.connected << c.latched;
  }
  // The input pressed and let go within one poll: the stop stands until the machine shows it.
  Rig rig;
  rig.machine().SetTime(1000);
  const Report on = MakeReport({0, 0, input_report::kSafetyMask, 0});
  const Report off = MakeReport({});
  rig.pendant->link->DecodeInput(on.data());
  rig.pendant->link->DecodeInput(off.data());
  rig.machine().Publish(true, rig.pendant->latches.safety.phase == SafetyPhase::Latched);
  EXPECT_TRUE(rig.pins().estop);
  rig.pins().estopIsActivated = true;
  rig.machine().Publish(true, false);
  EXPECT_FALSE(rig.pins().estop);
}

TEST(LinuxcncMachine, OverrideKnobCountsAtDirectValueAndItsOwnRequestsAddUp) {
  Rig rig;
  LinuxcncMachine& m = rig.machine();
  m.SetTime(1);
  OverridePins& fo = rig.pins().feedOverride;
  m.SetValue(MachineValue::FeedOverride, 120.0);
  EXPECT_TRUE(fo.directValue && fo.countEnable);
  EXPECT_NEAR(fo.counts * fo.scale, 1.2, 1e-9);
  // halui still shows the old value: the knob goes on from what it asked for.
  EXPECT_NEAR(m.Value(MachineValue::FeedOverride), 120.0, 1e-9);
  m.SetValue(MachineValue::FeedOverride, 99.5);
  EXPECT_NEAR(fo.counts * fo.scale, 0.995, 1e-9);
  fo.value = 0.995;
  EXPECT_NEAR(m.Value(MachineValue::FeedOverride), 99.5, 1e-9);
  // Another program moves it; asking for the same value again must still reach halui.
  fo.value = 0.8;
  EXPECT_NEAR(m.Value(MachineValue::FeedOverride), 80.0, 1e-9);
  const std::int32_t before = fo.counts;
  m.SetValue(MachineValue::FeedOverride, 99.5);
  EXPECT_NE(fo.counts, before);
  EXPECT_NEAR(fo.counts * fo.scale, 0.995, 1e-9);
}

TEST(LinuxcncMachine, FunctionButtonsPulseTheirActionsForTheHoldTime) {
  PendantSettings settings = TestSettings();
  Rig rig(settings);
  rig.config.buttonAction[0] = static_cast<std::int8_t>(PendantAction::Stop);
  rig.pendant->config = rig.config;
  LinuxcncMachine& m = rig.machine();
  m.SetTime(1000);
  EXPECT_TRUE(m.RunConfiguredAction(0));
  EXPECT_FALSE(m.RunConfiguredAction(1));  // built-in: the core zeroes the axis
  m.ZeroAxis(2);
  const auto stop = static_cast<int>(PendantAction::Stop);
  const auto zeroZ = static_cast<int>(PendantAction::ZeroZ);
  m.Publish(true, false);
  EXPECT_TRUE(rig.pins().action[stop] && rig.pins().action[zeroZ]);
  m.SetTime(1000 + rig.config.actionHoldUs);
  m.Publish(true, false);
  EXPECT_FALSE(rig.pins().action[stop] || rig.pins().action[zeroZ]);
}

TEST(LinuxcncIniSettings, ProfileKeysActionNamesAndSpeedLimits) {
  const auto find = [](const char* section, const char* key) -> const char* {
    const std::string s = section, k = key;
    if (s == "PENDANT" && k == "S1") return "0.5";
    if (s == "PENDANT" && k == "Xreverse") return "1";
    if (s == "PENDANT" && k == "DelaySteps") return "many";
    if (s == "PENDANT" && k == "BUTTON0") return "goto-zero";
    if (s == "PENDANT" && k == "BUTTON1") return "";
    if (s == "PENDANT" && k == "BUTTON2") return "launch";
    if (s == "AXIS_X" && k == "MAX_VELOCITY") return "50";
    if (s == "DISPLAY" && k == "MAX_LINEAR_VELOCITY") return "20";
    if (s == "DISPLAY" && k == "MAX_FEED_OVERRIDE") return "1.5";
    return nullptr;
  };
  int warnings = 0;
  PendantSettings settings;
  LinuxcncConfig config;
  LoadIniSettings(
      find, [&](const char*, const char*) { ++warnings; }, settings, config);
  EXPECT_EQ(settings.S[0], "0.5");
  EXPECT_EQ(settings.S[1], "0.001");  // the profile's default
  EXPECT_EQ(settings.Xreverse, 1);
  EXPECT_EQ(settings.DelaySteps, 25);
  EXPECT_EQ(config.buttonAction[0], static_cast<std::int8_t>(PendantAction::GotoZero));
  EXPECT_EQ(config.buttonAction[1], kNoAction);
  EXPECT_EQ(config.buttonAction[2], kNoAction);
  EXPECT_EQ(config.buttonAction[3], kBuiltInAction);
  EXPECT_EQ(warnings, 2);
  EXPECT_DOUBLE_EQ(config.maxJogSpeed[0], 3000.0);
  EXPECT_DOUBLE_EQ(config.maxJogSpeed[1], 1200.0);
  EXPECT_DOUBLE_EQ(config.feedOverrideMax, 150.0);
}

}  // namespace
