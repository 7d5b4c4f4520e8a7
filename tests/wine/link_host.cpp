// A Win32 host program for the pendant link, run under Wine. It loads Pendant.dll and calls its
// exports the way the host does.
//   link_host hid       the virtual pendant (a HID minidriver in Wine's HID stack, plugged in and
//                       out by this program) is the device: discovery among Wine's own HID
//                       devices, output reports, the safety input, jogging, chords, macros and the
//                       host's status text, device-change broadcasts, unplug and re-plug, handle
//                       balance over many cycles, StopPlug.
//   link_host product   no pendant present: the poll window and its timer.
//   link_host replug    the virtual pendant plugged in after start-up, then into another port
//                       (another root device, so another interface path), and unplugged there;
//                       the diagnostic trail as a debug-output viewer reads it; the dialog's
//                       status area following the pendant while it is open.
// Prints "N passed, N failed"; the exit code is nonzero on any failure.
// clang-format off
#include <windows.h>
#include <dbt.h>
// clang-format on

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "check.h"
#include "host_string_fixture.h"
#include "host_windows/host_blocks.h"
#include "plug.h"
#include "plugin_loader.h"
#include "test_host.h"

namespace {

using testhost::HostBlocks;
using testhost::Milliseconds;
using testhost::Now;
using winecheck::Check;
using winecheck::CheckEqual;
using winecheck::CheckText;

// ---------------------------------------------------------------------------------------------
// The recording host

constexpr std::int16_t kSafetyCode = 1021;
constexpr std::int32_t kSafetyLed = 800;
constexpr std::int32_t kJogEnabledLed = 83;
constexpr std::int32_t kDroFeedRate = 818;
constexpr std::int32_t kDroFeedOverride = 821;

struct HostRecord {
  std::vector<std::int16_t> buttons;
  std::vector<LARGE_INTEGER> buttonTimes;
  int calls = 0;  // every callback, of any kind
  std::set<std::int32_t> litLeds;
  std::map<std::int32_t, double> dros;
  std::vector<std::string> codes;
  // A host that runs a message loop inside DoButton (a message box, say).
  HWND pumpWindow = nullptr;  // the plug-in's window, when DoButton should pump
  int nestedTimers = 0;       // its timer messages dispatched inside DoButton
  int nestedCalls = 0;        // callbacks made meanwhile
};
HostRecord host;

void PumpInsideCallback(DWORD ms);

extern "C" void RecordDoButton(std::int16_t code) {
  ++host.calls;
  host.buttons.push_back(code);
  host.buttonTimes.push_back(Now());
  if (host.pumpWindow != nullptr) PumpInsideCallback(100);
}
extern "C" void RecordSetDRO(std::int32_t code, double value) {
  ++host.calls;
  host.dros[code] = value;
}
extern "C" double RecordGetDRO(std::int32_t code) {
  ++host.calls;
  const auto it = host.dros.find(code);
  return it == host.dros.end() ? 0.0 : it->second;
}
extern "C" std::uint8_t RecordGetLED(std::int32_t led) {
  ++host.calls;
  return host.litLeds.count(led) != 0 ? 1 : 0;
}
extern "C" void RecordSetLED() {
  ++host.calls;
}
extern "C" void RecordCode(const char* line) {
  ++host.calls;
  host.codes.emplace_back(line != nullptr ? line : "(null)");
}

long long Presses(std::int16_t code) {
  return std::count(host.buttons.begin(), host.buttons.end(), code);
}
long long SafetyPresses() {
  return Presses(kSafetyCode);
}

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
// The message pump

// Timer messages that reached the plug-in's window, with how long each dispatch (one poll) took.
struct PollLog {
  HWND target = nullptr;
  std::vector<double> durations;
};

// Dispatches messages until `done` holds or `ms` milliseconds have passed, timing the dispatches
// of the target's timer messages. True when `done` held.
bool PumpUntil(DWORD ms, PollLog* log, const std::function<bool()>& done) {
  const ULONGLONG end = GetTickCount64() + ms;
  for (;;) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      const bool poll =
          log != nullptr && message.message == WM_TIMER && message.hwnd == log->target;
      const LARGE_INTEGER before = Now();
      TranslateMessage(&message);
      DispatchMessageA(&message);
      if (poll) log->durations.push_back(Milliseconds(before, Now()));
    }
    if (done && done()) return true;
    const ULONGLONG now = GetTickCount64();
    if (now >= end) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE,
                              static_cast<DWORD>(std::min<ULONGLONG>(end - now, 2)), QS_ALLINPUT);
  }
}

void Pump(DWORD ms, PollLog* log) {
  PumpUntil(ms, log, nullptr);
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

// ---------------------------------------------------------------------------------------------
// The virtual pendant

// An input report as the plug-in reads it: id, wheel counter, wheel speed, keys, buttons.
vpendant::InputReport Report(std::uint8_t keys, std::uint8_t buttons = 0, std::uint8_t counter = 0,
                             std::uint8_t speed = 0) {
  return {0, counter, speed, keys, buttons, 0, 0, 0};
}
constexpr std::uint8_t kSafetyKey = 0x01;
constexpr std::uint8_t kKey1 = 0x02;
constexpr std::uint8_t kEnKey = 0x10;
constexpr std::uint8_t kXKey = 0x20;
constexpr std::uint8_t kYKey = 0x40;
constexpr std::uint8_t kMode1Button = 0x01;
constexpr std::uint8_t kF2Button = 0x20;

// Output reports written since the last call, as the plug-in wrote them.
std::vector<vpendant::OutputReport> TakeOutputs() {
  std::vector<vpendant::OutputReport> outputs;
  Check(vpendant::Pop(outputs), "the virtual pendant's output reports can be collected");
  return outputs;
}

unsigned Writes() {
  vpendant_status status{};
  return vpendant::Status(status) ? status.writes : 0;
}

bool Plug(unsigned port = 0) {
  std::string error;
  if (vpendant::Plug(testhost::ProgramFile("vpendant.inf"), error, port)) return true;
  std::printf("plug: %s\n", error.c_str());
  return false;
}

// Pushes `report` and pumps until the plug-in has seen it (a few polls).
void Send(const vpendant::InputReport& report, PollLog& log, DWORD ms = 75) {
  Check(vpendant::Push(report), "the virtual pendant takes an input report");
  Pump(ms, &log);
}

// ---------------------------------------------------------------------------------------------
// Device-change broadcasts sent by the test itself

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

// F2 with EN runs custom macro 1, which is M5.
constexpr const char* kProfile =
    "<?xml version=\"1.0\"?>\n"
    "<profile>\n"
    "  <Talvik_Q5_Pendant>\n"
    "    <BUTTON1>6</BUTTON1>\n"
    "    <Macro1>5</Macro1>\n"
    "  </Talvik_Q5_Pendant>\n"
    "</profile>\n";

char* StatusText(HostBlocks& blocks) {
  return hostblock::Read<char*>(blocks.motion.data(), hostblock::kStatusMessage);
}

// A short press of F2 with EN held, each report seen by a few polls.
void PressEnF2(PollLog& log) {
  for (const auto& report :
       {Report(kEnKey), Report(kEnKey, kF2Button), Report(kEnKey), Report(0)}) {
    Send(report, log);
  }
}

// ---------------------------------------------------------------------------------------------
// The virtual pendant through Wine's HID stack

struct Session {
  Plugin plugin;
  HostBlocks blocks;
  HWND parent = nullptr;
  HWND child = nullptr;
  PollLog log;
  std::string pendantPath;
};

void CheckDiscoveryAndOutputs(Session& s) {
  const int interfaces =
      testhost::FindHidInterface(VPENDANT_VENDOR_ID, VPENDANT_PRODUCT_ID, s.pendantPath);
  Check(interfaces >= 3 && !s.pendantPath.empty(),
        "the virtual pendant is present among the system's other HID devices");
  s.plugin.PostInitControl();
  Check(PumpUntil(1000, &s.log, [] { return Writes() > 0; }),
        "PostInitControl finds the pendant: output reports start");

  // Before any Update the heartbeat is 1; X is selected, nothing lit.
  TakeOutputs();
  s.log.durations.clear();
  Pump(1000, &s.log);
  auto outputs = TakeOutputs();
  std::printf("output reports in one second: %zu, polls: %zu\n", outputs.size(),
              s.log.durations.size());
  // Room for a loaded machine's late timer messages; one report per poll is checked exactly.
  Check(outputs.size() >= 20 && outputs.size() <= 45, "an output report about every 25 ms");
  Check(
      outputs.size() + 2 >= s.log.durations.size() && outputs.size() <= s.log.durations.size() + 2,
      "one output report per poll");
  const vpendant::OutputReport idle = {0, 0, 0, 1, 0};
  Check(!outputs.empty() &&
            std::all_of(outputs.begin(), outputs.end(), [&](const auto& o) { return o == idle; }),
        "output reports read 00 00 00 01 00: heartbeat 1 before any Update, X selected");
  s.plugin.Update();
  Pump(100, &s.log);
  outputs = TakeOutputs();
  Check(!outputs.empty() && outputs.back()[3] == 2, "after one Update the heartbeat byte reads 2");

  // The selected axis shows in byte 1.
  Send(Report(kYKey), s.log);
  Send(Report(0), s.log);
  outputs = TakeOutputs();
  Check(!outputs.empty() && outputs.back()[1] == 0x10, "the Y key selects Y: byte 1 reads 0x10");
  Send(Report(kXKey), s.log);
  Send(Report(0), s.log);
  outputs = TakeOutputs();
  Check(!outputs.empty() && outputs.back()[1] == 0x00, "the X key selects X: byte 1 reads 0x00");
  CheckEqual(static_cast<long long>(host.buttons.size()), 0, "axis keys press nothing");
}

void CheckSafetyInput(Session& s) {
  // Pressed with LED 800 out: 1021 in every poll until the host lights it.
  host.litLeds.erase(kSafetyLed);
  const std::size_t before = host.buttons.size();
  s.log.durations.clear();
  const LARGE_INTEGER pushed = Now();
  Check(vpendant::Push(Report(kSafetyKey)), "the virtual pendant takes the safety report");
  Pump(150, &s.log);
  const long long presses = SafetyPresses();
  Check(presses >= 2 && presses + 2 >= static_cast<long long>(s.log.durations.size()),
        "a held safety input presses 1021 in every poll while LED 800 is out");
  const double pressLatency =
      host.buttons.size() > before ? Milliseconds(pushed, host.buttonTimes[before]) : -1.0;

  host.litLeds.insert(kSafetyLed);
  Pump(50, &s.log);
  const long long lit = SafetyPresses();
  Pump(500, &s.log);
  CheckEqual(SafetyPresses(), lit, "held while LED 800 is lit: no more presses");

  // Released: one more press. The host runs a message loop inside that DoButton: the timer must
  // not start a poll within the running one.
  host.pumpWindow = s.child;
  const std::size_t beforeRelease = host.buttons.size();
  const LARGE_INTEGER released = Now();
  Check(vpendant::Push(Report(0)), "the virtual pendant takes the release");
  Pump(300, &s.log);
  host.pumpWindow = nullptr;
  CheckEqual(SafetyPresses(), lit + 1, "releasing the safety input presses 1021 once");
  const double releaseLatency = host.buttons.size() > beforeRelease
                                    ? Milliseconds(released, host.buttonTimes[beforeRelease])
                                    : -1.0;
  Check(host.nestedTimers > 0, "the timer fires while DoButton runs a message loop");
  CheckEqual(host.nestedCalls, 0, "no poll runs inside a running poll");
  std::printf("safety report -> 1021: pressed %.1f ms, released %.1f ms\n", pressLatency,
              releaseLatency);
  // Loose bounds: a report lost or left behind in a buffer would miss them by far.
  Check(pressLatency >= 0 && pressLatency < 200, "the press reaches the host within a few polls");
  Check(releaseLatency >= 0 && releaseLatency < 200,
        "the release reaches the host within a few polls");

  // Silence: the last report stays in force and polls return within their bound.
  s.log.durations.clear();
  const std::size_t quiet = host.buttons.size();
  Pump(1000, &s.log);
  CheckEqual(static_cast<long long>(host.buttons.size()), static_cast<long long>(quiet),
             "a silent pendant presses nothing");
  std::printf("silent polls: %zu, median %.2f ms, longest %.2f ms\n", s.log.durations.size(),
              testhost::Median(s.log.durations), testhost::Longest(s.log.durations));
  Check(s.log.durations.size() >= 10, "the timer keeps polling about every 25 ms");
  Check(testhost::Median(s.log.durations) < 20.0, "a silent poll does not wait out the period");
}

// A pendant that sends its state every 8 ms, whether it changed or not: every press and release
// still reaches the host once, and soon.
void CheckStreamingPendant(Session& s) {
  host.litLeds.insert(kSafetyLed);
  Check(vpendant::SetPeriod(8), "the virtual pendant streams every 8 ms");
  vpendant::Push(Report(0));
  Pump(500, &s.log);
  const std::size_t before = host.buttons.size();
  std::vector<double> latencies;
  bool active = false;
  for (int i = 0; i < 6; ++i) {
    active = !active;
    const std::size_t presses = host.buttons.size();
    const LARGE_INTEGER pushed = Now();
    vpendant::Push(Report(active ? kSafetyKey : 0));
    if (PumpUntil(1000, &s.log, [&] { return host.buttons.size() > presses; }))
      latencies.push_back(Milliseconds(pushed, host.buttonTimes[presses]));
    Pump(100, &s.log);
  }
  Check(vpendant::SetPeriod(0), "the virtual pendant reports on change again");
  // Whatever the class driver still buffers is read out before the next checks: up to 32 reports.
  Pump(1200, &s.log);
  CheckEqual(static_cast<long long>(host.buttons.size() - before), 6,
             "a streaming pendant's three presses and releases each press 1021 once");
  const double median = testhost::Median(latencies);
  std::printf("streaming pendant: safety report -> 1021 median %.1f ms\n", median);
  // The class driver buffers 32 reports: read one per poll and a change is 256 ms late or more.
  Check(latencies.size() == 6 && median < 200,
        "a streaming pendant's input reaches the host within a few polls");
}

void CheckJogAndChords(Session& s) {
  // Step mode: three clicks forward give one relative move of X, then G90.
  host.litLeds.insert(kJogEnabledLed);
  hostblock::Write<double>(s.blocks.motion.data(), hostblock::kJogIncrement, 0.001);
  host.dros[kDroFeedRate] = 1200;
  host.dros[kDroFeedOverride] = 100;
  host.codes.clear();
  Send(Report(0, 0, 3, 12), s.log);
  Send(Report(0, 0, 3, 0), s.log);
  Check(host.codes == std::vector<std::string>{"G91G1 F100 X 0.0030", "G90"},
        "a wheel turn in step mode sends one relative move and G90");
  host.codes.clear();
  Send(Report(0, 0, 1, 8), s.log);
  Send(Report(0, 0, 1, 0), s.log);
  Check(host.codes == std::vector<std::string>{"G91G1 F100 X -0.0020", "G90"},
        "turning back moves back");

  // Ten reports of 20 counts while the host's thread pumps no messages: the counter wraps between
  // the polls' reports, and the lines still add up to the whole turn, forward.
  host.codes.clear();
  std::uint8_t counter = 1;
  for (int i = 0; i < 10; ++i) {
    counter = static_cast<std::uint8_t>(counter + 20);
    Check(vpendant::Push(Report(0, 0, counter, 12)), "the virtual pendant takes a turning report");
    Sleep(10);
  }
  Send(Report(0, 0, counter, 0), s.log);
  double moved = 0.0;
  for (const std::string& code : host.codes)
    if (code.rfind("G91G1", 0) == 0) moved += std::strtod(code.c_str() + code.rfind(' '), nullptr);
  Check(moved > 0.19999 && moved < 0.20001, "a late host thread moves the whole turn, forward");

  // Mode button 1: velocity jog (byte 2 reads 3), the end code of X (334) as the function
  // changes; pressed again it is step mode once more.
  host.buttons.clear();
  Send(Report(0, kMode1Button, 1), s.log);
  Send(Report(0, 0, 1), s.log);
  auto outputs = TakeOutputs();
  Check(host.buttons == std::vector<std::int16_t>{334}, "mode button 1 sends X's end code");
  Check(!outputs.empty() && outputs.back()[2] == 3, "mode button 1: byte 2 reads 3");
  Send(Report(0, kMode1Button, 1), s.log);
  Send(Report(0, 0, 1), s.log, 200);
  outputs = TakeOutputs();
  Check(!outputs.empty() && outputs.back()[2] == 0, "mode button 1 again: byte 2 reads 0");

  // EN + key 1 presses 110 once per hold; EN going down and up changes the wheel function.
  host.buttons.clear();
  for (const auto& report : {Report(kEnKey, 0, 1), Report(kEnKey | kKey1, 0, 1),
                             Report(kEnKey | kKey1, 0, 1), Report(kEnKey, 0, 1), Report(0, 0, 1)})
    Send(report, s.log);
  Check(host.buttons == std::vector<std::int16_t>{334, 110, 334},
        "EN + key 1 presses 110 once, between the end codes of EN down and up");
}

void CheckMacroAndStatusText(Session& s, hoststringfixture::Header* status) {
  const std::string macroMessage = " Custom Macro #1 executed. ";
  host.codes.clear();
  PressEnF2(s.log);
  Check(host.codes == std::vector<std::string>{"M5"}, "EN + F2 sends the macro's M5 once");
  Check(StatusText(s.blocks) == status->Chars() && status->Chars() == macroMessage,
        "the macro's message becomes the host's status text");
  CheckEqual(status->dataLength, static_cast<long long>(macroMessage.size()),
             "the status text's length");
  CheckEqual(status->Chars()[macroMessage.size()], 0, "the status text ends in a NUL");
  CheckEqual(status->refs, 1, "the status text keeps its one reference");

  // A locked status text belongs to someone else: the macro still runs, the text stays.
  hoststringfixture::Header* locked = hoststringfixture::MakeString("host text", -1, 64);
  hostblock::Write<char*>(s.blocks.motion.data(), hostblock::kStatusMessage, locked->Chars());
  const int allocations = hoststringfixture::manager.allocations;
  host.codes.clear();
  PressEnF2(s.log);
  Check(host.codes == std::vector<std::string>{"M5"}, "EN + F2 still sends M5");
  Check(StatusText(s.blocks) == locked->Chars() && std::string(locked->Chars()) == "host text" &&
            locked->dataLength == 9 && locked->refs == -1,
        "a locked status text is left as it is");
  CheckEqual(hoststringfixture::manager.allocations, allocations,
             "nothing is allocated for a locked status text");
}

// Broadcasts made up by the test, sent straight to the plug-in's window.
void CheckSentBroadcasts(Session& s) {
  const std::string otherName = "\\\\?\\hid#vid_1234&pid_5678#other";
  const std::size_t nameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name);
  struct Ignored {
    const char* what;
    bool otherDevice;
    WPARAM event;
    DWORD size;        // dbcc_size; 0 keeps the true size
    DWORD deviceType;  // 0 keeps the device-interface type
    bool noData;
  };
  const std::string& pendant = s.pendantPath;
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
    const long long presses = SafetyPresses();
    const LRESULT result =
        SendMessageA(s.child, WM_DEVICECHANGE, row.event,
                     row.noData ? 0 : reinterpret_cast<LPARAM>(broadcast.data()));
    TakeOutputs();
    Pump(60, &s.log);
    const std::string what = std::string(row.what) + " is ignored";
    Check(result == TRUE && SafetyPresses() == presses && !TakeOutputs().empty(), what.c_str());
  }

  // Removal of the pendant, named in other letter case: 1021 pressed, the link closed.
  auto removed = InterfaceBroadcast(SwapCase(pendant));
  const long long presses = SafetyPresses();
  CheckEqual(SendMessageA(s.child, WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE,
                          reinterpret_cast<LPARAM>(removed.data())),
             TRUE, "the removal handler returns TRUE");
  CheckEqual(SafetyPresses(), presses + 1, "a removal naming the pendant presses 1021");
  TakeOutputs();
  const int calls = host.calls;
  Pump(200, &s.log);
  Check(TakeOutputs().empty(), "after the removal the pendant gets no output reports");
  CheckEqual(host.calls, calls, "polls of a removed pendant do not touch the host");

  // An arrival of any device reopens the pendant's path.
  auto other = InterfaceBroadcast(otherName);
  CheckEqual(SendMessageA(s.child, WM_DEVICECHANGE, DBT_DEVICEARRIVAL,
                          reinterpret_cast<LPARAM>(other.data())),
             TRUE, "the arrival handler returns TRUE");
  Pump(100, &s.log);
  Check(!TakeOutputs().empty(), "after an arrival output reports resume");
}

// The system's own broadcasts: the virtual pendant unplugged and plugged in again.
void CheckUnplugAndReplug(Session& s) {
  // Idle: the plug-in's read is pending when the pendant goes.
  Pump(100, &s.log);
  const long long presses = SafetyPresses();
  const std::size_t buttons = host.buttons.size();
  const std::size_t codes = host.codes.size();
  Check(vpendant::UnplugOrSay(), "the virtual pendant can be unplugged");
  const bool pressed = PumpUntil(1000, &s.log, [&] { return SafetyPresses() > presses; });
  Pump(200, &s.log);
  Check(pressed && SafetyPresses() == presses + 1, "unplugging presses 1021 exactly once");
  Check(host.buttons.size() == buttons + 1, "unplugging presses nothing else");
  CheckEqual(static_cast<long long>(host.codes.size()), static_cast<long long>(codes),
             "a read pending over the unplug sends nothing to the host");
  const int calls = host.calls;
  Pump(200, &s.log);
  Check(host.calls == calls, "polls of an unplugged pendant do not touch the host");

  // Re-plugged: the arrival reopens it; reads and output reports resume.
  const unsigned writes = Writes();
  Check(Plug(), "the virtual pendant can be plugged in again");
  Check(PumpUntil(2000, &s.log, [&] { return Writes() > writes; }),
        "a re-plugged pendant gets output reports again");
  TakeOutputs();
  host.litLeds.insert(kSafetyLed);
  const long long before = SafetyPresses();
  Send(Report(kSafetyKey), s.log, 150);
  CheckEqual(SafetyPresses(), before + 1, "a re-plugged pendant's reports are decoded");
  Send(Report(0), s.log, 150);
  CheckEqual(SafetyPresses(), before + 2, "and its release too");
}

void CheckManyCycles(Session& s) {
  constexpr int kCycles = 100;
  Pump(100, &s.log);
  const unsigned long start = testhost::HandleCount();
  const long long presses = SafetyPresses();
  int resumed = 0;
  const ULONGLONG began = GetTickCount64();
  for (int cycle = 0; cycle < kCycles; ++cycle) {
    const long long before = SafetyPresses();
    if (!vpendant::UnplugOrSay()) break;
    PumpUntil(1000, &s.log, [&] { return SafetyPresses() > before; });
    const unsigned writes = Writes();
    if (!Plug()) break;
    if (PumpUntil(2000, &s.log, [&] { return Writes() > writes; })) ++resumed;
  }
  Pump(200, &s.log);
  const unsigned long end = testhost::HandleCount();
  std::printf("%d plug/unplug cycles in %.1f s; handles %lu before, %lu after\n", kCycles,
              static_cast<double>(GetTickCount64() - began) / 1000.0, start, end);
  CheckEqual(resumed, kCycles, "output reports resume after every re-plug");
  CheckEqual(static_cast<long long>(end), static_cast<long long>(start),
             "the process's handle count is back where it started");
  Check(SafetyPresses() == presses + kCycles, "every unplug presses 1021 once");

  // Nothing was left behind: a report still reaches the host once, and so does its release.
  TakeOutputs();
  const long long before = SafetyPresses();
  Send(Report(kSafetyKey), s.log, 150);
  Send(Report(0), s.log, 150);
  CheckEqual(SafetyPresses(), before + 2, "after the cycles a press and release reach the host");
}

void RunHidTests() {
  Check(vpendant::UnplugOrSay() && Plug(), "the virtual pendant can be plugged in");
  Session s;
  if (!LoadPlugin("Pendant.dll", s.plugin)) {
    Check(false, "Pendant.dll loads with all host entry points");
    return;
  }
  s.parent = testhost::CreateHostWindow("LinkTestHost");
  Check(s.parent != nullptr, "the host window can be created");
  const std::string profile = testhost::TempProfilePath("hid");
  Check(testhost::WriteTextFile(profile, kProfile), "the profile can be written");
  // The host's status text: a sole-owned empty string with room for any status message.
  hoststringfixture::Header* status = hoststringfixture::MakeString("", 1, 64);
  hostblock::Write<char*>(s.blocks.motion.data(), hostblock::kStatusMessage, status->Chars());
  Check(StartPlugin(s.plugin, s.blocks, s.parent, profile), "InitControl returns true");
  s.child = testhost::PluginWindow(s.parent);
  CheckPluginWindow(s.parent, s.child);
  s.log.target = s.child;

  CheckDiscoveryAndOutputs(s);
  CheckSafetyInput(s);
  CheckStreamingPendant(s);
  CheckJogAndChords(s);
  CheckMacroAndStatusText(s, status);
  CheckSentBroadcasts(s);
  CheckUnplugAndReplug(s);
  CheckManyCycles(s);

  // StopPlug with a read outstanding: no more polls or output reports, every handle closed.
  Pump(100, &s.log);
  const unsigned long handlesBefore = testhost::HandleCount();
  s.plugin.StopPlug();
  Check(!IsWindow(s.child), "StopPlug destroys the plug-in's window");
  TakeOutputs();
  s.log.durations.clear();
  Pump(200, &s.log);
  CheckEqual(static_cast<long long>(s.log.durations.size()), 0, "no poll after StopPlug");
  Check(TakeOutputs().empty(), "no output report after StopPlug");
  const unsigned long handlesAfter = testhost::HandleCount();
  std::printf("handles before StopPlug %lu, after %lu\n", handlesBefore, handlesAfter);
  // The pendant opened for reading and for writing, the read's event, and the probe's handle if it
  // is kept: none may stay open.
  Check(handlesAfter + 3 <= handlesBefore, "StopPlug closes the pendant's handles");

  DestroyWindow(s.parent);
  FreeLibrary(s.plugin.module);
  DeleteFileA(profile.c_str());
  Check(vpendant::UnplugOrSay(), "the virtual pendant can be unplugged at the end");
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

// A line of `prefix`, then `middle` in any letter case (the system's broadcasts name devices in
// upper case), then `suffix`.
bool TrailHas(const std::string& prefix, const std::string& middle, const std::string& suffix) {
  return std::any_of(trail.begin(), trail.end(), [&](const std::string& line) {
    if (line.size() != prefix.size() + middle.size() + suffix.size()) return false;
    if (line.compare(0, prefix.size(), prefix) != 0) return false;
    if (line.compare(line.size() - suffix.size(), suffix.size(), suffix) != 0) return false;
    return CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, line.data() + prefix.size(),
                          static_cast<int>(middle.size()), middle.data(),
                          static_cast<int>(middle.size())) == CSTR_EQUAL;
  });
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
  int step = 0;
  int waited = 0;
  bool pushed = false;
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
  HWND dialog = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), FindConfigDialog, reinterpret_cast<LPARAM>(&dialog));
  if (dialog == nullptr) return;
  const bool timedOut = ++probe.waited > 60;
  switch (probe.step) {
    case 0:
      probe.status = DialogItemText(dialog, kStatusTextId);
      probe.firstView = DialogItemText(dialog, kLiveViewId);
      // EN and X held, the wheel at 7, the safety input released.
      probe.pushed = vpendant::Push(Report(kEnKey | kXKey, 0, 7));
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
void CheckStatusAreaFollowsThePendant(Plugin& plugin) {
  probe = StatusAreaProbe{};
  const UINT_PTR timer = SetTimer(nullptr, 0, 50, ProbeStatusArea);
  plugin.Config();
  KillTimer(nullptr, timer);
  Check(probe.pushed, "the virtual pendant takes a report while the dialog is open");
  CheckText(probe.status, "Pendant connected", "the dialog's status text");
  CheckText(probe.firstView, "Held: none   Wheel: 0   Safety input: active",
            "the live view shows the report decoded last");
  CheckText(probe.laterView, "Held: EN X/A   Wheel: 7   Safety input: off",
            "the live view follows the pendant while the dialog is open");
}

// ---------------------------------------------------------------------------------------------
// A pendant plugged in after start-up, then into another port

// Pumps until the plug-in writes an output report again, at most `ms` milliseconds.
bool OutputsResume(PollLog& log, DWORD ms) {
  return PumpUntil(ms, &log, [] {
    std::vector<vpendant::OutputReport> outputs;
    return vpendant::Pop(outputs) && !outputs.empty();
  });
}

void RunReplugTests() {
  AddVectoredExceptionHandler(1, CaptureDebugOutput);
  Check(vpendant::UnplugOrSay(), "no virtual pendant is plugged in");
  std::string none;
  const int interfaces = testhost::FindHidInterface(VPENDANT_VENDOR_ID, VPENDANT_PRODUCT_ID, none);
  Session s;
  if (!LoadPlugin("Pendant.dll", s.plugin)) {
    Check(false, "Pendant.dll loads with all host entry points");
    return;
  }
  s.parent = testhost::CreateHostWindow("LinkTestHost");
  const std::string profile = testhost::TempProfilePath("replug");
  Check(StartPlugin(s.plugin, s.blocks, s.parent, profile), "InitControl returns true");
  s.child = testhost::PluginWindow(s.parent);
  s.log.target = s.child;
  host.litLeds.insert(kSafetyLed);
  s.plugin.PostInitControl();
  Check(TrailHas("Pendant: search: none among " + std::to_string(interfaces) + " HID interfaces"),
        "the trail tells that the search at start-up found no pendant");

  // Plugged in after start-up: its arrival searches and finds it.
  Check(Plug(0), "the virtual pendant can be plugged in after start-up");
  Check(OutputsResume(s.log, 3000), "a pendant plugged in after start-up is opened at its arrival");
  std::string firstPath;
  testhost::FindHidInterface(VPENDANT_VENDOR_ID, VPENDANT_PRODUCT_ID, firstPath);
  Check(TrailHasPrefix("Pendant: arrival: ") &&
            std::any_of(trail.begin(), trail.end(),
                        [](const std::string& line) {
                          return line.find("; no pendant known, searching") != std::string::npos;
                        }),
        "the trail tells the arrival while no pendant is known");
  Check(!firstPath.empty() && TrailHas("Pendant: search: found " + firstPath),
        "the trail tells where it was found");
  const std::size_t buttons = host.buttons.size();
  Pump(150, &s.log);
  CheckEqual(static_cast<long long>(host.buttons.size()), static_cast<long long>(buttons),
             "nothing is pressed before the pendant reports");
  Send(Report(kSafetyKey), s.log, 150);
  Send(Report(0), s.log, 150);
  CheckEqual(SafetyPresses(), 2, "its press and release of the safety input are decoded");

  // Plugged into another port: the old path no longer opens, so the search takes the new one.
  Check(vpendant::UnplugOrSay(), "the virtual pendant can be unplugged");
  PumpUntil(1000, &s.log, [] { return SafetyPresses() > 2; });
  CheckEqual(SafetyPresses(), 3, "the unplug presses 1021");
  Check(Plug(1), "the virtual pendant can be plugged into another port");
  Check(OutputsResume(s.log, 3000), "the pendant is opened at its new path");
  std::string secondPath;
  testhost::FindHidInterface(VPENDANT_VENDOR_ID, VPENDANT_PRODUCT_ID, secondPath);
  Check(!secondPath.empty() && secondPath != firstPath, "another port gives another path");
  Check(TrailHasPrefix("Pendant: open failed: read " + firstPath + ": error "),
        "the trail tells that the old path failed to open");
  Check(TrailHas("Pendant: search: found " + secondPath), "and where the pendant is now");
  Send(Report(kSafetyKey), s.log, 150);
  CheckEqual(SafetyPresses(), 4, "reports at the new path are decoded");
  CheckStatusAreaFollowsThePendant(s.plugin);
  Pump(100, &s.log);
  // The safety input was released while the dialog was open: 1021 once more.
  CheckEqual(SafetyPresses(), 5, "a release read while the dialog is open presses 1021");

  // A removal of the new path releases it as usual.
  const unsigned long handles = testhost::HandleCount();
  Check(vpendant::UnplugOrSay(), "the virtual pendant can be unplugged from the new port");
  PumpUntil(1000, &s.log, [] { return SafetyPresses() > 5; });
  Pump(100, &s.log);
  CheckEqual(SafetyPresses(), 6, "unplugging it from the new port presses 1021");
  // The read and write handles go; the probe's may stay.
  Check(testhost::HandleCount() + 2 <= handles, "and closes its read and write handles");
  Check(TrailHas("Pendant: removal: ", secondPath, "; the pendant, released"),
        "the trail tells the removal");
  if (winecheck::failed != 0) PrintTrail();

  s.plugin.StopPlug();
  DestroyWindow(s.parent);
  FreeLibrary(s.plugin.module);
  DeleteFileA(profile.c_str());
}

// ---------------------------------------------------------------------------------------------
// Pendant.dll: no pendant present

void RunProductTests() {
  Check(vpendant::UnplugOrSay(), "no virtual pendant is plugged in");
  Plugin plugin;
  if (!LoadPlugin("Pendant.dll", plugin)) {
    Check(false, "Pendant.dll loads with all host entry points");
    return;
  }
  HWND parent = testhost::CreateHostWindow("LinkTestHost");
  Check(parent != nullptr, "the host window can be created");
  HostBlocks blocks;
  const std::string profile = testhost::TempProfilePath("product");
  Check(StartPlugin(plugin, blocks, parent, profile), "InitControl returns true");
  HWND child = testhost::PluginWindow(parent);
  CheckPluginWindow(parent, child);

  PollLog log;
  log.target = child;
  Pump(200, &log);
  CheckEqual(static_cast<long long>(log.durations.size()), 0, "no timer before PostInitControl");

  plugin.PostInitControl();
  const int callsAfterStart = host.calls;
  Pump(1000, &log);
  std::printf("timer messages in one second: %zu\n", log.durations.size());
  Check(log.durations.size() >= 10 && log.durations.size() <= 45,
        "without a pendant the 25 ms timer still fires");
  CheckEqual(host.calls, callsAfterStart, "polls without a pendant do not touch the host");
  Check(testhost::Median(log.durations) < 2.0, "a poll without a pendant returns at once");

  plugin.StopPlug();
  Check(!IsWindow(child), "StopPlug destroys the plug-in's window");
  log.durations.clear();
  Pump(200, &log);
  CheckEqual(static_cast<long long>(log.durations.size()), 0, "no timer after StopPlug");
  plugin.StopPlug();  // a second one has nothing left to do

  DestroyWindow(parent);
  FreeLibrary(plugin.module);
  DeleteFileA(profile.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  const std::string suite = argc > 1 ? argv[1] : "";
  if (suite == "hid") {
    RunHidTests();
  } else if (suite == "product") {
    RunProductTests();
  } else if (suite == "replug") {
    RunReplugTests();
  } else {
    std::printf("usage: link_host hid | product | replug\n");
    return 2;
  }
  return winecheck::Summary();
}
