// A host that records every callback the plug-in makes, with settable indicators and read-outs and
// zeroed data blocks of the real sizes. Callbacks are plain C pointers, so one host is current at a
// time.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "host_windows/host_bridge.h"

class RecordingHost {
 public:
  RecordingHost();
  ~RecordingHost();
  RecordingHost(const RecordingHost&) = delete;
  RecordingHost& operator=(const RecordingHost&) = delete;

  // Points the bridge's callbacks at this host and its block pointers at the blocks below.
  void Install(HostBridge& bridge);

  // Trace lines: "DoButton 1021", "SetDRO 821 100", "Code G90", "Status  Jog OFF. ".
  // Reads are traced only when recordReads is set: "GetLED 800", "GetDRO 22".
  std::vector<std::string> calls;
  bool recordReads = false;
  // When set, "Code DOJOG" names each axis whose jog record then runs and its way:
  // "Code DOJOG X+" (direction 0), "Code DOJOG Y-" (direction 1).
  bool traceJogRecords = false;
  std::map<std::int32_t, bool> leds;
  std::map<std::int32_t, double> dros;  // SetDRO writes here, so GetDRO reads back what was set

  std::vector<std::uint8_t> hostState;
  std::vector<std::uint8_t> hostConfig;
  std::vector<std::uint8_t> hostMotion;

  std::vector<std::string> Take();  // returns and clears `calls`
  void Record(std::string line) { calls.push_back(std::move(line)); }

  static RecordingHost* current;
};

// Shortest text that reads back as the same double ("100", "102.5", "9.999999747378752e-05").
std::string FormatDouble(double value);
