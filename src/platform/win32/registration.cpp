// The in-process component server exports. The plug-in registers no class and no type library,
// so these only answer the platform's questions correctly.
#include <objbase.h>
#include <windows.h>

#include "host_windows/exports.h"
#include "host_windows/module.h"

STDAPI DllRegisterServer() {
  return S_OK;
}

STDAPI DllUnregisterServer() {
  return S_OK;
}

STDAPI DllGetClassObject(REFCLSID, REFIID, LPVOID* ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  return CLASS_E_CLASSNOTAVAILABLE;
}

// While the hidden window exists its window procedure lives in this module: not unloadable then.
STDAPI DllCanUnloadNow() {
  try {
    return TheModule().pendantLink ? S_FALSE : S_OK;
  } catch (...) {
    return S_FALSE;
  }
}
