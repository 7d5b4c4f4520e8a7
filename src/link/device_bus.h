// The small device-bus interface that the pendant link is written over: HID interface enumeration,
// opening, attributes, reads of input reports with a bounded wait (the bus keeps the one read that
// may be outstanding), writes, and the events the link listens to (ticks, arrivals, removals,
// waiting reports). Win32, hidraw and the simulation implement it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

using DeviceHandle = std::intptr_t;
inline constexpr DeviceHandle kInvalidDeviceHandle = -1;

enum class OpenMode {
  Probe,  // no access rights, share read/write: only for the attributes
  Read,   // reads input reports, share read/write (overlapped on Windows)
  Write,  // generic write, share read/write
};

struct HidAttributes {
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
};

enum class IoStatus {
  Done,     // the read completed; `transferred` holds its byte count
  Pending,  // still outstanding: buffer and read state must not be touched
  Failed,   // no read is outstanding any more and nothing valid arrived
};

// One present HID interface as an enumeration yields it: its path and, where it opened for
// probing, its identifiers. The probe handle is the caller's, to keep or to close.
struct HidInterface {
  std::string path;
  DeviceHandle probe = kInvalidDeviceHandle;
  std::uint32_t probeError = 0;  // the system's code when the probe open failed
  HidAttributes attributes;
};

// What the bus tells the link, in no system's terms. Each bus maps its system's notifications onto
// these: the Win32 window its timer and WM_DEVICECHANGE, the hidraw bus its owner's loop and its
// rescans, the virtual bus the simulation's calls.
class BusListener {
 public:
  // The poll's tick is due.
  virtual void OnTick() = 0;
  // A device arrived. `path` is its interface path, or empty where the system named none; any
  // arrival may be the pendant coming back.
  virtual void OnInterfaceArrived(std::string_view path) = 0;
  // The device interface at `path` went away (empty where the system named it so).
  virtual void OnInterfaceGone(std::string_view path) = 0;
  // Input reports are waiting on an open Read handle. Only a bus whose owner can wake on the
  // device says so; the others leave the reports to the next tick.
  virtual void OnReportsWaiting() {}

 protected:
  ~BusListener() = default;
};

class DeviceBus {
 public:
  virtual ~DeviceBus() = default;

  virtual void SetListener(BusListener* listener) = 0;

  // Enumeration of the present HID device interfaces, in the platform's order.
  virtual bool BeginEnumeration() = 0;
  // False when there is no interface at `index` (the search ends there).
  virtual bool InterfacePath(std::uint32_t index, std::string& path) = 0;
  virtual void EndEnumeration() = 0;
  // The interface at `index`, opened for probing and identified; false when there is none.
  bool NextInterface(std::uint32_t index, HidInterface& found) {
    found.attributes = HidAttributes{};
    found.probeError = 0;
    found.probe = kInvalidDeviceHandle;
    if (!InterfacePath(index, found.path)) return false;
    found.probe = Open(found.path, OpenMode::Probe);
    if (found.probe == kInvalidDeviceHandle) {
      found.probeError = LastError();
    } else {
      GetAttributes(found.probe, found.attributes);
    }
    return true;
  }

  // kInvalidDeviceHandle when the path cannot be opened.
  virtual DeviceHandle Open(const std::string& path, OpenMode mode) = 0;
  virtual bool GetAttributes(DeviceHandle handle, HidAttributes& attributes) = 0;
  // Cancels a read outstanding on the handle, waits until the system is done with it, and closes.
  virtual void Close(DeviceHandle handle) = 0;

  // The system keeps a queue of input reports for each read handle and drops the oldest when it
  // is full; a read takes the oldest queued report, or stays pending until one arrives. This sets
  // the queue's length for a Read handle; where the platform cannot, it does nothing.
  virtual void SetInputBufferCount(DeviceHandle /*handle*/, std::uint32_t /*reports*/) {}
  // How many reports the system keeps waiting for a read handle where that is its own, fixed
  // number; 0 where it is the queue the link sets with SetInputBufferCount.
  virtual std::uint32_t InputQueueDepth() const { return 0; }

  // Takes the oldest input report the system holds for a Read handle. The bus keeps at
  // most one read outstanding, into storage of its own: a call starts one when none is, and then
  // waits at most `timeoutUs` microseconds for it (0 only checks). Done: the report's first
  // bytes, up to `size`, are in `buffer`, `transferred` is its length (a bus that sees a longer
  // report whole says so; others cut it to `size`), and `handedOverAtOnce` tells whether the
  // system handed it over within the read's start (Windows does when a report is queued; Wine,
  // where the class driver runs in another process, mostly completes reads a little later).
  // Pending: nothing arrived in time; the read stays outstanding for the next call. Failed:
  // nothing valid arrived and no read is outstanding any more.
  virtual IoStatus ReadReport(DeviceHandle handle, std::uint8_t* buffer, std::uint32_t size,
                              std::uint32_t timeoutUs, std::uint32_t& transferred,
                              bool& handedOverAtOnce) = 0;
  virtual bool ReadOutstanding(DeviceHandle handle) const = 0;

  virtual bool Write(DeviceHandle handle, const std::uint8_t* data, std::uint32_t size) = 0;

  // The link registers once, at its first match, and unregisters when it is destroyed. Destroying
  // the bus ends the timer and releases the read event it owns.
  virtual bool RegisterNotifications() = 0;
  virtual void UnregisterNotifications() = 0;

  // Starts the poll's ticks: the listener's OnTick every `periodMs` milliseconds.
  virtual void StartTicks(std::uint32_t periodMs) = 0;

  // False when the bus could not set itself up (on Windows: the hidden window that carries the
  // ticks and the notifications).
  virtual bool Ready() const = 0;
  // Ends the bus now (ticks, notifications, anything still open; on Windows its window) while the
  // object stays valid and inert: the link calls it when the bus must go while one of its own
  // events is still being handled. Nothing reaches the listener afterwards. Destroying the bus does
  // the same.
  virtual void Shutdown() = 0;
  // A monotonic clock for the poll's time budget; a bus without one returns 0 throughout, and
  // the poll is then bounded by its report count alone.
  virtual std::uint64_t NowMicroseconds() { return 0; }
  // The system's error code of the last failed Open or ReadReport, for the diagnostic
  // trail; 0 when the bus cannot tell.
  virtual std::uint32_t LastError() const { return 0; }
};
