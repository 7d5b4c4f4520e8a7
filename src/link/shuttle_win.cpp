#include "link/shuttle_win.h"

#include <cstring>

#include "host/host_blocks.h"
#include "host/lifecycle.h"
#include "host/module.h"
#include "input/axis_select.h"
#include "input/buttons.h"
#include "input/chords.h"
#include "input/input_report.h"
#include "input/output_report.h"
#include "input/safety_input.h"
#include "jog/wheel.h"

namespace {

inline constexpr std::int32_t kSafetyButton = 1021;

// Interface paths are ASCII; folding only A-Z keeps the comparison free of any locale.
bool SamePathIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i];
    char y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

}  // namespace

ShuttleWin::ShuttleWin(Module& owner, std::unique_ptr<DeviceBus> deviceBus)
    : module(owner), bus(std::move(deviceBus)) {
  module.safety.safetyLatched = false;
  if (bus) bus->SetListener(this);
}

ShuttleWin::~ShuttleWin() {
  Shutdown();
  // The bus goes with this object; it owns the read event and the timer.
}

void ShuttleWin::Shutdown() {
  if (!bus || shutDown) return;
  shutDown = true;
  CloseLink();
  CloseHandle(probeHandle);
  if (notificationsRegistered) bus->UnregisterNotifications();
  notificationsRegistered = false;
  connected = false;
  timerStarted = false;
  bus->SetListener(nullptr);
  bus->Shutdown();
}

void ShuttleWin::OnTimer() {
  ModuleCall call(module);
  if (polling || module.host.muted) return;
  polling = true;
  struct PollEnd {
    bool& flag;
    ~PollEnd() { flag = false; }
  } pollEnd{polling};
  Poll();
}

void ShuttleWin::CloseHandle(DeviceHandle& handle) {
  if (handle != kInvalidDeviceHandle) bus->Close(handle);
  handle = kInvalidDeviceHandle;
}

void ShuttleWin::CloseLink() {
  // The system may still write into ioBuffer until a pending read is cancelled and finished.
  if (readPending && readHandle != kInvalidDeviceHandle) bus->CancelRead(readHandle);
  readPending = false;
  CloseHandle(readHandle);
  CloseHandle(writeHandle);
}

void ShuttleWin::OpenLink() {
  readHandle = bus->Open(devicePath, OpenMode::OverlappedRead);
  writeHandle = bus->Open(devicePath, OpenMode::Write);
}

bool ShuttleWin::FindPendant() {
  if (!bus) return connected;
  // A repeated search must not leave the handles of the previous one open.
  CloseLink();
  CloseHandle(probeHandle);
  connected = false;

  if (bus->BeginEnumeration()) {
    std::string path;
    for (std::uint32_t index = 0; bus->InterfacePath(index, path); ++index) {
      probeHandle = bus->Open(path, OpenMode::Probe);
      HidAttributes attributes;
      if (probeHandle != kInvalidDeviceHandle) bus->GetAttributes(probeHandle, attributes);
      if (attributes.vendorId == kPendantVendorId && attributes.productId == kPendantProductId) {
        connected = true;
        devicePath = path;
        if (!notificationsRegistered) notificationsRegistered = bus->RegisterNotifications();
        OpenLink();
        break;  // the matched pendant's probe handle stays open
      }
      CloseHandle(probeHandle);
    }
    bus->EndEnumeration();
  }

  bus->StartTimer(kPollTimerId, kPollPeriodMs);
  timerStarted = true;
  return connected;
}

bool ShuttleWin::OnDeviceChange(std::uint32_t eventType, const DeviceBroadcast* broadcast) {
  ModuleCall call(module);
  if (!bus || module.host.muted) return true;
  if (eventType == kDeviceArrival) {
    // Whichever device arrived, the pendant's path is reopened; the old handles go first.
    CloseLink();
    connected = true;
    OpenLink();
    awaitingReport = true;
  } else if (eventType == kDeviceRemoveComplete) {
    if (broadcast != nullptr && broadcast->deviceType == kDeviceTypeInterface &&
        SamePathIgnoringCase(broadcast->name, devicePath)) {
      CloseLink();
      connected = false;
      module.host.DoButton(kSafetyButton);
    }
  }
  return true;
}

void ShuttleWin::ReadReport() {
  if (readHandle == kInvalidDeviceHandle) return;
  std::uint32_t transferred = 0;
  IoStatus status = IoStatus::Pending;
  // One read at a time: a read left pending by an earlier poll is waited on again, never
  // re-issued over the same buffer.
  if (!readPending) {
    status = bus->StartRead(readHandle, ioBuffer, kInputReportSize, transferred);
    readPending = status == IoStatus::Pending;
  }
  if (readPending) {
    status = bus->WaitRead(readHandle, kReadWaitMs, transferred);
    readPending = status == IoStatus::Pending;
  }
  // Only a complete report replaces the one decoded last; anything else keeps it.
  if (status == IoStatus::Done && transferred == kInputReportSize) {
    std::memcpy(readBuffer, ioBuffer, kInputReportSize);
    awaitingReport = false;
  }
}

void ShuttleWin::Poll() {
  if (endJogCountdown != 0) --endJogCountdown;
  if (!connected || !bus) return;

  const HostBridge& host = module.host;
  if (host_motion::motionBusy(host) == 0 &&
      host_motion::motionQueueIn(host) == host_motion::motionQueueOut(host) &&
      host_state::CommandQueueEmpty(host))
    restoreAbsolute = host_config::incrementalMode(host) == 0;

  std::memcpy(previousReport, readBuffer, kInputReportSize);
  ReadReport();
  if (!awaitingReport) DecodeInput();
  // The host may have stopped the plug-in from inside a callback: this window is going.
  if (module.host.muted) return;
  FillOutputReport(module, *this);
  if (writeHandle != kInvalidDeviceHandle) bus->Write(writeHandle, outputReport, kOutputReportSize);
}

void ShuttleWin::DecodeInput() {
  reportWord0 = input_report::Word(readBuffer);
  reportWord1 = input_report::Word(readBuffer + 4);
  // Each step may call the host; once the host has stopped the plug-in the rest is skipped.
  using Step = void (*)(Module&, ShuttleWin&);
  static constexpr Step kSteps[] = {CheckSafetyInput, ProcessChords, ProcessButtons, SelectAxis,
                                    ProcessWheel};
  for (Step step : kSteps) {
    if (module.host.muted) return;
    step(module, *this);
  }
}
