// The safety input's three states and the output report's bytes.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "input/input_report.h"
#include "input/output_report.h"
#include "input/safety_input.h"
#include "support/pendant_fixture.h"

namespace {

struct SafetyTest : ::testing::Test, PendantFixture {
  // One poll's safety step with the input at `active` and LED 800 at `led800`.
  std::vector<std::string> Step(bool active, bool led800) {
    host.leds[800] = led800;
    CheckSafetyInput(module, module.latches.safety,
                     input_report::Words{active ? input_report::kSafetyMask : 0, 0});
    return host.Take();
  }
};

TEST_F(SafetyTest, PressesOnActivationWhileUnconfirmedAndOnRelease) {
  const std::vector<std::string> press = {"DoButton 1021"};
  struct Poll {
    bool active;
    bool led800;
    bool pressed;
  };
  const Poll polls[] = {
      {false, false, false},                       // inactive from start-up: Idle stays
      {false, true, false},  {true, false, true},  // Idle -> Latched
      {true, false, true},  // Latched, host not confirming: pressed every poll
      {true, true, false},  // Latched and confirmed
      {true, true, false},   {false, true, true},  // Latched -> Released
      {false, false, false},                       // a second release report presses nothing
      {true, true, true},  // Released -> Latched, LED 800 not asked before latching
      {false, false, true},
  };
  int n = 0;
  for (const Poll& p : polls) {
    SCOPED_TRACE("poll " + std::to_string(n++));
    EXPECT_EQ(Step(p.active, p.led800), p.pressed ? press : std::vector<std::string>{});
  }
}

TEST_F(SafetyTest, LedIsAskedOnlyWhileLatched) {
  host.recordReads = true;
  EXPECT_EQ(Step(true, true), (std::vector<std::string>{"DoButton 1021"}));
  EXPECT_EQ(Step(true, true), (std::vector<std::string>{"GetLED 800"}));
  EXPECT_EQ(Step(false, true), (std::vector<std::string>{"DoButton 1021"}));
}

TEST_F(SafetyTest, OtherBitsAreNotTheSafetyInput) {
  host.leds[800] = true;
  CheckSafetyInput(module, module.latches.safety,
                   input_report::Words{~input_report::kSafetyMask, ~0u});
  EXPECT_TRUE(host.Take().empty());
  EXPECT_EQ(module.latches.safety.phase, SafetyPhase::Idle);
}

struct OutputTest : ::testing::Test, PendantFixture {
  std::array<std::uint8_t, kOutputReportSize> Fill() {
    std::uint8_t out[kOutputReportSize];
    std::fill(std::begin(out), std::end(out), 0xEE);
    FillOutputReport(module, win->axis.selectedAxis, out);
    return std::to_array(out);
  }
};

TEST_F(OutputTest, ReportBytesFromLedsAxisModeAndHeartbeat) {
  struct Case {
    const char* name;
    std::vector<std::int32_t> lit;
    std::int32_t axis;
    std::int32_t wheelMode;
    std::int16_t heartbeat;
    std::array<std::uint8_t, 5> expected;
  };
  const Case cases[] = {
      {"all off, X, step mode", {}, 0, 1, 2, {0, 0, 0, 2, 0}},
      {"804 and 805 read as 806", {804, 805}, 0, 1, 2, {0, 0x0C, 0, 2, 0}},
      {"806 alone", {806}, 0, 1, 2, {0, 0x0C, 0, 2, 0}},
      {"804 alone", {804}, 1, 2, 3, {0, 0x14, 3, 3, 0}},
      {"C and LED 800", {800}, 5, 6, 255, {0, 0x51, 5, 255, 0}},
      {"every LED", {800, 11, 804, 805, 806}, 2, 3, 17, {0, 0x2F, 1, 17, 0}},
      {"unrelated LEDs", {801, 12, 803, 807}, 3, 4, 2, {0, 0x30, 4, 2, 0}},
      {"axis out of range", {11}, 6, 5, 2, {0, 0x02, 2, 2, 0}},
      {"negative axis", {}, -1, 5, 2, {0, 0, 2, 2, 0}},
      {"wheel mode 0", {}, 4, 0, 2, {0, 0x40, 0, 2, 0}},
      {"wheel mode 7", {}, 0, 7, 2, {0, 0, 0, 2, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    host.leds.clear();
    for (std::int32_t led : c.lit) host.leds[led] = true;
    win->axis.selectedAxis = c.axis;
    module.wheelMode = WheelMode{c.wheelMode};
    module.ticks.heartbeat = c.heartbeat;
    EXPECT_EQ(Fill(), c.expected);
  }
}

TEST_F(OutputTest, HeartbeatByteMovesWithUpdateNotWithPolls) {
  EXPECT_EQ(Fill()[3], 1);
  for (int i = 0; i < 3; ++i) Fill();
  EXPECT_EQ(Fill()[3], 1);
  for (int i = 1; i <= 300; ++i) {
    Update();
    ASSERT_GE(Fill()[3], 2) << "after " << i << " updates";
  }
}

TEST_F(OutputTest, LedsAreAskedInOrderAndNothingElseIsCalled) {
  host.recordReads = true;
  Fill();
  EXPECT_EQ(host.Take(), (std::vector<std::string>{"GetLED 800", "GetLED 11", "GetLED 804",
                                                   "GetLED 805", "GetLED 806"}));
}

}  // namespace
