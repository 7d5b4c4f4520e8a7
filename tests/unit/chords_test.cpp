// EN chords and the screen key, driven through the whole input chain.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "support/pendant_fixture.h"

namespace {

using Calls = std::vector<std::string>;

constexpr std::uint8_t kKey1 = 0x02;
constexpr std::uint8_t kKey2 = 0x04;
constexpr std::uint8_t kKey3 = 0x08;
constexpr std::uint8_t kEn = 0x10;

std::array<std::uint8_t, 8> Keys(std::uint8_t byte3) {
  return {0, 0, 0, byte3, 0, 0, 0, 0};
}

struct ChordsTest : ::testing::Test, PendantFixture {
  ChordsTest() {
    module.wheelMode =
        WheelMode::VelocityJog;  // EN leaves the wheel function alone in velocity mode
    module.settings.ScreenSel = {1, 2, 3};
    Decode(Keys(0));
    host.Take();
  }

  // Holds key 3 alone for `ticks` host ticks and lets it go; returns what the host saw.
  Calls ScreenKey(int ticks) {
    Decode(Keys(kKey3));
    Update(ticks);
    Decode(Keys(kKey3));
    Decode(Keys(0));
    return host.Take();
  }
};

TEST_F(ChordsTest, Chord1PressesOncePerHold) {
  Decode(Keys(kKey1));  // key 1 alone does nothing
  for (int i = 0; i < 4; ++i) Decode(Keys(kEn | kKey1 | kKey2));
  EXPECT_EQ(host.Take(), (Calls{"DoButton 110", "DoButton 1000"}));

  Decode(Keys(kEn));
  Decode(Keys(kEn | kKey1));
  EXPECT_EQ(host.Take(), (Calls{"DoButton 110"}));
}

// LED 804 lit on the first ask only, as when 1001 leaves the mode it names.
std::uint8_t Led804OnceCb(std::int32_t led) {
  static int asks = 0;
  if (led == -1) asks = 0;
  return led == 804 && asks++ == 0 ? 1 : 0;
}

TEST_F(ChordsTest, Chord2ChoosesCodesByIndicators) {
  struct Case {
    bool led806, led804;
    Calls expected;
  } cases[] = {
      {true, true, {"DoButton 1000"}},
      {false, true, {"DoButton 1001", "DoButton 1000"}},
      {false, false, {"DoButton 1000"}},
  };
  for (const Case& c : cases) {
    host.leds[806] = c.led806;
    host.leds[804] = c.led804;
    Decode(Keys(kEn | kKey2));
    Decode(Keys(kEn | kKey2));
    Decode(Keys(kEn));
    EXPECT_EQ(host.Take(), c.expected) << c.led806 << c.led804;
  }

  Led804OnceCb(-1);
  module.host.callbacks.GetLED = Led804OnceCb;
  Decode(Keys(kEn | kKey2));
  EXPECT_EQ(host.Take(), (Calls{"DoButton 1001"}));
}

TEST_F(ChordsTest, Chord2SuppressesTheFollowCodeOfTheNextChord3Only) {
  Decode(Keys(kEn | kKey3));
  Decode(Keys(kEn));
  EXPECT_EQ(host.Take(), (Calls{"DoButton 1003", "DoButton 1002"}));

  Decode(Keys(kEn | kKey2));
  Decode(Keys(kEn));
  Decode(Keys(kEn | kKey3));
  Decode(Keys(kEn | kKey3));
  Decode(Keys(kEn));
  Decode(Keys(kEn | kKey3));
  Decode(Keys(0));
  EXPECT_EQ(host.Take(),
            (Calls{"DoButton 1000", "DoButton 1003", "DoButton 1003", "DoButton 1002"}));
}

TEST_F(ChordsTest, ScreenKeyActsByTicksHeld) {
  struct Case {
    int ticks;
    Calls expected;
  } cases[] = {
      {0, {"DoButton 323"}},
      {2, {"DoButton 323"}},
      {3, {"DoButton 2"}},
      {19, {"DoButton 3"}},
      {20, {}},
      {1500, {}},
  };
  for (const Case& c : cases) EXPECT_EQ(ScreenKey(c.ticks), c.expected) << c.ticks;
}

TEST(Chords, ScreenSwitchCyclesConfiguredSlots) {
  struct Case {
    std::array<std::int16_t, 3> sel;
    Calls expected;  // five switches
  } cases[] = {
      {{1, 2, 3}, {"DoButton 2", "DoButton 3", "DoButton 1", "DoButton 2", "DoButton 3"}},
      {{1, 0, 3}, {"DoButton 3", "DoButton 1", "DoButton 3", "DoButton 1", "DoButton 3"}},
      {{0, 0, 3}, {"DoButton 3"}},
      {{0, 0, 0}, {}},
      {{4, 5, 6}, {"DoButton 6", "DoButton 5", "DoButton 7", "DoButton 6", "DoButton 5"}},
  };
  for (const Case& c : cases) {
    PendantFixture f;
    f.module.settings.ScreenSel = c.sel;
    Calls got;
    for (int i = 0; i < 5; ++i) {
      f.Decode(Keys(kKey3));
      f.Update(5);
      f.Decode(Keys(0));
      for (auto& call : f.host.Take()) got.push_back(call);
    }
    EXPECT_EQ(got, c.expected) << c.sel[0] << c.sel[1] << c.sel[2];
  }
}

TEST_F(ChordsTest, ScreenSelOutsideListKeepsSlotCode) {
  EXPECT_EQ(ScreenKey(5), (Calls{"DoButton 2"}));
  module.settings.ScreenSel[1] = 42;
  module.settings.ScreenSel[2] = -1;
  EXPECT_EQ(ScreenKey(5), (Calls{"DoButton 3"}));
  EXPECT_EQ(ScreenKey(5), (Calls{"DoButton 1"}));
  EXPECT_EQ(ScreenKey(5), (Calls{"DoButton 2"}));
}

TEST_F(ChordsTest, ScreenKeyWithEnAddedBeforeRelease) {
  Decode(Keys(kKey3));
  Decode(Keys(kKey3 | kEn));
  Update(1);
  Decode(Keys(kKey3 | kEn));
  Decode(Keys(kKey3));  // EN let go first: still no release
  EXPECT_EQ(host.Take(), (Calls{"DoButton 1003", "DoButton 1002"}));
  Decode(Keys(kEn));  // key 3 up, EN down again: still waiting
  EXPECT_EQ(host.Take(), Calls{});
  Decode(Keys(0));
  EXPECT_EQ(host.Take(), (Calls{"DoButton 323"}));
}

}  // namespace
