// The simulation's device bus: one process-wide hub of virtual HID devices that every bus made by
// CreateVirtualBus() shares. Devices keep the order in which they were added; reads complete from
// one input report queue or time out at once (no real time passes); writes are recorded. The poll
// timer runs only when a tick is asked for, and device-change notifications reach the listener only
// after it registered for them. The C-style functions are what the simulation's exports call; the
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
// Delivers a device-change message (eventType 0x8000 arrival, 0x8004 removal complete, ...) with a
// device-interface broadcast carrying `path`, or with no broadcast when `path` is nullptr. Returns
// 1 when delivered, 0 when no listener has registered for notifications.
int VirtualBusDeviceChange(std::uint32_t eventType, const char* path);
// Queues one complete 8-byte input report for the next read. The queue holds 256 reports; when
// it is full the oldest is dropped.
void VirtualBusQueueInputReport(const std::uint8_t report[8]);
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
  int readsReissuedWhilePending = 0;  // StartRead on a handle whose read is outstanding
  int waits = 0;
  std::uint32_t waitedMs = 0;  // sum of the timeouts of waits that timed out or completed
  int cancels = 0;
  int closedWithReadPending = 0;
  int registrations = 0;
  int unregistrations = 0;
  bool timerRunning = false;
  std::uint32_t timerId = 0;
  std::uint32_t timerPeriodMs = 0;
  bool notificationsRegistered = false;
  bool listenerSet = false;
};
VirtualBusStats VirtualBusTestStats();
