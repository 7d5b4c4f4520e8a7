// The override knobs: relative change of 0.5 percent per step, the limits, and which direction
// each knob follows.
#include <gtest/gtest.h>

#include <limits>
#include <optional>

#include "jog/wheel.h"
#include "support/pendant_fixture.h"

namespace {

struct KnobCase {
  int wheelFunction;
  double start;
  int fromCounter, toCounter;
  std::optional<double> written;
};

TEST(OverrideKnob, ArithmeticAtTheLimits) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const KnobCase cases[] = {
      {5, 100.0, 0, 5, 102.5},
      {5, 249.0, 0, 10, 250.0},  // 261.45 limited
      {5, 250.0, 0, 1, std::nullopt},
      {5, 300.0, 0, 1, std::nullopt},
      {5, 1.0, 5, 4, 1.0},  // 0.995 raised to the lower limit
      {5, 0.0, 5, 4, std::nullopt},
      {5, 0.0, 0, 4, 0.0},
      {5, 200.0, 20, 0, 180.0},
      {4, 0.2, 127, 0, 0.1},  // 0.073 raised
      {4, 50.0, 0, 10, 52.5},
      {4, 99.0, 0, 127, 100.0},
      {6, 100.0, 0, 2, 101.0},
      {6, 100.0, 0, 0, std::nullopt},  // no steps
      {5, nan, 0, 2, std::nullopt},
      {5, -inf, 0, 2, std::nullopt},
      {6, inf, 3, 0, std::nullopt},
  };
  for (const KnobCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.wheelFunction << " from " << c.start << " by "
                                    << c.toCounter - c.fromCounter);
    PendantFixture f;
    const int readout = c.wheelFunction == 4 ? 3 : c.wheelFunction == 5 ? 821 : 74;
    f.win->wheelFunction = WheelFunction{c.wheelFunction};
    f.win->wheel.lastWheelCount = c.fromCounter;
    f.host.dros[readout] = c.start;
    f.report[1] = static_cast<std::uint8_t>(c.toCounter);
    f.Wheel();
    const auto calls = f.host.Take();
    if (!c.written) {
      EXPECT_TRUE(calls.empty());
      continue;
    }
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_DOUBLE_EQ(f.host.dros[readout], *c.written);
  }
}

TEST(OverrideKnob, SpindleFollowsTheAxisReverseOthersDoNot) {
  for (int function : {4, 5, 6}) {
    PendantFixture f;
    const int readout = function == 4 ? 3 : function == 5 ? 821 : 74;
    f.win->wheelFunction = WheelFunction{function};
    f.module.settings.Xreverse = 1;
    f.host.dros[readout] = 50.0;
    f.report[1] = 10;  // counter rising
    f.Wheel();
    EXPECT_DOUBLE_EQ(f.host.dros[readout], function == 6 ? 47.5 : 52.5) << function;
  }
}

}  // namespace
