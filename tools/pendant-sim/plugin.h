// The simulation library as a host sees it: loaded with dlopen, every entry point found by name.
#pragma once

#include <string>

namespace pendant_sim {

struct Plugin {
  void* handle = nullptr;

  const char* (*SetProName)(const char*) = nullptr;
  void (*SetDoButton)(void (*)(short)) = nullptr;
  void (*SetSetDRO)(void (*)(int, double)) = nullptr;
  void (*SetGetDRO)(double (*)(int)) = nullptr;
  void (*SetGetLED)(unsigned char (*)(int)) = nullptr;
  void (*SetSetLED)(void (*)(void)) = nullptr;
  void (*SetCode)(void (*)(const char*)) = nullptr;
  unsigned char (*InitControl)(void*, void*, void*, void*) = nullptr;
  void (*PostInitControl)(void) = nullptr;
  void (*Config)(void) = nullptr;
  void (*Update)(void) = nullptr;
  void (*StopPlug)(void) = nullptr;

  void (*SimReset)(void) = nullptr;
  int (*SimAddDevice)(unsigned short, unsigned short) = nullptr;
  const char* (*SimDevicePath)(int) = nullptr;
  void (*SimSetDevicePresent)(int, int) = nullptr;
  void (*SimSetOpenFails)(int, int) = nullptr;
  int (*SimOpenHandleCount)(void) = nullptr;
  int (*SimDeviceChange)(unsigned int, const char*) = nullptr;
  void (*SimQueueInputReport)(const unsigned char*) = nullptr;
  int (*SimOutputReportCount)(void) = nullptr;
  void (*SimLastOutputReport)(unsigned char*) = nullptr;
  int (*SimTimerTick)(void) = nullptr;
  void (*SimSetStatusSink)(void (*)(const char*)) = nullptr;
  void (*SimSetMessageBoxSink)(void (*)(const char*)) = nullptr;

  // The dialog script; a library without them cannot run scripted dialogs.
  void (*SimDialogSetText)(int, const char*) = nullptr;
  void (*SimDialogSelect)(int, int) = nullptr;
  void (*SimDialogSetCheck)(int, int) = nullptr;
  void (*SimDialogPress)(int) = nullptr;
  void (*SimDialogClear)(void) = nullptr;
  void (*SimDialogTick)(int) = nullptr;
  void (*SimSetDialogViewSink)(void (*)(const char*, const char*)) = nullptr;
  // The diagnostic trail; a library without it has none to show.
  void (*SimSetTrailSink)(void (*)(const char*)) = nullptr;
};

// Loads the library at `path` and resolves its entry points. On failure `error` says what is
// missing and the plug-in stays unloaded.
bool LoadPlugin(const std::string& path, Plugin& plugin, std::string& error);

}  // namespace pendant_sim
