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

// The sockets library is initialised here because a failure must refuse the load. Its DLL is a
// static import, so it is loaded and initialised before this runs, and WSAStartup 1.1 only sets up
// per-process state without waiting for another thread. Nothing else runs under the loader lock.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  switch (reason) {
    case DLL_PROCESS_ATTACH: {
      moduleInstance = instance;
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
