// The simulation library seen from outside, as a host and pendant-sim see it: loaded with dlopen,
// driven only through its exports.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "host_windows/host_blocks.h"
#include "pendant_sim.h"
#include "support/sim_library.h"

namespace {

namespace fs = std::filesystem;

// The public header publishes the data-block layout for hosts; it must be the plug-in's own.
static_assert(PENDANT_SIM_AXIS_COUNT == kAxisCount);
static_assert(PENDANT_SIM_HOST_STATE_SIZE == hostblock::kHostStateSize);
static_assert(PENDANT_SIM_COMMAND_QUEUE_IN == hostblock::kCommandQueueIn);
static_assert(PENDANT_SIM_COMMAND_QUEUE_OUT == hostblock::kCommandQueueOut);
static_assert(PENDANT_SIM_AXIS_JOG == hostblock::kAxisJogBase);
static_assert(PENDANT_SIM_AXIS_JOG_STRIDE == hostblock::kAxisJogStride);
static_assert(PENDANT_SIM_AXIS_JOG_SPEED == hostblock::kAxisJogRecordSpeed);
static_assert(PENDANT_SIM_AXIS_JOG_SPEED_MAX == hostblock::kAxisJogRecordSpeedMax);
static_assert(PENDANT_SIM_AXIS_JOG_AUX == hostblock::kAxisJogRecordAux);
static_assert(PENDANT_SIM_AXIS_JOG_STOP_REQUEST == hostblock::kAxisJogRecordStopRequest);
static_assert(PENDANT_SIM_AXIS_JOG_ACTIVE == hostblock::kAxisJogRecordActive);
static_assert(PENDANT_SIM_AXIS_JOG_DIRECTION == hostblock::kAxisJogRecordDirection);
static_assert(PENDANT_SIM_JOG_INHIBIT == hostblock::kJogInhibit);
static_assert(PENDANT_SIM_HOST_CONFIG_SIZE == hostblock::kHostConfigSize);
static_assert(PENDANT_SIM_INCREMENTAL_MODE == hostblock::kIncrementalMode);
static_assert(PENDANT_SIM_XY_ROTATION_DEGREES == hostblock::kXyRotationDegrees);
static_assert(PENDANT_SIM_HOST_MOTION_SIZE == hostblock::kHostMotionSize);
static_assert(PENDANT_SIM_MOTION_QUEUE_IN == hostblock::kMotionQueueIn);
static_assert(PENDANT_SIM_MOTION_QUEUE_OUT == hostblock::kMotionQueueOut);
static_assert(PENDANT_SIM_AXIS_VELOCITY == hostblock::kAxisVelocity);
static_assert(PENDANT_SIM_AXIS_JOG_SPEED_MAX_IN == hostblock::kAxisJogSpeedMax);
static_assert(PENDANT_SIM_AXIS_JOG_AUX_IN == hostblock::kAxisJogAuxIn);
static_assert(PENDANT_SIM_JOG_INCREMENT == hostblock::kJogIncrement);
static_assert(PENDANT_SIM_MOTION_BUSY == hostblock::kMotionBusy);
static_assert(PENDANT_SIM_STATUS_MESSAGE == hostblock::kStatusMessage);

constexpr const char* kNameSuffix = " Pendant --Norvale Ver 3.4.0";

// Report byte 3 and 4 bits.
constexpr unsigned char kSafety = 0x01;
constexpr unsigned char kModeButton2 = 0x02;

std::vector<std::string> calls;

void RecordDoButton(short code) {
  calls.push_back("DoButton " + std::to_string(code));
}
void RecordSetDRO(int dro, double) {
  calls.push_back("SetDRO " + std::to_string(dro));
}
double RecordGetDRO(int dro) {
  calls.push_back("GetDRO " + std::to_string(dro));
  return 0.0;
}
unsigned char RecordGetLED(int led) {
  calls.push_back("GetLED " + std::to_string(led));
  return 0;
}
void RecordSetLED() {
  calls.push_back("SetLED");
}
void RecordCode(const char* line) {
  calls.push_back(std::string("Code ") + line);
}
void RecordStatus(const char* text) {
  calls.push_back(std::string("Status ") + text);
}
void RecordMessageBox(const char* text) {
  calls.push_back(std::string("MessageBox ") + text);
}
void RecordTrail(const char* line) {
  calls.push_back(std::string("Trail ") + line);
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class SimAbiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(lib.handle, nullptr) << dlerror();
    ASSERT_TRUE(lib.missing.empty()) << "missing exports:" << lib.missing;
    lib.SimReset();
    calls.clear();
    dir = fs::temp_directory_path() /
          ("sim_abi_test_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
           "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override {
    if (lib.handle != nullptr && lib.missing.empty()) lib.SimReset();
    fs::remove_all(dir);
  }

  void SetCallbacks() {
    lib.SetDoButton(&RecordDoButton);
    lib.SetSetDRO(&RecordSetDRO);
    lib.SetGetDRO(&RecordGetDRO);
    lib.SetGetLED(&RecordGetLED);
    lib.SetSetLED(&RecordSetLED);
    lib.SetCode(&RecordCode);
  }

  void Start() {
    lib.SetProName((dir / "profile.xml").c_str());
    lib.InitControl(state.data(), config.data(), motion.data(), &parentWindow);
    lib.PostInitControl();
  }

  void Queue(unsigned char byte3, unsigned char byte4 = 0, unsigned char wheel = 0) {
    const unsigned char report[8] = {0, wheel, 0, byte3, byte4, 0, 0, 0};
    lib.SimQueueInputReport(report);
  }

  std::vector<unsigned char> LastOutput() {
    std::vector<unsigned char> out(5, 0xEE);
    lib.SimLastOutputReport(out.data());
    return out;
  }

  SimLibrary& lib = TheSimLibrary();
  fs::path dir;
  std::vector<unsigned char> state = std::vector<unsigned char>(PENDANT_SIM_HOST_STATE_SIZE);
  std::vector<unsigned char> config = std::vector<unsigned char>(PENDANT_SIM_HOST_CONFIG_SIZE);
  std::vector<unsigned char> motion = std::vector<unsigned char>(PENDANT_SIM_HOST_MOTION_SIZE);
  unsigned char parentWindow = 0;
};

TEST_F(SimAbiTest, SetProNameNamesTheLibraryAndWritesTheProfileRoot) {
  const fs::path profile = dir / "profile.xml";
  EXPECT_EQ(std::string(lib.SetProName(profile.c_str())),
            std::string("libpendant_sim") + kNameSuffix);
  EXPECT_NE(ReadFile(profile).find("<profile"), std::string::npos) << ReadFile(profile);
  EXPECT_TRUE(calls.empty());
}

TEST_F(SimAbiTest, SetProNameCutsOnlyTheLastExtension) {
  // A copy under another file name is another module with its own name.
  const fs::path copy = dir / "a.b.so";
  fs::copy_file(SimLibraryPath(), copy);
  SimLibrary other(copy.string());
  ASSERT_NE(other.handle, nullptr) << dlerror();
  ASSERT_NE(other.SetProName, nullptr);
  EXPECT_EQ(std::string(other.SetProName((dir / "p.xml").c_str())),
            std::string("a.b") + kNameSuffix);
  other.SimReset();
}

TEST_F(SimAbiTest, SimResetReturnsToTheLoadedState) {
  lib.SimSetStatusSink(&RecordStatus);
  lib.SimSetMessageBoxSink(&RecordMessageBox);
  SetCallbacks();
  lib.SimAddDevice(0x04D8, 0xFCE4);
  Start();
  // Five host ticks and mode button 2 (continuous wheel mode): heartbeat 6, mode indicator 1.
  for (int i = 0; i < 5; ++i) lib.Update();
  Queue(0, kModeButton2);
  ASSERT_EQ(lib.SimTimerTick(), 1);
  ASSERT_EQ(LastOutput(), (std::vector<unsigned char>{0, 0, 1, 6, 0}));
  lib.SimDialogSetText(4182, "abc");
  lib.SimDialogPress(1);
  lib.Config();
  ASSERT_NE(std::find(calls.begin(), calls.end(), "MessageBox Please enter an integer."),
            calls.end());

  lib.SimReset();
  calls.clear();

  // The bus is empty, no window exists and the callbacks and sinks are gone.
  EXPECT_EQ(lib.SimOutputReportCount(), 0);
  EXPECT_EQ(LastOutput(), (std::vector<unsigned char>{0, 0, 0, 0, 0}));
  EXPECT_EQ(lib.SimOpenHandleCount(), 0);
  EXPECT_EQ(lib.SimTimerTick(), 0);
  EXPECT_EQ(lib.SimAddDevice(0x04D8, 0xFCE4), 0);
  Start();
  EXPECT_EQ(lib.SimOpenHandleCount(), 3);
  Queue(kSafety, 0, 5);
  ASSERT_EQ(lib.SimTimerTick(), 1);
  lib.SimDialogSetText(4182, "abc");
  lib.SimDialogPress(1);
  lib.Config();
  EXPECT_TRUE(calls.empty()) << calls.front();

  // Counters and the wheel mode start over: heartbeat 2 after one Update, mode indicator 0.
  lib.Update();
  ASSERT_EQ(lib.SimTimerTick(), 1);
  EXPECT_EQ(LastOutput(), (std::vector<unsigned char>{0, 0, 0, 2, 0}));
}

TEST_F(SimAbiTest, SimResetForgetsTheProfilePath) {
  const fs::path profile = dir / "profile.xml";
  lib.SetProName(profile.c_str());
  const std::string before = ReadFile(profile);
  lib.SimReset();
  lib.SimDialogPress(2);
  lib.Config();  // saves every setting, but to no file of the previous host
  EXPECT_EQ(ReadFile(profile), before);
}

TEST_F(SimAbiTest, UnsetCallbacksAreNeverCalled) {
  SetCallbacks();
  lib.SimReset();  // forgets the callbacks just set
  lib.SimAddDevice(0x04D8, 0xFCE4);
  Start();
  Queue(kSafety | 0x10, 0x10, 40);  // safety, EN, F1 and a wheel turn
  for (int i = 0; i < 3; ++i) {
    lib.Update();
    EXPECT_EQ(lib.SimTimerTick(), 1);
  }
  Queue(0);
  EXPECT_EQ(lib.SimTimerTick(), 1);
  lib.StopPlug();
  EXPECT_TRUE(calls.empty()) << calls.front();
}

TEST_F(SimAbiTest, DeviceChangeReachesOnlyARegisteredWindow) {
  struct Case {
    const char* name;
    unsigned short productId;  // of the one device on the bus
    bool init;
    bool postInit;
    int delivered;
  };
  const Case cases[] = {
      {"no window", 0xFCE4, false, false, 0},
      {"window, no search yet", 0xFCE4, true, false, 0},
      {"search found no pendant", 0x0001, true, true, 1},
      {"search found the pendant", 0xFCE4, true, true, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    lib.SimReset();
    SetCallbacks();
    const int index = lib.SimAddDevice(0x04D8, c.productId);
    lib.SetProName((dir / "profile.xml").c_str());
    if (c.init) lib.InitControl(state.data(), config.data(), motion.data(), &parentWindow);
    if (c.postInit) lib.PostInitControl();
    EXPECT_EQ(lib.SimDeviceChange(PENDANT_SIM_DEVICE_ARRIVAL, lib.SimDevicePath(index)),
              c.delivered);
    EXPECT_EQ(lib.SimDeviceChange(PENDANT_SIM_DEVICE_REMOVE_COMPLETE, nullptr), c.delivered);
  }
}

TEST_F(SimAbiTest, StopPlugEndsTheWindowAndIsHarmlessWithoutOne) {
  SetCallbacks();
  lib.StopPlug();  // before any InitControl
  EXPECT_EQ(lib.SimTimerTick(), 0);
  EXPECT_TRUE(calls.empty());

  lib.SimAddDevice(0x04D8, 0xFCE4);
  Start();
  ASSERT_EQ(lib.SimTimerTick(), 1);
  calls.clear();
  lib.StopPlug();
  lib.StopPlug();
  EXPECT_EQ(lib.SimOpenHandleCount(), 0);
  EXPECT_EQ(lib.SimTimerTick(), 0);
  EXPECT_EQ(lib.SimDeviceChange(PENDANT_SIM_DEVICE_REMOVE_COMPLETE, lib.SimDevicePath(0)), 0);
  EXPECT_TRUE(calls.empty());
}

TEST_F(SimAbiTest, BadArgumentsAreHarmless) {
  EXPECT_STREQ(lib.SimDevicePath(-1), "");
  EXPECT_STREQ(lib.SimDevicePath(7), "");
  lib.SimQueueInputReport(nullptr);
  lib.SimLastOutputReport(nullptr);
  EXPECT_EQ(lib.SimDeviceChange(PENDANT_SIM_DEVICE_ARRIVAL, nullptr), 0);
  const char* name = lib.SetProName(nullptr);
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(std::string(name), std::string("libpendant_sim") + kNameSuffix);
}

// The status area follows the polls that the dialog's loop runs, and reads back after it closed;
// a plug-in loaded anew or reset shows nothing of the old dialog.
TEST_F(SimAbiTest, DialogStatusAreaFollowsThePendantWhileOpen) {
  SetCallbacks();
  EXPECT_STREQ(lib.SimDialogStatusText(), "");
  lib.SimSetTrailSink(&RecordTrail);
  const int pendant = lib.SimAddDevice(0x04D8, 0xFCE4);
  Start();
  Queue(kSafety, 0, 12);
  lib.SimDialogTick(1);
  lib.SimDialogPress(2);
  lib.Config();
  EXPECT_STREQ(lib.SimDialogStatusText(), "Pendant connected");
  EXPECT_STREQ(lib.SimDialogLiveView(), "Held: none   Wheel: 12   Safety input: active");

  lib.SimDeviceChange(PENDANT_SIM_DEVICE_REMOVE_COMPLETE, lib.SimDevicePath(pendant));
  lib.SimDialogPress(2);
  lib.Config();
  EXPECT_STREQ(lib.SimDialogStatusText(),
               "No pendant found. Plug it in: it is picked up when plugged in.");
  EXPECT_STREQ(lib.SimDialogLiveView(), "");
  EXPECT_NE(std::find(calls.begin(), calls.end(),
                      std::string("Trail Pendant: search: found ") + lib.SimDevicePath(pendant)),
            calls.end());

  lib.SimReset();
  EXPECT_STREQ(lib.SimDialogStatusText(), "");
  calls.clear();
  lib.SimAddDevice(0x04D8, 0xFCE4);
  Start();
  EXPECT_TRUE(calls.empty()) << "a reset drops the trail sink";
}

}  // namespace
