#include "platform/linux/pendant_monitor.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

#include "input/input_report.h"
#include "jog/wheel.h"
#include "link/pendant_link.h"
#include "link/pendant_view.h"

namespace {

// Long enough that an idle pendant costs nothing, short enough that Ctrl-C ends it at once even
// where the signal does not cut the wait short.
constexpr std::uint32_t kReadWaitUs = 100000;

void SayOpenFailed(std::FILE* err, const std::string& path, std::uint32_t error) {
  switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
      std::fprintf(err, "pendant: no such device: %s\n", path.c_str());
      break;
    case EACCES:
    case EPERM:
      std::fprintf(
          err,
          "pendant: permission denied: %s\n"
          "  The udev rule 60-pendant.rules gives read and write access to the group\n"
          "  plugdev and to the user at the machine. Install it (the .deb does), apply it\n"
          "  to a pendant already plugged in with\n"
          "    sudo udevadm control --reload && sudo udevadm trigger\n"
          "  and add yourself to plugdev (sudo adduser $USER plugdev): a new group takes\n"
          "  effect at your next login.\n",
          path.c_str());
      break;
    default:
      std::fprintf(err, "pendant: cannot open %s: %s (errno %u)\n", path.c_str(),
                   std::strerror(static_cast<int>(error)), error);
      break;
  }
}

// The pendant's path as the component's search finds it; empty, having said why, when none.
std::string FindPendantPath(HidrawBus& bus, const HidrawBusPaths& paths, std::FILE* err) {
  if (!bus.BeginEnumeration()) {
    std::fprintf(err, "pendant: cannot read %s/class/hidraw: %s\n", paths.sysfsRoot.c_str(),
                 std::strerror(static_cast<int>(bus.LastError())));
    return {};
  }
  std::string path;
  std::uint32_t probeError = 0;
  HidInterface found;
  std::uint32_t index = 0;
  for (; bus.NextInterface(index, found); ++index) {
    if (found.probe != kInvalidDeviceHandle) bus.Close(found.probe);
    if (found.attributes.vendorId == kPendantVendorId &&
        found.attributes.productId == kPendantProductId) {
      path = found.path;
      break;
    }
    probeError = found.probeError;
  }
  bus.EndEnumeration();
  if (!path.empty()) return path;
  if (!paths.devicePath.empty()) {
    SayOpenFailed(err, paths.devicePath, probeError);
  } else {
    std::fprintf(err,
                 "pendant: no pendant (USB %04x:%04x) among the %u hidraw devices of "
                 "%s/class/hidraw\n"
                 "  Plug it in; lsusb lists it once the system sees it.\n",
                 kPendantVendorId, kPendantProductId, index, paths.sysfsRoot.c_str());
  }
  return {};
}

}  // namespace

int RunPendantMonitor(const HidrawBusPaths& paths, std::FILE* out, std::FILE* err,
                      const std::atomic<bool>& stop) {
  HidrawBus bus(paths);
  const std::string path = FindPendantPath(bus, paths, err);
  if (path.empty()) return 1;
  // Read and write, as the component opens it: either may be what the permissions refuse.
  const DeviceHandle reader = bus.Open(path, OpenMode::Read);
  if (reader == kInvalidDeviceHandle) {
    SayOpenFailed(err, path, bus.LastError());
    return 1;
  }
  const DeviceHandle writer = bus.Open(path, OpenMode::Write);
  if (writer == kInvalidDeviceHandle) {
    SayOpenFailed(err, path, bus.LastError());
    return 1;
  }
  bus.Close(writer);
  std::fprintf(out, "pendant: found at %s; what it reports follows (Ctrl-C ends)\n", path.c_str());
  std::fflush(out);

  WheelState wheel;
  std::string shown;
  bool sizeSaid = false;
  std::uint8_t report[kInputReportSize] = {};
  while (!stop.load()) {
    std::uint32_t transferred = 0;
    bool atOnce = false;
    const IoStatus status =
        bus.ReadReport(reader, report, sizeof report, kReadWaitUs, transferred, atOnce);
    if (status == IoStatus::Pending) continue;
    if (status == IoStatus::Failed) {
      const auto error = static_cast<int>(bus.LastError());
      if (error == ENODEV) {
        std::fprintf(err, "pendant: the pendant was unplugged\n");
      } else {
        std::fprintf(err, "pendant: reading %s failed: %s (errno %d)\n", path.c_str(),
                     std::strerror(error), error);
      }
      return 1;
    }
    if (transferred != kInputReportSize) {
      if (!sizeSaid) {
        std::fprintf(err,
                     "pendant: reports of %u bytes are not understood (the pendant's have %u, "
                     "the report id first) and are ignored\n",
                     transferred, kInputReportSize);
      }
      sizeSaid = true;
      continue;
    }
    const input_report::Words words = input_report::Words::Of(report);
    // The steps as the wheel counts them; the first report only sets the counter.
    const bool counted = wheel.lastWheelCount != kNoWheelCount;
    TakeWheelCounter(wheel, input_report::WheelCounter(words.word0));
    const std::optional<std::int32_t> steps =
        counted ? std::optional<std::int32_t>(wheel.foldedCounts) : std::nullopt;
    wheel.foldedCounts = 0;
    // A pendant that streams its state repeats itself: only what changes is printed.
    std::string now = PendantReportText(words);
    if (now == shown) continue;
    shown = std::move(now);
    std::fprintf(out, "%s\n", PendantReportText(words, steps).c_str());
    std::fflush(out);
  }
  return 0;
}
