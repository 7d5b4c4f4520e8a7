#include "plug.h"

// clang-format off
#include <windows.h>
#include <setupapi.h>
#include <newdev.h>
// clang-format on

#include <cstdio>

namespace vpendant {
namespace {

std::string InstanceId(unsigned port) {
  char id[32];
  std::snprintf(id, sizeof id, "ROOT\\VPENDANT\\%04u", port);
  return id;
}
// REG_MULTI_SZ: one string and the closing empty one.
constexpr char kHardwareIds[] = "root\\vpendant\0";
constexpr const char* kHardwareId = "root\\vpendant";
constexpr GUID kHidClassGuid = {
    0x745a17a0, 0x74d3, 0x11d0, {0xb6, 0xfe, 0x00, 0xa0, 0xc9, 0x0f, 0x57, 0xda}};
constexpr DWORD kControlWaitMs = 10000;

std::string Failure(const char* what) {
  return std::string(what) + " failed, error " + std::to_string(GetLastError());
}

bool Control(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize, DWORD& returned) {
  HANDLE control = CreateFileA(VPENDANT_CONTROL_PATH, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, 0, nullptr);
  if (control == INVALID_HANDLE_VALUE) return false;
  returned = 0;
  const bool ok = DeviceIoControl(control, code, const_cast<void*>(in), inSize, out, outSize,
                                  &returned, nullptr) != 0;
  CloseHandle(control);
  return ok;
}

}  // namespace

bool Plug(const std::string& infPath, std::string& error, unsigned port) {
  HDEVINFO set = SetupDiCreateDeviceInfoList(&kHidClassGuid, nullptr);
  if (set == INVALID_HANDLE_VALUE) {
    error = Failure("SetupDiCreateDeviceInfoList");
    return false;
  }
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof(device);
  bool ok = true;
  if (SetupDiCreateDeviceInfoA(set, InstanceId(port).c_str(), &kHidClassGuid, nullptr, nullptr, 0,
                               &device)) {
    ok = SetupDiSetDeviceRegistryPropertyA(set, &device, SPDRP_HARDWAREID,
                                           reinterpret_cast<const BYTE*>(kHardwareIds),
                                           sizeof(kHardwareIds)) &&
         SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, &device);
    if (!ok) error = Failure("registering the root device");
  } else if (GetLastError() != ERROR_DEVINST_ALREADY_EXISTS) {
    ok = false;
    error = Failure("SetupDiCreateDeviceInfoA");
  }
  SetupDiDestroyDeviceInfoList(set);
  if (!ok) return false;

  BOOL reboot = FALSE;
  if (!UpdateDriverForPlugAndPlayDevicesA(nullptr, kHardwareId, infPath.c_str(), INSTALLFLAG_FORCE,
                                          &reboot)) {
    error = Failure("UpdateDriverForPlugAndPlayDevicesA");
    return false;
  }
  // The driver starts the device on its own time; the control device comes with it.
  const ULONGLONG end = GetTickCount64() + kControlWaitMs;
  vpendant_status status{};
  while (!(Status(status) && status.attached && status.started)) {
    if (GetTickCount64() >= end) {
      error = "the virtual pendant did not start";
      return false;
    }
    Sleep(2);
  }
  return true;
}

bool Unplug(bool& wasPlugged, std::string& error) {
  wasPlugged = false;
  HDEVINFO set = SetupDiCreateDeviceInfoList(&kHidClassGuid, nullptr);
  if (set == INVALID_HANDLE_VALUE) {
    error = Failure("SetupDiCreateDeviceInfoList");
    return false;
  }
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof(device);
  bool ok = true;
  for (unsigned port = 0; port < kPorts; ++port) {
    if (!SetupDiOpenDeviceInfoA(set, InstanceId(port).c_str(), nullptr, 0, &device)) continue;
    wasPlugged = true;
    if (!SetupDiCallClassInstaller(DIF_REMOVE, set, &device)) {
      ok = false;
      error = Failure("DIF_REMOVE");
    }
  }
  SetupDiDestroyDeviceInfoList(set);
  return ok;
}

bool Push(const InputReport& report) {
  DWORD returned = 0;
  return Control(VPENDANT_IOCTL_PUSH, report.data() + 1, VPENDANT_INPUT_DATA, nullptr, 0, returned);
}

bool Pop(std::vector<OutputReport>& reports) {
  std::uint8_t buffer[64 * VPENDANT_OUTPUT_DATA];
  for (;;) {
    DWORD returned = 0;
    if (!Control(VPENDANT_IOCTL_POP, nullptr, 0, buffer, sizeof(buffer), returned)) return false;
    for (DWORD offset = 0; offset + VPENDANT_OUTPUT_DATA <= returned;
         offset += VPENDANT_OUTPUT_DATA) {
      OutputReport report{};
      for (int i = 0; i < VPENDANT_OUTPUT_DATA; ++i) report[i + 1] = buffer[offset + i];
      reports.push_back(report);
    }
    if (returned < sizeof(buffer)) return true;
  }
}

bool Status(vpendant_status& status) {
  DWORD returned = 0;
  return Control(VPENDANT_IOCTL_STATUS, nullptr, 0, &status, sizeof(status), returned) &&
         returned == sizeof(status);
}

bool SetPeriod(std::uint32_t periodMs) {
  DWORD returned = 0;
  const DWORD period = periodMs;
  return Control(VPENDANT_IOCTL_SET_PERIOD, &period, sizeof(period), nullptr, 0, returned);
}

bool UnplugOrSay() {
  std::string error;
  bool wasPlugged = false;
  if (Unplug(wasPlugged, error)) return true;
  std::printf("unplug: %s\n", error.c_str());
  return false;
}

}  // namespace vpendant
