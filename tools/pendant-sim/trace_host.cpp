#include "trace_host.h"

#include <charconv>
#include <cstdio>

#include "pendant_sim.h"

namespace pendant_sim {

TraceHost::TraceHost()
    : hostState(PENDANT_SIM_HOST_STATE_SIZE, 0),
      hostConfig(PENDANT_SIM_HOST_CONFIG_SIZE, 0),
      hostMotion(PENDANT_SIM_HOST_MOTION_SIZE, 0) {}

TraceHost& TheHost() {
  // Never destroyed: the plug-in stays loaded until the process ends and may call back until then.
  static TraceHost* host = new TraceHost;
  return *host;
}

std::string FormatDouble(double value) {
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

std::string Quote(const char* text) {
  std::string out = "\"";
  if (text == nullptr) return out + "\"";
  for (const char* p = text; *p != '\0'; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7F) {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

void HostDoButton(short code) {
  TheHost().Add("DoButton " + std::to_string(code));
}

void HostSetDRO(int dro, double value) {
  TheHost().dros[dro] = value;
  TheHost().Add("SetDRO " + std::to_string(dro) + " " + FormatDouble(value));
}

double HostGetDRO(int dro) {
  TraceHost& host = TheHost();
  const auto it = host.dros.find(dro);
  const double value = it != host.dros.end() ? it->second : 0.0;
  if (host.traceReads) host.Add("GetDRO " + std::to_string(dro) + " -> " + FormatDouble(value));
  return value;
}

unsigned char HostGetLED(int led) {
  TraceHost& host = TheHost();
  const auto it = host.leds.find(led);
  const bool lit = it != host.leds.end() && it->second;
  if (host.traceReads) host.Add("GetLED " + std::to_string(led) + (lit ? " -> 1" : " -> 0"));
  return lit ? 1 : 0;
}

void HostSetLED(void) {
  TheHost().Add("SetLED");
}

void HostCode(const char* line) {
  TheHost().Add("Code " + Quote(line));
}

void HostStatus(const char* text) {
  TheHost().Add("Status " + Quote(text));
}

void HostMessageBox(const char* text) {
  TheHost().Add("MessageBox " + Quote(text));
}

void HostTrail(const char* line) {
  TraceHost& host = TheHost();
  if (host.traceTrail) host.Add("Trail " + Quote(line));
}

void HostDialogView(const char* status, const char* liveView) {
  TheHost().Add("DialogView " + Quote(status) + " " + Quote(liveView));
}

}  // namespace pendant_sim
