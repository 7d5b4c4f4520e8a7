// The simulation library's own exports: SetProName over plain characters and the Sim ABI, which
// forwards to the virtual bus, the sinks and the dialog script. No exception crosses this boundary.
#include <cstdint>
#include <string>

#include "host_windows/exports.h"
#include "pendant_sim.h"
#include "platform/sim/sim_dialog.h"
#include "platform/sim/sim_sinks.h"
#include "platform/sim/virtual_bus.h"

static_assert(PENDANT_SIM_DEVICE_ARRIVAL == kDeviceArrival &&
              PENDANT_SIM_DEVICE_REMOVE_COMPLETE == kDeviceRemoveComplete);

extern "C" {

const char* SetProName(const char* profilePath) {
  // A null path names no file; the store then works on an empty path, which it cannot open.
  return Guarded<const char*>(
      "", [&] { return SetProNameFromPath(profilePath != nullptr ? profilePath : ""); });
}

void SimReset(void) {
  Guarded([] {
    // The window goes first, while the bus it holds handles on still knows them. From inside a
    // callback nothing is reset: the module is in use below the caller.
    if (!ResetModule()) return;
    VirtualBusReset();
    SimSinksClear();
    ClearSimDialogScript();
    ResetSimDialogView();
  });
}

int SimAddDevice(unsigned short vendorId, unsigned short productId) {
  return Guarded(-1, [&] { return VirtualBusAddDevice(vendorId, productId); });
}

const char* SimDevicePath(int index) {
  return Guarded<const char*>("", [&] {
    const char* path = VirtualBusDevicePath(index);
    return path != nullptr ? path : "";
  });
}

void SimSetDevicePresent(int index, int present) {
  Guarded([&] { VirtualBusSetDevicePresent(index, present); });
}

void SimSetOpenFails(int index, int fails) {
  Guarded([&] { VirtualBusSetOpenFails(index, fails); });
}

int SimOpenHandleCount(void) {
  return Guarded(0, [] { return VirtualBusOpenHandleCount(-1); });
}

int SimDeviceChange(unsigned int eventType, const char* path) {
  return Guarded(0, [&] { return VirtualBusDeviceChange(eventType, path); });
}

void SimQueueInputReport(const unsigned char report[8]) {
  if (report == nullptr) return;
  Guarded([&] { VirtualBusQueueInputReport(report); });
}

int SimOutputReportCount(void) {
  return Guarded(0, [] { return VirtualBusOutputReportCount(); });
}

void SimLastOutputReport(unsigned char report[5]) {
  if (report == nullptr) return;
  Guarded([&] {
    // Before the first write the host reads zeros rather than whatever its buffer held.
    std::uint8_t last[5] = {};
    VirtualBusLastOutputReport(last);
    for (int i = 0; i < 5; ++i) report[i] = last[i];
  });
}

int SimTimerTick(void) {
  return Guarded(0, [] { return VirtualBusTimerTick(); });
}

void SimSetStatusSink(void (*sink)(const char* text)) {
  SimSinksSetStatus(sink);
}

void SimSetMessageBoxSink(void (*sink)(const char* text)) {
  SimSinksSetMessageBox(sink);
}

void SimSetTrailSink(void (*sink)(const char* line)) {
  SimSinksSetTrail(sink);
}

}  // extern "C"
