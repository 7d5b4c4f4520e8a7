// Preset stepping: one flick moves one nonzero preset, skipping zeros and wrapping around, per
// member of the preset table (step sizes, slow jog rates, feed overrides or feed rates, spindle).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "jog/presets.h"
#include "jog/wheel.h"
#include "support/pendant_fixture.h"

namespace {

using Calls = std::vector<std::string>;

class PresetTest : public ::testing::Test, protected PendantFixture {
 protected:
  PresetTest() { module.settings.C = {1, 2, 5, 10, 20, 50, 100, 0, 0}; }
  // One flick: a poll with the wheel turning, then one at rest.
  void Flick(int steps) {
    Poll(steps, 30);
    Poll(0, 0);
  }
  void Poll(int steps, int speed) {
    report[1] = static_cast<std::uint8_t>(win->wheel.lastWheelCount + steps);
    report[2] = static_cast<std::uint8_t>(speed);
    Wheel();
  }
};

TEST_F(PresetTest, SlowJogRatesStepSkippingZerosAndWrapping) {
  win->wheelFunction = WheelFunction{14};
  Flick(1);
  Flick(1);
  Flick(1);
  EXPECT_EQ(host.Take(), (Calls{"SetDRO 3 2", "SetDRO 3 5", "SetDRO 3 10"}));
  win->presets.slowJogPresetIndex = 7;
  Flick(2);
  EXPECT_EQ(host.Take(), Calls{"SetDRO 3 1"});
  Flick(-1);
  EXPECT_EQ(host.Take(), Calls{"SetDRO 3 100"});
  EXPECT_EQ(win->presets.slowJogPresetIndex, 7);
}

TEST_F(PresetTest, OnlyTheCurrentPresetSetOrNoneSetChangesNothing) {
  win->wheelFunction = WheelFunction{14};
  module.settings.C = {0, 0, 7, 0, 0, 0, 0, 0, 0};
  win->presets.slowJogPresetIndex = 3;
  Flick(1);
  Flick(-1);
  module.settings.C = {};
  Flick(1);
  EXPECT_TRUE(host.Take().empty());
  EXPECT_EQ(win->presets.slowJogPresetIndex, 3);
}

TEST_F(PresetTest, IndexOutsideTheListIsResetWithoutWriting) {
  for (int bad : {0, 10, -5}) {
    win->wheelFunction = WheelFunction{14};
    win->presets.slowJogPresetIndex = bad;
    Flick(1);
    EXPECT_TRUE(host.Take().empty()) << bad;
    EXPECT_EQ(win->presets.slowJogPresetIndex, 1);
    Flick(1);
    EXPECT_EQ(host.Take(), Calls{"SetDRO 3 2"});
    win->presets.slowJogPresetIndex = bad;
  }
}

TEST_F(PresetTest, AContinuousTurnMovesOnePreset) {
  win->wheelFunction = WheelFunction{14};
  for (int poll = 0; poll < 20; ++poll) Poll(3, 40);
  EXPECT_EQ(host.Take(), Calls{"SetDRO 3 2"});
  // A wheel at rest after the burst has run out does nothing.
  Update(3);
  Poll(0, 0);
  Poll(0, 0);
  EXPECT_TRUE(host.Take().empty());
}

TEST_F(PresetTest, GateHoldsTheFlickUntilItOpens) {
  win->wheelFunction = WheelFunction{14};
  host.leds[804] = true;
  Poll(2, 30);
  Poll(2, 30);
  EXPECT_TRUE(host.Take().empty());
  host.leds[804] = false;
  Poll(2, 30);  // wheelMovingBefore was not updated while gated
  EXPECT_EQ(host.Take(), Calls{"SetDRO 3 2"});
  // Step sizes have no gate.
  win->wheelFunction = WheelFunction{12};
  module.settings.S = {"0.0001", "0.001", "", "", "", "", "", "", ""};
  host.leds[805] = true;
  win->presets.stepPresetIndex = 2;
  Poll(0, 0);
  Flick(1);
  EXPECT_EQ(host.Take(), Calls{"SetDRO 828 " + FormatDouble(static_cast<float>(0.0001))});
}

TEST_F(PresetTest, TextPresetsInSinglePrecision) {
  win->wheelFunction = WheelFunction{15};
  module.settings.UseFRO = 1;
  module.settings.F = {"100", "12.3", "250", "abc", "", "  -0", "0.0", "1e999", "+.5x"};
  win->presets.feedRatePresetIndex = 1;
  Flick(1);
  Flick(1);
  Flick(1);
  Flick(1);
  // 12.3 arrives as its single-precision value; 1e999 is beyond any range and counts as 0.
  EXPECT_EQ(host.Take(), (Calls{"SetDRO 818 12.300000190734863", "SetDRO 818 250", "SetDRO 818 0.5",
                                "SetDRO 818 100"}));
  // UseFRO clear: the feed override percentages with their own index.
  module.settings.UseFRO = 0;
  module.settings.Fp = {0, 0, 0, 0, 80, 0, 0, 0, 0};
  Flick(1);
  EXPECT_EQ(host.Take(), Calls{"SetDRO 821 80"});
  EXPECT_EQ(win->presets.feedRatePresetIndex, 1);
}

TEST_F(PresetTest, FeedRatesFollowTheAxisReverseSpindleDoesNot) {
  module.settings.Xreverse = 1;
  module.settings.UseFRO = 1;
  module.settings.F = {"10", "20", "", "", "", "", "", "", "90"};
  module.settings.Sp = {10, 20, 0, 0, 0, 0, 0, 0, 90};
  win->wheelFunction = WheelFunction{15};
  Flick(1);
  win->wheelFunction = WheelFunction{16};
  Flick(1);
  EXPECT_EQ(host.Take(), (Calls{"SetDRO 818 90", "SetDRO 74 20"}));
}

TEST_F(PresetTest, SpindleGroupsShareTheirIndex) {
  win->wheelFunction = WheelFunction{16};
  module.settings.Sp = {0, 0, 0, 110, 0, 0, 0, 0, 0};
  module.settings.Spd = {500, 0, 1200, 0, 0, 0, 0, 0, 0};
  win->presets.spindlePresetIndex = 4;
  module.settings.UseSOV = 1;
  Flick(1);
  Flick(1);
  EXPECT_EQ(host.Take(), (Calls{"SetDRO 817 500", "SetDRO 817 1200"}));
  module.settings.UseSOV = 0;
  Flick(1);
  EXPECT_EQ(host.Take(), Calls{"SetDRO 74 110"});
}

TEST(LeadingDecimal, ParsesTheLeadingNumberOnly) {
  struct Case {
    const char* text;
    double value;
  } cases[] = {
      {"12.3", 12.3}, {"  7mm", 7.0}, {"\t-2.5e1x", -25.0}, {"+.25", 0.25}, {"1.", 1.0},
      {"1e", 1.0},    {"", 0.0},      {"abc", 0.0},         {"-", 0.0},     {".", 0.0},
      {"inf", 0.0},   {"nan", 0.0},   {"0x10", 0.0},        {"1e999", 0.0}, {"1,5", 1.0},
      {nullptr, 0.0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(LeadingDecimal(c.text), c.value) << (c.text ? c.text : "(null)");
  EXPECT_EQ(LeadingDecimalSingle("1e39"), 0.0f) << "beyond single precision";
  EXPECT_EQ(LeadingDecimalSingle("0.0001"), 0.0001f);
}

}  // namespace
