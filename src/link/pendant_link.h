// The pendant link: discovery, hot-plug and the poll, owning every per-pendant state. The device
// bus brings it its events: on Windows the hidden window ShuttleWin, elsewhere the owner's loop.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "input/axis_select.h"
#include "input/buttons.h"
#include "input/chords.h"
#include "input/input_report.h"
#include "input/output_report.h"
#include "input/safety_input.h"
#include "input/wheel_function.h"
#include "jog/continuous_jog.h"
#include "jog/presets.h"
#include "jog/wheel.h"
#include "link/device_bus.h"
#include "link/pendant_ids.h"

struct Core;

inline constexpr std::uint32_t kPollPeriodMs = 25;
inline constexpr std::uint32_t kReadWaitMs = 5;
inline constexpr std::uint32_t kInputReportSize = 8;
// Input reports waiting at one poll that it takes whole. The system keeps one more for the read
// handle (its default is 32), so a poll that finds more than this many may have lost the oldest.
inline constexpr std::uint32_t kInputQueueDepth = 16;
inline constexpr std::uint32_t kInputBufferCount = kInputQueueDepth + 1;
// Reads one poll takes at most: the whole queue and what arrives meanwhile, but never an endless
// stream.
inline constexpr std::uint32_t kMaxReportsPerPoll = 2 * kInputQueueDepth;
// The deepest queue a bus may report (hidraw keeps 63 reports per reader), and the reports one
// poll can hold at that depth.
inline constexpr std::uint32_t kMaxInputQueueDepth = 64;
inline constexpr std::uint32_t kReportStoreCount = 2 * kMaxInputQueueDepth;
// The wait for a read that may be on its way while the queue is emptied, where the system hands
// queued reports over asynchronously: twice the longest recent hand-over, within these bounds.
inline constexpr std::uint32_t kHandOverWaitMaxUs = 1000;
inline constexpr std::uint32_t kHandOverWaitMinUs = 250;

// The behaviours' latches that outlive a window: a key held while the host makes a new window is
// not taken for a new press. The module keeps them.
struct PendantLatches {
  SafetyState safety;
  ChordState chords;
  ButtonState buttons;
  AxisKeyState axisKeys;
};

class PendantLink final : public BusListener {
 public:
  PendantLink(Core& core, PendantLatches& latches, std::unique_ptr<DeviceBus> bus);
  ~PendantLink();
  PendantLink(const PendantLink&) = delete;
  PendantLink& operator=(const PendantLink&) = delete;

  bool FindPendant();
  // The bus's events: each enters the core (CoreCall). A tick that arrives while a poll runs (a
  // host that pumps messages inside a callback) is dropped, and a link that is going handles
  // nothing more.
  void OnTick() override;
  void OnInterfaceArrived(std::string_view path) override;
  void OnInterfaceGone(std::string_view path) override;
  // Acts on the reports that woke the owner's loop at once, without a tick: what the behaviours
  // time stays counted in ticks, and the output report goes out only when it changed.
  void OnReportsWaiting() override;
  // A tick's poll, or (Reports) one between ticks for the reports waiting.
  enum class PollCause { Tick, Reports };
  void Poll(PollCause cause = PollCause::Tick);
  // Runs the input chain on one report, which becomes the decoded report.
  void DecodeInput(const std::uint8_t* report);

  // False when the platform could make no window: then nothing would ever be polled.
  bool Ready() const { return bus_ && bus_->Ready(); }
  // Closes every handle and ends the window, its timer and its notifications; the object stays
  // valid and inert until it is destroyed. The destructor does the same.
  void Shutdown();
  // Ends what the pendant started on the machine and nothing else would end once the plug-in
  // stops: a running jog and its burst, the held tap-and-hold actions and their burst.
  void WindDown();

  bool Connected() const { return connected_; }
  // After a reopen nothing is decoded until a fresh report arrives.
  bool AwaitingReport() const { return awaitingReport_; }
  // The same from now on, for an owner whose machine must not act on the blank report at all
  // before the pendant's first one (the wheel's counter never takes it, whatever the owner).
  void AwaitReport() {
    awaitingReport_ = true;
    ForgetWheelCounter(wheel);
  }
  const std::string& DevicePath() const { return devicePath_; }
  // The report decoded last (all zero before the first).
  const std::uint8_t* DecodedReport() const { return decodedReport_; }

  // The behaviours that start afresh with each window; latches_ holds the rest, and the machine
  // what its host keeps per window.
  ScreenSelection screens;
  WheelFunction wheelFunction = WheelFunction::BeforeFirstPoll;
  AxisSelection axis;
  WheelState wheel;
  ContinuousJogState continuousJog;
  PresetState presets;
  // Off: every decode runs the whole input chain, also where it can change nothing (tests compare
  // the two).
  bool skipRestingDecodes = true;

 private:
  // Cancels a pending read, then closes the read and write handles.
  void CloseLink();
  void OpenLink();
  // Opens `path`, writing a failure to the diagnostic trail.
  DeviceHandle OpenTraced(const std::string& path, OpenMode mode);
  // The search of FindPendant without the registration and the timer; returns `connected_`.
  bool SearchPendant();
  void CloseHandle(DeviceHandle& handle);
  // A host that watches the pendant hears of each change.
  void SetConnected(bool connected);
  // Takes every report that has arrived into takenReports_, or when the bus woke the owner for
  // them, the oldest; returns how many.
  std::uint32_t TakeReports(bool woken);
  // The input chain on decodedReport_.
  void Decode();
  // A poll, unless one runs already (a host that pumps messages inside a callback) or the core
  // is muted.
  void GuardedPoll(PollCause cause);
  // Whether the input chain would change nothing on `report` and ask the host nothing but the
  // safety input's level.
  bool ChainAtRest(const input_report::Words& report) const;

  Core& core_;
  PendantLatches& latches_;
  std::unique_ptr<DeviceBus> bus_;

  std::string devicePath_;
  DeviceHandle probeHandle_ = kInvalidDeviceHandle;
  DeviceHandle readHandle_ = kInvalidDeviceHandle;
  DeviceHandle writeHandle_ = kInvalidDeviceHandle;
  bool connected_ = false;
  bool notificationsRegistered_ = false;
  // After a reopen nothing is decoded until a fresh report arrives: the report from before an
  // unplug may hold a turning wheel, which must not keep driving the machine.
  bool awaitingReport_ = false;
  bool decodedAny_ = false;
  bool reportTaken_ = false;  // the pendant has reported since this link began
  bool polling_ = false;
  bool shutDown_ = false;
  // A failed read was written to the trail; cleared by a good read or a reopen.
  bool readErrorReported_ = false;
  // A report of another length was written to the trail; cleared by a reopen.
  bool reportSizeReported_ = false;
  // The longest recent time the system took to hand a queued report over to a read started after
  // it; the hand-over wait is twice this, within its bounds.
  std::uint32_t handOverSeenUs_ = kHandOverWaitMaxUs / 2;
  // The bus's queue depth: more reports at one poll may mean lost ones.
  std::uint32_t queueDepth_ = kInputQueueDepth;
  std::uint8_t takenReports_[kReportStoreCount][kInputReportSize] =
      {};  // this poll's, oldest first
  std::uint8_t decodedReport_[kInputReportSize] = {};
  std::uint8_t writtenReport_[kOutputReportSize] = {};
  bool wroteReport_ = false;
};
