// Plugs the virtual pendant in and out and talks to it, for the Wine tests and by hand:
//   vpendant plug [INF]      install (INF defaults to vpendant.inf beside this program)
//   vpendant unplug          remove; succeeds when none is plugged
//   vpendant push HEX        one input report: 8 bytes as the application reads them (16 digits)
//   vpendant pop             print the output reports written since the last pop, one a line
//   vpendant period MS       0: report on change; else stream the current report every MS ms
//   vpendant status
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "plug.h"

namespace {

std::string InfBesideProgram() {
  char path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return "vpendant.inf";
  char* slash = std::strrchr(path, '\\');
  if (slash != nullptr) slash[1] = '\0';
  return std::string(path) + "vpendant.inf";
}

bool ParseReport(const char* text, vpendant::InputReport& report) {
  if (std::strlen(text) != report.size() * 2) return false;
  for (std::size_t i = 0; i < report.size(); ++i) {
    char digits[3] = {text[2 * i], text[2 * i + 1], 0};
    char* end = nullptr;
    const unsigned long value = std::strtoul(digits, &end, 16);
    if (end != digits + 2) return false;
    report[i] = static_cast<std::uint8_t>(value);
  }
  return true;
}

int Usage() {
  std::fprintf(stderr,
               "usage: vpendant plug [INF] | unplug | push HEX16 | pop | period MS | status\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string command = argv[1];
  std::string error;
  if (command == "plug" && argc <= 3) {
    if (!vpendant::Plug(argc == 3 ? argv[2] : InfBesideProgram(), error)) {
      std::fprintf(stderr, "vpendant: %s\n", error.c_str());
      return 1;
    }
    return 0;
  }
  if (command == "unplug" && argc == 2) {
    bool wasPlugged = false;
    if (!vpendant::Unplug(wasPlugged, error)) {
      std::fprintf(stderr, "vpendant: %s\n", error.c_str());
      return 1;
    }
    if (!wasPlugged) std::printf("not plugged\n");
    return 0;
  }
  if (command == "push" && argc == 3) {
    vpendant::InputReport report{};
    if (!ParseReport(argv[2], report)) return Usage();
    return vpendant::Push(report) ? 0 : 1;
  }
  if (command == "pop" && argc == 2) {
    std::vector<vpendant::OutputReport> reports;
    if (!vpendant::Pop(reports)) return 1;
    for (const auto& report : reports) {
      for (std::size_t i = 0; i < report.size(); ++i) std::printf(i ? " %02x" : "%02x", report[i]);
      std::printf("\n");
    }
    return 0;
  }
  if (command == "period" && argc == 3) {
    char* end = nullptr;
    const unsigned long ms = std::strtoul(argv[2], &end, 10);
    if (*end != 0 || ms > VPENDANT_MAX_PERIOD_MS) return Usage();
    return vpendant::SetPeriod(static_cast<std::uint32_t>(ms)) ? 0 : 1;
  }
  if (command == "status" && argc == 2) {
    vpendant_status s{};
    if (!vpendant::Status(s)) {
      std::printf("no control device\n");
      return 1;
    }
    std::printf(
        "attached %u started %u read_pending %u period_ms %u queued_inputs %u queued_outputs %u\n"
        "reports_sent %u writes %u pushes %u inputs_dropped %u outputs_dropped %u\n",
        s.attached, s.started, s.read_pending, s.period_ms, s.queued_inputs, s.queued_outputs,
        s.reports_sent, s.writes, s.pushes, s.inputs_dropped, s.outputs_dropped);
    return 0;
  }
  return Usage();
}
