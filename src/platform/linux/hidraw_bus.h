// The Linux device bus: HID interfaces are hidraw nodes, found through sysfs; reads and writes go
// to the node. There is no window on Linux, so the owner's main loop drives the poll timer and the
// hot-plug notifications by calling RunOnce() again and again.
#pragma once

#include <sys/types.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "link/device_bus.h"

struct HidrawBusPaths {
  // Where sysfs and the device nodes live; tests point both at a virtual pendant.
  std::string sysfsRoot = "/sys";
  std::string devRoot = "/dev";
  // When set (typically a fixed symlink a udev rule makes), the one interface enumerated. Its
  // identifiers come from sysfs when it is a character device that sysfs knows; otherwise it is
  // taken to be the pendant, since the integrator named it.
  std::string devicePath;
  // How often the nodes are looked at for plug and unplug.
  std::uint32_t rescanPeriodMs = 1000;
};

class HidrawBus final : public DeviceBus {
 public:
  explicit HidrawBus(HidrawBusPaths paths = {});
  ~HidrawBus() override;
  HidrawBus(const HidrawBus&) = delete;
  HidrawBus& operator=(const HidrawBus&) = delete;

  // Waits until the poll timer is due, a device comes or goes, a report arrives, a signal arrives
  // or `maxWaitMs` pass, whichever is first, then hands the listener what is due: removals first,
  // then arrivals, then waiting reports, then the tick. A component's main loop is
  // `while (running) bus.RunOnce();`. A read handle is watched for reports once it has been read
  // since the last wake for it: one that is not read meanwhile cannot keep waking the loop.
  void RunOnce(std::uint32_t maxWaitMs = 1000);

  void SetListener(BusListener* listener) override { listener_ = listener; }

  bool BeginEnumeration() override;
  bool InterfacePath(std::uint32_t index, std::string& path) override;
  void EndEnumeration() override { enumeration_.clear(); }

  DeviceHandle Open(const std::string& path, OpenMode mode) override;
  bool GetAttributes(DeviceHandle handle, HidAttributes& attributes) override;
  void Close(DeviceHandle handle) override;

  // A report longer than `size` gives its first `size` bytes with `transferred` its whole length,
  // so that the caller can tell it from a report that fits.
  IoStatus ReadReport(DeviceHandle handle, std::uint8_t* buffer, std::uint32_t size,
                      std::uint32_t timeoutUs, std::uint32_t& transferred,
                      bool& handedOverAtOnce) override;
  bool ReadOutstanding(DeviceHandle handle) const override;
  // hidraw's ring of 64 entries for each open file holds 63 reports, and drops new ones when full.
  std::uint32_t InputQueueDepth() const override { return 63; }
  bool Write(DeviceHandle handle, const std::uint8_t* data, std::uint32_t size) override;

  bool RegisterNotifications() override;
  void UnregisterNotifications() override;
  void StartTicks(std::uint32_t periodMs) override;
  bool Ready() const override { return !shutDown_; }
  void Shutdown() override;
  std::uint64_t NowMicroseconds() override;
  // errno of the last failed open, read or enumeration.
  std::uint32_t LastError() const override { return lastError_; }

 private:
  struct OpenDevice {
    DeviceHandle id = kInvalidDeviceHandle;
    int fd = -1;  // none for a probe
    std::string path;
    HidAttributes attributes;
    bool identified = false;
    bool reads = false;      // opened for reading
    bool pending = false;    // the last read found nothing: the next one only checks
    bool watched = false;    // read since the last wake for its reports: the wait watches it
    bool gone = false;       // a read or write failed: its removal is due
    bool announced = false;  // and the listener has had it
  };
  // A node as the last rescan saw it. `name` is the hidraw name, or empty for the explicit path.
  struct SeenNode {
    std::array<char, 32> name{};
    ino_t identity = 0;  // changes when the node is made anew: a replug under the same name
    bool present = false;
    bool announcedGone = false;  // a failed read or write reported its removal already
  };

  OpenDevice* Find(DeviceHandle handle);
  const OpenDevice* Find(DeviceHandle handle) const;
  bool Identify(const std::string& path, HidAttributes& attributes) const;
  // Marks the device at `path` gone after a failed read or write: its removal is delivered by the
  // next RunOnce, once, whatever the rescan sees meanwhile.
  void MarkGone(OpenDevice& device);
  // Compares the nodes present now with those seen before; with `announce`, tells the listener.
  void Rescan(bool announce);
  enum class Change { Arrived, Gone };
  void Announce(Change change, const char* name);
  // Writes the device-node path of a seen node into eventName_.
  const char* NodePath(const SeenNode& node);
  void OpenMonitor();
  bool DrainMonitor();  // true when a hidraw device came or went

  HidrawBusPaths paths_;
  BusListener* listener_ = nullptr;
  bool shutDown_ = false;
  bool notify_ = false;
  std::uint32_t lastError_ = 0;
  std::vector<std::string> enumeration_;
  std::vector<OpenDevice> devices_;
  DeviceHandle nextHandle_ = 1;

  std::uint32_t timerPeriodMs_ = 0;  // 0: not running
  std::uint64_t timerDueUs_ = 0;
  std::uint64_t rescanDueUs_ = 0;

  static constexpr std::size_t kMaxNodes = 64;
  static constexpr std::size_t kMaxWatchedReads = 8;
  static constexpr std::size_t kMaxReportBytes = 64;  // a full-speed USB packet
  std::array<SeenNode, kMaxNodes> seen_{};
  std::array<SeenNode, kMaxNodes> scan_{};  // the rescan's working copy
  // The name handed to the listener; fixed storage, so dispatching allocates nothing.
  std::array<char, 4096> eventName_{};

  // libudev's monitor where udev runs: an event makes the rescan happen at once, without waiting
  // for its period. Opaque here so this header needs no libudev.
  struct Monitor;
  std::unique_ptr<Monitor> monitor_;
};
