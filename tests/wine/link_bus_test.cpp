// The Win32 device bus on its own, under Wine: enumeration and reads against the system's HID
// devices (Wine offers a virtual mouse and keyboard), the hidden window's timer and device-change
// decoding, and the bus's tolerance of bad handles and of a parent window that goes first.
// clang-format off
#include <windows.h>
#include <dbt.h>
// clang-format on

// The HID header has no C++ linkage guard of its own.
extern "C" {
#include <hidsdi.h>
}

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "check.h"
#include "platform/win32/module_instance.h"
#include "platform/win32/win32_device_bus.h"

HINSTANCE ThisModuleInstance() {
  return GetModuleHandleA(nullptr);
}

namespace {

using winecheck::Check;
using winecheck::CheckEqual;

constexpr std::uint16_t kWineVendor = 0x845E;
constexpr std::uint16_t kWineKeyboard = 0x0002;  // 14-byte input report, no output report

class RecordingListener final : public BusListener {
 public:
  void OnTick() override { ++timers; }
  void OnInterfaceArrived(std::string_view path) override { Record(Change::Arrived, path); }
  void OnInterfaceGone(std::string_view path) override { Record(Change::Gone, path); }

  enum class Change { None, Arrived, Gone };
  void Record(Change change, std::string_view path) {
    ++changes;
    lastChange = change;
    lastName = std::string(path);
  }

  int timers = 0;
  int changes = 0;
  Change lastChange = Change::None;
  std::string lastName;
};

void Pump(DWORD ms) {
  const ULONGLONG end = GetTickCount64() + ms;
  for (;;) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
    const ULONGLONG now = GetTickCount64();
    if (now >= end) return;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now), QS_ALLINPUT);
  }
}

double ElapsedMs(ULONGLONG start) {
  return static_cast<double>(GetTickCount64() - start);
}

HWND CreateParent() {
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = DefWindowProcA;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = "LinkBusTestParent";
  RegisterClassA(&windowClass);
  return CreateWindowExA(0, "LinkBusTestParent", "", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                         nullptr, GetModuleHandleA(nullptr), nullptr);
}

// Interface paths of the present HID devices with their attributes.
struct Present {
  std::string path;
  HidAttributes attributes;
};

std::vector<Present> Enumerate(DeviceBus& bus) {
  std::vector<Present> found;
  if (!bus.BeginEnumeration()) return found;
  HidInterface next;
  for (std::uint32_t index = 0; bus.NextInterface(index, next) && index < 64; ++index) {
    bus.Close(next.probe);
    std::printf("HID interface %u: %04X:%04X %s\n", index, next.attributes.vendorId,
                next.attributes.productId, next.path.c_str());
    found.push_back(Present{next.path, next.attributes});
  }
  bus.EndEnumeration();
  return found;
}

// A device whose input report is longer than the 8 bytes asked for: the read must still start and
// stay pending (a read shorter than the report fails at once), wait boundedly and cancel cleanly.
void TestReads(DeviceBus& bus, const std::string& keyboard) {
  const DeviceHandle handle = bus.Open(keyboard, OpenMode::Read);
  Check(handle != kInvalidDeviceHandle, "the keyboard opens for overlapped reads");
  if (handle == kInvalidDeviceHandle) return;
  // The system's input queue of the read handle takes the length asked for.
  bus.SetInputBufferCount(handle, 16);
  ULONG queued = 0;
  Check(HidD_GetNumInputBuffers(reinterpret_cast<HANDLE>(handle), &queued) && queued == 16,
        "the read handle keeps 16 input reports");
  std::uint8_t buffer[8] = {0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
  std::uint32_t transferred = 99;
  bool atOnce = true;
  const auto read = [&](DeviceHandle h, std::uint32_t timeoutUs) {
    return static_cast<int>(
        bus.ReadReport(h, buffer, sizeof buffer, timeoutUs, transferred, atOnce));
  };
  CheckEqual(read(handle, 0), static_cast<int>(IoStatus::Pending),
             "an 8-byte read of a longer report is pending");
  Check(bus.ReadOutstanding(handle) && !atOnce, "the read stays outstanding");

  ULONGLONG start = GetTickCount64();
  const std::uint64_t startUs = bus.NowMicroseconds();
  CheckEqual(read(handle, 5000), static_cast<int>(IoStatus::Pending),
             "an idle device's read stays pending");
  const double waited = ElapsedMs(start);
  const std::uint64_t waitedUs = bus.NowMicroseconds() - startUs;
  std::printf("5 ms wait took %.0f ms, %llu us by the bus's clock\n", waited,
              static_cast<unsigned long long>(waitedUs));
  Check(waitedUs >= 4000 && waitedUs < 100000, "the bus's clock counts microseconds");
  // A wait below a millisecond, which the system's waits cannot express, lasts about as long.
  const std::uint64_t shortStartUs = bus.NowMicroseconds();
  CheckEqual(read(handle, 300), static_cast<int>(IoStatus::Pending),
             "a short wait on an idle device's read");
  const std::uint64_t shortUs = bus.NowMicroseconds() - shortStartUs;
  std::printf("0.3 ms wait took %llu us\n", static_cast<unsigned long long>(shortUs));
  Check(shortUs >= 300 && shortUs < 50000,
        "a wait below a millisecond is neither skipped nor long");
  CheckEqual(read(handle, 0), static_cast<int>(IoStatus::Pending),
             "a check of an idle device's read stays pending");
  Check(waited < 100.0, "the wait for a report is bounded");
  Check(buffer[0] == 0xAA && buffer[7] == 0xAA, "a pending read leaves the caller's buffer alone");

  const DeviceHandle other = bus.Open(keyboard, OpenMode::Read);
  Check(!bus.ReadOutstanding(other), "no read is outstanding on another handle");
  bus.Close(other);
  Check(bus.ReadOutstanding(handle), "closing another handle leaves the read alone");

  start = GetTickCount64();
  bus.Close(handle);  // with the read outstanding: cancelled first
  Check(ElapsedMs(start) < 1000.0, "closing a handle with a read outstanding returns");
  Check(!bus.ReadOutstanding(handle), "the read went with its handle");
  const DeviceHandle again = bus.Open(keyboard, OpenMode::Read);
  CheckEqual(read(again, 0), static_cast<int>(IoStatus::Pending),
             "a new read starts after a cancel");
  bus.Close(again);
}

void TestBadHandles(DeviceBus& bus) {
  std::uint8_t buffer[8] = {};
  std::uint32_t transferred = 0;
  HidAttributes attributes;
  const DeviceHandle stray = 0x1234;  // never opened by the bus
  struct Case {
    const char* what;
    DeviceHandle handle;
  };
  for (const Case& c :
       {Case{"invalid handle", kInvalidDeviceHandle}, Case{"stray handle", stray}}) {
    const std::string what = c.what;
    Check(!bus.GetAttributes(c.handle, attributes), (what + ": no attributes").c_str());
    bool atOnce = false;
    Check(bus.ReadReport(c.handle, buffer, sizeof buffer, 5000, transferred, atOnce) ==
              IoStatus::Failed,
          (what + ": no read").c_str());
    Check(!bus.ReadOutstanding(c.handle), (what + ": nothing outstanding").c_str());
    Check(!bus.Write(c.handle, buffer, 5), (what + ": no write").c_str());
    bus.Close(c.handle);
  }
  CheckEqual(bus.Open("", OpenMode::Probe), kInvalidDeviceHandle, "an empty path does not open");
  CheckEqual(bus.Open("\\\\.\\pipe\\no-such-pendant", OpenMode::Write), kInvalidDeviceHandle,
             "a missing device does not open");
}

// A device-interface broadcast as the system builds it: the 8-bit form, or the UTF-16 form that
// Wine sends to windows registered with RegisterDeviceNotificationA. `size` 0: the true size.
std::vector<std::uint8_t> Broadcast(const std::string& name, DWORD size, bool wide,
                                    DWORD deviceType = DBT_DEVTYP_DEVICEINTERFACE) {
  const std::size_t nameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name);
  const std::size_t unit = wide ? sizeof(WCHAR) : 1;
  // One spare byte: a stated size may end inside a UTF-16 unit.
  std::vector<std::uint8_t> bytes(nameOffset + (name.size() + 1) * unit + 1);
  auto* header = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_A*>(bytes.data());
  header->dbcc_size = size != 0 ? size : static_cast<DWORD>(nameOffset + (name.size() + 1) * unit);
  header->dbcc_devicetype = deviceType;
  for (std::size_t i = 0; i < name.size(); ++i) {
    bytes[nameOffset + i * unit] = static_cast<std::uint8_t>(name[i]);  // ASCII: high byte 0
  }
  return bytes;
}

void TestWindow() {
  HWND parent = CreateParent();
  RecordingListener listener;
  auto bus = CreateWin32DeviceBus(parent);
  bus->SetListener(&listener);
  HWND child = FindWindowExA(parent, nullptr, nullptr, nullptr);
  Check(child != nullptr && GetDlgCtrlID(child) == 1 && !IsWindowVisible(child),
        "the bus window is the parent's hidden child number 1");

  Pump(100);
  CheckEqual(listener.timers, 0, "no timer before StartTimer");
  bus->StartTicks(25);
  Pump(500);
  std::printf("timer messages in 500 ms: %d\n", listener.timers);
  Check(listener.timers >= 5 && listener.timers <= 25, "the timer reaches the listener");

  Check(bus->RegisterNotifications(), "device notifications register for the window");

  // Decoding: the name is read within the size the header states, in either form. Any arrival
  // may be the pendant; only a device interface's removal is one the link can match.
  const std::string name = "\\\\?\\HID#VID_04D8&PID_FCE4#7&1&0000#{4d1e55b2-f16f-11cf-88cb}";
  const DWORD nameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name);
  using Change = RecordingListener::Change;
  struct Decoding {
    const char* what;
    WPARAM event;
    int statedUnits;  // name units the stated size covers; -1: the true size (with the NUL)
    DWORD rawSize;    // when not 0, the stated size itself
    bool withData;
    DWORD deviceType;
    Change expect;
    std::size_t expectNameLength;
  };
  constexpr DWORD kInterface = DBT_DEVTYP_DEVICEINTERFACE;
  const int fullName = static_cast<int>(name.size());
  const Decoding decodings[] = {
      {"a removal names its interface", DBT_DEVICEREMOVECOMPLETE, -1, 0, true, kInterface,
       Change::Gone, name.size()},
      {"an arrival names its interface", DBT_DEVICEARRIVAL, -1, 0, true, kInterface,
       Change::Arrived, name.size()},
      {"a name filling the stated size without its NUL", DBT_DEVICEREMOVECOMPLETE, fullName, 0,
       true, kInterface, Change::Gone, name.size()},
      {"a size cutting the name", DBT_DEVICEREMOVECOMPLETE, 10, 0, true, kInterface, Change::Gone,
       10},
      {"a removal with a size short of the header", DBT_DEVICEREMOVECOMPLETE, -1, 8, true,
       kInterface, Change::None, 0},
      {"an arrival with a size short of the header", DBT_DEVICEARRIVAL, -1, 8, true, kInterface,
       Change::Arrived, 0},
      {"a removal of another device type", DBT_DEVICEREMOVECOMPLETE, -1, 0, true, DBT_DEVTYP_PORT,
       Change::None, 0},
      {"an arrival of another device type", DBT_DEVICEARRIVAL, -1, 0, true, DBT_DEVTYP_PORT,
       Change::Arrived, 0},
      {"an event without data", DBT_DEVNODES_CHANGED, -1, 0, false, kInterface, Change::None, 0},
  };
  for (const bool wide : {false, true}) {
    const DWORD unit = wide ? sizeof(WCHAR) : 1;
    for (const Decoding& d : decodings) {
      DWORD size = d.rawSize;
      if (size == 0 && d.statedUnits >= 0) size = nameOffset + d.statedUnits * unit;
      auto bytes = Broadcast(name, size, wide, d.deviceType);
      listener.changes = 0;
      listener.lastChange = Change::None;
      const LRESULT result = SendMessageA(child, WM_DEVICECHANGE, d.event,
                                          d.withData ? reinterpret_cast<LPARAM>(bytes.data()) : 0);
      const bool changeOk = d.expect == Change::None
                                ? listener.changes == 0
                                : listener.changes == 1 && listener.lastChange == d.expect &&
                                      listener.lastName == name.substr(0, d.expectNameLength);
      const std::string what = std::string(wide ? "UTF-16: " : "8-bit: ") + d.what;
      Check(result == TRUE && changeOk, what.c_str());
    }
  }
  // A stated size ending inside a UTF-16 unit keeps only the whole units before it.
  auto odd = Broadcast(name, nameOffset + 10 * sizeof(WCHAR) + 1, true);
  SendMessageA(child, WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE,
               reinterpret_cast<LPARAM>(odd.data()));
  Check(listener.lastName == name.substr(0, 10), "UTF-16: an odd size ends at a whole unit");

  // The host may destroy its window before the plug-in lets go of the bus.
  DestroyWindow(parent);
  Check(!IsWindow(child), "the bus window goes with its parent");
  // Neither a new timer nor the destruction may touch the dead window (a crash fails the run).
  listener.timers = 0;
  bus->StartTicks(25);
  Pump(100);
  CheckEqual(listener.timers, 0, "a bus whose window is gone has no timer");
  bus.reset();

  // No parent at all, or a parent that is no window: a message-only window carries the timer
  // and the notifications.
  for (HWND noParent : {static_cast<HWND>(nullptr), parent}) {
    auto orphan = CreateWin32DeviceBus(noParent);
    Check(orphan->Ready(), "without a parent window the bus still has a window");
    orphan->SetListener(&listener);
    orphan->StartTicks(25);
    listener.timers = 0;
    Pump(200);
    Check(listener.timers >= 2, "without a parent window the timer reaches the listener");
    Check(orphan->RegisterNotifications(), "without a parent window notifications register");
    // Shut down, the bus stays valid but nothing reaches the listener any more.
    orphan->Shutdown();
    listener.timers = 0;
    Pump(100);
    CheckEqual(listener.timers, 0, "a bus that is shut down has no timer");
    Check(!orphan->Ready(), "a bus that is shut down has no window");
  }
}

}  // namespace

int main() {
  auto bus = CreateWin32DeviceBus(nullptr);
  const std::vector<Present> present = Enumerate(*bus);
  std::string keyboard;
  for (const Present& p : present) {
    if (p.attributes.vendorId == kWineVendor && p.attributes.productId == kWineKeyboard) {
      keyboard = p.path;
    }
  }
  if (keyboard.empty()) {
    std::printf("no HID keyboard with a 14-byte report here: read checks skipped\n");
  } else {
    TestReads(*bus, keyboard);
  }
  TestBadHandles(*bus);
  bus.reset();
  TestWindow();
  return winecheck::Summary();
}
