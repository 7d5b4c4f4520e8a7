#include "link/pendant_link.h"

#include <algorithm>
#include <cstring>

#include "core/core.h"
#include "input/buttons.h"
#include "input/input_report.h"
#include "input/output_report.h"
#include "input/safety_input.h"
#include "input/wheel_function_choice.h"
#include "link/link_trail.h"
#include "text/ascii.h"

PendantLink::PendantLink(Core& core, PendantLatches& latches, std::unique_ptr<DeviceBus> deviceBus)
    : core_(core), latches_(latches), bus_(std::move(deviceBus)) {
  ForgetSafetyLatch(latches_.safety);
  if (bus_) {
    bus_->SetListener(this);
    const std::uint32_t depth = bus_->InputQueueDepth();
    if (depth != 0) queueDepth_ = std::min(depth, kMaxInputQueueDepth);
  }
}

PendantLink::~PendantLink() {
  Shutdown();
  // The bus goes with this object; it owns the read event and the timer.
}

void PendantLink::Shutdown() {
  if (!bus_ || shutDown_) return;
  shutDown_ = true;
  CloseLink();
  CloseHandle(probeHandle_);
  if (notificationsRegistered_) bus_->UnregisterNotifications();
  notificationsRegistered_ = false;
  SetConnected(false);
  bus_->SetListener(nullptr);
  bus_->Shutdown();
}

void PendantLink::WindDown() {
  if (core_.muted) return;
  EndBurst(core_, continuousJog);
  if (core_.muted) return;
  EndHolds(core_, latches_.buttons.tapHold);
}

void PendantLink::OnTick() {
  GuardedPoll(PollCause::Tick);
}

void PendantLink::OnReportsWaiting() {
  GuardedPoll(PollCause::Reports);
}

void PendantLink::GuardedPoll(PollCause cause) {
  CoreCall call(core_);
  if (polling_ || core_.muted) return;
  polling_ = true;
  struct PollEnd {
    bool& flag;
    ~PollEnd() { flag = false; }
  } pollEnd{polling_};
  Poll(cause);
}

void PendantLink::SetConnected(bool connected) {
  connected_ = connected;
  if (core_.watch != nullptr) core_.watch->PendantPresent(connected);
}

void PendantLink::CloseHandle(DeviceHandle& handle) {
  if (handle != kInvalidDeviceHandle) bus_->Close(handle);
  handle = kInvalidDeviceHandle;
}

void PendantLink::CloseLink() {
  CloseHandle(readHandle_);
  CloseHandle(writeHandle_);
}

void PendantLink::OpenLink() {
  wroteReport_ = false;
  readErrorReported_ = false;
  reportSizeReported_ = false;
  readHandle_ = OpenTraced(devicePath_, OpenMode::Read);
  if (readHandle_ != kInvalidDeviceHandle)
    bus_->SetInputBufferCount(readHandle_, kInputBufferCount);
  writeHandle_ = OpenTraced(devicePath_, OpenMode::Write);
}

DeviceHandle PendantLink::OpenTraced(const std::string& path, OpenMode mode) {
  const DeviceHandle handle = bus_->Open(path, mode);
  if (handle == kInvalidDeviceHandle) link_trail::OpenFailed(core_, mode, path, bus_->LastError());
  return handle;
}

bool PendantLink::FindPendant() {
  if (!bus_) return connected_;
  // Registered whether or not the pendant is there, so that plugging it in later finds it.
  if (!notificationsRegistered_) notificationsRegistered_ = bus_->RegisterNotifications();
  SearchPendant();
  bus_->StartTicks(kPollPeriodMs);
  return connected_;
}

bool PendantLink::SearchPendant() {
  // A repeated search must not leave the handles of the previous one open.
  CloseLink();
  CloseHandle(probeHandle_);
  SetConnected(false);

  if (!bus_->BeginEnumeration()) {
    link_trail::SearchFailed(core_, bus_->LastError());
    return connected_;
  }
  HidInterface found;
  std::uint32_t index = 0;
  for (; bus_->NextInterface(index, found); ++index) {
    probeHandle_ = found.probe;
    if (probeHandle_ == kInvalidDeviceHandle)
      link_trail::OpenFailed(core_, OpenMode::Probe, found.path, found.probeError);
    if (found.attributes.vendorId == kPendantVendorId &&
        found.attributes.productId == kPendantProductId) {
      SetConnected(true);
      devicePath_ = found.path;
      link_trail::SearchFound(core_, devicePath_);
      OpenLink();
      break;  // the matched pendant's probe handle stays open
    }
    CloseHandle(probeHandle_);
  }
  bus_->EndEnumeration();
  if (!connected_) link_trail::SearchNone(core_, index);
  return connected_;
}

void PendantLink::OnInterfaceArrived(std::string_view path) {
  CoreCall call(core_);
  if (!bus_ || core_.muted) return;
  link_trail::Arrival(core_, path, devicePath_);
  // Nothing is decoded until the pendant reports again, which a still wheel may not do soon.
  EndRunningJog(core_, continuousJog);
  if (core_.muted) return;
  // Whichever device arrived, the pendant's path is reopened; the old handles go first. With
  // no pendant known, or when its path no longer opens (plugged into another port), search.
  CloseLink();
  SetConnected(true);
  if (!devicePath_.empty()) OpenLink();
  if (devicePath_.empty() || readHandle_ == kInvalidDeviceHandle ||
      writeHandle_ == kInvalidDeviceHandle)
    SearchPendant();
  awaitingReport_ = true;
  // The pendant may have been another one, or turned while away: its first report only sets
  // the counter.
  ForgetWheelCounter(wheel);
}

void PendantLink::OnInterfaceGone(std::string_view path) {
  CoreCall call(core_);
  if (!bus_ || core_.muted) return;
  // No pendant known: an empty name must not count as its path.
  const bool pendant = !devicePath_.empty() && ascii::EqualIgnoringCase(path, devicePath_);
  link_trail::Removal(core_, path, pendant);
  if (!pendant) return;
  CloseLink();
  SetConnected(false);
  core_.machine.SafetyStop();
  // No poll runs while the pendant is away, so nothing else would end its jog.
  if (!core_.muted) EndRunningJog(core_, continuousJog);
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
// Waits end kReadWaitMs after the poll began, and at most twice the queue's depth is read, so
// a pendant streaming faster than it can be read cannot hold the thread. A short input queue on
// the handle (kInputBufferCount) keeps the backlog after a stalled host thread small.
std::uint32_t PendantLink::TakeReports(bool woken) {
  if (readHandle_ == kInvalidDeviceHandle) return 0;
  const std::uint64_t start = bus_->NowMicroseconds();
  constexpr std::uint64_t kBudgetUs = std::uint64_t{kReadWaitMs} * 1000;
  std::uint32_t taken = 0;
  // Woken by a report, one read takes it without waiting; the bus wakes the owner again at once
  // while more are queued.
  bool handedOverAtOnce = woken;
  const std::uint32_t maxReads = woken ? 1 : 2 * queueDepth_;
  for (std::uint32_t reads = 0; reads < maxReads; ++reads) {
    // A read started now may be on its way; one left outstanding is only checked.
    std::uint64_t readStart = 0;
    std::uint32_t timeoutUs = 0;
    if (!handedOverAtOnce && !bus_->ReadOutstanding(readHandle_)) {
      readStart = bus_->NowMicroseconds();
      const std::uint64_t elapsed = readStart - start;
      const std::uint64_t left = elapsed < kBudgetUs ? kBudgetUs - elapsed : 0;
      const std::uint32_t handOverWaitUs =
          std::clamp(2 * handOverSeenUs_, kHandOverWaitMinUs, kHandOverWaitMaxUs);
      timeoutUs = static_cast<std::uint32_t>(std::min<std::uint64_t>(left, handOverWaitUs));
    }
    std::uint32_t transferred = 0;
    bool atOnce = false;
    const IoStatus status = bus_->ReadReport(readHandle_, takenReports_[taken], kInputReportSize,
                                             timeoutUs, transferred, atOnce);
    if (atOnce) {
      handedOverAtOnce = true;
    } else if (timeoutUs != 0 && status == IoStatus::Done) {
      // The longest recent hand-over, forgotten slowly: one late hand-over (a busy system)
      // widens the wait for a while, a run of quick ones narrows it again.
      const auto tookUs = static_cast<std::uint32_t>(
          std::min<std::uint64_t>(bus_->NowMicroseconds() - readStart, kHandOverWaitMaxUs));
      handOverSeenUs_ = std::max(tookUs, handOverSeenUs_ - handOverSeenUs_ / 16);
    }
    if (status == IoStatus::Failed && !readErrorReported_) {
      // Once per run of failures: a dead handle fails at every poll.
      readErrorReported_ = true;
      link_trail::ReadError(core_, bus_->LastError());
    }
    if (status != IoStatus::Done) break;  // nothing more now; a failed read is retried next poll
    readErrorReported_ = false;
    // Only a report of the pendant's length counts; another is dropped and the next one read
    // over it. Said once per connection: a pendant sending such reports sends nothing else.
    if (transferred == kInputReportSize) {
      ++taken;
    } else if (!reportSizeReported_) {
      reportSizeReported_ = true;
      link_trail::ReportSize(core_, transferred);
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

bool WheelMoving(const std::uint8_t* report) {
  return input_report::WheelSpeed(input_report::Words::Of(report).word0) != 0;
}

std::uint8_t Counter(const std::uint8_t* report) {
  return input_report::WheelCounter(input_report::Words::Of(report).word0);
}

}  // namespace

void PendantLink::Poll(PollCause cause) {
  const bool tick = cause == PollCause::Tick;
  if (tick) StepEndJogCountdown(continuousJog);
  if (!connected_ || !bus_) return;

  if (core_.heldSteps != nullptr) core_.heldSteps->BeforeInput();

  const std::uint32_t count = TakeReports(!tick);
  if (!tick && count == 0) return;
  if (count > 0) {
    awaitingReport_ = false;
    reportTaken_ = true;
  }
  // A full queue may have dropped the oldest reports: how the wheel turned before the first one
  // taken cannot be known, and a guess could move the axis the wrong way.
  if (count > queueDepth_) ForgetWheelCounter(wheel);
  // The newest report is decoded, as one report per poll would be. An older one is decoded
  // before it, in order, when the report after it changes its keys again (a press shorter than a
  // poll, a second mode button), and, where the wheel's function follows its course (or the keys
  // may change the function), when the wheel changes course: it starts a burst or a flick, stops,
  // or turns the other way. Otherwise that edge would be lost: a flick whose rest came in the
  // same poll, or a jog running the wrong way because the reversal was summed away. Other reports
  // need no decoding of their own, but each one's move joins the turn: the counter may wrap more
  // than once between the oldest and the newest, and step jogging moves by the poll's net turn.
  // The first report ever is decoded on its own too: it is what the first poll settles on.
  std::int32_t counter = wheel.lastWheelCount;
  std::int32_t way = 0;
  // Once the wheel's burst is over, a moving report starts a new one.
  bool movingBefore = WheelMoving(decodedReport_) && core_.ticks.jogActiveCountdown != 0;
  for (std::uint32_t i = 0; i + 1 < count; ++i) {
    const std::uint8_t* report = takenReports_[i];
    const std::uint8_t* next = takenReports_[i + 1];
    const std::int32_t reportWay = CounterWay(counter, Counter(report), way);
    const std::int32_t nextWay = CounterWay(Counter(report), Counter(next), reportWay);
    const bool moving = WheelMoving(report);
    const bool newKeys = !decodedAny_ || KeysDiffer(report, decodedReport_);
    const bool wheelEdge = (newKeys || FollowsWheelCourse(wheelFunction)) &&
                           (moving != WheelMoving(next) || (moving && !movingBefore) ||
                            (reportWay != 0 && nextWay != 0 && reportWay != nextWay));
    const bool keyEdge = newKeys && KeysDiffer(next, report);
    counter = Counter(report);
    way = reportWay;
    movingBefore = moving;
    if (keyEdge || wheelEdge) {
      DecodeInput(report);
    } else {
      // Its keys are the next report's, decoded later in this poll, or the decoded ones: then a
      // press they show held was still held when the ticks had moved on.
      if (decodedAny_ && !KeysDiffer(report, decodedReport_))
        NotePlainPressStillHeld(core_, latches_.buttons);
      TakeWheelCounter(wheel, Counter(report));
    }
  }
  if (count > 0) std::memcpy(decodedReport_, takenReports_[count - 1], kInputReportSize);
  if (!awaitingReport_) Decode();
  // Until the pendant's first report the blank one stands in for it; its counter of 0 is no
  // place of the wheel's, so the first report only sets the counter.
  if (!reportTaken_) ForgetWheelCounter(wheel);
  // The host may have stopped the plug-in from inside a callback: this window is going.
  if (core_.muted) return;
  std::uint8_t outputReport[kOutputReportSize];
  FillOutputReport(core_, axis.selectedAxis, outputReport);
  if (writeHandle_ == kInvalidDeviceHandle) return;
  // A pendant reporting every millisecond would otherwise get as many writes.
  if (!tick && wroteReport_ && std::memcmp(outputReport, writtenReport_, kOutputReportSize) == 0)
    return;
  bus_->Write(writeHandle_, outputReport, kOutputReportSize);
  std::memcpy(writtenReport_, outputReport, kOutputReportSize);
  wroteReport_ = true;
}

void PendantLink::DecodeInput(const std::uint8_t* report) {
  std::memcpy(decodedReport_, report, kInputReportSize);
  Decode();
}

void PendantLink::Decode() {
  decodedAny_ = true;
  const input_report::Words words = input_report::Words::Of(decodedReport_);
  // Each step may call the host; once the host has stopped the plug-in the rest is skipped.
  if (core_.muted) return;
  // Most polls decode an idle pendant's report again: then only the safety level is told.
  if (skipRestingDecodes && ChainAtRest(words)) {
    if (core_.watch != nullptr) core_.watch->SafetyInputLevel(false);
    return;
  }
  EndIdleButtons(core_, latches_.buttons);
  if (core_.muted) return;
  CheckSafetyInput(core_, latches_.safety, words);
  if (core_.muted) return;
  ProcessChords(core_, latches_.chords, screens, words);
  if (core_.muted) return;
  ProcessButtons(core_, latches_.buttons, wheelFunction, axis.selectedAxis, words);
  if (core_.muted) return;
  // A new axis drops the steps held back for the old one.
  if (SelectAxis(core_, latches_.axisKeys, axis, words) && core_.heldSteps != nullptr)
    core_.heldSteps->DropHeldSteps();
  if (core_.muted) return;
  ProcessWheel(core_, wheel, WheelTargets{continuousJog, presets}, wheelFunction, axis, words);
}

// Step by step, what keeps each one from changing anything or calling the host with nothing
// pressed and the wheel still, whatever the ticks and the host's state say meanwhile.
bool PendantLink::ChainAtRest(const input_report::Words& report) const {
  using namespace input_report;
  constexpr std::uint32_t kWord1Keys =
      kModeButtonsMask | kF1Mask | kF2Mask | kF3Mask | kF4Mask | kF5Mask;
  // No key, button or safety input, and a wheel speed of 0.
  if ((report.word0 >> kWheelSpeedShift) != 0 || (report.word1 & kWord1Keys) != 0) return false;
  // Buttons: no idle burst to end, no press to let go, no tap window to close.
  const ButtonState& buttons = latches_.buttons;
  if (buttons.plainPressHeld || buttons.tapHold.burstRunning || !PressesAtRest(buttons))
    return false;
  // Safety: an input let go presses the stop only from Latched.
  if (latches_.safety.phase == SafetyPhase::Latched) return false;
  // Chords, screen key, mode buttons and axis keys: no latch to drop, no release to act on.
  const ChordState& chords = latches_.chords;
  const bool* modes = buttons.modeButtons.modeLatch;
  const bool* axisKeys = latches_.axisKeys.axisKeyLatch;
  if (chords.chordLatch[0] || chords.chordLatch[1] || chords.chordLatch[2] ||
      chords.screenKeyDown || modes[0] || modes[1] || modes[2] || axisKeys[0] || axisKeys[1] ||
      axisKeys[2])
    return false;
  // The axis: no change to tell, no hold waiting for the host's queue.
  if (axis.selectedAxis != axis.previousAxis || axis.axisChangeHold) return false;
  // The wheel's function stays, and is one that a turn of no steps leaves alone.
  if (wheelFunction != WheelFunctionFor(core_.wheelMode, false)) return false;
  switch (wheelFunction) {
    case WheelFunction::StepJog:
    case WheelFunction::SlowJogRateKnob:
    case WheelFunction::FeedOverrideKnob:
    case WheelFunction::SpindleOverrideKnob:
      break;
    default:
      return false;
  }
  // The wheel: the counter taken already, no move of its own and none folded in.
  if (WheelCounter(report.word0) != wheel.lastWheelCount || wheel.reportSteps != 0 ||
      wheel.foldedCounts != 0)
    return false;
  // No jog or burst to end (also when the host inhibits the wheel), no hand-over under way.
  if (continuousJog.runningAxis != kNoRunningJog || continuousJog.jogStarted ||
      continuousJog.leavingContinuous)
    return false;
  // The host's own: no held steps to send or drop, no feed values or jog mode to restore.
  if (core_.heldSteps != nullptr && core_.heldSteps->HoldsSteps()) return false;
  return core_.jogModes == nullptr || core_.jogModes->AtRest();
}
