// Command lines for the host: printf-style formats written without the process locale and never
// sent cut short.
#include <gtest/gtest.h>

#include <clocale>
#include <limits>
#include <locale>
#include <string>
#include <vector>

#include "host_windows/host_blocks.h"
#include "jog/command_line.h"
#include "jog/wheel.h"
#include "support/pendant_fixture.h"

namespace {

TEST(CommandLine, Formats) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    const char* format;
    std::vector<LineArg> args;
    const char* expected;  // nullptr: the line cannot be written
  } cases[] = {
      {"G91G1 F%d %s %.4f",
       {LineArg::Int(100), LineArg::Text("Y"), LineArg::Real(0.003)},
       "G91G1 F100 Y 0.0030"},
      {"G91G1 F%f %s %.4f",
       {LineArg::Real(15.0), LineArg::Text("X"), LineArg::Real(-0.00005)},
       "G91G1 F15.000000 X -0.0001"},
      {"G91G1 X%.4f Y%.4f ",
       {LineArg::Real(-1e-10), LineArg::Real(2.0)},
       "G91G1 X-0.0000 Y2.0000 "},
      {"M%d%%", {LineArg::Int(-7)}, "M-7%"},
      {"G90", {}, "G90"},
      {"%.4f", {LineArg::Real(nan)}, nullptr},
      {"%.4f", {LineArg::Real(-inf)}, nullptr},
      {"%d", {LineArg::Real(1.0)}, nullptr},  // kind mismatch
      {"%d %d", {LineArg::Int(1)}, nullptr},  // missing argument
      {"%d", {LineArg::Int(1), LineArg::Int(2)}, nullptr},
      {"%s", {LineArg::Text(nullptr)}, nullptr},
      {"%x", {LineArg::Int(1)}, nullptr},
      {"%.f", {LineArg::Real(1.0)}, nullptr},
  };
  for (const Case& c : cases) {
    CommandLine line;
    bool ok = false;
    switch (c.args.size()) {
      case 0:
        ok = line.Format(c.format, {});
        break;
      case 1:
        ok = line.Format(c.format, {c.args[0]});
        break;
      case 2:
        ok = line.Format(c.format, {c.args[0], c.args[1]});
        break;
      default:
        ok = line.Format(c.format, {c.args[0], c.args[1], c.args[2]});
    }
    EXPECT_EQ(ok, c.expected != nullptr) << c.format;
    if (ok && c.expected) {
      EXPECT_STREQ(line.c_str(), c.expected);
    }
  }
}

TEST(CommandLine, LargestValuesFitAndOverlongLinesAreRefused) {
  const double big = std::numeric_limits<double>::max();
  CommandLine line;
  ASSERT_TRUE(line.Format("G91G1 F%f %s %.4f",
                          {LineArg::Real(-big), LineArg::Text("Z"), LineArg::Real(-big)}));
  EXPECT_EQ(std::string(line.c_str()).size(), 6u + 1 + 309 + 1 + 6 + 3 + 1 + 309 + 1 + 4 + 1);
  const std::string longText(CommandLine::kCapacity, 'a');
  EXPECT_FALSE(line.Format("G91G1 %s", {LineArg::Text(longText.c_str())}));
}

// A host running under a locale with a decimal comma still gets '.'.
TEST(CommandLine, IndependentOfTheProcessLocale) {
  struct CommaPoint : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
  };
  const std::locale previousGlobal =
      std::locale::global(std::locale(std::locale::classic(), new CommaPoint));
  const std::string previousC = std::setlocale(LC_ALL, nullptr);
  const bool commaLocale = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr ||
                           std::setlocale(LC_ALL, "de_DE") != nullptr;

  PendantFixture f;
  f.win->wheelFunction = WheelFunction{10};
  f.win->axis.selectedAxis = 1;
  f.host.leds[83] = true;
  f.module.settings.StepJogRate = 0;
  f.host.dros[818] = 12.5;
  hostblock::Write(f.host.hostMotion.data(), hostblock::kJogIncrement, 0.001);
  f.report[1] = 3;
  f.Wheel();
  const auto calls = f.host.Take();

  std::setlocale(LC_ALL, previousC.c_str());
  std::locale::global(previousGlobal);
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls[0], "Code G91G1 F12.5000 Y 0.0030") << (commaLocale ? "de_DE" : "facet only");
}

}  // namespace
