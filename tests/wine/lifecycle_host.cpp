// A hostile host for the plug-in's life, run under Wine. Each case runs in a child process of its
// own, with the virtual pendant (a HID minidriver in Wine's HID stack) as the device where it needs
// one; the parent unplugs it again once the child has ended, however it ended:
//   exit-open      pendant open, a read pending; the process exits, no StopPlug
//   exit-product   no pendant present; the process exits, no StopPlug
//   free-open      FreeLibrary with the pendant open and a read pending, no StopPlug
//   stop-in-button StopPlug from inside DoButton (a safety press), then a message loop there
//   stop-in-code   StopPlug from inside Code (a wheel turn), with the move's "G90" still to come
//   no-parent      InitControl without a parent window: the pendant is polled all the same
//   reload         loads and unloads Pendant.dll many times: no handle is left behind
// Freed memory of the plug-in is overwritten (its imported free is replaced by one that fills the
// block first), so a use after free cannot pass by luck. Each process prints "N passed, N failed";
// the exit code is 0 only when every check passed and the process ended normally.
#include <windows.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "check.h"
#include "host_windows/host_blocks.h"
#include "plug.h"
#include "plugin_loader.h"
#include "test_host.h"

namespace {

using winecheck::Check;
using winecheck::CheckEqual;

// ---- Overwriting freed memory ------------------------------------------------------------------

using FreeFn = void(__cdecl*)(void*);
using SizeFn = std::size_t(__cdecl*)(void*);
FreeFn realFree = nullptr;
SizeFn blockSize = nullptr;

extern "C" void __cdecl FillingFree(void* block) {
  if (block != nullptr && blockSize != nullptr) {
    const std::size_t size = blockSize(block);
    if (size != static_cast<std::size_t>(-1)) std::memset(block, 0xFE, size);
  }
  realFree(block);
}

// Points the module's imported `free` at FillingFree. False when it imports none.
bool FillFreedMemory(HMODULE module) {
  auto* base = reinterpret_cast<std::uint8_t*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& imports =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (imports.VirtualAddress == 0) return false;
  bool patched = false;
  for (auto* entry = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
       entry->Name != 0; ++entry) {
    HMODULE dll = GetModuleHandleA(reinterpret_cast<const char*>(base + entry->Name));
    const DWORD namesAt =
        entry->OriginalFirstThunk != 0 ? entry->OriginalFirstThunk : entry->FirstThunk;
    auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + namesAt);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      const auto* byName =
          reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<const char*>(byName->Name), "free") != 0) continue;
      realFree = reinterpret_cast<FreeFn>(slots->u1.Function);
      blockSize = reinterpret_cast<SizeFn>(reinterpret_cast<void*>(GetProcAddress(dll, "_msize")));
      DWORD protection = 0;
      VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &protection);
      slots->u1.Function = reinterpret_cast<ULONG_PTR>(&FillingFree);
      VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, protection, &protection);
      patched = blockSize != nullptr;
    }
  }
  return patched;
}

// ---- The host ----------------------------------------------------------------------------------

constexpr std::int16_t kSafetyCode = 1021;
constexpr std::int32_t kJogEnabledLed = 83;

enum class StopIn { Nowhere, DoButton, Code };

struct Host {
  Plugin plugin;
  std::vector<std::string> calls;
  StopIn stopIn = StopIn::Nowhere;
  std::size_t callsAtStop = 0;
  bool stopped = false;
  HWND pumpAfterStop = nullptr;  // the plug-in's window, whose timer keeps coming meanwhile
};
Host host;

void PumpFor(DWORD ms) {
  const ULONGLONG end = GetTickCount64() + ms;
  while (GetTickCount64() < end) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 2, QS_ALLINPUT);
  }
}

// The host stops the plug-in from inside the callback, then runs a message loop there, as a
// message box would.
void StopHere() {
  host.stopped = true;
  host.stopIn = StopIn::Nowhere;
  host.plugin.StopPlug();
  host.callsAtStop = host.calls.size();
  PumpFor(100);
}

extern "C" void HostDoButton(std::int16_t code) {
  host.calls.push_back("DoButton " + std::to_string(code));
  if (host.stopIn == StopIn::DoButton && code == kSafetyCode) StopHere();
}
extern "C" void HostSetDRO(std::int32_t dro, double) {
  host.calls.push_back("SetDRO " + std::to_string(dro));
}
extern "C" double HostGetDRO(std::int32_t) {
  return 0.0;
}
extern "C" std::uint8_t HostGetLED(std::int32_t led) {
  return led == kJogEnabledLed ? 1 : 0;
}
extern "C" void HostSetLED() {}
extern "C" void HostCode(const char* line) {
  host.calls.push_back(std::string("Code ") + (line != nullptr ? line : "(null)"));
  if (host.stopIn == StopIn::Code) StopHere();
}

struct HostBlocks {
  std::vector<std::uint8_t> state = std::vector<std::uint8_t>(hostblock::kHostStateSize);
  std::vector<std::uint8_t> config = std::vector<std::uint8_t>(hostblock::kHostConfigSize);
  std::vector<std::uint8_t> motion = std::vector<std::uint8_t>(hostblock::kHostMotionSize);
};
HostBlocks* blocks = new HostBlocks;  // the host's blocks outlive the plug-in

LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(window, message, wParam, lParam);
}

HWND CreateHostWindow() {
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = HostWindowProc;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = "LifecycleTestHost";
  RegisterClassA(&windowClass);
  return CreateWindowExA(0, "LifecycleTestHost", "lifecycle test host", WS_OVERLAPPEDWINDOW, 0, 0,
                         200, 100, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
}

std::string ProfilePath() {
  char folder[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, folder);
  return std::string(folder) + "lifecycle_host_" + std::to_string(GetCurrentProcessId()) + ".xml";
}

// Loads `dll`, overwriting its freed memory, and starts it as far as PostInitControl.
bool Start(const char* dll, HWND parent) {
  if (!LoadPlugin(dll, host.plugin)) {
    Check(false, "the plug-in loads with all host entry points");
    return false;
  }
  Check(FillFreedMemory(host.plugin.module), "the plug-in's freed memory is overwritten");
  const std::string profile = ProfilePath();
  OlderHostString name;
  std::memcpy(name.text, profile.data(), std::min<std::size_t>(profile.size(), MAX_PATH));
  name.dataLength = static_cast<std::int32_t>(std::min<std::size_t>(profile.size(), MAX_PATH));
  host.plugin.SetProName(HostString{name.text});
  host.plugin.SetDoButton(HostDoButton);
  host.plugin.SetSetDRO(HostSetDRO);
  host.plugin.SetGetDRO(HostGetDRO);
  host.plugin.SetGetLED(HostGetLED);
  host.plugin.SetSetLED(HostSetLED);
  host.plugin.SetCode(HostCode);
  CheckEqual(host.plugin.InitControl(blocks->state.data(), blocks->config.data(),
                                     blocks->motion.data(), parent),
             1, "InitControl returns true");
  host.plugin.PostInitControl();
  return true;
}

// The plug-in's window: the host window's only child, or the process's only message-only window
// of the plug-in's class.
HWND PluginWindow(HWND parent) {
  if (parent != nullptr) return FindWindowExA(parent, nullptr, nullptr, nullptr);
  return FindWindowExA(HWND_MESSAGE, nullptr, "ShuttleWin", nullptr);
}

// Input reports as the plug-in reads them: id, wheel counter, wheel speed, keys, buttons.
constexpr vpendant::InputReport kIdle = {0, 0, 0, 0, 0, 0, 0, 0};
constexpr vpendant::InputReport kSafetyAndTurn = {0, 5, 0, 0x01, 0, 0, 0, 0};
constexpr vpendant::InputReport kTurn = {0, 5, 0, 0, 0, 0, 0, 0};
constexpr vpendant::InputReport kSafety = {0, 0, 0, 0x01, 0, 0, 0, 0};

// Output reports the plug-in wrote since the last call.
std::size_t TakeOutputs() {
  std::vector<vpendant::OutputReport> outputs;
  Check(vpendant::Pop(outputs), "the virtual pendant's output reports can be collected");
  return outputs.size();
}

void Send(const vpendant::InputReport& report) {
  Check(vpendant::Push(report), "the virtual pendant takes an input report");
}

// Plugs the virtual pendant in; it stays plugged until the parent process unplugs it.
bool PlugPendant() {
  std::string error;
  if (vpendant::Plug(testhost::ProgramFile("vpendant.inf"), error)) return true;
  std::printf("plug: %s\n", error.c_str());
  Check(false, "the virtual pendant can be plugged in");
  return false;
}

// Starts Pendant.dll with the pendant plugged in and waits until it writes output reports.
bool StartWithPendant(HWND parent) {
  if (!PlugPendant() || !Start("Pendant.dll", parent)) return false;
  Send(kIdle);
  PumpFor(200);
  Check(TakeOutputs() > 0, "the pendant is open and polled");
  return true;
}

[[noreturn]] void ExitWithoutStop() {
  const int code = winecheck::Summary();
  std::fflush(stdout);
  ExitProcess(static_cast<UINT>(code));
}

void ExitOpen() {
  HWND parent = CreateHostWindow();
  // One report, then silence: the plug-in's next read stays pending over the exit.
  if (!StartWithPendant(parent)) return;
  ExitWithoutStop();
}

void ExitProduct() {
  HWND parent = CreateHostWindow();
  if (!Start("Pendant.dll", parent)) return;
  PumpFor(200);
  Check(IsWindow(PluginWindow(parent)) != FALSE, "the plug-in's window is polling");
  ExitWithoutStop();
}

void FreeOpen() {
  HWND parent = CreateHostWindow();
  if (!StartWithPendant(parent)) return;
  HWND child = PluginWindow(parent);
  Check(child != nullptr, "the plug-in's window exists");
  const unsigned long handles = testhost::HandleCount();
  FreeLibrary(host.plugin.module);
  Check(!IsWindow(child), "unloading without StopPlug destroys the plug-in's window");
  // A timer message to unloaded code would crash here.
  Send(kSafety);
  PumpFor(200);
  CheckEqual(static_cast<long long>(TakeOutputs()), 0, "no output report after unloading");
  // The pendant opened for probing, reading and writing: none may stay open.
  Check(testhost::HandleCount() + 3 <= handles,
        "unloading without StopPlug closes the pendant's handles");
}

void StopInside(StopIn where) {
  HWND parent = CreateHostWindow();
  if (!StartWithPendant(parent)) return;
  HWND child = PluginWindow(parent);
  PumpFor(100);
  const unsigned long handles = testhost::HandleCount();
  host.calls.clear();
  host.stopIn = where;
  // Either report leaves the poll more to do after the callback: the wheel's move after the
  // safety press, the move's "G90" after the move.
  Send(where == StopIn::DoButton ? kSafetyAndTurn : kTurn);
  PumpFor(300);
  Check(host.stopped, "the host stopped the plug-in from inside the callback");
  CheckEqual(static_cast<long long>(host.calls.size()), static_cast<long long>(host.callsAtStop),
             "after StopPlug the running poll calls the host no more");
  if (where == StopIn::Code)
    Check(!host.calls.empty() && host.calls.back().rfind("Code G91G1 ", 0) == 0,
          "the move was the last call: its \"G90\" was not sent");
  Check(!IsWindow(child), "the window is gone once the poll has returned");
  TakeOutputs();
  PumpFor(200);
  Check(testhost::HandleCount() + 3 <= handles, "every pendant handle is closed");
  CheckEqual(static_cast<long long>(TakeOutputs()), 0, "no output report after StopPlug");
  host.plugin.StopPlug();  // the host's own, later one finds nothing to do
  DestroyWindow(parent);
  FreeLibrary(host.plugin.module);
}

void NoParent() {
  if (!PlugPendant() || !Start("Pendant.dll", nullptr)) return;
  HWND window = PluginWindow(nullptr);
  Check(window != nullptr, "without a parent the plug-in makes a message-only window");
  Send(kIdle);
  PumpFor(300);
  Check(TakeOutputs() >= 3, "without a parent the pendant is polled");
  host.calls.clear();
  Send(kSafety);
  PumpFor(200);
  Check(!host.calls.empty() && host.calls.front() == "DoButton 1021",
        "without a parent the pendant's reports are decoded");
  const unsigned long handles = testhost::HandleCount();
  host.plugin.StopPlug();
  Check(!IsWindow(window), "StopPlug destroys the message-only window");
  TakeOutputs();
  PumpFor(100);
  CheckEqual(static_cast<long long>(TakeOutputs()), 0, "no output report after StopPlug");
  Check(testhost::HandleCount() + 3 <= handles, "StopPlug closes every pendant handle");
  FreeLibrary(host.plugin.module);
}

// Handles of this process, counted by probing every handle value.
int OpenHandles() {
  int count = 0;
  for (std::uintptr_t value = 4; value < 0x10000; value += 4) {
    DWORD flags = 0;
    if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
  }
  return count;
}

void Reload() {
  HWND parent = CreateHostWindow();
  constexpr int kCycles = 20;
  int before = 0;
  for (int cycle = 0; cycle <= kCycles; ++cycle) {
    if (cycle == 1) before = OpenHandles();  // after the system's own first-load handles
    if (!LoadPlugin("Pendant.dll", host.plugin)) {
      Check(false, "Pendant.dll loads");
      return;
    }
    host.plugin.InitControl(blocks->state.data(), blocks->config.data(), blocks->motion.data(),
                            parent);
    host.plugin.StopPlug();
    FreeLibrary(host.plugin.module);
  }
  const int after = OpenHandles();
  std::printf("handles before %d, after %d load cycles: %d\n", before, kCycles, after);
  CheckEqual(after - before, 0, "loading and unloading the plug-in leaves no handle behind");
}

// Runs `mode` in a child process, then unplugs whatever it left plugged in: a case that exits
// without cleaning up must leave no pendant behind for the next program in the prefix.
int RunCase(const std::string& mode) {
  Check(vpendant::UnplugOrSay(), "no virtual pendant is plugged in before the case");
  std::string command = "\"" + testhost::ProgramFile("lifecycle_host.exe") + "\" --child " + mode;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process{};
  std::fflush(stdout);
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                      &startup, &process)) {
    Check(false, "the case's process starts");
    return winecheck::Summary();
  }
  const bool ended = WaitForSingleObject(process.hProcess, 100000) == WAIT_OBJECT_0;
  if (!ended) TerminateProcess(process.hProcess, 124);
  DWORD code = 1;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  Check(ended, "the case's process ends");
  if (code != 0) std::printf("the case's process exited with code 0x%lx\n", code);
  CheckEqual(code, 0, "every check of the case passed and its process ended normally");
  Check(vpendant::UnplugOrSay(), "the virtual pendant can be unplugged after the case");
  return winecheck::Summary();
}

}  // namespace

int main(int argc, char** argv) {
  const bool child = argc > 2 && std::string(argv[1]) == "--child";
  const std::string mode = argc > 1 ? argv[child ? 2 : 1] : "";
  const std::string modes[] = {"exit-open",    "exit-product", "free-open", "stop-in-button",
                               "stop-in-code", "no-parent",    "reload"};
  if (std::find(std::begin(modes), std::end(modes), mode) == std::end(modes)) {
    std::printf(
        "usage: lifecycle_host exit-open|exit-product|free-open|stop-in-button|stop-in-code|"
        "no-parent|reload\n");
    return 2;
  }
  if (!child) return RunCase(mode);
  if (mode == "exit-open") {
    ExitOpen();
  } else if (mode == "exit-product") {
    ExitProduct();
  } else if (mode == "free-open") {
    FreeOpen();
  } else if (mode == "stop-in-button") {
    StopInside(StopIn::DoButton);
  } else if (mode == "stop-in-code") {
    StopInside(StopIn::Code);
  } else if (mode == "no-parent") {
    NoParent();
  } else {
    Reload();
  }
  return winecheck::Summary();
}
