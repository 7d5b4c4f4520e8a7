// Mode buttons, wheel function and the function buttons, driven through the whole input chain.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "settings/lists.h"
#include "support/pendant_fixture.h"

namespace {

using Calls = std::vector<std::string>;

constexpr std::uint8_t kEn = 0x10;
// Byte 4 bits of F1..F5.
constexpr std::uint8_t kF[5] = {0x10, 0x20, 0x08, 0x40, 0x80};

// Only the button presses: leaving a jog mode also ends the host's jog, which is not ours to check.
Calls Presses(const Calls& calls) {
  Calls out;
  for (const auto& c : calls)
    if (c.rfind("DoButton ", 0) == 0) out.push_back(c);
  return out;
}

std::array<std::uint8_t, 8> Report(std::uint8_t byte3, std::uint8_t byte4 = 0) {
  return {0, 0, 0, byte3, byte4, 0, 0, 0};
}

struct ButtonsTest : ::testing::Test, PendantFixture {
  ButtonsTest() {
    Decode(Report(0));
    host.Take();
  }

  // EN already held: presses button `f` (0..4 for F1..F5) for `ticks` and lets it go.
  Calls EnPress(int f, int ticks = 1) {
    Decode(Report(kEn));
    host.Take();
    Decode(Report(kEn, kF[f]));
    Update(ticks);
    Decode(Report(kEn));
    return host.Take();
  }

  void Tap(int f) {
    Decode(Report(0, kF[f]));
    Update(1);
    Decode(Report(0));
  }
};

TEST(Buttons, FirstPollSendsNoWheelFunctionChange) {
  PendantFixture fresh;
  fresh.Decode(Report(kEn));
  EXPECT_EQ(fresh.win->wheelFunction, WheelFunction{12});
  EXPECT_EQ(fresh.host.Take(), Calls{});
}

TEST_F(ButtonsTest, ModeButtonsToggleWithinTheirPair) {
  struct Case {
    std::int32_t from;
    std::uint8_t button;
    std::int32_t to;
  } cases[] = {{1, 1, 2}, {2, 1, 1}, {3, 1, 1}, {3, 2, 4}, {4, 2, 3},
               {1, 2, 3}, {1, 3, 5}, {5, 3, 6}, {6, 3, 5}, {6, 1, 1}};
  for (const Case& c : cases) {
    module.wheelMode = WheelMode{c.from};
    Decode(Report(0));
    host.Take();
    win->axis.selectedAxis = 2;
    for (int i = 0; i < 3; ++i) Decode(Report(0, c.button));  // held: toggles once
    EXPECT_EQ(module.wheelMode, WheelMode{c.to}) << c.from << " " << int{c.button};
    EXPECT_EQ(Presses(host.Take()), Calls{"DoButton 336"}) << c.from << " " << int{c.button};
    Decode(Report(0));
    win->axis.selectedAxis = 0;
  }
}

TEST_F(ButtonsTest, ModeButtonWaitsForEnToBeLetGo) {
  Decode(Report(kEn));
  Decode(Report(kEn, 3));
  Decode(Report(kEn, 3));
  EXPECT_EQ(module.wheelMode, WheelMode::StepJog);
  EXPECT_EQ(host.Take(), Calls{"DoButton 334"});  // EN press only
  Decode(Report(0, 3));
  EXPECT_EQ(module.wheelMode, WheelMode::FeedOverride);
  EXPECT_EQ(host.Take(), Calls{"DoButton 334"});  // one change: 12 -> 5
  Decode(Report(0, 3));
  EXPECT_EQ(host.Take(), Calls{});
}

TEST_F(ButtonsTest, EnChangesWheelFunctionExceptInVelocityMode) {
  struct Case {
    std::int32_t mode, up, held;
  } cases[] = {{1, 10, 12}, {2, 2, 2}, {3, 3, 13}, {4, 4, 14}, {5, 5, 15}, {6, 6, 16}};
  for (const Case& c : cases) {
    module.wheelMode = WheelMode{c.mode};
    Decode(Report(0));
    host.Take();
    win->axis.selectedAxis = 4;
    Decode(Report(kEn));
    EXPECT_EQ(win->wheelFunction, WheelFunction{c.held});
    Decode(Report(kEn));
    Decode(Report(0));
    EXPECT_EQ(win->wheelFunction, WheelFunction{c.up});
    const Calls expected = c.up == c.held ? Calls{} : Calls{"DoButton 338", "DoButton 338"};
    EXPECT_EQ(host.Take(), expected) << c.mode;
  }
}

TEST_F(ButtonsTest, EnShortPressPerformsConfiguredAction) {
  struct Case {
    const char* what;
    int f;
    std::int16_t setting;
    Calls expected;
  } cases[] = {
      {"F2 NONE: default", 1, 0, {"DoButton 1017"}},
      {"F4 NONE: default", 3, 0, {"DoButton 103"}},
      {"host code", 3, 25, {"DoButton 103"}},
      {"entry with tabs", 4, 52, {"DoButton 1007"}},
      {"last entry", 0, 65, {"DoButton 104"}},
      {"code above the reserved range", 1, 26, {"DoButton 1029"}},
      {"OEM 1", 2, 2, {"DoButton 1234", "Status  OEM Function #1 executed. "}},
      {"OEM 2", 2, 3, {"DoButton 0", "Status OEM Function #2 executed."}},
      {"OEM 4", 2, 5, {"DoButton -2", "Status OEM Function #4 executed."}},
      {"macro 1", 4, 6, {"Code M-32768", "Status  Custom Macro #1 executed. "}},
      {"macro 4", 4, 9, {"Code M12", "Status  Custom Macro #4 executed. "}},
      {"separator", 3, 1, {}},
      {"separator", 3, 62, {}},
      {"past the list", 1, 66, {}},
      {"no selection", 1, -1, {}},
      {"far past the list", 1, 32767, {}},
  };
  module.settings.OEM = {1234, 0, 7, -2};
  module.settings.Macro = {-32768, 0, 0, 12};
  for (const Case& c : cases) {
    module.settings.BUTTON = {};
    module.settings.BUTTON[static_cast<std::size_t>(c.f)] = c.setting;
    EXPECT_EQ(EnPress(c.f, 6), c.expected) << c.what;
  }
}

TEST_F(ButtonsTest, EnPressOfSevenTicksDoesNothing) {
  EXPECT_EQ(EnPress(1, 7), Calls{});
  EXPECT_EQ(EnPress(1, 6), Calls{"DoButton 1017"});
}

TEST_F(ButtonsTest, DefaultsDependOnAxisAndWheelMode) {
  struct Case {
    int f;
    std::int32_t axis, mode;
    Calls expected;
  } cases[] = {
      {0, 0, 1, {"DoButton 1008"}},
      {0, 3, 1, {"DoButton 1011"}},
      {0, 4, 1, {}},
      {0, 5, 1, {}},
      {2, 0, 1, {}},
      {2, 0, 3, {}},
      {2, 0, 4, {"SetDRO 3 100"}},
      {2, 0, 5, {"DoButton 1014"}},
      {2, 0, 6, {"DoButton 183"}},
  };
  for (const Case& c : cases) {
    module.wheelMode = WheelMode{c.mode};
    win->axis.selectedAxis = c.axis;
    EXPECT_EQ(EnPress(c.f), c.expected) << c.f << " axis " << c.axis << " mode " << c.mode;
  }
}

TEST_F(ButtonsTest, ButtonsActInOrderF3F1F2F4F5) {
  module.settings.BUTTON = {31, 63, 25, 19, 18};  // 256, 1017, 103, 160, 323
  Decode(Report(kEn));
  host.Take();
  Decode(Report(kEn, 0xF8));
  Decode(Report(kEn));
  EXPECT_EQ(host.Take(), (Calls{"DoButton 103", "DoButton 256", "DoButton 1017", "DoButton 160",
                                "DoButton 323"}));
}

TEST_F(ButtonsTest, F5CyclesTheReadout) {
  struct Case {
    double dro46;
    bool led16, led163;
    Calls expected;
  } cases[] = {
      {1.0, false, false, {"SetDRO 46 2"}},
      {2.0, true, false, {"SetDRO 46 3"}},
      {3.0, false, true, {"SetDRO 46 4"}},
      {4.0, false, false, {"DoButton 256"}},
      {4.0, true, false, {"DoButton 256", "DoButton 333"}},
      {4.0, false, true, {"DoButton 333", "SetDRO 46 1"}},
      {2.5, false, false, {}},
      {2.5, true, true, {"DoButton 256", "DoButton 333"}},
  };
  for (const Case& c : cases) {
    host.dros[46] = c.dro46;
    host.leds[16] = c.led16;
    host.leds[163] = c.led163;
    EXPECT_EQ(EnPress(4), c.expected) << c.dro46 << c.led16 << c.led163;
  }
}

// Pressed with EN, released after EN: the latch stays set, so a press that comes together with EN
// does not restart the press timer, and its release judges the press by whatever zeroed the timer
// last.
// A press belongs to the layer it began in. An EN press that outlasts EN does nothing, neither
// its action nor a tap; a press begun without EN ends with its end code whatever EN did.
TEST_F(ButtonsTest, APressEndsInTheLayerItBeganIn) {
  host.leds[14] = true;  // no mode switch to muddle the trace
  Decode(Report(kEn));
  Decode(Report(kEn, kF[1]));
  Decode(Report(0, kF[1]));
  Decode(Report(0));
  Decode(Report(0, kF[1]));  // would be a tap-and-hold had the stray press counted as a tap
  Decode(Report(0));
  EXPECT_EQ(host.Take(), (Calls{"DoButton 334", "DoButton 334"}));  // EN's own edges only

  Decode(Report(kEn, kF[1]));  // the next EN press is an ordinary one
  Decode(Report(kEn));
  EXPECT_EQ(host.Take(), (Calls{"DoButton 334", "DoButton 1017"}));

  // Tap F1 and hold it, press EN, let go of F1, then of EN: the hold ends at once, and F1's EN
  // action (zero the axis) is not run.
  Decode(Report(0));
  Tap(0);
  Decode(Report(0, kF[0]));
  Decode(Report(kEn, kF[0]));
  Decode(Report(kEn));
  Decode(Report(0));
  EXPECT_EQ(host.Take(), (Calls{"DoButton 334", "DoButton 311", "DoButton 334", "DoButton 336",
                                "DoButton 334"}));
}

TEST_F(ButtonsTest, TapWindowOpensForTicksZeroToSeven) {
  struct Case {
    int ticksAfterTap;
    bool starts;
  } cases[] = {{0, true}, {7, true}, {8, false}, {9, false}, {40, false}};
  host.leds[14] = true;  // no mode switch to muddle the trace
  for (const Case& c : cases) {
    Tap(3);
    // One poll after the gap: after 9 or 40 ticks it never saw tick 8.
    Update(c.ticksAfterTap);
    Decode(Report(0));
    Decode(Report(0, kF[3]));
    Decode(Report(0));
    const Calls expected = c.starts ? Calls{"DoButton 307", "DoButton 334"} : Calls{};
    EXPECT_EQ(host.Take(), expected) << c.ticksAfterTap;
    Update(30);
    Decode(Report(0));
    host.Take();
  }
}

TEST_F(ButtonsTest, LongFirstPressDoesNotArm) {
  Decode(Report(0, kF[3]));
  Update(7);
  Decode(Report(0));
  Decode(Report(0, kF[3]));
  Decode(Report(0));
  EXPECT_EQ(host.Take(), Calls{});
}

TEST(Buttons, TapAndHoldSwitchesHostModeAndRestoresIt) {
  struct Case {
    int litLed;  // 0: none
    Calls atStart;
    Calls atRestore;
  } cases[] = {
      {14, {}, {"DoButton 204"}},
      {15, {"DoButton 204"}, {"DoButton 205"}},
      {57, {"DoButton 204"}, {"DoButton 327"}},
      {0, {"DoButton 204"}, {}},
  };
  for (const Case& c : cases) {
    PendantFixture f;
    f.Decode(Report(0));
    if (c.litLed != 0) f.host.leds[c.litLed] = true;
    for (int b : {3, 1}) {  // F4, then F2 in the same burst
      f.Decode(Report(0, kF[b]));
      f.Decode(Report(0));
      f.Decode(Report(0, kF[b]));
      f.Update(3);
      f.Decode(Report(0, kF[b]));
      f.Decode(Report(0));
      f.host.leds = {{14, true}};  // the host is in mode 14 during the burst
    }
    Calls expected = c.atStart;
    for (const char* call : {"DoButton 307", "DoButton 334", "DoButton 309", "DoButton 335"})
      expected.push_back(call);
    EXPECT_EQ(f.host.Take(), expected) << c.litLed;
    f.Update(14);
    f.Decode(Report(0));
    EXPECT_EQ(f.host.Take(), Calls{}) << c.litLed;
    f.Update(1);
    f.Decode(Report(0));
    f.Decode(Report(0));
    EXPECT_EQ(f.host.Take(), c.atRestore) << c.litLed;
  }
}

TEST_F(ButtonsTest, RestoreSurvivesTicksThePollsDidNotSee) {
  host.leds[15] = true;
  Tap(1);
  Decode(Report(0, kF[1]));
  Decode(Report(0));
  host.Take();
  Update(40);
  Decode(Report(0));
  Decode(Report(0));
  EXPECT_EQ(host.Take(), Calls{"DoButton 205"});
}

}  // namespace

namespace {

TEST(Lists, LeadingNumberTakesLeadingDigitsOnly) {
  struct Case {
    const char* text;
    std::int32_t number;
  } cases[] = {
      {"899  , ------------------------------ ", 899},
      {"25,10", 25},
      {"0, NONE", 0},
      {" 5", 0},
      {"", 0},
      {nullptr, 0},
      {"99999999999, far too long", 2147483647},
  };
  for (const Case& c : cases)
    EXPECT_EQ(LeadingNumber(c.text), c.number) << (c.text ? c.text : "null");
}

}  // namespace
