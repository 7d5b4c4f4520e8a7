// libpendant_sim.so loaded the way a host loads a plug-in: dlopen, then each export by name.
#pragma once

#include <dlfcn.h>

#include <cstdlib>
#include <string>

#include "pendant_sim.h"

struct SimLibrary {
  void* handle = nullptr;
  std::string missing;  // the names of exports that were not found

  decltype(&::SetProName) SetProName = nullptr;
  decltype(&::SetDoButton) SetDoButton = nullptr;
  decltype(&::SetSetDRO) SetSetDRO = nullptr;
  decltype(&::SetGetDRO) SetGetDRO = nullptr;
  decltype(&::SetGetLED) SetGetLED = nullptr;
  decltype(&::SetSetLED) SetSetLED = nullptr;
  decltype(&::SetCode) SetCode = nullptr;
  decltype(&::InitControl) InitControl = nullptr;
  decltype(&::PostInitControl) PostInitControl = nullptr;
  decltype(&::Config) Config = nullptr;
  decltype(&::Update) Update = nullptr;
  decltype(&::StopPlug) StopPlug = nullptr;
  decltype(&::DoDwell) DoDwell = nullptr;
  decltype(&::SimReset) SimReset = nullptr;
  decltype(&::SimAddDevice) SimAddDevice = nullptr;
  decltype(&::SimDevicePath) SimDevicePath = nullptr;
  decltype(&::SimSetDevicePresent) SimSetDevicePresent = nullptr;
  decltype(&::SimSetOpenFails) SimSetOpenFails = nullptr;
  decltype(&::SimOpenHandleCount) SimOpenHandleCount = nullptr;
  decltype(&::SimDeviceChange) SimDeviceChange = nullptr;
  decltype(&::SimQueueInputReport) SimQueueInputReport = nullptr;
  decltype(&::SimOutputReportCount) SimOutputReportCount = nullptr;
  decltype(&::SimLastOutputReport) SimLastOutputReport = nullptr;
  decltype(&::SimTimerTick) SimTimerTick = nullptr;
  decltype(&::SimSetStatusSink) SimSetStatusSink = nullptr;
  decltype(&::SimSetMessageBoxSink) SimSetMessageBoxSink = nullptr;
  decltype(&::SimDialogSetText) SimDialogSetText = nullptr;
  decltype(&::SimDialogSelect) SimDialogSelect = nullptr;
  decltype(&::SimDialogSetCheck) SimDialogSetCheck = nullptr;
  decltype(&::SimDialogPress) SimDialogPress = nullptr;
  decltype(&::SimDialogClear) SimDialogClear = nullptr;
  decltype(&::SimDialogTick) SimDialogTick = nullptr;
  decltype(&::SimDialogStatusText) SimDialogStatusText = nullptr;
  decltype(&::SimDialogLiveView) SimDialogLiveView = nullptr;
  decltype(&::SimSetTrailSink) SimSetTrailSink = nullptr;

  explicit SimLibrary(const std::string& path) {
    handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return;
    Get("SetProName", SetProName);
    Get("SetDoButton", SetDoButton);
    Get("SetSetDRO", SetSetDRO);
    Get("SetGetDRO", SetGetDRO);
    Get("SetGetLED", SetGetLED);
    Get("SetSetLED", SetSetLED);
    Get("SetCode", SetCode);
    Get("InitControl", InitControl);
    Get("PostInitControl", PostInitControl);
    Get("Config", Config);
    Get("Update", Update);
    Get("StopPlug", StopPlug);
    Get("DoDwell", DoDwell);
    Get("SimReset", SimReset);
    Get("SimAddDevice", SimAddDevice);
    Get("SimDevicePath", SimDevicePath);
    Get("SimSetDevicePresent", SimSetDevicePresent);
    Get("SimSetOpenFails", SimSetOpenFails);
    Get("SimOpenHandleCount", SimOpenHandleCount);
    Get("SimDeviceChange", SimDeviceChange);
    Get("SimQueueInputReport", SimQueueInputReport);
    Get("SimOutputReportCount", SimOutputReportCount);
    Get("SimLastOutputReport", SimLastOutputReport);
    Get("SimTimerTick", SimTimerTick);
    Get("SimSetStatusSink", SimSetStatusSink);
    Get("SimSetMessageBoxSink", SimSetMessageBoxSink);
    Get("SimDialogSetText", SimDialogSetText);
    Get("SimDialogSelect", SimDialogSelect);
    Get("SimDialogSetCheck", SimDialogSetCheck);
    Get("SimDialogPress", SimDialogPress);
    Get("SimDialogClear", SimDialogClear);
    Get("SimDialogTick", SimDialogTick);
    Get("SimDialogStatusText", SimDialogStatusText);
    Get("SimDialogLiveView", SimDialogLiveView);
    Get("SimSetTrailSink", SimSetTrailSink);
  }

  template <class Fn>
  void Get(const char* name, Fn& slot) {
    slot = reinterpret_cast<Fn>(dlsym(handle, name));
    if (slot == nullptr) missing += std::string(" ") + name;
  }
};

// The library the build made ($PENDANT_SIM_LIB), else the one the loader finds.
inline std::string SimLibraryPath() {
  const char* path = std::getenv("PENDANT_SIM_LIB");
  return path != nullptr ? path : "libpendant_sim.so";
}

// One instance for the whole test program, as a host keeps a plug-in loaded.
inline SimLibrary& TheSimLibrary() {
  static SimLibrary* lib = new SimLibrary(SimLibraryPath());
  return *lib;
}
