// Loading the plug-in the way the host does, for the Wine test programs.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

// The host framework's string object as passed by value: one pointer to its characters.
struct HostString {
  char* text;
};

// The framework's older string layout (refs, length, capacity, then the characters), which the
// plug-in reads but never releases.
struct OlderHostString {
  std::int32_t refs = 1;
  std::int32_t dataLength = 0;
  std::int32_t allocLength = MAX_PATH;
  char text[MAX_PATH + 1] = {};
};

// The plug-in's host entry points.
struct Plugin {
  HMODULE module = nullptr;
  const char* (*SetProName)(HostString) = nullptr;
  void (*SetDoButton)(void (*)(std::int16_t)) = nullptr;
  void (*SetSetDRO)(void (*)(std::int32_t, double)) = nullptr;
  void (*SetGetDRO)(double (*)(std::int32_t)) = nullptr;
  void (*SetGetLED)(std::uint8_t (*)(std::int32_t)) = nullptr;
  void (*SetSetLED)(void (*)()) = nullptr;
  void (*SetCode)(void (*)(const char*)) = nullptr;
  std::uint8_t (*InitControl)(void*, void*, void*, void*) = nullptr;
  void (*PostInitControl)() = nullptr;
  void (*Config)() = nullptr;
  void (*Update)() = nullptr;
  void (*StopPlug)() = nullptr;
};

template <class F>
bool ResolveExport(HMODULE module, const char* name, F& function) {
  function = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  return function != nullptr;
}

// The folder of the running test program, with its trailing backslash; empty on failure.
inline std::string ProgramFolder() {
  char path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return {};
  char* slash = std::strrchr(path, '\\');
  if (slash == nullptr) return {};
  slash[1] = '\0';
  return path;
}

// Loads `fileName` from the program's folder and resolves every entry point.
inline bool LoadPlugin(const char* fileName, Plugin& plugin) {
  const std::string full = ProgramFolder() + fileName;
  plugin.module = LoadLibraryA(full.c_str());
  if (plugin.module == nullptr) {
    std::printf("cannot load %s (error %lu)\n", full.c_str(), GetLastError());
    return false;
  }
  HMODULE m = plugin.module;
  return ResolveExport(m, "SetProName", plugin.SetProName) &&
         ResolveExport(m, "SetDoButton", plugin.SetDoButton) &&
         ResolveExport(m, "SetSetDRO", plugin.SetSetDRO) &&
         ResolveExport(m, "SetGetDRO", plugin.SetGetDRO) &&
         ResolveExport(m, "SetGetLED", plugin.SetGetLED) &&
         ResolveExport(m, "SetSetLED", plugin.SetSetLED) &&
         ResolveExport(m, "SetCode", plugin.SetCode) &&
         ResolveExport(m, "InitControl", plugin.InitControl) &&
         ResolveExport(m, "PostInitControl", plugin.PostInitControl) &&
         ResolveExport(m, "Config", plugin.Config) && ResolveExport(m, "Update", plugin.Update) &&
         ResolveExport(m, "StopPlug", plugin.StopPlug);
}
