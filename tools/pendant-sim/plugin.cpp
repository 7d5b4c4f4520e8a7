#include "plugin.h"

#include <dlfcn.h>

namespace pendant_sim {

namespace {

template <class Fn>
bool Resolve(void* handle, const char* name, Fn& slot, std::string& error) {
  void* symbol = dlsym(handle, name);
  if (symbol == nullptr) {
    if (!error.empty()) error += ", ";
    error += name;
    return false;
  }
  slot = reinterpret_cast<Fn>(symbol);
  return true;
}

}  // namespace

bool LoadPlugin(const std::string& path, Plugin& plugin, std::string& error) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = dlerror();
    error = why != nullptr ? why : ("cannot load " + path);
    return false;
  }
  Plugin p;
  p.handle = handle;
  std::string missing;
  bool ok = true;
  ok &= Resolve(handle, "SetProName", p.SetProName, missing);
  ok &= Resolve(handle, "SetDoButton", p.SetDoButton, missing);
  ok &= Resolve(handle, "SetSetDRO", p.SetSetDRO, missing);
  ok &= Resolve(handle, "SetGetDRO", p.SetGetDRO, missing);
  ok &= Resolve(handle, "SetGetLED", p.SetGetLED, missing);
  ok &= Resolve(handle, "SetSetLED", p.SetSetLED, missing);
  ok &= Resolve(handle, "SetCode", p.SetCode, missing);
  ok &= Resolve(handle, "InitControl", p.InitControl, missing);
  ok &= Resolve(handle, "PostInitControl", p.PostInitControl, missing);
  ok &= Resolve(handle, "Config", p.Config, missing);
  ok &= Resolve(handle, "Update", p.Update, missing);
  ok &= Resolve(handle, "StopPlug", p.StopPlug, missing);
  ok &= Resolve(handle, "SimReset", p.SimReset, missing);
  ok &= Resolve(handle, "SimAddDevice", p.SimAddDevice, missing);
  ok &= Resolve(handle, "SimDevicePath", p.SimDevicePath, missing);
  ok &= Resolve(handle, "SimSetDevicePresent", p.SimSetDevicePresent, missing);
  ok &= Resolve(handle, "SimSetOpenFails", p.SimSetOpenFails, missing);
  ok &= Resolve(handle, "SimOpenHandleCount", p.SimOpenHandleCount, missing);
  ok &= Resolve(handle, "SimDeviceChange", p.SimDeviceChange, missing);
  ok &= Resolve(handle, "SimQueueInputReport", p.SimQueueInputReport, missing);
  ok &= Resolve(handle, "SimOutputReportCount", p.SimOutputReportCount, missing);
  ok &= Resolve(handle, "SimLastOutputReport", p.SimLastOutputReport, missing);
  ok &= Resolve(handle, "SimTimerTick", p.SimTimerTick, missing);
  ok &= Resolve(handle, "SimSetStatusSink", p.SimSetStatusSink, missing);
  ok &= Resolve(handle, "SimSetMessageBoxSink", p.SimSetMessageBoxSink, missing);
  if (!ok) {
    dlclose(handle);
    error = path + " lacks " + missing;
    return false;
  }
  std::string optionalMissing;
  Resolve(handle, "SimDialogSetText", p.SimDialogSetText, optionalMissing);
  Resolve(handle, "SimDialogSelect", p.SimDialogSelect, optionalMissing);
  Resolve(handle, "SimDialogSetCheck", p.SimDialogSetCheck, optionalMissing);
  Resolve(handle, "SimDialogPress", p.SimDialogPress, optionalMissing);
  Resolve(handle, "SimDialogClear", p.SimDialogClear, optionalMissing);
  Resolve(handle, "SimDialogTick", p.SimDialogTick, optionalMissing);
  Resolve(handle, "SimSetDialogViewSink", p.SimSetDialogViewSink, optionalMissing);
  Resolve(handle, "SimSetTrailSink", p.SimSetTrailSink, optionalMissing);
  plugin = p;
  return true;
}

}  // namespace pendant_sim
