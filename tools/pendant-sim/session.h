// Plays a session file against the loaded plug-in; the host calls land in the trace in order.
// The language is described in README.md beside this file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <istream>
#include <string>
#include <vector>

#include "plugin.h"
#include "trace_host.h"

namespace pendant_sim {

struct SessionOptions {
  bool allOutputs = false;  // print every output report, not only changes
  // The largest count of tick, poll and update; keeps a session from running away on a typo such
  // as "tick 1000000000".
  long maxRepeat = 100000;
};

class Session {
 public:
  Session(Plugin& plugin, TraceHost& host, std::filesystem::path sessionFile,
          SessionOptions options);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Plays every line. False on a malformed line or a failed command; `error` then names the line.
  bool Run(std::istream& in, std::string& error);

  // Messages of expect-output lines that did not hold; the trace stays as the plug-in made it.
  std::vector<std::string> failedExpectations;

  using Args = std::vector<std::string>;

 private:
  // One per command; each throws on bad arguments, and Run reports the line.
  void Load(const Args& args);
  void ProName(const Args& args);
  void Callbacks(const Args& args);
  void Init(const Args& args);
  void PostInit(const Args& args);
  void ConfigCommand(const Args& args);
  void Stop(const Args& args);
  void ResetCommand(const Args& args);
  void Device(const Args& args);
  void Plug(const Args& args);
  void Unplug(const Args& args);
  void Notify(const Args& args);
  void Handles(const Args& args);
  void Outputs(const Args& args);
  void Led(const Args& args);
  void Dro(const Args& args);
  void StateField(const Args& args);
  void ConfigField(const Args& args);
  void MotionField(const Args& args);
  void Show(const Args& args);
  void Report(const Args& args);
  void Tick(const Args& args);
  void UpdateCommand(const Args& args);
  void Poll(const Args& args);
  void Dialog(const Args& args);
  void ExpectOutput(const Args& args);
  void Reads(const Args& args);
  void Trail(const Args& args);

  // One timer message; false when the poll timer was not running.
  bool TickOnce();
  void Deliver(unsigned eventType, const char* path);
  void RegisterSinks();
  int DeviceIndex(const Args& args, std::size_t at);
  const std::filesystem::path& TempDir();
  void SetField(const char* block, const Args& args);

  Plugin& plugin_;
  TraceHost& host_;
  std::filesystem::path sessionFile_;
  SessionOptions options_;
  std::filesystem::path tempDir_;
  std::filesystem::path profileCopy_;
  std::uint8_t wheelCounter_ = 0;  // the wheel keeps its position between reports
  std::string lastOutput_;
};

}  // namespace pendant_sim
