// A host that calls the plug-in back from inside its callbacks, in the middle of a poll: every
// entry point from inside every callback, through the simulation library as a host loads it.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "pendant_sim.h"
#include "support/sim_library.h"

namespace {

namespace fs = std::filesystem;

enum class Callback { DoButton, SetDRO, GetDRO, GetLED, Code, Status };
enum class Export {
  StopPlug,
  InitControl,
  PostInitControl,
  Config,
  SetProName,
  Update,
  SimReset,
  SimTimerTick
};

constexpr Callback kCallbacks[] = {Callback::DoButton, Callback::SetDRO, Callback::GetDRO,
                                   Callback::GetLED,   Callback::Code,   Callback::Status};
constexpr Export kExports[] = {Export::StopPlug, Export::InitControl, Export::PostInitControl,
                               Export::Config,   Export::SetProName,  Export::Update,
                               Export::SimReset, Export::SimTimerTick};

// The host: every callback is traced; the armed one calls `armedExport` once.
std::vector<std::string> trace;
bool jogLedLit = true;
Callback armedCallback = Callback::DoButton;
Export armedExport = Export::StopPlug;
bool armed = false;
std::size_t traceAtCall = 0;
std::vector<unsigned char> blocks[3];
unsigned char parentWindow = 0;
std::string profile;

void CallArmed(Callback callback) {
  if (!armed || callback != armedCallback) return;
  armed = false;
  traceAtCall = trace.size();
  SimLibrary& lib = TheSimLibrary();
  switch (armedExport) {
    case Export::StopPlug:
      lib.StopPlug();
      break;
    case Export::InitControl:
      EXPECT_EQ(
          lib.InitControl(blocks[0].data(), blocks[1].data(), blocks[2].data(), &parentWindow), 1);
      break;
    case Export::PostInitControl:
      lib.PostInitControl();
      break;
    case Export::Config:
      lib.Config();
      break;
    case Export::SetProName:
      EXPECT_NE(lib.SetProName(profile.c_str()), nullptr);
      break;
    case Export::Update:
      lib.Update();
      break;
    case Export::SimReset:
      lib.SimReset();
      break;
    case Export::SimTimerTick:
      lib.SimTimerTick();
      break;
  }
}

void HostDoButton(short code) {
  trace.push_back("DoButton " + std::to_string(code));
  CallArmed(Callback::DoButton);
}
void HostSetDRO(int dro, double) {
  trace.push_back("SetDRO " + std::to_string(dro));
  CallArmed(Callback::SetDRO);
}
double HostGetDRO(int dro) {
  trace.push_back("GetDRO " + std::to_string(dro));
  CallArmed(Callback::GetDRO);
  return 0.0;
}
unsigned char HostGetLED(int led) {
  trace.push_back("GetLED " + std::to_string(led));
  CallArmed(Callback::GetLED);
  return led == 83 && jogLedLit ? 1 : 0;
}
void HostCode(const char* line) {
  trace.push_back(std::string("Code ") + line);
  CallArmed(Callback::Code);
}
void HostStatus(const char* text) {
  trace.push_back(std::string("Status ") + text);
  CallArmed(Callback::Status);
}

// Everything that a wheel turn with the safety input pressed makes the poll call: DoButton,
// GetLED, and with the jog indicator lit GetDRO, SetDRO and Code, or unlit the status text.
TEST(SimReentry, EveryExportFromInsideEveryCallbackOfAPoll) {
  SimLibrary& lib = TheSimLibrary();
  ASSERT_NE(lib.handle, nullptr) << dlerror();
  ASSERT_TRUE(lib.missing.empty()) << lib.missing;
  blocks[0].assign(PENDANT_SIM_HOST_STATE_SIZE, 0);
  blocks[1].assign(PENDANT_SIM_HOST_CONFIG_SIZE, 0);
  blocks[2].assign(PENDANT_SIM_HOST_MOTION_SIZE, 0);
  profile = (fs::temp_directory_path() / ("sim_reentry_" + std::to_string(getpid()) + ".xml"));

  for (Callback callback : kCallbacks) {
    for (Export ex : kExports) {
      SCOPED_TRACE("callback " + std::to_string(static_cast<int>(callback)) + ", export " +
                   std::to_string(static_cast<int>(ex)));
      lib.SimReset();
      lib.SimSetStatusSink(HostStatus);
      lib.SimAddDevice(0x04D8, 0xFCE4);
      lib.SetProName(profile.c_str());
      lib.SetDoButton(HostDoButton);
      lib.SetSetDRO(HostSetDRO);
      lib.SetGetDRO(HostGetDRO);
      lib.SetGetLED(HostGetLED);
      lib.SetCode(HostCode);
      lib.InitControl(blocks[0].data(), blocks[1].data(), blocks[2].data(), &parentWindow);
      lib.PostInitControl();
      jogLedLit = callback != Callback::Status;
      const unsigned char idle[8] = {};
      lib.SimQueueInputReport(idle);
      ASSERT_EQ(lib.SimTimerTick(), 1);

      trace.clear();
      armedCallback = callback;
      armedExport = ex;
      armed = true;
      const int outputsBefore = lib.SimOutputReportCount();
      const unsigned char turn[8] = {0, 5, 0, 0x01, 0, 0, 0, 0};  // safety, wheel +5
      lib.SimQueueInputReport(turn);
      ASSERT_EQ(lib.SimTimerTick(), 1);
      ASSERT_FALSE(armed) << "the callback was not called";

      const bool windowGoes = ex == Export::StopPlug || ex == Export::InitControl;
      if (windowGoes) {
        // Nothing more reaches the host from the poll that was told to stop, not even the output.
        EXPECT_EQ(trace.size(), traceAtCall);
        EXPECT_EQ(lib.SimOutputReportCount(), outputsBefore);
        EXPECT_EQ(lib.SimOpenHandleCount(), 0);
        // The old window is gone with its timer; a new one has none until PostInitControl.
        EXPECT_EQ(lib.SimTimerTick(), 0);
      } else {
        // The poll ran to its end, once: a tick inside it started no second poll.
        EXPECT_EQ(lib.SimOutputReportCount(), outputsBefore + 1);
        EXPECT_EQ(lib.SimOpenHandleCount(), 3);
        EXPECT_EQ(lib.SimTimerTick(), 1);
      }
      if (ex == Export::InitControl) {
        lib.PostInitControl();
        EXPECT_EQ(lib.SimOpenHandleCount(), 3);
        EXPECT_EQ(lib.SimTimerTick(), 1);
      }
      lib.StopPlug();
      EXPECT_EQ(lib.SimOpenHandleCount(), 0);
    }
  }
  lib.SimReset();
  fs::remove(profile);
}

}  // namespace
