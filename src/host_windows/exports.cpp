// The host entry points. No exception crosses this boundary: every export catches everything.
#include "host_windows/exports.h"

#include <cstdint>
#include <memory>

#include "host_windows/lifecycle.h"
#include "host_windows/module.h"
#include "host_windows/show_config_dialog.h"
#include "host_windows/version.h"
#include "link/pendant_link.h"
#include "link/pendant_view.h"
#include "settings/config_dialog.h"
#include "settings/profile_store.h"

namespace {

constexpr const char* kNameSuffix = " Pendant --Norvale Ver " PENDANT_VERSION_TEXT;

std::unique_ptr<Module>& ModuleSlot() {
  static std::unique_ptr<Module> module;
  return module;
}

}  // namespace

Module& TheModule() {
  auto& slot = ModuleSlot();
  if (!slot) slot = std::make_unique<Module>(ThePlatform());
  return *slot;
}

bool ResetModule() {
  auto& slot = ModuleSlot();
  // From inside a callback the module is still in use below the caller.
  if (slot && slot->callDepth > 0) return false;
  slot.reset();
  slot = std::make_unique<Module>(ThePlatform());
  return true;
}

const char* SetProNameFromPath(const std::string& profilePath) {
  Module& module = TheModule();
  ModuleCall call(module);
  Guarded([&] {
    module.profilePath = profilePath;
    { ProfileStore store(module.profilePath, module.windowsPlatform.Files()); }
    module.proName = module.windowsPlatform.ModuleBaseName() + kNameSuffix;
  });
  return module.proName.c_str();
}

PENDANT_EXPORT void SetDoButton(DoButtonFn f) {
  TheModule().host.callbacks.DoButton = f;
}
PENDANT_EXPORT void SetSetDRO(SetDROFn f) {
  TheModule().host.callbacks.SetDRO = f;
}
PENDANT_EXPORT void SetGetDRO(GetDROFn f) {
  TheModule().host.callbacks.GetDRO = f;
}
PENDANT_EXPORT void SetGetLED(GetLEDFn f) {
  TheModule().host.callbacks.GetLED = f;
}
PENDANT_EXPORT void SetSetLED(SetLEDFn f) {
  TheModule().host.callbacks.SetLED = f;
}
PENDANT_EXPORT void SetCode(CodeFn f) {
  TheModule().host.callbacks.Code = f;
}

PENDANT_EXPORT std::uint8_t InitControl(void* hostState, void* hostConfig, void* hostMotion,
                                        void* hostParentWindow) {
  // False only when no window could be made: the pendant would never be polled.
  return Guarded(false,
                 [&] {
                   Module& module = TheModule();
                   ModuleCall call(module);
                   return InitControlCall(module, call, hostState, hostConfig, hostMotion,
                                          hostParentWindow);
                 })
             ? 1
             : 0;
}

PENDANT_EXPORT void PostInitControl() {
  Guarded([] {
    Module& module = TheModule();
    ModuleCall call(module);
    PostInitControlCall(module, call);
  });
}

PENDANT_EXPORT void Config() {
  Guarded([] {
    Module& module = TheModule();
    ModuleCall call(module);
    if (call.Nested()) return;  // see host_windows/lifecycle.h
    ProfileStore store(module.profilePath, module.windowsPlatform.Files());
    // Looked up at each refresh: the window may go while the dialog is open.
    ShowConfigDialog(module, store,
                     [&module] { return PendantStatusArea(module.pendantLink.get()); });
  });
}

PENDANT_EXPORT void Update() {
  Guarded([] {
    Module& module = TheModule();
    ModuleCall call(module);
    module.ticks.Update();
  });
}

PENDANT_EXPORT void StopPlug() {
  Guarded([] {
    Module& module = TheModule();
    ModuleCall call(module);
    StopPlugCall(module, call);
  });
}

PENDANT_EXPORT void DoDwell() {}
PENDANT_EXPORT void Reset() {}
PENDANT_EXPORT void JogOn() {}
PENDANT_EXPORT void JogOff() {}
PENDANT_EXPORT void Purge() {}
PENDANT_EXPORT void Probe() {}
PENDANT_EXPORT void Home() {}
