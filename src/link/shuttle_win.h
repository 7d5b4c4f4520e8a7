// The hidden window object that owns the pendant link and every per-pendant state.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "link/device_bus.h"

struct Module;

inline constexpr std::uint16_t kPendantVendorId = 0x04D8;
inline constexpr std::uint16_t kPendantProductId = 0xFCE4;
inline constexpr std::uint32_t kPollTimerId = 1;
inline constexpr std::uint32_t kPollPeriodMs = 25;
inline constexpr std::uint32_t kReadWaitMs = 5;
inline constexpr std::uint32_t kInputReportSize = 8;
inline constexpr std::uint32_t kOutputReportSize = 5;
// Input reports the system keeps for the read handle between polls (its default is 32).
inline constexpr std::uint32_t kInputBufferCount = 16;
// Reads one poll takes at most: the whole queue and what arrives meanwhile, but never an endless
// stream.
inline constexpr std::uint32_t kMaxReportsPerPoll = 2 * kInputBufferCount;
// The wait for a read that may be on its way while the queue is emptied, where the system hands
// queued reports over asynchronously: twice the longest recent hand-over, within these bounds.
inline constexpr std::uint32_t kHandOverWaitMaxUs = 1000;
inline constexpr std::uint32_t kHandOverWaitMinUs = 250;

class ShuttleWin final : public BusListener {
 public:
  ShuttleWin(Module& module, std::unique_ptr<DeviceBus> bus);
  ~ShuttleWin();
  ShuttleWin(const ShuttleWin&) = delete;
  ShuttleWin& operator=(const ShuttleWin&) = delete;

  bool FindPendant();
  // The window's messages: each enters the module (host/lifecycle.h). A timer message that
  // arrives while a poll runs (a host that pumps messages inside a callback) is dropped, and a
  // window that is going handles nothing more.
  bool OnDeviceChange(std::uint32_t eventType, const DeviceBroadcast* broadcast) override;
  void OnTimer() override;
  void Poll();
  void DecodeInput();

  // False when the platform could make no window: then nothing would ever be polled.
  bool HasWindow() const { return bus && bus->HasWindow(); }
  // Closes every handle and ends the window, its timer and its notifications; the object stays
  // valid and inert until it is destroyed. The destructor does the same.
  void Shutdown();

 private:
  // Cancels a pending read, then closes the read and write handles.
  void CloseLink();
  void OpenLink();
  // Opens `path`, writing a failure to the diagnostic trail.
  DeviceHandle OpenTraced(const std::string& path, OpenMode mode);
  // The search of FindPendant without the registration and the timer; returns `connected`.
  bool SearchPendant();
  void CloseHandle(DeviceHandle& handle);
  // Takes every report that has arrived into takenReports; returns how many.
  std::uint32_t TakeReports();

 public:
  Module& module;
  std::unique_ptr<DeviceBus> bus;

  // Link
  std::string devicePath;
  DeviceHandle probeHandle = kInvalidDeviceHandle;
  DeviceHandle readHandle = kInvalidDeviceHandle;
  DeviceHandle writeHandle = kInvalidDeviceHandle;
  bool connected = false;
  bool notificationsRegistered = false;
  bool timerStarted = false;
  bool readPending = false;
  // After a reopen nothing is decoded until a fresh report arrives: the report from before an
  // unplug may hold a turning wheel, which must not keep driving the machine.
  bool awaitingReport = false;
  bool polling = false;
  bool shutDown = false;
  // A failed read was written to the trail; cleared by a good read or a reopen.
  bool readErrorReported = false;
  // How long the system takes to hand a queued report over to a read started after it.
  std::uint32_t handOverSeenUs = kHandOverWaitMaxUs / 2;
  std::uint32_t handOverWaitUs = kHandOverWaitMaxUs;
  std::uint8_t ioBuffer[kInputReportSize] = {};  // the system reads into this one
  std::uint8_t takenReports[kMaxReportsPerPoll][kInputReportSize] =
      {};  // this poll's, oldest first

  // Poll
  std::uint8_t readBuffer[kInputReportSize] = {};  // the report decoded this poll
  std::uint8_t previousReport[kInputReportSize] = {};
  std::uint32_t reportWord0 = 0;
  std::uint32_t reportWord1 = 0;
  std::uint8_t outputReport[kOutputReportSize] = {};
  std::int32_t endJogCountdown = 0;
  bool restoreAbsolute = true;

  // Chords and screen key
  std::int32_t screenCode[3] = {0, 0, 0};
  std::int32_t screenSlot = 1;

  // Buttons
  std::int32_t wheelFunction = 1;
  std::int32_t previousWheelFunction = 1;
  std::int32_t enableHeld = 0;
  std::int32_t modeButtons = 0;

  // Axis selection
  std::int32_t selectedAxis = 0;
  std::int32_t previousAxis = 1;

  // Wheel
  std::int32_t lastWheelCount = 0;
  std::int32_t wheelDelta = 0;
  std::int32_t wheelDirection = 0;
  double savedFeedRate = 0.0;
  double savedFeedOverride = 0.0;
  std::uint8_t savedValid = 0;
  std::uint8_t feedOverrideForced = 0;  // the burst set read-out 821 to 100, so restore it
  std::int32_t pendingSteps = 0;

  // Continuous jogging
  std::int32_t wheelSpeed = 0;
  std::int32_t lastJogDirection = 0;
  double deltaHistory[2] = {0.0, 0.0};
  std::int32_t deltaHistoryIndex = 0;
  double speedHistory[10] = {};
  double velocityRatio = 0.0;
  std::int32_t cModeCount = 0;
  std::uint8_t jogStarted = 0;
  std::uint8_t hostJogModeSwitched = 0;
  std::uint8_t leavingContinuous = 0;

  // Presets
  std::int32_t stepPresetIndex = 1;
  std::int32_t slowJogPresetIndex = 1;
  std::int32_t feedOverridePresetIndex = 1;
  std::int32_t feedRatePresetIndex = 1;
  std::int32_t spindlePresetIndex = 1;
  std::uint8_t wheelMoving = 0;
  std::uint8_t wheelMovingBefore = 0;
  float stepPresetValues[9] = {};
  float feedRatePresetValues[9] = {};
};
