#include "platform/sim/virtual_bus.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "text/ascii.h"

namespace {

// The id the Windows window gives its poll timer, which the statistics show as it would.
constexpr std::uint32_t kSimTimerId = 1;

struct VirtualDevice {
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
  std::string path;
  bool present = true;
  bool openFails = false;
  bool dataOpensFail = false;
};

struct ReadResult {
  std::uint8_t bytes[8] = {};
  std::uint32_t size = 0;
  bool error = false;
  std::uint64_t arrivedUs = 0;
};

struct OpenHandle {
  int device = -1;
  OpenMode mode = OpenMode::Probe;
  bool readPending = false;
  std::uint64_t startedUs = 0;
  // The report the pending read has been given; it completes at completesAtUs.
  bool assigned = false;
  ReadResult assignedReport;
  std::uint64_t completesAtUs = 0;
};

class VirtualBus;

inline constexpr std::size_t kInputQueueCapacity = 256;
// The class driver's input queue length until a handle asks for another.
inline constexpr std::size_t kDefaultInputBuffers = 32;

// The Windows error codes a real bus reports in the same situations, for the diagnostic trail.
inline constexpr std::uint32_t kErrorFileNotFound = 2;
inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrorGenFailure = 31;
inline constexpr std::uint32_t kErrorDeviceNotConnected = 1167;

struct Hub {
  std::vector<VirtualDevice> devices;
  std::map<DeviceHandle, OpenHandle> handles;
  DeviceHandle nextHandle = 0x100;
  // A fixed ring, so that reading and writing allocate nothing; when full, the oldest report is
  // dropped, as a HID driver's input buffer does.
  ReadResult inputQueue[kInputQueueCapacity];
  std::size_t inputHead = 0;
  std::size_t inputCount = 0;
  std::size_t inputCapacity = kDefaultInputBuffers;
  // Virtual time and the pendant's own reporting.
  std::uint64_t nowUs = 0;
  std::uint8_t inputState[8] = {};
  std::uint32_t streamPeriodUs = 0;  // 0: a report per change
  std::uint64_t nextStreamUs = 0;
  std::uint32_t completionDelayUs = 0;
  int outputCount = 0;
  std::uint8_t lastOutput[5] = {};
  bool holdReads = false;
  VirtualBusStats stats;
  VirtualBus* timerOwner = nullptr;
  VirtualBus* notificationOwner = nullptr;
  BusListener* listener = nullptr;
  VirtualBus* listenerOwner = nullptr;
  // Paths of the present devices, fixed when an enumeration begins.
  std::vector<std::string> enumeration;
};

// Never destroyed: at process exit the plug-in's module may be torn down after any other static,
// and its window still closes its handles here.
Hub& TheHub() {
  static Hub* hub = new Hub;
  return *hub;
}

ReadResult PopOldest(Hub& hub) {
  const ReadResult r = hub.inputQueue[hub.inputHead];
  hub.inputHead = (hub.inputHead + 1) % kInputQueueCapacity;
  --hub.inputCount;
  return r;
}

// Gives a pending read the oldest queued report, if it has none yet and reads are not held.
void Assign(Hub& hub, OpenHandle& h) {
  if (!h.readPending || h.assigned || hub.holdReads || hub.inputCount == 0) return;
  h.assignedReport = PopOldest(hub);
  h.assigned = true;
  h.completesAtUs = std::max(h.startedUs, h.assignedReport.arrivedUs) + hub.completionDelayUs;
}

bool Completed(const Hub& hub, const OpenHandle& h) {
  return h.readPending && h.assigned && h.completesAtUs <= hub.nowUs;
}

IoStatus Finish(OpenHandle& h, std::uint8_t* buffer, std::uint32_t size,
                std::uint32_t& transferred) {
  const ReadResult& r = h.assignedReport;
  h.readPending = false;
  h.assigned = false;
  if (r.error) return IoStatus::Failed;
  transferred = std::min(r.size, size);
  std::memcpy(buffer, r.bytes, transferred);
  return IoStatus::Done;
}

// A report reaches the system: a waiting read takes it, else it is queued, the oldest dropped
// when the queue is full.
void Push(ReadResult r) {
  Hub& hub = TheHub();
  r.arrivedUs = hub.nowUs;
  if (!hub.holdReads) {
    for (auto& [handle, h] : hub.handles) {
      if (h.readPending && !h.assigned) {
        h.assignedReport = r;
        h.assigned = true;
        h.completesAtUs = hub.nowUs + hub.completionDelayUs;
        return;
      }
    }
  }
  if (hub.inputCount >= hub.inputCapacity) {
    PopOldest(hub);
    ++hub.stats.reportsDropped;
  }
  hub.inputQueue[(hub.inputHead + hub.inputCount) % kInputQueueCapacity] = r;
  ++hub.inputCount;
}

// Lets virtual time pass until `us`; a streaming pendant sends its state on its period.
void AdvanceTo(std::uint64_t us) {
  Hub& hub = TheHub();
  while (hub.streamPeriodUs != 0 && hub.nextStreamUs <= us) {
    hub.nowUs = std::max(hub.nowUs, hub.nextStreamUs);
    ReadResult r;
    std::memcpy(r.bytes, hub.inputState, sizeof r.bytes);
    r.size = 8;
    Push(r);
    hub.nextStreamUs += hub.streamPeriodUs;
  }
  hub.nowUs = std::max(hub.nowUs, us);
}

class VirtualBus final : public DeviceBus {
 public:
  ~VirtualBus() override { Shutdown(); }

  bool Ready() const override { return true; }

  void Shutdown() override {
    Hub& hub = TheHub();
    if (hub.listenerOwner == this) {
      hub.listener = nullptr;
      hub.listenerOwner = nullptr;
    }
    // The window goes with the bus: its timer and its notification registration end.
    if (hub.timerOwner == this) {
      hub.timerOwner = nullptr;
      hub.stats.timerRunning = false;
    }
    if (hub.notificationOwner == this) {
      hub.notificationOwner = nullptr;
      hub.stats.notificationsRegistered = false;
    }
    hub.stats.listenerSet = hub.listener != nullptr;
  }

  void SetListener(BusListener* l) override {
    Hub& hub = TheHub();
    // Another bus's listener is not this bus's to clear.
    if (l == nullptr && hub.listenerOwner != this) return;
    hub.listener = l;
    hub.listenerOwner = l != nullptr ? this : nullptr;
    hub.stats.listenerSet = l != nullptr;
  }

  bool BeginEnumeration() override {
    Hub& hub = TheHub();
    hub.enumeration.clear();
    for (const auto& d : hub.devices)
      if (d.present) hub.enumeration.push_back(d.path);
    return true;
  }
  bool InterfacePath(std::uint32_t index, std::string& path) override {
    Hub& hub = TheHub();
    if (index >= hub.enumeration.size()) return false;
    path = hub.enumeration[index];
    return true;
  }
  void EndEnumeration() override { TheHub().enumeration.clear(); }

  DeviceHandle Open(const std::string& path, OpenMode mode) override {
    Hub& hub = TheHub();
    for (std::size_t i = 0; i < hub.devices.size(); ++i) {
      const VirtualDevice& d = hub.devices[i];
      if (!ascii::EqualIgnoringCase(d.path, path)) continue;
      if (!d.present) return Fail(kErrorFileNotFound);
      if (d.openFails || (d.dataOpensFail && mode != OpenMode::Probe))
        return Fail(kErrorAccessDenied);
      DeviceHandle h = hub.nextHandle++;
      OpenHandle opened;
      opened.device = static_cast<int>(i);
      opened.mode = mode;
      hub.handles[h] = opened;
      return h;
    }
    return Fail(kErrorFileNotFound);
  }

  std::uint32_t LastError() const override { return lastError_; }

  bool GetAttributes(DeviceHandle handle, HidAttributes& attributes) override {
    const VirtualDevice* d = PresentDevice(handle);
    if (d == nullptr) return false;
    attributes.vendorId = d->vendorId;
    attributes.productId = d->productId;
    return true;
  }

  void Close(DeviceHandle handle) override {
    Hub& hub = TheHub();
    auto it = hub.handles.find(handle);
    if (it == hub.handles.end()) return;
    if (it->second.readPending) ++hub.stats.cancels;
    const bool reader = it->second.mode == OpenMode::Read;
    hub.handles.erase(it);
    // The reports waiting on a read handle go with it, as the system's own do: a handle opened
    // later starts with what arrives from then on.
    const bool readerLeft = std::any_of(hub.handles.begin(), hub.handles.end(), [](const auto& h) {
      return h.second.mode == OpenMode::Read;
    });
    if (reader && !readerLeft) {
      hub.inputHead = 0;
      hub.inputCount = 0;
    }
  }

  void SetInputBufferCount(DeviceHandle handle, std::uint32_t reports) override {
    Hub& hub = TheHub();
    if (ReadableHandle(handle) == nullptr) return;
    // The class driver's bounds.
    hub.inputCapacity = std::clamp<std::size_t>(reports, 2, kInputQueueCapacity);
    hub.stats.inputBufferCount = static_cast<std::uint32_t>(hub.inputCapacity);
    while (hub.inputCount > hub.inputCapacity) {
      PopOldest(hub);
      ++hub.stats.reportsDropped;
    }
  }

  bool ReadOutstanding(DeviceHandle handle) const override {
    const Hub& hub = TheHub();
    const auto it = hub.handles.find(handle);
    return it != hub.handles.end() && it->second.readPending;
  }

  IoStatus ReadReport(DeviceHandle handle, std::uint8_t* buffer, std::uint32_t size,
                      std::uint32_t timeoutUs, std::uint32_t& transferred,
                      bool& handedOverAtOnce) override {
    Hub& hub = TheHub();
    transferred = 0;
    handedOverAtOnce = false;
    OpenHandle* h = ReadableHandle(handle);
    if (h == nullptr || buffer == nullptr) return ReadFailed(kErrorDeviceNotConnected);
    if (!h->readPending) {
      ++hub.stats.readsStarted;
      h->readPending = true;
      h->startedUs = hub.nowUs;
      h->assigned = false;
      Assign(hub, *h);
      if (Completed(hub, *h)) {
        handedOverAtOnce = true;
        return Noted(Finish(*h, buffer, size, transferred));
      }
    }
    ++hub.stats.waits;
    const std::uint64_t before = hub.nowUs;
    Assign(hub, *h);
    if (!Completed(hub, *h)) {
      // The wait ends when the read completes within the timeout, else with the timeout.
      const std::uint64_t deadline = hub.nowUs + timeoutUs;
      std::uint64_t until = deadline;
      if (h->assigned) {
        until = std::min(deadline, h->completesAtUs);
      } else if (hub.streamPeriodUs != 0 && !hub.holdReads) {
        until = std::min(deadline, hub.nextStreamUs + hub.completionDelayUs);
      }
      AdvanceTo(until);
      if (!Completed(hub, *h)) AdvanceTo(deadline);
    }
    hub.stats.waitedUs += hub.nowUs - before;
    if (Completed(hub, *h)) return Noted(Finish(*h, buffer, size, transferred));
    if (timeoutUs > 0) ++hub.stats.timedOutWaits;  // a check is no wait
    hub.stats.timedOutUs += timeoutUs;
    return IoStatus::Pending;
  }

  bool Write(DeviceHandle handle, const std::uint8_t* data, std::uint32_t size) override {
    Hub& hub = TheHub();
    auto it = hub.handles.find(handle);
    if (it == hub.handles.end() || it->second.mode != OpenMode::Write || data == nullptr)
      return false;
    if (!hub.devices[static_cast<std::size_t>(it->second.device)].present) return false;
    ++hub.outputCount;
    std::memset(hub.lastOutput, 0, sizeof hub.lastOutput);
    std::memcpy(hub.lastOutput, data, std::min<std::size_t>(size, sizeof hub.lastOutput));
    return true;
  }

  bool RegisterNotifications() override {
    Hub& hub = TheHub();
    hub.notificationOwner = this;
    hub.stats.notificationsRegistered = true;
    ++hub.stats.registrations;
    return true;
  }
  void UnregisterNotifications() override {
    Hub& hub = TheHub();
    if (hub.notificationOwner != this) return;
    hub.notificationOwner = nullptr;
    hub.stats.notificationsRegistered = false;
    ++hub.stats.unregistrations;
  }

  void StartTicks(std::uint32_t periodMs) override {
    Hub& hub = TheHub();
    hub.timerOwner = this;
    hub.stats.timerRunning = true;
    hub.stats.timerId = kSimTimerId;
    hub.stats.timerPeriodMs = periodMs;
  }

  std::uint64_t NowMicroseconds() override { return TheHub().nowUs; }

 private:
  DeviceHandle Fail(std::uint32_t error) {
    lastError_ = error;
    return kInvalidDeviceHandle;
  }
  IoStatus ReadFailed(std::uint32_t error) {
    lastError_ = error;
    return IoStatus::Failed;
  }
  // A queued read error stands for a device that stopped answering.
  IoStatus Noted(IoStatus status) {
    if (status == IoStatus::Failed) lastError_ = kErrorGenFailure;
    return status;
  }

  std::uint32_t lastError_ = 0;

  static const VirtualDevice* PresentDevice(DeviceHandle handle) {
    Hub& hub = TheHub();
    auto it = hub.handles.find(handle);
    if (it == hub.handles.end()) return nullptr;
    const VirtualDevice& d = hub.devices[static_cast<std::size_t>(it->second.device)];
    return d.present ? &d : nullptr;
  }
  static OpenHandle* ReadableHandle(DeviceHandle handle) {
    Hub& hub = TheHub();
    auto it = hub.handles.find(handle);
    if (it == hub.handles.end() || it->second.mode != OpenMode::Read) return nullptr;
    if (!hub.devices[static_cast<std::size_t>(it->second.device)].present) return nullptr;
    return &it->second;
  }
};

bool ValidIndex(int index) {
  return index >= 0 && static_cast<std::size_t>(index) < TheHub().devices.size();
}

}  // namespace

std::unique_ptr<DeviceBus> CreateVirtualBus() {
  return std::make_unique<VirtualBus>();
}

void VirtualBusReset() {
  Hub& hub = TheHub();
  // Buses that are still alive keep their listener, timer and registration; everything else goes.
  VirtualBus* timerOwner = hub.timerOwner;
  VirtualBus* notificationOwner = hub.notificationOwner;
  BusListener* listener = hub.listener;
  VirtualBus* listenerOwner = hub.listenerOwner;
  VirtualBusStats kept;
  kept.timerRunning = hub.stats.timerRunning;
  kept.timerId = hub.stats.timerId;
  kept.timerPeriodMs = hub.stats.timerPeriodMs;
  kept.notificationsRegistered = hub.stats.notificationsRegistered;
  kept.listenerSet = hub.stats.listenerSet;
  DeviceHandle nextHandle = hub.nextHandle;
  hub = Hub{};
  hub.timerOwner = timerOwner;
  hub.notificationOwner = notificationOwner;
  hub.listener = listener;
  hub.listenerOwner = listenerOwner;
  hub.stats = kept;
  hub.nextHandle = nextHandle;  // an old handle never names a new device
}

int VirtualBusAddDevice(std::uint16_t vendorId, std::uint16_t productId) {
  Hub& hub = TheHub();
  const int index = static_cast<int>(hub.devices.size());
  char path[96];
  std::snprintf(path, sizeof path,
                "\\\\?\\hid#vid_%04x&pid_%04x#%d#{4d1e55b2-f16f-11cf-88cb-001111000030}",
                static_cast<unsigned>(vendorId), static_cast<unsigned>(productId), index);
  hub.devices.push_back(VirtualDevice{vendorId, productId, path});
  return index;
}

const char* VirtualBusDevicePath(int index) {
  return ValidIndex(index) ? TheHub().devices[static_cast<std::size_t>(index)].path.c_str()
                           : nullptr;
}

void VirtualBusSetDevicePresent(int index, int present) {
  if (ValidIndex(index)) TheHub().devices[static_cast<std::size_t>(index)].present = present != 0;
}

void VirtualBusSetOpenFails(int index, int fails) {
  if (ValidIndex(index)) TheHub().devices[static_cast<std::size_t>(index)].openFails = fails != 0;
}

int VirtualBusOpenHandleCount(int index) {
  int count = 0;
  for (const auto& [handle, h] : TheHub().handles)
    if (index == -1 || h.device == index) ++count;
  return count;
}

int VirtualBusDeviceChange(std::uint32_t eventType, const char* path) {
  Hub& hub = TheHub();
  if (hub.notificationOwner == nullptr || hub.listener == nullptr ||
      hub.listenerOwner != hub.notificationOwner)
    return 0;
  const std::string_view name = path != nullptr ? std::string_view(path) : std::string_view();
  if (eventType == kDeviceArrival) {
    hub.listener->OnInterfaceArrived(name);
  } else if (eventType == kDeviceRemoveComplete && path != nullptr) {
    hub.listener->OnInterfaceGone(name);
  }
  return 1;
}

void VirtualBusQueueInputReport(const std::uint8_t report[8]) {
  if (report != nullptr) VirtualBusTestQueueShortReport(report, 8);
}

int VirtualBusOutputReportCount() {
  return TheHub().outputCount;
}

int VirtualBusLastOutputReport(std::uint8_t report[5]) {
  Hub& hub = TheHub();
  if (hub.outputCount == 0 || report == nullptr) return 0;
  std::memcpy(report, hub.lastOutput, sizeof hub.lastOutput);
  return 1;
}

std::uint64_t VirtualBusNowUs() {
  return TheHub().nowUs;
}

void VirtualBusAdvanceTime(std::uint64_t us) {
  AdvanceTo(TheHub().nowUs + us);
}

void VirtualBusSetInputState(const std::uint8_t report[8]) {
  Hub& hub = TheHub();
  if (report == nullptr || std::memcmp(hub.inputState, report, sizeof hub.inputState) == 0) return;
  std::memcpy(hub.inputState, report, sizeof hub.inputState);
  if (hub.streamPeriodUs == 0) VirtualBusQueueInputReport(report);
}

void VirtualBusSetStreamPeriod(std::uint32_t periodUs) {
  Hub& hub = TheHub();
  hub.streamPeriodUs = periodUs;
  hub.nextStreamUs = hub.nowUs + periodUs;
}

void VirtualBusSetCompletionDelay(std::uint32_t us) {
  TheHub().completionDelayUs = us;
}

int VirtualBusTimerTick() {
  Hub& hub = TheHub();
  if (hub.timerOwner == nullptr || hub.listener == nullptr || hub.listenerOwner != hub.timerOwner)
    return 0;
  hub.listener->OnTick();
  return 1;
}

void VirtualBusTestQueueShortReport(const std::uint8_t* bytes, std::uint32_t size) {
  ReadResult r;
  r.size = std::min<std::uint32_t>(size, 8);
  if (bytes != nullptr) std::memcpy(r.bytes, bytes, r.size);
  Push(r);
}

void VirtualBusTestQueueReadError() {
  ReadResult r;
  r.error = true;
  Push(r);
}

void VirtualBusTestFailDataOpens(int index, bool fail) {
  if (ValidIndex(index)) TheHub().devices[static_cast<std::size_t>(index)].dataOpensFail = fail;
}

void VirtualBusTestHoldReads(bool hold) {
  TheHub().holdReads = hold;
}

VirtualBusStats VirtualBusTestStats() {
  return TheHub().stats;
}
