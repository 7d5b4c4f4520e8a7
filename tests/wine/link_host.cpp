// A Win32 host program for the pendant link, run under Wine. `link_host pipe` loads PendantPipe.dll
// and plays the pendant on a named pipe: reports in, output reports out, a macro press and the
// status text it leaves in the host's string, unplug and re-plug notifications. `link_host product`
// loads Pendant.dll with no pendant present and checks the poll window and its timer. Prints "N
// passed, N failed"; the exit code is nonzero on any failure.
// clang-format off
#include <windows.h>
#include <dbt.h>
// clang-format on

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "host/host_blocks.h"
#include "host_string_fixture.h"
#include "link_check.h"
#include "plugin_loader.h"

namespace {

using linkcheck::Check;
using linkcheck::CheckEqual;
using linkcheck::CheckText;

// ---------------------------------------------------------------------------------------------
// The recording host

constexpr std::int32_t kSafetyCode = 1021;
constexpr std::int32_t kSafetyLed = 800;

struct HostRecord {
  std::vector<std::int16_t> buttons;
  int calls = 0;  // every callback, of any kind
  bool safetyLedLit = true;
  // A host that runs a message loop inside DoButton (a message box, say).
  HWND pumpWindow = nullptr;  // the plug-in's window, when DoButton should pump
  int nestedTimers = 0;       // its timer messages dispatched inside DoButton
  int nestedCalls = 0;        // callbacks made meanwhile
  std::vector<std::string> codes;
};
HostRecord host;

void PumpInsideCallback(DWORD ms);

extern "C" void RecordDoButton(std::int16_t code) {
  ++host.calls;
  host.buttons.push_back(code);
  if (host.pumpWindow != nullptr) PumpInsideCallback(100);
}
extern "C" void RecordSetDRO(std::int32_t, double) {
  ++host.calls;
}
extern "C" double RecordGetDRO(std::int32_t) {
  ++host.calls;
  return 0.0;
}
extern "C" std::uint8_t RecordGetLED(std::int32_t led) {
  ++host.calls;
  return led == kSafetyLed && host.safetyLedLit ? 1 : 0;
}
extern "C" void RecordSetLED() {
  ++host.calls;
}
extern "C" void RecordCode(const char* line) {
  ++host.calls;
  host.codes.emplace_back(line != nullptr ? line : "(null)");
}

long long SafetyPresses() {
  return std::count(host.buttons.begin(), host.buttons.end(), kSafetyCode);
}

// Zeroed host data blocks: host idle, absolute mode.
struct HostBlocks {
  std::vector<std::uint8_t> state = std::vector<std::uint8_t>(hostblock::kHostStateSize);
  std::vector<std::uint8_t> config = std::vector<std::uint8_t>(hostblock::kHostConfigSize);
  std::vector<std::uint8_t> motion = std::vector<std::uint8_t>(hostblock::kHostMotionSize);
};

// The host's side of start-up, as far as InitControl: profile, callbacks, window.
bool StartPlugin(Plugin& plugin, HostBlocks& blocks, HWND parent, const std::string& profile) {
  OlderHostString name;
  const std::size_t length = std::min<std::size_t>(profile.size(), MAX_PATH);
  std::memcpy(name.text, profile.data(), length);
  name.dataLength = static_cast<std::int32_t>(length);
  const char* display = plugin.SetProName(HostString{name.text});
  Check(display != nullptr && std::strstr(display, " Pendant --") != nullptr,
        "SetProName returns the display name");
  plugin.SetDoButton(RecordDoButton);
  plugin.SetSetDRO(RecordSetDRO);
  plugin.SetGetDRO(RecordGetDRO);
  plugin.SetGetLED(RecordGetLED);
  plugin.SetSetLED(RecordSetLED);
  plugin.SetCode(RecordCode);
  return plugin.InitControl(blocks.state.data(), blocks.config.data(), blocks.motion.data(),
                            parent) != 0;
}

// ---------------------------------------------------------------------------------------------
// The host's window and message pump

LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(window, message, wParam, lParam);
}

HWND CreateHostWindow() {
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = HostWindowProc;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = "LinkTestHost";
  RegisterClassA(&windowClass);
  return CreateWindowExA(0, "LinkTestHost", "link test host", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100,
                         nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
}

double Milliseconds(LARGE_INTEGER from, LARGE_INTEGER to) {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) /
         static_cast<double>(frequency.QuadPart);
}

// Timer messages that reached the plug-in's window, with how long each dispatch (one poll) took.
struct PollLog {
  HWND target = nullptr;
  std::vector<double> durations;
};

class PipeServer;

// Dispatches messages for `ms` milliseconds, timing the dispatches of the target's timer messages
// and letting the pipe server collect its connections and output reports in between.
void Pump(DWORD ms, PollLog* log, PipeServer* server);

// ---------------------------------------------------------------------------------------------
// The pendant's end of the pipe. The plug-in opens the pendant's path three times (attributes,
// reads, writes); each open takes one listening instance, so enough instances are kept listening
// before every call that may open. Since the test cannot tell which instance is the reading one,
// each input report goes to every connected instance: the others never read.

class PipeServer {
 public:
  explicit PipeServer(std::string name) : name_(std::move(name)) {}
  ~PipeServer() {
    for (auto& instance : instances_) Drop(*instance);
  }

  const std::string& Name() const { return name_; }

  bool KeepListening(int count) {
    int listening = 0;
    for (auto& instance : instances_) listening += instance->state == State::Listening ? 1 : 0;
    for (; listening < count; ++listening) {
      if (!AddInstance()) return false;
    }
    return true;
  }

  // Notices new connections, finished reads (output reports) and closed clients.
  void Service() {
    for (auto& instance : instances_) {
      if (instance->state == State::Listening &&
          WaitForSingleObject(instance->connect.hEvent, 0) == WAIT_OBJECT_0) {
        DWORD ignored = 0;
        if (GetOverlappedResult(instance->pipe, &instance->connect, &ignored, FALSE)) {
          instance->state = State::Connected;
          StartRead(*instance);
        }
      }
      while (instance->state == State::Connected && instance->readPending &&
             WaitForSingleObject(instance->read.hEvent, 0) == WAIT_OBJECT_0) {
        DWORD count = 0;
        instance->readPending = false;
        if (GetOverlappedResult(instance->pipe, &instance->read, &count, FALSE)) {
          outputs_.emplace_back(instance->buffer, instance->buffer + count);
          StartRead(*instance);
        } else if (GetLastError() == ERROR_MORE_DATA) {
          outputs_.emplace_back(instance->buffer, instance->buffer + count);
          StartRead(*instance);
        } else {
          Drop(*instance);
        }
      }
    }
  }

  // No instance listens any more: a new open of the name fails, as for an unplugged device.
  void StopListening() {
    for (auto& instance : instances_) {
      if (instance->state == State::Listening) Drop(*instance);
    }
  }

  int Connected() const {
    int count = 0;
    for (auto& instance : instances_) count += instance->state == State::Connected ? 1 : 0;
    return count;
  }

  // Sends one input report to every connected client end.
  void SendReport(const std::array<std::uint8_t, 8>& report) {
    for (auto& instance : instances_) {
      if (instance->state != State::Connected) continue;
      OVERLAPPED write{};
      write.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
      DWORD count = 0;
      if (!WriteFile(instance->pipe, report.data(), report.size(), &count, &write) &&
          GetLastError() == ERROR_IO_PENDING) {
        if (WaitForSingleObject(write.hEvent, 200) != WAIT_OBJECT_0) {
          CancelIoEx(instance->pipe, &write);
        }
        GetOverlappedResult(instance->pipe, &write, &count, TRUE);
      }
      CloseHandle(write.hEvent);
    }
  }

  std::vector<std::vector<std::uint8_t>>& Outputs() { return outputs_; }

 private:
  enum class State { Listening, Connected, Closed };
  struct Instance {
    HANDLE pipe = INVALID_HANDLE_VALUE;
    OVERLAPPED connect{};
    OVERLAPPED read{};
    bool readPending = false;
    State state = State::Listening;
    std::uint8_t buffer[64] = {};
  };

  bool AddInstance() {
    auto instance = std::make_unique<Instance>();
    instance->pipe = CreateNamedPipeA(name_.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                      PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                                      PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0, nullptr);
    if (instance->pipe == INVALID_HANDLE_VALUE) return false;
    instance->connect.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    instance->read.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!ConnectNamedPipe(instance->pipe, &instance->connect)) {
      const DWORD error = GetLastError();
      if (error == ERROR_PIPE_CONNECTED) {
        SetEvent(instance->connect.hEvent);
      } else if (error != ERROR_IO_PENDING) {
        Drop(*instance);
        return false;
      }
    }
    instances_.push_back(std::move(instance));
    return true;
  }

  void StartRead(Instance& instance) {
    instance.read.Internal = 0;
    instance.read.InternalHigh = 0;
    ResetEvent(instance.read.hEvent);
    DWORD count = 0;
    if (ReadFile(instance.pipe, instance.buffer, sizeof(instance.buffer), &count, &instance.read) ||
        GetLastError() == ERROR_IO_PENDING || GetLastError() == ERROR_MORE_DATA) {
      instance.readPending = true;  // a finished read signals the event as well
    } else {
      Drop(instance);
    }
  }

  void Drop(Instance& instance) {
    if (instance.pipe != INVALID_HANDLE_VALUE) {
      if (instance.readPending || instance.state == State::Listening) {
        CancelIoEx(instance.pipe, nullptr);
        DWORD ignored = 0;
        GetOverlappedResult(instance.pipe,
                            instance.readPending ? &instance.read : &instance.connect, &ignored,
                            TRUE);
      }
      DisconnectNamedPipe(instance.pipe);
      CloseHandle(instance.pipe);
    }
    if (instance.connect.hEvent != nullptr) CloseHandle(instance.connect.hEvent);
    if (instance.read.hEvent != nullptr) CloseHandle(instance.read.hEvent);
    instance.connect.hEvent = nullptr;
    instance.read.hEvent = nullptr;
    instance.pipe = INVALID_HANDLE_VALUE;
    instance.readPending = false;
    instance.state = State::Closed;
  }

  std::string name_;
  std::vector<std::unique_ptr<Instance>> instances_;
  std::vector<std::vector<std::uint8_t>> outputs_;
};

void Pump(DWORD ms, PollLog* log, PipeServer* server) {
  const ULONGLONG end = GetTickCount64() + ms;
  for (;;) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      const bool poll =
          log != nullptr && message.message == WM_TIMER && message.hwnd == log->target;
      LARGE_INTEGER before;
      LARGE_INTEGER after;
      QueryPerformanceCounter(&before);
      TranslateMessage(&message);
      DispatchMessageA(&message);
      QueryPerformanceCounter(&after);
      if (poll) log->durations.push_back(Milliseconds(before, after));
      if (server != nullptr) server->Service();
    }
    if (server != nullptr) server->Service();
    const ULONGLONG now = GetTickCount64();
    if (now >= end) return;
    MsgWaitForMultipleObjects(0, nullptr, FALSE,
                              static_cast<DWORD>(std::min<ULONGLONG>(end - now, 2)), QS_ALLINPUT);
  }
}

void PumpInsideCallback(DWORD ms) {
  const HWND window = host.pumpWindow;
  host.pumpWindow = nullptr;
  const int callsBefore = host.calls;
  const ULONGLONG end = GetTickCount64() + ms;
  while (GetTickCount64() < end) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_TIMER && message.hwnd == window) ++host.nestedTimers;
      DispatchMessageA(&message);
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 2, QS_ALLINPUT);
  }
  host.nestedCalls = host.calls - callsBefore;
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0.0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// The plug-in's hidden window: the host window's only child.
HWND PluginWindow(HWND parent) {
  return FindWindowExA(parent, nullptr, nullptr, nullptr);
}

void CheckPluginWindow(HWND parent, HWND child) {
  Check(child != nullptr, "InitControl creates a child window of the host's window");
  if (child == nullptr) return;
  CheckEqual(GetDlgCtrlID(child), 1, "the child window's identifier");
  const LONG_PTR style = GetWindowLongPtrA(child, GWL_STYLE);
  Check((style & WS_CHILD) != 0 && (style & WS_VISIBLE) == 0, "the child window is hidden");
  Check(GetParent(child) == parent, "the child window's parent");
  RECT rect{};
  GetWindowRect(child, &rect);
  CheckEqual(rect.right - rect.left, 10, "the child window's width");
  CheckEqual(rect.bottom - rect.top, 10, "the child window's height");
}

// A device-interface broadcast carrying `name`, sized as the system sizes it.
std::vector<std::uint8_t> InterfaceBroadcast(const std::string& name) {
  const std::size_t nameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name);
  std::vector<std::uint8_t> bytes(
      std::max(sizeof(DEV_BROADCAST_DEVICEINTERFACE_A), nameOffset + name.size() + 1));
  auto* broadcast = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_A*>(bytes.data());
  broadcast->dbcc_size = static_cast<DWORD>(bytes.size());
  broadcast->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  std::memcpy(bytes.data() + nameOffset, name.c_str(), name.size() + 1);
  return bytes;
}

LRESULT SendDeviceChange(HWND child, WPARAM event, std::vector<std::uint8_t>& broadcast) {
  return SendMessageA(child, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(broadcast.data()));
}

std::string SwapCase(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') {
      c = static_cast<char>(c - 'a' + 'A');
    } else if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return text;
}

std::string TempProfilePath(const char* tag) {
  char directory[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, directory);
  return std::string(directory) + "link_host_" + tag + "_" + std::to_string(GetCurrentProcessId()) +
         ".xml";
}

constexpr std::array<std::uint8_t, 8> kIdleReport = {0, 0, 0, 0x00, 0, 0, 0, 0};
constexpr std::array<std::uint8_t, 8> kSafetyReport = {0, 0, 0, 0x01, 0, 0, 0, 0};
constexpr std::array<std::uint8_t, 8> kEnReport = {0, 0, 0, 0x10, 0, 0, 0, 0};
constexpr std::array<std::uint8_t, 8> kEnF2Report = {0, 0, 0, 0x10, 0x20, 0, 0, 0};

// F2 with EN runs custom macro 1, which is M5.
constexpr const char* kPipeProfile =
    "<?xml version=\"1.0\"?>\n"
    "<profile>\n"
    "  <Talvik_Q5_Pendant>\n"
    "    <BUTTON1>6</BUTTON1>\n"
    "    <Macro1>5</Macro1>\n"
    "  </Talvik_Q5_Pendant>\n"
    "</profile>\n";

bool WriteTextFile(const std::string& path, const char* text) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const std::size_t length = std::strlen(text);
  const bool ok = std::fwrite(text, 1, length, file) == length;
  return std::fclose(file) == 0 && ok;
}

char* StatusText(HostBlocks& blocks) {
  return hostblock::Read<char*>(blocks.motion.data(), hostblock::kStatusMessage);
}

// A short press of F2 with EN held, each report seen by a few polls.
void PressEnF2(PollLog& log, PipeServer& server) {
  for (const auto& report : {kEnReport, kEnF2Report, kEnReport, kIdleReport}) {
    server.SendReport(report);
    Pump(75, &log, &server);
  }
}

// ---------------------------------------------------------------------------------------------
// PendantPipe.dll: the pendant on a named pipe

void RunPipeTests() {
  PipeServer server("\\\\.\\pipe\\pendant-link-" + std::to_string(GetCurrentProcessId()));
  SetEnvironmentVariableA("PENDANT_TEST_PIPE", server.Name().c_str());
  Check(server.KeepListening(4), "the test pipe can be created");

  Plugin plugin;
  if (!LoadPlugin("PendantPipe.dll", plugin)) {
    Check(false, "PendantPipe.dll loads with all host entry points");
    return;
  }
  HWND parent = CreateHostWindow();
  Check(parent != nullptr, "the host window can be created");
  HostBlocks blocks;
  const std::string profile = TempProfilePath("pipe");
  Check(WriteTextFile(profile, kPipeProfile), "the profile can be written");
  // The host's status text: a sole-owned empty string with room for any status message.
  using hoststringfixture::Header;
  Header* status = hoststringfixture::MakeString("", 1, 64);
  hostblock::Write<char*>(blocks.motion.data(), hostblock::kStatusMessage, status->Chars());
  Check(StartPlugin(plugin, blocks, parent, profile), "InitControl returns true");
  HWND child = PluginWindow(parent);
  CheckPluginWindow(parent, child);
  PollLog log;
  log.target = child;

  // Discovery: attributes, reads and writes each open the pipe.
  plugin.PostInitControl();
  server.Service();
  CheckEqual(server.Connected(), 3, "PostInitControl opens the pendant for probe, read and write");

  // Before any Update the heartbeat is 1; output reports carry it in byte 3.
  Pump(300, &log, &server);
  auto& outputs = server.Outputs();
  Check(outputs.size() >= 4, "every poll writes an output report");
  bool shapeOk = !outputs.empty();
  for (const auto& output : outputs) {
    shapeOk = shapeOk && output.size() == 5 && output[0] == 0 && output[3] == 1 && output[4] == 0;
  }
  Check(shapeOk, "output reports are 5 bytes: id 0, heartbeat 1 before any Update");
  plugin.Update();
  outputs.clear();
  Pump(150, &log, &server);
  Check(!outputs.empty() && outputs.back().size() == 5 && outputs.back()[3] == 2,
        "after one Update the heartbeat byte reads 2");
  CheckEqual(static_cast<long long>(host.buttons.size()), 0, "an idle pendant presses nothing");

  // A report is decoded: the safety input presses 1021 once while LED 800 is lit. The host runs a
  // message loop inside that DoButton: the timer must not start a poll within the running one.
  host.pumpWindow = child;
  server.SendReport(kSafetyReport);
  Pump(250, &log, &server);
  host.pumpWindow = nullptr;
  CheckEqual(SafetyPresses(), 1, "the safety input presses 1021 once");
  Check(host.nestedTimers > 0, "the timer fires while DoButton runs a message loop");
  CheckEqual(host.nestedCalls, 0, "no poll runs inside a running poll");

  // Silence: every poll decodes the last report again (no release press) and returns within the
  // 5 ms wait.
  log.durations.clear();
  outputs.clear();
  Pump(1000, &log, &server);
  CheckEqual(SafetyPresses(), 1, "a silent pendant's last report stays in force");
  Check(log.durations.size() >= 10, "the timer keeps polling about every 25 ms");
  Check(outputs.size() + 2 >= log.durations.size(), "silent polls still write output reports");
  // Bounds with room for a loaded machine: a poll that waited out the period or forever would
  // still fail them.
  const double median = Median(log.durations);
  const double longest =
      log.durations.empty() ? 0.0 : *std::max_element(log.durations.begin(), log.durations.end());
  std::printf("silent polls: %zu, median %.2f ms, longest %.2f ms\n", log.durations.size(), median,
              longest);
  Check(median >= 3.0 && median < 20.0, "a silent poll waits about 5 ms for the report");

  server.SendReport(kIdleReport);
  Pump(150, &log, &server);
  CheckEqual(SafetyPresses(), 2, "releasing the safety input presses 1021 once more");

  // A configured macro on F2: the host runs M5 and its status text is assigned in place.
  const std::string macroMessage = " Custom Macro #1 executed. ";
  host.codes.clear();
  PressEnF2(log, server);
  Check(host.codes == std::vector<std::string>{"M5"}, "EN + F2 sends the macro's M5 once");
  Check(StatusText(blocks) == status->Chars() && status->Chars() == macroMessage,
        "the macro's message becomes the host's status text");
  CheckEqual(status->dataLength, static_cast<long long>(macroMessage.size()),
             "the status text's length");
  CheckEqual(status->Chars()[macroMessage.size()], 0, "the status text ends in a NUL");
  CheckEqual(status->refs, 1, "the status text keeps its one reference");

  // A locked status text belongs to someone else: the macro still runs, the text stays.
  Header* locked = hoststringfixture::MakeString("host text", -1, 64);
  hostblock::Write<char*>(blocks.motion.data(), hostblock::kStatusMessage, locked->Chars());
  const int allocations = hoststringfixture::manager.allocations;
  host.codes.clear();
  PressEnF2(log, server);
  Check(host.codes == std::vector<std::string>{"M5"}, "EN + F2 still sends M5");
  Check(StatusText(blocks) == locked->Chars() && std::string(locked->Chars()) == "host text" &&
            locked->dataLength == 9 && locked->refs == -1,
        "a locked status text is left as it is");
  CheckEqual(hoststringfixture::manager.allocations, allocations,
             "nothing is allocated for a locked status text");

  // Removals that do not name the pendant, well formed or not, change nothing.
  const std::string otherName = "\\\\?\\hid#vid_1234&pid_5678#other";
  auto other = InterfaceBroadcast(otherName);
  const std::size_t nameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name);
  struct Ignored {
    const char* what;
    bool otherDevice;
    WPARAM event;
    DWORD size;        // dbcc_size; 0 keeps the true size
    DWORD deviceType;  // 0 keeps the device-interface type
    bool noData;
  };
  const std::string pendant = server.Name();
  const Ignored ignored[] = {
      {"another device's removal", true, DBT_DEVICEREMOVECOMPLETE, 0, 0, false},
      {"a removal without data", false, DBT_DEVICEREMOVECOMPLETE, 0, 0, true},
      {"a header shorter than its own fields", false, DBT_DEVICEREMOVECOMPLETE, 4, 0, false},
      {"a size that cuts the pendant's name short", false, DBT_DEVICEREMOVECOMPLETE,
       static_cast<DWORD>(nameOffset + pendant.size() - 1), 0, false},
      {"a removal of another device type", false, DBT_DEVICEREMOVECOMPLETE, 0, DBT_DEVTYP_HANDLE,
       false},
      {"a query-remove of the pendant", false, DBT_DEVICEQUERYREMOVE, 0, 0, false},
      {"a device-nodes change", false, DBT_DEVNODES_CHANGED, 0, 0, true},
  };
  for (const Ignored& row : ignored) {
    auto broadcast = InterfaceBroadcast(row.otherDevice ? otherName : pendant);
    auto* header = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_A*>(broadcast.data());
    if (row.size != 0) header->dbcc_size = row.size;
    if (row.deviceType != 0) header->dbcc_devicetype = row.deviceType;
    const LRESULT result =
        SendMessageA(child, WM_DEVICECHANGE, row.event,
                     row.noData ? 0 : reinterpret_cast<LPARAM>(broadcast.data()));
    server.Service();
    const std::string what = std::string(row.what) + " is ignored";
    Check(result == TRUE && SafetyPresses() == 2 && server.Connected() == 3, what.c_str());
  }

  // Removal of the pendant, named in other letter case: handles closed, 1021 pressed, no I/O.
  auto removed = InterfaceBroadcast(SwapCase(server.Name()));
  CheckEqual(SendDeviceChange(child, DBT_DEVICEREMOVECOMPLETE, removed), TRUE,
             "the removal handler returns TRUE");
  CheckEqual(SafetyPresses(), 3, "unplugging the pendant presses 1021");
  Pump(50, &log, &server);
  CheckEqual(server.Connected(), 1, "unplugging closes the read and write handles");
  outputs.clear();
  const std::size_t buttonsBefore = host.buttons.size();
  const int callsBefore = host.calls;
  Pump(200, &log, &server);
  Check(outputs.empty(), "an unplugged pendant gets no output reports");
  Check(host.calls == callsBefore && host.buttons.size() == buttonsBefore,
        "polls of an unplugged pendant do not touch the host");

  // Arrival of any device reopens the pendant's path.
  Check(server.KeepListening(3), "listening again for the re-plug");
  CheckEqual(SendDeviceChange(child, DBT_DEVICEARRIVAL, other), TRUE,
             "the arrival handler returns TRUE");
  server.Service();
  CheckEqual(server.Connected(), 3, "an arrival reopens the read and write handles");
  outputs.clear();
  Pump(200, &log, &server);
  Check(!outputs.empty(), "a re-plugged pendant gets output reports again");
  server.SendReport(kSafetyReport);
  Pump(200, &log, &server);
  CheckEqual(SafetyPresses(), 4, "a re-plugged pendant's reports are decoded");

  // StopPlug with a read outstanding: the window goes, every handle is closed.
  plugin.StopPlug();
  Check(!IsWindow(child), "StopPlug destroys the plug-in's window");
  Pump(50, nullptr, &server);
  CheckEqual(server.Connected(), 0, "StopPlug closes every pendant handle");
  log.durations.clear();
  Pump(100, &log, &server);
  CheckEqual(static_cast<long long>(log.durations.size()), 0, "no poll after StopPlug");

  DestroyWindow(parent);
  FreeLibrary(plugin.module);
  DeleteFileA(profile.c_str());
}

// ---------------------------------------------------------------------------------------------
// The diagnostic trail as a debug-output viewer sees it: OutputDebugStringA raises
// DBG_PRINTEXCEPTION_C, which a vectored handler of this process catches first.

std::vector<std::string> trail;

LONG CALLBACK CaptureDebugOutput(EXCEPTION_POINTERS* info) {
  const EXCEPTION_RECORD* record = info->ExceptionRecord;
  if (record->ExceptionCode != DBG_PRINTEXCEPTION_C || record->NumberParameters < 2) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  const auto* text = reinterpret_cast<const char*>(record->ExceptionInformation[1]);
  std::string line(text, strnlen(text, static_cast<std::size_t>(record->ExceptionInformation[0])));
  if (!line.empty() && line.back() == '\n') line.pop_back();
  trail.push_back(line);
  return EXCEPTION_CONTINUE_EXECUTION;
}

bool TrailHas(const std::string& line) {
  return std::find(trail.begin(), trail.end(), line) != trail.end();
}

bool TrailHasPrefix(const std::string& prefix) {
  return std::any_of(trail.begin(), trail.end(),
                     [&](const std::string& line) { return line.rfind(prefix, 0) == 0; });
}

void PrintTrail() {
  for (const std::string& line : trail) std::printf("trail: %s\n", line.c_str());
}

// ---------------------------------------------------------------------------------------------
// The configuration dialog's status area while the pendant reports, read from inside the
// dialog's modal loop by a thread timer.

constexpr int kStatusTextId = 1002;
constexpr int kLiveViewId = 1003;

struct StatusAreaProbe {
  PipeServer* server = nullptr;
  int step = 0;
  int waited = 0;
  std::string status;
  std::string firstView;
  std::string laterView;
};
StatusAreaProbe probe;

BOOL CALLBACK FindConfigDialog(HWND window, LPARAM found) {
  char className[16] = {};
  GetClassNameA(window, className, sizeof className);
  if (std::strcmp(className, "#32770") == 0 && GetDlgItem(window, kLiveViewId) != nullptr) {
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
  }
  return TRUE;
}

std::string DialogItemText(HWND dialog, int id) {
  char text[256] = {};
  GetDlgItemTextA(dialog, id, text, sizeof text);
  return text;
}

void CALLBACK ProbeStatusArea(HWND, UINT, UINT_PTR, DWORD) {
  probe.server->Service();
  HWND dialog = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), FindConfigDialog, reinterpret_cast<LPARAM>(&dialog));
  if (dialog == nullptr) return;
  const bool timedOut = ++probe.waited > 60;
  switch (probe.step) {
    case 0:
      probe.status = DialogItemText(dialog, kStatusTextId);
      probe.firstView = DialogItemText(dialog, kLiveViewId);
      // EN and X held, the wheel at 7, the safety input released.
      probe.server->SendReport({0, 7, 0, 0x30, 0, 0, 0, 0});
      probe.step = 1;
      break;
    case 1:
      probe.laterView = DialogItemText(dialog, kLiveViewId);
      if (probe.laterView.find("Wheel: 7") != std::string::npos || timedOut) {
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        probe.step = 2;
      }
      break;
    default:
      break;
  }
}

// Opens Config while the pendant holds the safety input; the view must follow a new report.
void CheckStatusAreaFollowsThePendant(Plugin& plugin, PipeServer& server) {
  probe = StatusAreaProbe{};
  probe.server = &server;
  const UINT_PTR timer = SetTimer(nullptr, 0, 50, ProbeStatusArea);
  plugin.Config();
  KillTimer(nullptr, timer);
  CheckText(probe.status, "Pendant connected", "the dialog's status text");
  CheckText(probe.firstView, "Held: none   Wheel: 0   Safety input: active",
            "the live view shows the report decoded last");
  CheckText(probe.laterView, "Held: EN X/A   Wheel: 7   Safety input: off",
            "the live view follows the pendant while the dialog is open");
}

// ---------------------------------------------------------------------------------------------
// PendantPipe.dll: a pendant plugged in after start-up, then into another port

void RunRediscoveryTests() {
  AddVectoredExceptionHandler(1, CaptureDebugOutput);
  const std::string base = "\\\\.\\pipe\\pendant-replug-" + std::to_string(GetCurrentProcessId());
  PipeServer first(base + "-a");
  PipeServer second(base + "-b");
  // The pendant's pipe is named but nobody serves it yet: not plugged in.
  SetEnvironmentVariableA("PENDANT_TEST_PIPE", first.Name().c_str());

  Plugin plugin;
  if (!LoadPlugin("PendantPipe.dll", plugin)) {
    Check(false, "PendantPipe.dll loads with all host entry points");
    return;
  }
  HWND parent = CreateHostWindow();
  HostBlocks blocks;
  const std::string profile = TempProfilePath("replug");
  Check(StartPlugin(plugin, blocks, parent, profile), "InitControl returns true");
  HWND child = PluginWindow(parent);
  PollLog log;
  log.target = child;
  plugin.PostInitControl();
  Check(TrailHas("Pendant: search: none among 1 HID interfaces"),
        "the trail tells that the search at start-up found no pendant");
  Check(TrailHasPrefix("Pendant: open failed: probe " + first.Name() + ": error "),
        "the trail tells the failed open with its error code");

  // Plugged in after start-up: the next arrival, of whichever device, searches and finds it.
  Check(first.KeepListening(3), "the first pipe listens");
  auto other = InterfaceBroadcast("\\\\?\\hid#vid_1234&pid_5678#other");
  const std::size_t pressesBefore = host.buttons.size();
  CheckEqual(SendDeviceChange(child, DBT_DEVICEARRIVAL, other), TRUE, "arrival handled");
  Pump(50, &log, &first);
  CheckEqual(first.Connected(), 3, "a pendant plugged in after start-up is opened at its arrival");
  Check(TrailHas("Pendant: search: found " + first.Name()), "the trail tells where it was found");
  Pump(150, &log, &first);
  CheckEqual(static_cast<long long>(host.buttons.size()), static_cast<long long>(pressesBefore),
             "nothing is pressed before the pendant reports");
  first.SendReport(kSafetyReport);
  Pump(150, &log, &first);
  first.SendReport(kIdleReport);
  Pump(150, &log, &first);
  CheckEqual(SafetyPresses(), 2, "its reports are decoded");

  // Plugged into another port: the old path no longer opens, so the search takes the new one.
  Check(second.KeepListening(3), "the second pipe listens");
  first.StopListening();
  SetEnvironmentVariableA("PENDANT_TEST_PIPE", second.Name().c_str());
  auto removedFirst = InterfaceBroadcast(first.Name());
  SendDeviceChange(child, DBT_DEVICEREMOVECOMPLETE, removedFirst);
  CheckEqual(SafetyPresses(), 3, "the unplug presses 1021");
  CheckEqual(SendDeviceChange(child, DBT_DEVICEARRIVAL, other), TRUE, "arrival handled");
  Pump(50, &log, &second);
  first.Service();
  CheckEqual(second.Connected(), 3, "the pendant is opened at its new path");
  CheckEqual(first.Connected(), 0, "nothing stays open on the old path");
  Check(TrailHasPrefix("Pendant: open failed: read " + first.Name() + ": error "),
        "the trail tells that the old path failed to open");
  Check(TrailHas("Pendant: search: found " + second.Name()), "and where the pendant is now");
  second.SendReport(kSafetyReport);
  Pump(150, &log, &second);
  CheckEqual(SafetyPresses(), 4, "reports at the new path are decoded");
  CheckStatusAreaFollowsThePendant(plugin, second);

  // A removal of the new path releases it as usual.
  auto removedSecond = InterfaceBroadcast(second.Name());
  SendDeviceChange(child, DBT_DEVICEREMOVECOMPLETE, removedSecond);
  Pump(50, &log, &second);
  // The safety input was released while the dialog was open: 1021 once more.
  CheckEqual(SafetyPresses(), 6, "unplugging it from the new port presses 1021");
  CheckEqual(second.Connected(), 1, "and closes its read and write handles");
  Check(TrailHas("Pendant: removal: " + second.Name() + "; the pendant, released"),
        "the trail tells the removal");
  if (linkcheck::failed != 0) PrintTrail();

  plugin.StopPlug();
  DestroyWindow(parent);
  FreeLibrary(plugin.module);
  DeleteFileA(profile.c_str());
}

// ---------------------------------------------------------------------------------------------
// Pendant.dll: no pendant present

void RunProductTests() {
  Plugin plugin;
  if (!LoadPlugin("Pendant.dll", plugin)) {
    Check(false, "Pendant.dll loads with all host entry points");
    return;
  }
  HWND parent = CreateHostWindow();
  Check(parent != nullptr, "the host window can be created");
  HostBlocks blocks;
  const std::string profile = TempProfilePath("product");
  Check(StartPlugin(plugin, blocks, parent, profile), "InitControl returns true");
  HWND child = PluginWindow(parent);
  CheckPluginWindow(parent, child);

  PollLog log;
  log.target = child;
  Pump(200, &log, nullptr);
  CheckEqual(static_cast<long long>(log.durations.size()), 0, "no timer before PostInitControl");

  plugin.PostInitControl();
  const int callsAfterStart = host.calls;
  Pump(1000, &log, nullptr);
  std::printf("timer messages in one second: %zu\n", log.durations.size());
  Check(log.durations.size() >= 10 && log.durations.size() <= 45,
        "without a pendant the 25 ms timer still fires");
  CheckEqual(host.calls, callsAfterStart, "polls without a pendant do not touch the host");
  Check(Median(log.durations) < 2.0, "a poll without a pendant returns at once");

  plugin.StopPlug();
  Check(!IsWindow(child), "StopPlug destroys the plug-in's window");
  log.durations.clear();
  Pump(200, &log, nullptr);
  CheckEqual(static_cast<long long>(log.durations.size()), 0, "no timer after StopPlug");
  plugin.StopPlug();  // a second one has nothing left to do

  DestroyWindow(parent);
  FreeLibrary(plugin.module);
  DeleteFileA(profile.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  const std::string suite = argc > 1 ? argv[1] : "";
  if (suite == "pipe") {
    RunPipeTests();
  } else if (suite == "product") {
    RunProductTests();
  } else if (suite == "replug") {
    RunRediscoveryTests();
  } else {
    std::printf("usage: link_host pipe|product|replug\n");
    return 2;
  }
  return linkcheck::Summary();
}
