#include "link/shuttle_win.h"

#include <cstring>

#include "host/module.h"
#include "input/axis_select.h"
#include "input/buttons.h"
#include "input/chords.h"
#include "input/output_report.h"
#include "input/safety_input.h"
#include "jog/wheel.h"

ShuttleWin::ShuttleWin(Module& owner, std::unique_ptr<DeviceBus> deviceBus)
    : module(owner), bus(std::move(deviceBus)) {
  module.safety.safetyLatched = false;
  if (bus) bus->SetListener(this);
}

ShuttleWin::~ShuttleWin() {
  if (bus) bus->SetListener(nullptr);
}

bool ShuttleWin::FindPendant() {
  return connected;
}

bool ShuttleWin::OnDeviceChange(std::uint32_t, const DeviceBroadcast*) {
  return true;
}

void ShuttleWin::Poll() {}

void ShuttleWin::DecodeInput() {
  reportWord0 = static_cast<std::uint32_t>(readBuffer[0]) |
                static_cast<std::uint32_t>(readBuffer[1]) << 8 |
                static_cast<std::uint32_t>(readBuffer[2]) << 16 |
                static_cast<std::uint32_t>(readBuffer[3]) << 24;
  reportWord1 = static_cast<std::uint32_t>(readBuffer[4]) |
                static_cast<std::uint32_t>(readBuffer[5]) << 8 |
                static_cast<std::uint32_t>(readBuffer[6]) << 16 |
                static_cast<std::uint32_t>(readBuffer[7]) << 24;
  CheckSafetyInput(module, *this);
  ProcessChords(module, *this);
  ProcessButtons(module, *this);
  SelectAxis(module, *this);
  ProcessWheel(module, *this);
}
