#include "jog/wheel_rules.h"

#include "host/host_blocks.h"
#include "host/module.h"
#include "link/shuttle_win.h"

namespace {
constexpr const char* kAxisLetters[hostblock::kAxisCount] = {"X", "Y", "Z", "A", "B", "C"};
constexpr int kRestoreCountdownStart = 3;
}  // namespace

const char* AxisLetter(std::int32_t axis) {
  return hostblock::ValidAxis(axis) ? kAxisLetters[axis] : nullptr;
}

std::int32_t WheelSpeedByte(const ShuttleWin& win) {
  return win.readBuffer[2];
}

bool MotionGateAllows(const Module& module) {
  const HostBridge& host = module.host;
  if (!host.GetLED(kLedMotionGateA) && !host.GetLED(kLedMotionGateB)) return true;
  return host.GetLED(kLedMotionOverride);
}

bool JogEnabled(Module& module) {
  if (module.host.GetLED(kLedJogEnabled)) return true;
  ShowStatus(module, kJogOffText);
  return false;
}

void EndContinuousJog(Module& module, const ShuttleWin& win) {
  host_state::SetAxisJogStopRequest(module.host, win.selectedAxis, 1);
  module.host.Code(kEndJogLine);
}

void SaveFeedValues(Module& module, ShuttleWin& win) {
  if (win.savedValid == 0) {
    win.savedFeedRate = module.host.GetDRO(kDroFeedRate);
    win.savedFeedOverride = module.host.GetDRO(kDroFeedOverride);
    win.savedValid = 1;
  }
  module.ticks.restoreCountdown = kRestoreCountdownStart;
}

void SendStepLine(Module& module, const ShuttleWin& win, bool hold, const char* format,
                  std::initializer_list<LineArg> args) {
  CommandLine line;
  if (!line.Format(format, args)) return;
  if (!hold) module.host.Code(line.c_str());
  if (win.restoreAbsolute) module.host.Code(kAbsoluteModeLine);
}
