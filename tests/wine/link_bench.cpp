// How much of the host's thread Pendant.dll takes and how late the pendant's input reaches the
// host, under Wine with the virtual pendant. Two kinds of pendant:
//   on change   reports only when its input changes, and sits idle;
//   streaming   sends its state every 8 ms whether it changed or not.
// For each: the time the host's thread spends inside each poll (the dispatch of the plug-in's
// timer message), median, 99th percentile and maximum over many polls while nothing happens;
// then the latency from a pushed report (the safety input toggled) to the DoButton(1021) it
// causes. Timed alongside, as the floor that the system sets: a timer message of the host's own
// that does the least a poll can do on its own handles to the pendant, taking every report already
// handed over without any wait and writing one output report. A poll's figures near the floor's
// are the system's cost, not the plug-in's.
//
// usage: link_bench [POLLS [PUSHES]]   (defaults 2000 and 40)
// clang-format off
#include <windows.h>
// clang-format on

// The HID header has no C++ linkage guard of its own.
extern "C" {
#include <hidsdi.h>
}

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "plug.h"
#include "plugin_loader.h"
#include "test_host.h"

namespace {

using testhost::Milliseconds;
using testhost::Now;

constexpr std::int16_t kSafetyCode = 1021;
constexpr std::int32_t kSafetyLed = 800;

std::vector<LARGE_INTEGER> safetyPresses;
int otherCalls = 0;

extern "C" void BenchDoButton(std::int16_t code) {
  if (code == kSafetyCode) {
    safetyPresses.push_back(Now());
  } else {
    ++otherCalls;
  }
}
extern "C" void BenchSetDRO(std::int32_t, double) {}
extern "C" double BenchGetDRO(std::int32_t) {
  return 0.0;
}
// LED 800 lit: a held safety input presses 1021 once, its release once more.
extern "C" std::uint8_t BenchGetLED(std::int32_t led) {
  return led == kSafetyLed ? 1 : 0;
}
extern "C" void BenchSetLED() {}
extern "C" void BenchCode(const char*) {
  ++otherCalls;
}

// Dispatches messages until `done` or `ms` have passed; polls are timed into `polls`.
template <class Done>
bool PumpUntil(DWORD ms, HWND plugin, std::vector<double>* polls, Done done) {
  const ULONGLONG end = GetTickCount64() + ms;
  for (;;) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      const bool poll = message.message == WM_TIMER && message.hwnd == plugin;
      const LARGE_INTEGER before = Now();
      DispatchMessageA(&message);
      if (poll && polls != nullptr) polls->push_back(Milliseconds(before, Now()));
    }
    if (done()) return true;
    const ULONGLONG now = GetTickCount64();
    if (now >= end) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE,
                              static_cast<DWORD>(std::min<ULONGLONG>(end - now, 1)), QS_ALLINPUT);
  }
}

void Pump(DWORD ms, HWND plugin) {
  PumpUntil(ms, plugin, nullptr, [] { return false; });
}

vpendant::InputReport SafetyReport(bool active) {
  return {0, 0, 0, static_cast<std::uint8_t>(active ? 1 : 0), 0, 0, 0, 0};
}

HANDLE OpenPendant(const std::string& path, DWORD access, DWORD flags) {
  if (path.empty()) return INVALID_HANDLE_VALUE;
  return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                     OPEN_EXISTING, flags, nullptr);
}

// The floor's own handles and its one read.
struct BarePoller {
  HANDLE reader = INVALID_HANDLE_VALUE;
  HANDLE writer = INVALID_HANDLE_VALUE;
  HANDLE event = nullptr;
  OVERLAPPED overlapped{};
  bool pending = false;
  std::uint8_t buffer[8] = {};
};
BarePoller bare;

void CALLBACK BarePoll(HWND, UINT, UINT_PTR, DWORD) {
  for (int reads = 0; reads < 32; ++reads) {
    if (!bare.pending) {
      bare.overlapped = OVERLAPPED{};
      bare.overlapped.hEvent = bare.event;
      if (ReadFile(bare.reader, bare.buffer, sizeof bare.buffer, nullptr, &bare.overlapped)) {
        continue;  // handed over at once
      }
      if (GetLastError() != ERROR_IO_PENDING) break;
      bare.pending = true;
    }
    if (WaitForSingleObject(bare.event, 0) != WAIT_OBJECT_0) break;
    DWORD got = 0;
    GetOverlappedResult(bare.reader, &bare.overlapped, &got, FALSE);
    bare.pending = false;
  }
  const std::uint8_t report[5] = {0, 0, 0, 1, 0};
  DWORD written = 0;
  WriteFile(bare.writer, report, sizeof report, &written, nullptr);
}

struct Figures {
  std::vector<double> polls;
  std::vector<double> barePolls;  // the floor: the least a poll can do
  std::vector<double> latencies;
  int lost = 0;
};

Figures Measure(HWND plugin, HWND host, std::uint32_t periodMs, std::size_t pollCount,
                int pushCount) {
  Figures figures;
  vpendant::SetPeriod(periodMs);
  vpendant::Push(SafetyReport(false));
  Pump(500, plugin);

  PumpUntil(static_cast<DWORD>(pollCount) * 100, plugin, &figures.polls,
            [&] { return figures.polls.size() >= pollCount; });
  constexpr UINT_PTR kBareTimer = 77;
  SetTimer(host, kBareTimer, 25, BarePoll);
  PumpUntil(static_cast<DWORD>(pollCount) * 100, host, &figures.barePolls,
            [&] { return figures.barePolls.size() >= pollCount; });
  KillTimer(host, kBareTimer);

  bool active = false;
  std::srand(12345);
  for (int i = 0; i < pushCount; ++i) {
    // A pause of 60 to 160 ms puts the push at any point of the poll period.
    Pump(60 + static_cast<DWORD>(std::rand() % 100), plugin);
    const std::size_t before = safetyPresses.size();
    active = !active;
    const LARGE_INTEGER pushed = Now();
    vpendant::Push(SafetyReport(active));
    if (PumpUntil(2000, plugin, nullptr, [&] { return safetyPresses.size() > before; })) {
      figures.latencies.push_back(Milliseconds(pushed, safetyPresses[before]));
    } else {
      ++figures.lost;
    }
  }
  vpendant::Push(SafetyReport(false));
  Pump(300, plugin);
  return figures;
}

double Percentile99(std::vector<double> values) {
  if (values.empty()) return 0.0;
  std::sort(values.begin(), values.end());
  return values[values.size() * 99 / 100];
}

void Print(const char* regime, const Figures& f) {
  std::printf(
      "%-22s %6zu %8.2f ms %7.2f ms %7.2f ms %7.2f ms %7.2f ms %7zu %7.1f ms %7.1f ms %5d\n",
      regime, f.polls.size(), testhost::Median(f.polls), Percentile99(f.polls),
      testhost::Longest(f.polls), testhost::Median(f.barePolls), testhost::Longest(f.barePolls),
      f.latencies.size(), testhost::Median(f.latencies), testhost::Longest(f.latencies), f.lost);
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t pollCount = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 2000;
  const int pushCount = argc > 2 ? std::atoi(argv[2]) : 40;

  std::string error;
  bool wasPlugged = false;
  if (!vpendant::Unplug(wasPlugged, error) ||
      !vpendant::Plug(testhost::ProgramFile("vpendant.inf"), error)) {
    std::printf("link_bench: %s\n", error.c_str());
    return 1;
  }
  Plugin plugin;
  if (!LoadPlugin("Pendant.dll", plugin)) return 1;
  HWND parent = testhost::CreateHostWindow("LinkBenchHost");
  testhost::HostBlocks blocks;
  const std::string profile = testhost::TempProfilePath("bench");
  OlderHostString name;
  std::memcpy(name.text, profile.data(), std::min<std::size_t>(profile.size(), MAX_PATH));
  name.dataLength = static_cast<std::int32_t>(std::min<std::size_t>(profile.size(), MAX_PATH));
  plugin.SetProName(HostString{name.text});
  plugin.SetDoButton(BenchDoButton);
  plugin.SetSetDRO(BenchSetDRO);
  plugin.SetGetDRO(BenchGetDRO);
  plugin.SetGetLED(BenchGetLED);
  plugin.SetSetLED(BenchSetLED);
  plugin.SetCode(BenchCode);
  if (plugin.InitControl(blocks.state.data(), blocks.config.data(), blocks.motion.data(), parent) ==
      0) {
    std::printf("link_bench: InitControl failed\n");
    return 1;
  }
  HWND child = testhost::PluginWindow(parent);
  plugin.PostInitControl();
  vpendant_status status{};
  if (!PumpUntil(2000, child, nullptr,
                 [&] { return vpendant::Status(status) && status.writes > 0; })) {
    std::printf("link_bench: the plug-in did not find the virtual pendant\n");
    return 1;
  }

  // The pendant found once by its identifiers among the HID interfaces, opened twice.
  std::string pendantPath;
  testhost::FindHidInterface(VPENDANT_VENDOR_ID, VPENDANT_PRODUCT_ID, pendantPath);
  bare.reader = OpenPendant(pendantPath, GENERIC_READ, FILE_FLAG_OVERLAPPED);
  bare.writer = OpenPendant(pendantPath, GENERIC_WRITE, 0);
  bare.event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (bare.reader == INVALID_HANDLE_VALUE || bare.writer == INVALID_HANDLE_VALUE) {
    std::printf("link_bench: cannot open the virtual pendant\n");
    return 1;
  }
  HidD_SetNumInputBuffers(bare.reader, 16);
  std::printf(
      "Pendant.dll under Wine with the virtual pendant: time inside each poll over %zu "
      "polls,\nlatency from a pushed report to DoButton(1021) over %d pushes\n\n",
      pollCount, pushCount);
  std::printf("%-22s %6s %11s %10s %10s %10s %10s %7s %10s %10s %5s\n", "pendant", "polls",
              "poll median", "poll p99", "poll max", "floor med.", "floor max", "pushes",
              "lat. med.", "lat. max", "lost");
  Print("on change, idle", Measure(child, parent, 0, pollCount, pushCount));
  Print("streaming every 8 ms", Measure(child, parent, 8, pollCount, pushCount));
  vpendant::SetPeriod(0);
  vpendant::Status(status);
  std::printf("\nvirtual pendant: %u reports sent, %u output reports written\n",
              status.reports_sent, status.writes);

  plugin.StopPlug();
  CancelIoEx(bare.reader, nullptr);
  if (bare.pending) {
    DWORD ignored = 0;
    GetOverlappedResult(bare.reader, &bare.overlapped, &ignored, TRUE);
  }
  CloseHandle(bare.reader);
  CloseHandle(bare.writer);
  CloseHandle(bare.event);
  DestroyWindow(parent);
  FreeLibrary(plugin.module);
  DeleteFileA(profile.c_str());
  vpendant::Unplug(wasPlugged, error);
  return otherCalls == 0 ? 0 : 1;
}
