// A minimal host for the real plug-in DLL: loads it, passes a framework string object the way the
// host's compiler does, sets recording callbacks, hands over zeroed data blocks and a real parent
// window, and drives the start-up and shut-down exports. No pendant is attached.
// usage: boundary_host.exe <path of Pendant.dll>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "check.h"
#include "host_string_fixture.h"
#include "host_windows/host_blocks.h"

namespace {

using winecheck::Check;

using hoststringfixture::Header;
using hoststringfixture::MakeString;
using hoststringfixture::manager;

// By value: one pointer to the characters, as the host's compiler passes the object.
struct StringArg {
  char* text;
};

using SetProNameFn = const char* (*)(StringArg);
using SetterFn = void (*)(void*);
using InitControlFn = std::uint8_t (*)(void*, void*, void*, void*);
using VoidFn = void (*)();
using RegisterFn = HRESULT(__stdcall*)();
using GetClassObjectFn = HRESULT(__stdcall*)(REFCLSID, REFIID, LPVOID*);

// Host callbacks: every call is recorded.
std::vector<std::string> calls;
void CbDoButton(std::int16_t code) {
  calls.push_back("DoButton " + std::to_string(code));
}
void CbSetDRO(std::int32_t dro, double value) {
  calls.push_back("SetDRO " + std::to_string(dro) + " " + std::to_string(value));
}
double CbGetDRO(std::int32_t dro) {
  calls.push_back("GetDRO " + std::to_string(dro));
  return 0.0;
}
std::uint8_t CbGetLED(std::int32_t led) {
  calls.push_back("GetLED " + std::to_string(led));
  return 0;
}
void CbSetLED() {
  calls.push_back("SetLED");
}
void CbCode(const char* line) {
  calls.push_back(std::string("Code ") + line);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool FileExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void Pump(DWORD ms) {
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < ms) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    Sleep(5);
  }
}

template <class F>
F Export(HMODULE dll, const char* name) {
  FARPROC p = GetProcAddress(dll, name);
  Check(p != nullptr, std::string("export ") + name);
  return reinterpret_cast<F>(reinterpret_cast<void*>(p));
}

const char* const kExports[] = {
    "SetProName",
    "SetDoButton",
    "SetSetDRO",
    "SetGetDRO",
    "SetGetLED",
    "SetSetLED",
    "SetCode",
    "InitControl",
    "PostInitControl",
    "Config",
    "Update",
    "StopPlug",
    "DoDwell",
    "Reset",
    "JogOn",
    "JogOff",
    "Purge",
    "Probe",
    "Home",
    "DllRegisterServer",
    "DllUnregisterServer",
    "DllGetClassObject",
    "DllCanUnloadNow",
};

void RegistrationExports(HMODULE dll) {
  auto reg = Export<RegisterFn>(dll, "DllRegisterServer");
  auto unreg = Export<RegisterFn>(dll, "DllUnregisterServer");
  auto getClass = Export<GetClassObjectFn>(dll, "DllGetClassObject");
  auto canUnload = Export<RegisterFn>(dll, "DllCanUnloadNow");
  if (!reg || !unreg || !getClass || !canUnload) return;
  Check(reg() == S_OK, "DllRegisterServer S_OK");
  Check(unreg() == S_OK, "DllUnregisterServer S_OK");
  Check(getClass(CLSID_NULL, IID_IUnknown, nullptr) == E_POINTER, "DllGetClassObject null ppv");
  void* object = &manager;
  Check(getClass(CLSID_NULL, IID_IClassFactory, &object) == CLASS_E_CLASSNOTAVAILABLE,
        "DllGetClassObject: no class");
  Check(object == nullptr, "DllGetClassObject clears ppv");
  Check(canUnload() == S_OK, "DllCanUnloadNow without a window");
}

// SetProName reads the argument, names the module, creates the profile's root and releases its
// reference to the argument.
void ProName(HMODULE dll, const std::string& folder) {
  auto setProName = Export<SetProNameFn>(dll, "SetProName");
  if (!setProName) return;
  const std::string profile = folder + "\\Mill.xml";

  Header* arg = MakeString(profile, 1);
  const int freesBefore = manager.frees;
  const char* name = setProName(StringArg{arg->Chars()});
  Check(name != nullptr && std::strcmp(name, "Pendant Pendant --Norvale Ver 3.4.0") == 0,
        std::string("SetProName name: ") + (name ? name : "(null)"));
  Check(manager.frees == freesBefore + 1 && manager.lastFreed == arg && arg->refs == 0,
        "SetProName frees its last reference to the argument");
  Check(FileExists(profile), "SetProName writes the missing profile");
  const std::string xml = ReadFile(profile);
  Check(xml.find("<profile") != std::string::npos, "missing profile created with root: " + xml);

  // A shared argument: only our reference goes.
  Header* shared = MakeString(profile, 2);
  const char* again = setProName(StringArg{shared->Chars()});
  Check(again != nullptr && std::strcmp(again, "Pendant Pendant --Norvale Ver 3.4.0") == 0,
        "second SetProName name");
  Check(shared->refs == 1 && manager.frees == freesBefore + 1, "shared argument: refs 2 -> 1");

  // A foreign root and content stay.
  {
    std::ofstream out(profile, std::ios::binary | std::ios::trunc);
    out << "<?xml version=\"1.0\"?>\n<HostProfile><Other>keep</Other></HostProfile>\n";
  }
  Header* third = MakeString(profile, 1);
  setProName(StringArg{third->Chars()});
  const std::string kept = ReadFile(profile);
  Check(kept.find("<HostProfile>") != std::string::npos &&
            kept.find("<Other>keep</Other>") != std::string::npos &&
            kept.find("<profile") == std::string::npos,
        "existing root and content kept: " + kept);
}

void ModuleNameFromFile(const std::string& dllPath, const std::string& folder) {
  const std::string copy = folder + "\\a.b.dll";
  Check(CopyFileA(dllPath.c_str(), copy.c_str(), FALSE) != 0, "copy DLL to a.b.dll");
  HMODULE other = LoadLibraryA(copy.c_str());
  Check(other != nullptr, "load a.b.dll");
  if (!other) return;
  if (auto setProName = Export<SetProNameFn>(other, "SetProName")) {
    Header* arg = MakeString(folder + "\\Other.xml", 1);
    const char* name = setProName(StringArg{arg->Chars()});
    Check(name != nullptr && std::strcmp(name, "a.b Pendant --Norvale Ver 3.4.0") == 0,
          std::string("a.b.dll name: ") + (name ? name : "(null)"));
  }
  FreeLibrary(other);
  DeleteFileA(copy.c_str());
  DeleteFileA((folder + "\\Other.xml").c_str());
}

HWND MakeParentWindow() {
  WNDCLASSA wc{};
  wc.lpfnWndProc = DefWindowProcA;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "BoundaryHostMain";
  RegisterClassA(&wc);
  return CreateWindowExA(0, wc.lpszClassName, "boundary host", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200,
                         nullptr, nullptr, wc.hInstance, nullptr);
}

void Lifecycle(HMODULE dll, const std::string& folder) {
  const std::string profile = folder + "\\Mill.xml";
  for (const char* setter :
       {"SetDoButton", "SetSetDRO", "SetGetDRO", "SetGetLED", "SetSetLED", "SetCode"})
    if (!GetProcAddress(dll, setter)) return;
  Export<SetterFn>(dll, "SetDoButton")(reinterpret_cast<void*>(&CbDoButton));
  Export<SetterFn>(dll, "SetSetDRO")(reinterpret_cast<void*>(&CbSetDRO));
  Export<SetterFn>(dll, "SetGetDRO")(reinterpret_cast<void*>(&CbGetDRO));
  Export<SetterFn>(dll, "SetGetLED")(reinterpret_cast<void*>(&CbGetLED));
  Export<SetterFn>(dll, "SetSetLED")(reinterpret_cast<void*>(&CbSetLED));
  Export<SetterFn>(dll, "SetCode")(reinterpret_cast<void*>(&CbCode));

  std::vector<std::uint8_t> state(hostblock::kHostStateSize);
  std::vector<std::uint8_t> config(hostblock::kHostConfigSize);
  std::vector<std::uint8_t> motion(hostblock::kHostMotionSize);
  Header* status = MakeString("", 2);  // the host's shared empty string
  char* statusChars = status->Chars();
  std::memcpy(motion.data() + hostblock::kStatusMessage, &statusChars, sizeof statusChars);

  HWND parent = MakeParentWindow();
  Check(parent != nullptr, "parent window");
  auto init = Export<InitControlFn>(dll, "InitControl");
  auto postInit = Export<VoidFn>(dll, "PostInitControl");
  auto update = Export<VoidFn>(dll, "Update");
  auto stop = Export<VoidFn>(dll, "StopPlug");
  auto canUnload = Export<RegisterFn>(dll, "DllCanUnloadNow");
  if (!init || !postInit || !update || !stop || !canUnload) return;

  // StopPlug before any InitControl does nothing.
  stop();

  const std::uint8_t ok = init(state.data(), config.data(), motion.data(), parent);
  Check(ok != 0, "InitControl returns true");
  HWND child = FindWindowExA(parent, nullptr, nullptr, nullptr);
  Check(child != nullptr, "hidden child window created");
  if (child) {
    Check(!IsWindowVisible(child), "child window hidden");
    Check(GetDlgCtrlID(child) == 1, "child identifier 1");
    Check((GetWindowLongA(child, GWL_STYLE) & WS_CHILD) != 0, "child style");
    char text[8] = "x";
    GetWindowTextA(child, text, sizeof text);
    Check(text[0] == '\0', "child has no text");
  }
  Check(canUnload() == S_FALSE, "DllCanUnloadNow while the window exists");

  postInit();
  Pump(200);  // several 25 ms ticks with no pendant present
  update();
  update();
  Check(calls.empty(), "no host calls without a pendant (got " + std::to_string(calls.size()) +
                           (calls.empty() ? std::string(")") : ", first " + calls[0] + ")"));
  Check(ReadFile(profile).find("<HostProfile>") != std::string::npos,
        "PostInitControl writes the profile back with its root");

  char* statusNow = nullptr;
  std::memcpy(&statusNow, motion.data() + hostblock::kStatusMessage, sizeof statusNow);
  Check(statusNow == statusChars && status->refs == 2, "status text untouched");

  stop();
  Check(child == nullptr || !IsWindow(child), "StopPlug destroys the hidden window");
  Check(canUnload() == S_OK, "DllCanUnloadNow after StopPlug");
  stop();  // again: nothing left to destroy
  Pump(60);
  Check(calls.empty(), "no host calls after StopPlug");
  DestroyWindow(parent);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::printf("usage: boundary_host <Pendant.dll>\n");
    return 2;
  }
  char full[MAX_PATH];
  const DWORD n = GetFullPathNameA(argv[1], sizeof full, full, nullptr);
  const std::string dllPath = n > 0 && n < sizeof full ? full : argv[1];

  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  const std::string folder =
      std::string(temp) + "pendant-boundary-" + std::to_string(GetCurrentProcessId());
  CreateDirectoryA(folder.c_str(), nullptr);

  HMODULE dll = LoadLibraryA(dllPath.c_str());
  Check(dll != nullptr, "LoadLibraryA " + dllPath + " error " + std::to_string(GetLastError()));
  if (dll) {
    for (const char* name : kExports) Export<FARPROC>(dll, name);
    RegistrationExports(dll);
    ProName(dll, folder);
    Lifecycle(dll, folder);
    ModuleNameFromFile(dllPath, folder);
    FreeLibrary(dll);
  }
  DeleteFileA((folder + "\\Mill.xml").c_str());
  RemoveDirectoryA(folder.c_str());

  return winecheck::Summary();
}
