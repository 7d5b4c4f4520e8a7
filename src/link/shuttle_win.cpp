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
  readHandle = bus->Open(devicePath, OpenMode::OverlappedRead);
  if (readHandle != kInvalidDeviceHandle) bus->SetInputBufferCount(readHandle, kInputBufferCount);
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
  if (!bus) return true;
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

// The system queues the pendant's reports for the read handle and a read returns the oldest, so
// one read per poll falls ever further behind a pendant that sends a report every few
// milliseconds. Each poll therefore takes every report that has already arrived, and waits only
// where waiting can pay off:
// - the read left pending by the last poll is only checked: when it has not completed, nothing
//   arrived, and an idle pendant costs the host's thread no wait at all;
// - after a report, the next read is started at once. A stack that hands queued reports over at
//   once (Windows) returns it Done; one that completes every read asynchronously (Wine, where the
//   class driver runs in another process) returns it Pending although a report may be queued, so
//   such a read gets a short wait, unless a read of this poll already completed at once (then
//   Pending means the queue is empty).
// Waits end kReadWaitMs after the poll began, and at most kMaxReportsPerPoll reads are taken, so
// a pendant streaming faster than it can be read cannot hold the thread. A short input queue on
// the handle (kInputBufferCount) keeps the backlog after a stalled host thread small.
std::uint32_t ShuttleWin::TakeReports() {
  if (readHandle == kInvalidDeviceHandle) return 0;
  const std::uint64_t start = bus->NowMicroseconds();
  constexpr std::uint64_t kBudgetUs = std::uint64_t{kReadWaitMs} * 1000;
  std::uint32_t taken = 0;
  bool handedOverAtOnce = false;
  for (std::uint32_t reads = 0; reads < kMaxReportsPerPoll; ++reads) {
    std::uint32_t transferred = 0;
    IoStatus status = IoStatus::Pending;
    bool startedNow = false;
    // One read at a time: a read left pending is waited on again, never re-issued over the same
    // buffer.
    if (!readPending) {
      status = bus->StartRead(readHandle, ioBuffer, kInputReportSize, transferred);
      readPending = status == IoStatus::Pending;
      startedNow = true;
      if (status == IoStatus::Done) handedOverAtOnce = true;
    }
    if (readPending) {
      std::uint32_t timeoutMs = 0;
      if (startedNow && !handedOverAtOnce) {
        const std::uint64_t elapsed = bus->NowMicroseconds() - start;
        const std::uint64_t leftMs = elapsed < kBudgetUs ? (kBudgetUs - elapsed) / 1000 : 0;
        timeoutMs = leftMs < kHandOverWaitMs ? static_cast<std::uint32_t>(leftMs) : kHandOverWaitMs;
      }
      status = bus->WaitRead(readHandle, timeoutMs, transferred);
      readPending = status == IoStatus::Pending;
    }
    if (status != IoStatus::Done) break;  // nothing more now; a failed read is retried next poll
    // Only a complete report counts; a short one is dropped and the next one read.
    if (transferred == kInputReportSize) {
      std::memcpy(takenReports[taken], ioBuffer, kInputReportSize);
      ++taken;
    }
  }
  return taken;
}

namespace {

// The report bits that carry keys and buttons: byte 3 whole, byte 4 but its unused bit 2.
bool KeysDiffer(const std::uint8_t* a, const std::uint8_t* b) {
  constexpr std::uint32_t kWord1Keys = input_report::kModeButtonsMask | input_report::kF1Mask |
                                       input_report::kF2Mask | input_report::kF3Mask |
                                       input_report::kF4Mask | input_report::kF5Mask;
  return a[3] != b[3] || ((a[4] ^ b[4]) & kWord1Keys) != 0;
}

}  // namespace

void ShuttleWin::Poll() {
  if (endJogCountdown != 0) --endJogCountdown;
  if (!connected || !bus) return;

  const HostBridge& host = module.host;
  if (host_motion::motionBusy(host) == 0 &&
      host_motion::motionQueueIn(host) == host_motion::motionQueueOut(host) &&
      host_state::CommandQueueEmpty(host))
    restoreAbsolute = host_config::incrementalMode(host) == 0;

  std::memcpy(previousReport, readBuffer, kInputReportSize);
  const std::uint32_t count = TakeReports();
  if (count > 0) awaitingReport = false;
  // The newest report is decoded, as one report per poll would be. An older one is decoded
  // before it, in order, only when the report after it changes its keys again (a press shorter
  // than a poll, a second mode button): otherwise that edge would be lost. Reports that differ
  // only in the wheel need no turn of their own: the newest counter carries their movement.
  for (std::uint32_t i = 0; i + 1 < count; ++i) {
    if (KeysDiffer(takenReports[i], readBuffer) &&
        KeysDiffer(takenReports[i + 1], takenReports[i])) {
      std::memcpy(readBuffer, takenReports[i], kInputReportSize);
      DecodeInput();
    }
  }
  if (count > 0) std::memcpy(readBuffer, takenReports[count - 1], kInputReportSize);
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
