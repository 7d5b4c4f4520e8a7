// A long run of random reports, modes, host values (NaN, infinities and huge numbers among them),
// settings and Update calls through the whole input chain. Every command line the host receives
// must have one of the known shapes and carry only plain decimal numbers.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <string_view>

#include "host_windows/host_blocks.h"
#include "support/pendant_fixture.h"

namespace {

// Consumes an optionally signed integer.
bool Int(std::string_view& s) {
  std::size_t i = 0;
  if (i < s.size() && s[i] == '-') ++i;
  const std::size_t digits = i;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
  if (i == digits) return false;
  s.remove_prefix(i);
  return true;
}

// Consumes an optionally signed fixed-point number with exactly `decimals` decimals.
bool Fixed(std::string_view& s, std::size_t decimals) {
  if (!Int(s) || s.empty() || s[0] != '.') return false;
  s.remove_prefix(1);
  for (std::size_t k = 0; k < decimals; ++k) {
    if (s.empty() || s[0] < '0' || s[0] > '9') return false;
    s.remove_prefix(1);
  }
  return true;
}

bool Literal(std::string_view& s, std::string_view text) {
  if (s.substr(0, text.size()) != text) return false;
  s.remove_prefix(text.size());
  return true;
}

bool Axis(std::string_view& s) {
  if (s.empty() || std::string_view("XYZABC").find(s[0]) == std::string_view::npos) return false;
  s.remove_prefix(1);
  return true;
}

// " <axis> <fixed4>" to the end of the line.
bool AxisMove(std::string_view s) {
  return Literal(s, " ") && Axis(s) && Literal(s, " ") && Fixed(s, 4) && s.empty();
}

bool WellFormed(std::string_view line) {
  if (line == "G90" || line == "DOJOG" || line == "ENDJOG") return true;
  std::string_view s = line;
  if (Literal(s, "M")) return Int(s) && s.empty();
  if (!Literal(s, "G91G1 ")) return false;
  if (Literal(s, "X")) return Fixed(s, 4) && Literal(s, " Y") && Fixed(s, 4) && s == " ";
  if (Literal(s, "F")) {
    std::string_view asInt = s, as4 = s, as6 = s;
    if (Int(asInt) && AxisMove(asInt)) return true;
    if (Fixed(as4, 4) && AxisMove(as4)) return true;
    return Fixed(as6, 6) && AxisMove(as6);
  }
  return Axis(s) && Literal(s, " ") && Fixed(s, 4) && s.empty();
}

TEST(WheelRandom, WellFormedLinesOnly) {
  EXPECT_TRUE(WellFormed("G91G1 F100 Y 0.0030"));
  EXPECT_TRUE(WellFormed("G91G1 X-0.0000 Y-0.0100 "));
  EXPECT_FALSE(WellFormed("G91G1 F100 Y 0,0030"));
  EXPECT_FALSE(WellFormed("G91G1 F100 Y nan"));
  EXPECT_FALSE(WellFormed("G91G1 X0.0050 Y0.0087"));

  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const double values[] = {0.0,  1.0,  0.001, -0.01, 19.5, 20.0,   50.0,   100.0,
                           250,  -5.0, nan,   inf,   -inf, 1e308,  -1e308, 1e-300,
                           12.3, 4e38, 3.0,   90.0,  30.0, 1000.0, 2.5,    1e9};
  const std::int32_t ints[] = {0,
                               1,
                               5,
                               25,
                               100,
                               -100,
                               30001,
                               1000,
                               250,
                               1200,
                               -1,
                               32767,
                               std::numeric_limits<std::int32_t>::max(),
                               std::numeric_limits<std::int32_t>::min()};
  const char* texts[] = {"",        "0",     "0.0001", "12.3", "abc",
                         " -2.5e1", "1e999", "100",    "nan",  "1e39"};
  const int leds[] = {83, 804, 805, 806, 15, 14, 57, 16, 163, 800, 11};
  const int dros[] = {3, 22, 46, 74, 818, 821};

  std::mt19937 rng(20261208);
  auto pick = [&rng](const auto& pool) { return pool[rng() % std::size(pool)]; };

  PendantFixture f;
  Module& m = f.module;
  std::size_t lines = 0;
  for (int poll = 0; poll < 1000000; ++poll) {
    if (poll % 1000 == 0) {  // a new set of settings and host block values now and then
      PendantSettings& s = m.settings;
      s.Vel = static_cast<std::int16_t>(static_cast<int>(rng() % 16) - 3);
      s.SlowDownRate = static_cast<std::int16_t>(static_cast<int>(rng() % 6) - 2);
      s.DelaySteps = pick(ints);
      s.StepJogRate = pick(ints);
      s.Xreverse = rng() & 1;
      s.Yreverse = rng() & 1;
      s.Zreverse = rng() & 1;
      s.SelectAAxis = rng() & 1;
      s.SelectBAxis = rng() & 1;
      s.SelectCAxis = rng() & 1;
      s.UseFRO = rng() & 1;
      s.UseSOV = rng() & 1;
      for (int k = 0; k < 9; ++k) {
        s.S[k] = pick(texts);
        s.F[k] = pick(texts);
        s.C[k] = pick(ints);
        s.Fp[k] = pick(ints);
        s.Sp[k] = pick(ints);
        s.Spd[k] = pick(ints);
      }
      hostblock::Write(f.host.hostMotion.data(), hostblock::kJogIncrement, pick(values));
      hostblock::Write(f.host.hostConfig.data(), hostblock::kXyRotationDegrees,
                       rng() % 3 == 0 ? pick(values) : 0.0);
      hostblock::Write<std::int32_t>(f.host.hostConfig.data(), hostblock::kIncrementalMode,
                                     rng() & 1);
      for (int axis = 0; axis < 6; ++axis) {
        hostblock::Write(f.host.hostMotion.data(), hostblock::kAxisVelocity + 8 * axis,
                         pick(values));
        hostblock::Write(f.host.hostMotion.data(), hostblock::kAxisJogSpeedMax + 4 * axis,
                         pick(ints));
      }
    }
    if (rng() % 50 == 0) {
      for (int led : leds) f.host.leds[led] = rng() % 4 != 0 || led == 83;
      for (int dro : dros) f.host.dros[dro] = pick(values);
      f.host.hostState[hostblock::kJogInhibit] = rng() % 10 == 0;
      hostblock::Write<std::int32_t>(f.host.hostState.data(), hostblock::kCommandQueueIn,
                                     static_cast<std::int32_t>(rng() % 3));
      f.win->axis.axisChangeHold = rng() % 8 == 0;
    }
    if (rng() % 200 == 0) m.wheelMode = WheelMode{static_cast<std::int32_t>(rng() % 6) + 1};
    if (rng() % 97 == 0)
      f.win->continuousJog.endJogCountdown = 0;  // the link's poll would count it down

    std::array<std::uint8_t, 8> report{};
    const std::uint32_t r = rng();
    report[1] =
        static_cast<std::uint8_t>(f.win->wheel.lastWheelCount + static_cast<int>(r % 21) - 10);
    if (r % 37 == 0) report[1] = static_cast<std::uint8_t>(rng());  // a wild jump
    report[2] = (r >> 8) % 3 == 0 ? 0 : static_cast<std::uint8_t>(rng());
    report[3] = static_cast<std::uint8_t>((r >> 16) % 5 == 0 ? rng() : (r >> 16) & 0x10);
    report[4] = (r >> 24) % 7 == 0 ? static_cast<std::uint8_t>(rng()) : 0;
    f.Decode(report);
    if (rng() % 3 == 0) f.Update(static_cast<int>(rng() % 4));

    for (const std::string& call : f.host.calls) {
      if (call.rfind("Code ", 0) != 0) continue;
      ++lines;
      const std::string_view line = std::string_view(call).substr(5);
      ASSERT_TRUE(WellFormed(line)) << "poll " << poll << ": " << line;
      ASSERT_LT(line.size(), 1024u);
    }
    f.host.calls.clear();
  }
  EXPECT_GT(lines, 10000u);
}

}  // namespace
