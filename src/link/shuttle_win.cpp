#include "link/shuttle_win.h"

#include <algorithm>
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
  readErrorReported = false;
  readHandle = OpenTraced(devicePath, OpenMode::OverlappedRead);
  if (readHandle != kInvalidDeviceHandle) bus->SetInputBufferCount(readHandle, kInputBufferCount);
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
  ModuleCall call(module);
  if (!bus || module.host.muted) return true;
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

// The system queues the pendant's reports for the read handle and a read returns the oldest, so
// one read per poll falls ever further behind a pendant that sends a report every few
// milliseconds. Each poll therefore takes every report that has already arrived, and waits only
// where waiting can pay off:
// - the read left pending by the last poll is only checked: when it has not completed, nothing
//   arrived, and an idle pendant costs the host's thread no wait at all;
// - after a report, the next read is started at once. A stack that hands queued reports over at
//   once (Windows) returns it Done; one that completes reads asynchronously (Wine, where the
//   class driver runs in another process) mostly returns it Pending although a report may be
//   queued, so such a read gets a short wait, unless a read of this poll already completed at
//   once (then Pending means the queue is empty). The wait is twice the longest recent hand-over
//   (a fraction of a millisecond on a quiet system), so the read that finds the queue empty, and
//   ends every poll that took a report, costs little.
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
    const std::uint64_t readStart = bus->NowMicroseconds();
    // One read at a time: a read left pending is waited on again, never re-issued over the same
    // buffer.
    if (!readPending) {
      status = bus->StartRead(readHandle, ioBuffer, kInputReportSize, transferred);
      readPending = status == IoStatus::Pending;
      startedNow = true;
      if (status == IoStatus::Done) handedOverAtOnce = true;
    }
    if (readPending) {
      std::uint32_t timeoutUs = 0;
      if (startedNow && !handedOverAtOnce) {
        const std::uint64_t elapsed = readStart - start;
        const std::uint64_t left = elapsed < kBudgetUs ? kBudgetUs - elapsed : 0;
        timeoutUs = static_cast<std::uint32_t>(std::min<std::uint64_t>(left, handOverWaitUs));
      }
      status = bus->WaitRead(readHandle, timeoutUs, transferred);
      readPending = status == IoStatus::Pending;
      if (timeoutUs != 0 && status == IoStatus::Done) {
        // The longest recent hand-over, forgotten slowly: one late hand-over (a busy system)
        // widens the wait for a while, a run of quick ones narrows it again.
        const auto tookUs = static_cast<std::uint32_t>(
            std::min<std::uint64_t>(bus->NowMicroseconds() - readStart, kHandOverWaitMaxUs));
        handOverSeenUs = std::max(tookUs, handOverSeenUs - handOverSeenUs / 16);
        handOverWaitUs = std::clamp(2 * handOverSeenUs, kHandOverWaitMinUs, kHandOverWaitMaxUs);
      }
    }
    if (status == IoStatus::Failed && !readErrorReported) {
      // Once per run of failures: a dead handle fails at every poll.
      readErrorReported = true;
      link_trail::ReadError(module, bus->LastError());
    }
    if (status != IoStatus::Done) break;  // nothing more now; a failed read is retried next poll
    readErrorReported = false;
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
