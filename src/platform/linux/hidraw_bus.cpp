// Hot-plug: a rescan of the hidraw nodes, once a second, is what always works: a machine without a
// udev daemon (containers, minimal systems) gets no netlink events at all. Where udev runs, its
// monitor makes the rescan happen at once, and an "add" has the node announced again even when the
// rescan already saw it, because udev may have set the node's owner and mode only now. A read
// that fails, or a write that fails with ENODEV (what hidraw says once the device is gone), is a
// removal as well: a quick replug may leave the same name in sysfs between two rescans. Each node
// carries its inode, so a replug under the same name still counts as an arrival.
//
// Report framing: the link works with reports as Windows hands them over, the report id byte in
// front. The pendant numbers no reports, so that byte is 0 and hidraw leaves it out of reads: a 0
// is put in front. A device that numbers its reports has hidraw keep the id in front, so a read
// one byte longer than that, starting with a non-zero id, is taken as it is. A report of any
// other length is handed over with its own length, which the link does not take. A hidraw write,
// like a Windows one, starts with the report id, so the 5-byte output report (id 0, four bytes) is
// written unchanged.
#include "platform/linux/hidraw_bus.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string_view>

#include "link/pendant_ids.h"

#ifdef PENDANT_HAVE_LIBUDEV
#include <libudev.h>

struct HidrawBus::Monitor {
  udev* context = nullptr;
  udev_monitor* monitor = nullptr;
  ~Monitor() {
    if (monitor != nullptr) udev_monitor_unref(monitor);
    if (context != nullptr) udev_unref(context);
  }
  int Fd() const { return monitor != nullptr ? udev_monitor_get_fd(monitor) : -1; }
};
#else
struct HidrawBus::Monitor {
  int Fd() const { return -1; }
};
#endif

namespace {

constexpr std::string_view kNodePrefix = "hidraw";

std::uint64_t MonotonicUs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000000u +
         static_cast<std::uint64_t>(now.tv_nsec) / 1000u;
}

// "HID_ID=0003:000004D8:0000FCE4" (bus, vendor, product in hex) from a uevent file.
bool ReadHidId(const char* ueventPath, HidAttributes& attributes) {
  const int fd = open(ueventPath, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char text[4096];
  ssize_t length = 0;
  do {
    length = read(fd, text, sizeof text - 1);
  } while (length < 0 && errno == EINTR);
  close(fd);
  if (length <= 0) return false;
  text[length] = '\0';
  const char* line = std::strstr(text, "HID_ID=");
  if (line == nullptr || (line != text && line[-1] != '\n')) return false;
  unsigned bus = 0;
  unsigned long vendor = 0;
  unsigned long product = 0;
  if (std::sscanf(line, "HID_ID=%x:%lx:%lx", &bus, &vendor, &product) != 3) return false;
  attributes.vendorId = static_cast<std::uint16_t>(vendor);
  attributes.productId = static_cast<std::uint16_t>(product);
  return true;
}

bool IsNodeName(std::string_view name) {
  if (name.size() <= kNodePrefix.size() || name.substr(0, kNodePrefix.size()) != kNodePrefix)
    return false;
  return std::all_of(name.begin() + kNodePrefix.size(), name.end(),
                     [](char c) { return c >= '0' && c <= '9'; });
}

unsigned long NodeNumber(std::string_view name) {
  return std::strtoul(std::string(name.substr(kNodePrefix.size())).c_str(), nullptr, 10);
}

}  // namespace

HidrawBus::HidrawBus(HidrawBusPaths paths) : paths_(std::move(paths)) {
  devices_.reserve(8);
}

HidrawBus::~HidrawBus() {
  Shutdown();
}

void HidrawBus::Shutdown() {
  shutDown_ = true;
  listener_ = nullptr;
  notify_ = false;
  timerPeriodMs_ = 0;
  for (OpenDevice& device : devices_)
    if (device.fd >= 0) close(device.fd);
  devices_.clear();
  monitor_.reset();
}

std::uint64_t HidrawBus::NowMicroseconds() {
  return MonotonicUs();
}

bool HidrawBus::BeginEnumeration() {
  enumeration_.clear();
  if (!paths_.devicePath.empty()) {
    // Enumerated even when absent: the probe's failure then says why in the trail.
    enumeration_.push_back(paths_.devicePath);
    return true;
  }
  const std::string classDir = paths_.sysfsRoot + "/class/hidraw";
  DIR* dir = opendir(classDir.c_str());
  if (dir == nullptr) {
    // No hidraw class at all (no HID device since boot, or no hidraw support): none present.
    if (errno == ENOENT) return true;
    lastError_ = static_cast<std::uint32_t>(errno);
    return false;
  }
  std::vector<std::string> names;
  while (const dirent* entry = readdir(dir)) {
    if (IsNodeName(entry->d_name)) names.emplace_back(entry->d_name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return NodeNumber(a) < NodeNumber(b);
  });
  for (const std::string& name : names) {
    enumeration_.push_back(paths_.devRoot + "/" + name);
  }
  return true;
}

bool HidrawBus::InterfacePath(std::uint32_t index, std::string& path) {
  if (index >= enumeration_.size()) return false;
  path = enumeration_[index];
  return true;
}

bool HidrawBus::Identify(const std::string& path, HidAttributes& attributes) const {
  char uevent[4096];
  // A node under the device root: its class entry.
  const std::string_view view(path);
  if (view.size() > paths_.devRoot.size() + 1 &&
      view.substr(0, paths_.devRoot.size()) == paths_.devRoot &&
      view[paths_.devRoot.size()] == '/' && IsNodeName(view.substr(paths_.devRoot.size() + 1))) {
    std::snprintf(uevent, sizeof uevent, "%s/class/hidraw/%s/device/uevent",
                  paths_.sysfsRoot.c_str(), path.c_str() + paths_.devRoot.size() + 1);
    if (ReadHidId(uevent, attributes)) return true;
  }
  // Any other character device (a udev symlink resolves to one): by its device number.
  struct stat st {};
  if (stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode)) {
    std::snprintf(uevent, sizeof uevent, "%s/dev/char/%u:%u/device/uevent",
                  paths_.sysfsRoot.c_str(), major(st.st_rdev), minor(st.st_rdev));
    if (ReadHidId(uevent, attributes)) return true;
  }
  if (!paths_.devicePath.empty() && path == paths_.devicePath) {
    attributes.vendorId = kPendantVendorId;
    attributes.productId = kPendantProductId;
    return true;
  }
  return false;
}

HidrawBus::OpenDevice* HidrawBus::Find(DeviceHandle handle) {
  for (OpenDevice& device : devices_)
    if (device.id == handle) return &device;
  return nullptr;
}

const HidrawBus::OpenDevice* HidrawBus::Find(DeviceHandle handle) const {
  for (const OpenDevice& device : devices_)
    if (device.id == handle) return &device;
  return nullptr;
}

DeviceHandle HidrawBus::Open(const std::string& path, OpenMode mode) {
  if (shutDown_) {
    lastError_ = ENODEV;
    return kInvalidDeviceHandle;
  }
  OpenDevice device;
  device.path = path;
  if (mode == OpenMode::Probe) {
    // Identifying needs no access to the node itself, only that it is there.
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
      lastError_ = static_cast<std::uint32_t>(errno);
      return kInvalidDeviceHandle;
    }
  } else {
    const int flags = (mode == OpenMode::Read ? O_RDONLY : O_WRONLY) | O_NONBLOCK | O_CLOEXEC;
    device.fd = open(path.c_str(), flags);
    device.reads = mode == OpenMode::Read;
    if (device.fd < 0) {
      lastError_ = static_cast<std::uint32_t>(errno);
      return kInvalidDeviceHandle;
    }
  }
  device.identified = Identify(path, device.attributes);
  device.id = nextHandle_++;
  const DeviceHandle id = device.id;
  devices_.push_back(std::move(device));
  return id;
}

bool HidrawBus::GetAttributes(DeviceHandle handle, HidAttributes& attributes) {
  const OpenDevice* device = Find(handle);
  if (device == nullptr || !device->identified) return false;
  attributes = device->attributes;
  return true;
}

void HidrawBus::Close(DeviceHandle handle) {
  auto it = std::find_if(devices_.begin(), devices_.end(),
                         [handle](const OpenDevice& device) { return device.id == handle; });
  if (it == devices_.end()) return;
  if (it->fd >= 0) close(it->fd);
  devices_.erase(it);
}

void HidrawBus::MarkGone(OpenDevice& device) {
  if (device.gone) return;
  for (OpenDevice& other : devices_)
    if (other.path == device.path) other.gone = true;
}

bool HidrawBus::ReadOutstanding(DeviceHandle handle) const {
  const OpenDevice* device = Find(handle);
  return device != nullptr && device->pending;
}

IoStatus HidrawBus::ReadReport(DeviceHandle handle, std::uint8_t* buffer, std::uint32_t size,
                               std::uint32_t timeoutUs, std::uint32_t& transferred,
                               bool& handedOverAtOnce) {
  transferred = 0;
  handedOverAtOnce = false;
  OpenDevice* device = Find(handle);
  if (device == nullptr || device->fd < 0 || buffer == nullptr || size < 2) {
    lastError_ = EBADF;
    return IoStatus::Failed;
  }
  // A gone device stays failed; its removal is on its way to the listener.
  if (device->gone) {
    lastError_ = ENODEV;
    return IoStatus::Failed;
  }
  // hidraw queues the reports for each open file, so a read that found nothing is as good as one
  // left outstanding: the next one takes whatever arrived since.
  bool waited = false;
  for (;;) {
    // Read whole, so that a report of another length shows as such instead of being cut to fit.
    std::uint8_t report[kMaxReportBytes];
    const ssize_t count = read(device->fd, report, sizeof report);
    if (count > 0) {
      const auto length = static_cast<std::uint32_t>(count);
      // hidraw leaves the id byte out of unnumbered reports and keeps it in numbered ones, which
      // is one byte more than the unnumbered report and never 0 (HID reserves id 0).
      const bool numbered = length == size && report[0] != 0;
      const std::uint32_t framed = numbered ? length : length + 1;
      buffer[0] = 0;
      std::memcpy(numbered ? buffer : buffer + 1, report,
                  std::min(length, numbered ? size : size - 1));
      transferred = framed;
      handedOverAtOnce = !waited;
      device->pending = false;
      device->watched = true;
      return IoStatus::Done;
    }
    const int error = count == 0 ? ENODEV : errno;
    if (error == EINTR) continue;
    if (error != EAGAIN) {
      lastError_ = static_cast<std::uint32_t>(error);
      device->pending = false;
      device->watched = false;
      MarkGone(*device);
      return IoStatus::Failed;
    }
    if (waited || timeoutUs == 0) break;
    pollfd watched{device->fd, POLLIN, 0};
    const timespec timeout{static_cast<time_t>(timeoutUs / 1000000),
                           static_cast<long>(timeoutUs % 1000000) * 1000};
    ppoll(&watched, 1, &timeout, nullptr);
    waited = true;  // whatever woke it, one more read tells
  }
  device->pending = true;
  device->watched = true;
  return IoStatus::Pending;
}

// Only ENODEV, hidraw's answer once the device is gone, means removal here: a device that refuses
// one output report (a stall, a timeout) is still there, and its reads say so if it is not.
bool HidrawBus::Write(DeviceHandle handle, const std::uint8_t* data, std::uint32_t size) {
  OpenDevice* device = Find(handle);
  if (device == nullptr || device->fd < 0 || device->gone || data == nullptr) return false;
  ssize_t count = 0;
  do {
    count = write(device->fd, data, size);
  } while (count < 0 && errno == EINTR);
  if (count == static_cast<ssize_t>(size)) return true;
  if (count < 0 && errno == ENODEV) MarkGone(*device);
  return false;
}

bool HidrawBus::RegisterNotifications() {
  if (shutDown_) return false;
  // What is present now is the baseline: only changes from here on are announced.
  Rescan(false);
  rescanDueUs_ = MonotonicUs() + std::uint64_t{paths_.rescanPeriodMs} * 1000;
  OpenMonitor();
  notify_ = true;
  return true;
}

void HidrawBus::UnregisterNotifications() {
  notify_ = false;
  monitor_.reset();
}

void HidrawBus::StartTicks(std::uint32_t periodMs) {
  if (shutDown_) return;
  timerPeriodMs_ = std::max<std::uint32_t>(periodMs, 1);
  timerDueUs_ = MonotonicUs() + std::uint64_t{timerPeriodMs_} * 1000;
}

const char* HidrawBus::NodePath(const SeenNode& node) {
  if (node.name[0] == '\0') {
    std::snprintf(eventName_.data(), eventName_.size(), "%s", paths_.devicePath.c_str());
  } else {
    std::snprintf(eventName_.data(), eventName_.size(), "%s/%s", paths_.devRoot.c_str(),
                  node.name.data());
  }
  return eventName_.data();
}

void HidrawBus::Announce(Change change, const char* name) {
  if (!notify_ || listener_ == nullptr) return;
  if (change == Change::Arrived) {
    listener_->OnInterfaceArrived(name);
  } else {
    listener_->OnInterfaceGone(name);
  }
}

// No heap here: it runs from the timer path. The directory is read with getdents64 into a buffer
// on the stack (opendir would allocate), and paths are built in fixed buffers.
void HidrawBus::Rescan(bool announce) {
  std::size_t count = 0;
  scan_.fill(SeenNode{});
  struct stat st {};
  if (!paths_.devicePath.empty()) {
    if (stat(paths_.devicePath.c_str(), &st) == 0) {
      scan_[0].identity = st.st_ino;
      scan_[0].present = true;
      count = 1;
    }
  } else {
    char path[4096];
    std::snprintf(path, sizeof path, "%s/class/hidraw", paths_.sysfsRoot.c_str());
    const int dir = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    alignas(8) char entries[4096];
    while (dir >= 0) {
      const long got = syscall(SYS_getdents64, dir, entries, sizeof entries);
      if (got <= 0) break;
      for (long offset = 0; offset < got;) {
        struct Entry {
          ino64_t ino;
          off64_t off;
          unsigned short reclen;
          unsigned char type;
          char name[1];
        };
        const auto* entry = reinterpret_cast<const Entry*>(entries + offset);
        offset += entry->reclen;
        const std::string_view name(entry->name);
        if (!IsNodeName(name) || name.size() >= SeenNode{}.name.size() || count == kMaxNodes)
          continue;
        // The class entry is a symlink to the device's own folder, made anew for each plug.
        if (fstatat(dir, entry->name, &st, 0) != 0) continue;
        const ino_t identity = st.st_ino;
        std::snprintf(path, sizeof path, "%s/%s", paths_.devRoot.c_str(), entry->name);
        if (stat(path, &st) != 0) continue;  // not usable until its node is there
        SeenNode& node = scan_[count++];
        std::memcpy(node.name.data(), name.data(), name.size());
        node.identity = identity;
        node.present = true;
      }
    }
    if (dir >= 0) close(dir);
  }
  std::swap(seen_, scan_);  // seen_: now; scan_: before

  const auto same = [](const SeenNode& a, const SeenNode& b) {
    return a.present && b.present && a.identity == b.identity &&
           std::strcmp(a.name.data(), b.name.data()) == 0;
  };
  // Removals first: a replug under the same name is a removal and an arrival, in that order.
  for (const SeenNode& before : scan_) {
    if (!before.present) continue;
    const bool still =
        std::any_of(seen_.begin(), seen_.end(), [&](const SeenNode& n) { return same(n, before); });
    if (!still && !before.announcedGone && announce) Announce(Change::Gone, NodePath(before));
  }
  for (SeenNode& now : seen_) {
    if (!now.present) continue;
    const auto before =
        std::find_if(scan_.begin(), scan_.end(), [&](const SeenNode& n) { return same(n, now); });
    if (before != scan_.end()) {
      now.announcedGone = before->announcedGone;
    } else if (announce) {
      Announce(Change::Arrived, NodePath(now));
    }
  }
}

void HidrawBus::RunOnce(std::uint32_t maxWaitMs) {
  if (shutDown_) return;
  // Removals found by failed reads and writes, each once.
  for (;;) {
    auto gone = std::find_if(devices_.begin(), devices_.end(), [](const OpenDevice& device) {
      return device.gone && !device.announced;
    });
    if (gone == devices_.end()) break;
    for (OpenDevice& device : devices_)
      if (device.path == gone->path) device.announced = true;
    char nodePath[4096];
    for (SeenNode& node : seen_) {
      if (!node.present) continue;
      std::snprintf(nodePath, sizeof nodePath, "%s", NodePath(node));
      if (std::strcmp(nodePath, gone->path.c_str()) == 0) node.announcedGone = true;
    }
    std::snprintf(eventName_.data(), eventName_.size(), "%s", gone->path.c_str());
    Announce(Change::Gone, eventName_.data());
    if (shutDown_) return;
  }

  std::uint64_t now = MonotonicUs();
  std::uint64_t due = now + std::uint64_t{maxWaitMs} * 1000;
  if (timerPeriodMs_ != 0) due = std::min(due, timerDueUs_);
  if (notify_) due = std::min(due, rescanDueUs_);
  bool reportsWaiting = false;
  if (due > now) {
    // A negative descriptor is ignored: without a monitor and a read handle to watch this is a
    // plain sleep that a signal ends.
    std::array<pollfd, 1 + kMaxWatchedReads> watched{};
    watched[0] = {monitor_ ? monitor_->Fd() : -1, POLLIN, 0};
    std::size_t count = 1;
    for (const OpenDevice& device : devices_) {
      if (device.reads && device.watched && !device.gone && count < watched.size())
        watched[count++] = {device.fd, POLLIN, 0};
    }
    const std::uint64_t waitUs = due - now;
    const timespec timeout{static_cast<time_t>(waitUs / 1000000),
                           static_cast<long>(waitUs % 1000000) * 1000};
    const int ready = ppoll(watched.data(), count, &timeout, nullptr);
    if (ready > 0) {
      if (watched[0].revents != 0 && DrainMonitor()) rescanDueUs_ = 0;
      for (std::size_t i = 1; i < count; ++i) {
        if (watched[i].revents == 0) continue;
        reportsWaiting = true;  // or an error, which the read tells
        for (OpenDevice& device : devices_)
          if (device.fd == watched[i].fd) device.watched = false;
      }
    }
    now = MonotonicUs();
  }
  if (notify_ && now >= rescanDueUs_) {
    Rescan(listener_ != nullptr);
    rescanDueUs_ = now + std::uint64_t{paths_.rescanPeriodMs} * 1000;
    if (shutDown_) return;
  }
  if (reportsWaiting && listener_ != nullptr) {
    listener_->OnReportsWaiting();
    if (shutDown_) return;
  }
  if (timerPeriodMs_ != 0 && now >= timerDueUs_) {
    // Ticks missed while the owner was busy are not made up, as with a window's timer.
    const std::uint64_t periodUs = std::uint64_t{timerPeriodMs_} * 1000;
    timerDueUs_ += periodUs;
    if (timerDueUs_ <= now) timerDueUs_ = now + periodUs;
    if (listener_ != nullptr) listener_->OnTick();
  }
}

#ifdef PENDANT_HAVE_LIBUDEV
void HidrawBus::OpenMonitor() {
  // Events about the real system mean nothing to a bus pointed at another tree.
  if (monitor_ || paths_.sysfsRoot != "/sys") return;
  auto monitor = std::make_unique<Monitor>();
  monitor->context = udev_new();
  if (monitor->context == nullptr) return;
  monitor->monitor = udev_monitor_new_from_netlink(monitor->context, "udev");
  if (monitor->monitor == nullptr ||
      udev_monitor_filter_add_match_subsystem_devtype(monitor->monitor, "hidraw", nullptr) < 0 ||
      udev_monitor_enable_receiving(monitor->monitor) < 0)
    return;
  monitor_ = std::move(monitor);
}

bool HidrawBus::DrainMonitor() {
  if (!monitor_) return false;
  bool changed = false;
  while (udev_device* device = udev_monitor_receive_device(monitor_->monitor)) {
    changed = true;
    const char* action = udev_device_get_action(device);
    const char* name = udev_device_get_sysname(device);
    // udev has set the node up only now: announce it again even if the rescan saw it already.
    if (action != nullptr && std::strcmp(action, "remove") != 0) {
      for (SeenNode& node : seen_) {
        if (!paths_.devicePath.empty() ||
            (name != nullptr && std::strcmp(node.name.data(), name) == 0))
          node.present = false;
      }
    }
    udev_device_unref(device);
  }
  return changed;
}
#else
void HidrawBus::OpenMonitor() {}
bool HidrawBus::DrainMonitor() {
  return false;
}
#endif
