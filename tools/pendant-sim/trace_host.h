// The simulated host: callbacks that write every call into the trace, indicators and read-outs the
// session sets, and zeroed data blocks of the real sizes. The callbacks are plain C pointers, so
// there is one host per process.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace pendant_sim {

struct TraceHost {
  std::vector<std::string> trace;
  bool traceReads = false;
  bool traceTrail = false;  // the plug-in's diagnostic trail, by --trail or "trail on"
  std::map<int, bool> leds;
  std::map<int, double> dros;  // SetDRO writes here, so GetDRO reads back what was set
  std::vector<unsigned char> hostState;
  std::vector<unsigned char> hostConfig;
  std::vector<unsigned char> hostMotion;
  unsigned char parentWindow = 0;  // stands in for the host's window object

  TraceHost();
  void Add(std::string line) { trace.push_back(std::move(line)); }
};

TraceHost& TheHost();

// The callbacks handed to the plug-in.
void HostDoButton(short code);
void HostSetDRO(int dro, double value);
double HostGetDRO(int dro);
unsigned char HostGetLED(int led);
void HostSetLED(void);
void HostCode(const char* line);
void HostStatus(const char* text);
void HostMessageBox(const char* text);
void HostTrail(const char* line);
void HostDialogView(const char* status, const char* liveView);

// Shortest text that reads back as the same double: "100", "102.5", "1e-05".
std::string FormatDouble(double value);
// A text in double quotes; quotes, backslashes and control bytes escaped, so blanks stay visible.
std::string Quote(const char* text);

}  // namespace pendant_sim
