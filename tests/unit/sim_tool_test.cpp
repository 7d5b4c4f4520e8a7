// pendant-sim as the session tests use it: its verdict on a trace and on a malformed session, and
// the report bytes its named keys stand for. A tool that always passed would make every session
// test worthless.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;

struct Result {
  int status = -1;
  std::string output;
};

fs::path LibraryPath() {
  const char* path = std::getenv("PENDANT_SIM_LIB");
  return path != nullptr ? fs::path(path) : fs::path("libpendant_sim.so");
}

class SimToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tool = LibraryPath().parent_path() / "pendant-sim";
    ASSERT_TRUE(fs::exists(tool)) << tool;
    dir = fs::temp_directory_path() /
          ("sim_tool_test_" +
           std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }

  fs::path Write(const std::string& name, const std::string& text) {
    fs::path path = dir / name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }

  // Runs the tool with `options` on a session of `text`; stdout and stderr together.
  Result Run(const std::string& text, const std::string& options = "") {
    const fs::path session = Write("s.session", text);
    const std::string command = "'" + tool.string() + "' --lib '" + LibraryPath().string() + "' " +
                                options + " '" + session.string() + "' 2>&1";
    Result result;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return result;
    std::array<char, 4096> buffer{};
    while (std::fgets(buffer.data(), buffer.size(), pipe) != nullptr)
      result.output += buffer.data();
    const int raw = pclose(pipe);
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return result;
  }

  fs::path tool;
  fs::path dir;
};

constexpr const char* kSafetySession =
    "# safety\n"
    "device add 04d8 fce4\n"
    "load\n"
    "update\n"
    "report safety\n"
    "tick\n";
constexpr const char* kSafetyTrace =
    "# safety\n"
    "Device 0 \\\\?\\hid#vid_04d8&pid_fce4#0#{4d1e55b2-f16f-11cf-88cb-001111000030}\n"
    "Name \"libpendant_sim Pendant --Norvale Ver 3.4.0\"\n"
    "InitControl 1\n"
    "DoButton 1021\n"
    "Output 00 00 00 02 00\n";

TEST_F(SimToolTest, PrintsTheTraceAndJudgesItAgainstAnExpectedFile) {
  const Result plain = Run(kSafetySession);
  EXPECT_EQ(plain.status, 0);
  EXPECT_EQ(plain.output, kSafetyTrace);

  const fs::path same = Write("same.expected", kSafetyTrace);
  const Result match = Run(kSafetySession, "--expect '" + same.string() + "'");
  EXPECT_EQ(match.status, 0) << match.output;
  EXPECT_EQ(match.output, "");

  std::string changed = kSafetyTrace;
  changed.replace(changed.find("DoButton 1021"), 13, "DoButton 1022");
  const fs::path other = Write("other.expected", changed);
  const Result mismatch = Run(kSafetySession, "--expect '" + other.string() + "'");
  EXPECT_EQ(mismatch.status, 1);
  EXPECT_NE(mismatch.output.find("-DoButton 1022\n+DoButton 1021\n"), std::string::npos)
      << mismatch.output;

  // A trace that only begins like the expected one is a mismatch too.
  const fs::path longer = Write("longer.expected", std::string(kSafetyTrace) + "DoButton 1021\n");
  EXPECT_EQ(Run(kSafetySession, "--expect '" + longer.string() + "'").status, 1);

  const fs::path written = dir / "written.expected";
  EXPECT_EQ(Run(kSafetySession, "--write-expected '" + written.string() + "'").status, 0);
  EXPECT_EQ(Run(kSafetySession, "--expect '" + written.string() + "'").status, 0);
}

TEST_F(SimToolTest, MalformedSessionsAndFailedChecksFail) {
  struct Case {
    const char* name;
    const char* session;
    int status;
  };
  const Case cases[] = {
      {"unknown command", "load\nfly\n", 2},
      {"short raw report", "report raw 00 01\n", 2},
      {"unknown key", "report W\n", 2},
      {"unplug without a device", "load\nunplug\n", 2},
      {"output check that fails",
       "device add 04d8 fce4\nload\ntick\nexpect-output 00 00 00 09 00\n", 1},
      {"output check that holds",
       "device add 04d8 fce4\nload\ntick\nexpect-output 00 00 00 01 00\n", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Result result = Run(c.session);
    EXPECT_EQ(result.status, c.status) << result.output;
  }
}

TEST_F(SimToolTest, NamedKeysAreTheReportBitsOfThePendant) {
  // Each pair must act the same on the plug-in: the named form and the raw bytes.
  struct Case {
    const char* named;
    const char* raw;
  };
  const Case cases[] = {
      {"report safety", "report raw 00 00 00 01 00 00 00 00"},
      {"report EN key1", "report raw 00 00 00 12 00 00 00 00"},
      {"report Y", "report raw 00 00 00 40 00 00 00 00"},
      {"report Z", "report raw 00 00 00 80 00 00 00 00"},
      {"report mode3", "report raw 00 00 00 00 03 00 00 00"},
      {"report EN F1", "report raw 00 00 00 10 10 00 00 00"},
      {"report EN F4", "report raw 00 00 00 10 40 00 00 00"},
      {"report wheel=+3 speed=9", "report raw 00 03 09 00 00 00 00 00"},
  };
  const std::string start =
      "device add 04d8 fce4\nload\nled 83 on\nmotion jogIncrement 0.5\nupdate\nreport\ntick\n";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.named);
    // The same release after either form, so the wheel returns the same way too.
    const auto session = [&](const char* report) {
      std::string text = start;
      text += report;
      text += "\ntick\nreport raw 00 00 00 00 00 00 00 00\ntick\n";
      return text;
    };
    const Result named = Run(session(c.named));
    const Result raw = Run(session(c.raw));
    EXPECT_EQ(named.status, 0) << named.output;
    EXPECT_EQ(named.output, raw.output);
    // Every case does something the host sees beyond the idle start.
    EXPECT_NE(named.output, Run(start).output);
  }
}

}  // namespace
