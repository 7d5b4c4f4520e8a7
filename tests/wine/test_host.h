// What the Wine test hosts that drive the plug-in share: host data blocks, the host's window, the
// clock, the plug-in's hidden window and the virtual pendant's interface path.
#pragma once

// clang-format off
#include <windows.h>
#include <setupapi.h>
// clang-format on

extern "C" {
#include <hidsdi.h>
}

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host_windows/host_blocks.h"

namespace testhost {

// Zeroed host data blocks: host idle, absolute mode.
struct HostBlocks {
  std::vector<std::uint8_t> state = std::vector<std::uint8_t>(hostblock::kHostStateSize);
  std::vector<std::uint8_t> config = std::vector<std::uint8_t>(hostblock::kHostConfigSize);
  std::vector<std::uint8_t> motion = std::vector<std::uint8_t>(hostblock::kHostMotionSize);
};

inline HWND CreateHostWindow(const char* className) {
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = DefWindowProcA;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = className;
  RegisterClassA(&windowClass);
  return CreateWindowExA(0, className, "test host", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr,
                         nullptr, GetModuleHandleA(nullptr), nullptr);
}

// The plug-in's hidden window: the host window's only child.
inline HWND PluginWindow(HWND parent) {
  return FindWindowExA(parent, nullptr, nullptr, nullptr);
}

inline LARGE_INTEGER Now() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now;
}

inline double Milliseconds(LARGE_INTEGER from, LARGE_INTEGER to) {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) /
         static_cast<double>(frequency.QuadPart);
}

inline double Median(std::vector<double> values) {
  if (values.empty()) return 0.0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

inline double Longest(const std::vector<double>& values) {
  return values.empty() ? 0.0 : *std::max_element(values.begin(), values.end());
}

inline std::string ProgramFile(const char* fileName) {
  char path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return fileName;
  char* slash = std::strrchr(path, '\\');
  if (slash != nullptr) slash[1] = '\0';
  return std::string(path) + fileName;
}

inline std::string TempProfilePath(const char* tag) {
  char directory[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, directory);
  return std::string(directory) + "link_host_" + tag + "_" + std::to_string(GetCurrentProcessId()) +
         ".xml";
}

inline bool WriteTextFile(const std::string& path, const char* text) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const std::size_t length = std::strlen(text);
  const bool ok = std::fwrite(text, 1, length, file) == length;
  return std::fclose(file) == 0 && ok;
}

// The present HID interfaces: their number, and the path of the one with these identifiers
// (empty when there is none).
inline int FindHidInterface(std::uint16_t vendor, std::uint16_t product, std::string& path) {
  path.clear();
  GUID guid;
  HidD_GetHidGuid(&guid);
  HDEVINFO set =
      SetupDiGetClassDevsA(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) return 0;
  int count = 0;
  SP_DEVICE_INTERFACE_DATA data{};
  data.cbSize = sizeof(data);
  for (DWORD index = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &guid, index, &data); ++index) {
    ++count;
    std::vector<DWORD> storage(1024);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (!SetupDiGetDeviceInterfaceDetailA(set, &data, detail, storage.size() * sizeof(DWORD),
                                          nullptr, nullptr))
      continue;
    HANDLE device = CreateFileA(detail->DevicePath, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (device == INVALID_HANDLE_VALUE) continue;
    HIDD_ATTRIBUTES attributes{};
    attributes.Size = sizeof(attributes);
    if (HidD_GetAttributes(device, &attributes) && attributes.VendorID == vendor &&
        attributes.ProductID == product)
      path = detail->DevicePath;
    CloseHandle(device);
  }
  SetupDiDestroyDeviceInfoList(set);
  return count;
}

// The process's open handles. GetProcessHandleCount answers 0 under Wine 8.0, so where it does the
// handle values are probed instead: the system hands out the lowest free value first, so every
// open handle lies below the first long run of free values.
inline unsigned long HandleCount() {
  DWORD count = 0;
  if (GetProcessHandleCount(GetCurrentProcess(), &count) && count != 0) return count;
  unsigned long open = 0;
  int freeRun = 0;
  for (ULONG_PTR value = 4; freeRun < 4096; value += 4) {
    DWORD flags = 0;
    if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) {
      ++open;
      freeRun = 0;
    } else {
      ++freeRun;
    }
  }
  return open;
}

}  // namespace testhost
