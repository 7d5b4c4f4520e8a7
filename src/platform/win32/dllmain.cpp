// Process attach and detach of Pendant.dll.
// winsock2.h brings windows.h in the order it needs.
#include <winsock2.h>

#include "platform/win32/module_instance.h"

namespace {

HINSTANCE moduleInstance = nullptr;
bool socketsStarted = false;

constexpr const char* kSocketsInitFailed = "Sockets Init Failed";

}  // namespace

HINSTANCE ThisModuleInstance() {
  return moduleInstance;
}

// The sockets library is initialised here because a failure must refuse the load. WSAStartup
// with version 1.1 only loads the sockets DLL's state; nothing here waits for another thread, so
// the loader lock is not a deadlock risk in practice. Nothing else runs under the lock.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  switch (reason) {
    case DLL_PROCESS_ATTACH: {
      moduleInstance = instance;
      DisableThreadLibraryCalls(instance);
      WSADATA data;
      if (WSAStartup(MAKEWORD(1, 1), &data) != 0) {
        MessageBoxA(nullptr, kSocketsInitFailed, nullptr, MB_OK);
        return FALSE;
      }
      socketsStarted = true;
      return TRUE;
    }
    case DLL_PROCESS_DETACH:
      // At process exit (reserved != NULL) other DLLs may already be gone: leave the cleanup
      // to the system then.
      if (socketsStarted && reserved == nullptr) WSACleanup();
      socketsStarted = false;
      return TRUE;
    default:
      return TRUE;
  }
}
