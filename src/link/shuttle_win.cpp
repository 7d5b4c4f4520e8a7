#include "link/shuttle_win.h"

#include <cstring>

#include "host/host_blocks.h"
#include "host/module.h"
#include "input/axis_select.h"
#include "input/buttons.h"
#include "input/chords.h"
#include "input/input_report.h"
#include "input/output_report.h"
#include "input/safety_input.h"
#include "jog/wheel.h"
#include "link/link_trail.h"

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
  if (!bus) return;
  CloseLink();
  CloseHandle(probeHandle);
  if (notificationsRegistered) bus->UnregisterNotifications();
  notificationsRegistered = false;
  bus->SetListener(nullptr);
  // The bus goes with this object; it owns the read event and the timer.
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
  readErrorReported = false;
  readHandle = OpenTraced(devicePath, OpenMode::OverlappedRead);
  writeHandle = OpenTraced(devicePath, OpenMode::Write);
}

DeviceHandle ShuttleWin::OpenTraced(const std::string& path, OpenMode mode) {
  const DeviceHandle handle = bus->Open(path, mode);
  if (handle == kInvalidDeviceHandle) link_trail::OpenFailed(module, mode, path, bus->LastError());
  return handle;
}

bool ShuttleWin::FindPendant() {
  if (!bus) return connected;
  // Registered whether or not the pendant is there, so that plugging it in later finds it.
  if (!notificationsRegistered) notificationsRegistered = bus->RegisterNotifications();
  SearchPendant();
  bus->StartTimer(kPollTimerId, kPollPeriodMs);
  timerStarted = true;
  return connected;
}

bool ShuttleWin::SearchPendant() {
  // A repeated search must not leave the handles of the previous one open.
  CloseLink();
  CloseHandle(probeHandle);
  connected = false;

  if (!bus->BeginEnumeration()) {
    link_trail::SearchFailed(module, bus->LastError());
    return connected;
  }
  std::string path;
  std::uint32_t index = 0;
  for (; bus->InterfacePath(index, path); ++index) {
    probeHandle = OpenTraced(path, OpenMode::Probe);
    HidAttributes attributes;
    if (probeHandle != kInvalidDeviceHandle) bus->GetAttributes(probeHandle, attributes);
    if (attributes.vendorId == kPendantVendorId && attributes.productId == kPendantProductId) {
      connected = true;
      devicePath = path;
      link_trail::SearchFound(module, devicePath);
      OpenLink();
      break;  // the matched pendant's probe handle stays open
    }
    CloseHandle(probeHandle);
  }
  bus->EndEnumeration();
  if (!connected) link_trail::SearchNone(module, index);
  return connected;
}

bool ShuttleWin::OnDeviceChange(std::uint32_t eventType, const DeviceBroadcast* broadcast) {
  if (!bus) return true;
  const std::string_view name = broadcast != nullptr ? broadcast->name : std::string_view();
  if (eventType == kDeviceArrival) {
    link_trail::Arrival(module, name, devicePath);
    // Whichever device arrived, the pendant's path is reopened; the old handles go first. With
    // no pendant known, or when its path no longer opens (plugged into another port), search.
    CloseLink();
    connected = true;
    if (!devicePath.empty()) OpenLink();
    if (devicePath.empty() || readHandle == kInvalidDeviceHandle ||
        writeHandle == kInvalidDeviceHandle)
      SearchPendant();
    awaitingReport = true;
  } else if (eventType == kDeviceRemoveComplete) {
    if (broadcast != nullptr && broadcast->deviceType == kDeviceTypeInterface) {
      // No pendant known: an empty name must not count as its path.
      const bool pendant = !devicePath.empty() && SamePathIgnoringCase(name, devicePath);
      link_trail::Removal(module, name, pendant);
      if (pendant) {
        CloseLink();
        connected = false;
        module.host.DoButton(kSafetyButton);
      }
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
    readErrorReported = false;
  } else if (status == IoStatus::Failed && !readErrorReported) {
    // Once per run of failures: a dead handle fails at every poll.
    readErrorReported = true;
    link_trail::ReadError(module, bus->LastError());
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
  FillOutputReport(module, *this);
  if (writeHandle != kInvalidDeviceHandle) bus->Write(writeHandle, outputReport, kOutputReportSize);
}

void ShuttleWin::DecodeInput() {
  reportWord0 = input_report::Word(readBuffer);
  reportWord1 = input_report::Word(readBuffer + 4);
  CheckSafetyInput(module, *this);
  ProcessChords(module, *this);
  ProcessButtons(module, *this);
  SelectAxis(module, *this);
  ProcessWheel(module, *this);
}
