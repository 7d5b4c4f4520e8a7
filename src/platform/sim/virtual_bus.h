// The simulation's device bus: one process-wide hub of virtual HID devices that every bus made by
// CreateVirtualBus() shares. Devices keep the order in which they were added; writes are recorded.
// Input works like the HID class driver's: reports queue up for the read handle (32 unless the
// handle asks for another count; when full the oldest is dropped), a read takes the oldest, and a
// read started with none queued stays pending until one arrives. Time is virtual: it passes only
// when a test advances it and inside waits (a wait lasts until its read completes or its timeout
// runs out), and the clock the link reads is that time. The pendant either reports on change or
// streams its state on a period; reads complete at once (as on Windows) or a set delay later (as
// under Wine, where the class driver runs in another process). The poll timer runs only when a
// tick is asked for, and device-change notifications reach the listener only after it registered
// for them. The C-style functions are what the simulation's exports call; the
// VirtualBusTest* hooks let unit tests reach the pending-read and failure paths.
#pragma once

#include <cstdint>
#include <memory>

#include "link/device_bus.h"

std::unique_ptr<DeviceBus> CreateVirtualBus();

// Forgets every device, queued report, recorded output and test hook. Handles of buses that are
// still alive become unknown (their reads fail, their closes are ignored).
void VirtualBusReset();
// Adds a present device; returns its index (0, 1, ...).
int VirtualBusAddDevice(std::uint16_t vendorId, std::uint16_t productId);
// The device's interface path (lower-case hex), or nullptr for an unknown index. Stable until the
// next VirtualBusReset.
const char* VirtualBusDevicePath(int index);
// An absent device is not enumerated, cannot be opened, and its open handles fail reads and writes.
void VirtualBusSetDevicePresent(int index, int present);
// While set, every open of the device fails.
void VirtualBusSetOpenFails(int index, int fails);
// Open handles of the device; with index -1, of all devices.
int VirtualBusOpenHandleCount(int index);
// The simulation's device-change event types, those of the Windows host's notifications.
inline constexpr std::uint32_t kDeviceArrival = 0x8000;
inline constexpr std::uint32_t kDeviceRemoveComplete = 0x8004;
// Delivers a device-change event as the Windows host's window would see it: an arrival (with the
// device interface `path`, or with none when `path` is nullptr) reaches the listener as an
// arrival; a removal complete reaches it as a removal only with a path (a removal that names no
// interface is not one the link can match); other types reach it as nothing. Returns 1 when
// delivered, 0 when no listener has registered for notifications.
int VirtualBusDeviceChange(std::uint32_t eventType, const char* path);
// One complete 8-byte input report arrives now: a pending read takes it, else it is queued.
void VirtualBusQueueInputReport(const std::uint8_t report[8]);

// Virtual time in microseconds since the last reset.
std::uint64_t VirtualBusNowUs();
void VirtualBusAdvanceTime(std::uint64_t us);
// The pendant's input state. Reporting on change (stream period 0, the default), a new state is
// sent at once; streaming, the state is sent every period from now on.
void VirtualBusSetInputState(const std::uint8_t report[8]);
void VirtualBusSetStreamPeriod(std::uint32_t periodUs);
// Time from a report meeting a read until the read completes. 0: a read started with a report
// queued is handed over within the read's start; otherwise the read is Pending that long.
void VirtualBusSetCompletionDelay(std::uint32_t us);
int VirtualBusOutputReportCount();
// Copies the last written output report (5 bytes); returns 0 and leaves `report` alone when none
// was written yet.
int VirtualBusLastOutputReport(std::uint8_t report[5]);
// Runs one poll when the timer is running; 1 when it ran, else 0.
int VirtualBusTimerTick();

// Test hooks.
// Queues a read result of `size` bytes (0..8) of `bytes`, as a short report would arrive.
void VirtualBusTestQueueShortReport(const std::uint8_t* bytes, std::uint32_t size);
// Queues a read that ends with an error.
void VirtualBusTestQueueReadError();
// While set, opens of the device for reading or writing fail; probe opens still work.
void VirtualBusTestFailDataOpens(int index, bool fail);
// While held, reads stay pending whatever is queued.
void VirtualBusTestHoldReads(bool hold);
struct VirtualBusStats {
  int readsStarted = 0;
  int waits = 0;
  std::uint64_t timedOutUs = 0;  // sum of the timeouts of waits that timed out
  int timedOutWaits = 0;
  std::uint64_t waitedUs = 0;          // virtual time spent inside waits
  int reportsDropped = 0;              // by a full input queue
  std::uint32_t inputBufferCount = 0;  // last count a read handle asked for
  int cancels = 0;                     // reads still outstanding when their handle closed
  int registrations = 0;
  int unregistrations = 0;
  bool timerRunning = false;
  std::uint32_t timerId = 0;
  std::uint32_t timerPeriodMs = 0;
  bool notificationsRegistered = false;
  bool listenerSet = false;
};
VirtualBusStats VirtualBusTestStats();
