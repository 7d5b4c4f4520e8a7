// Plays arbitrary text as a pendant-sim session against the simulation library. Whatever the text,
// the session either plays to its end or stops with an error naming the session file and a line
// number that exists in the text; nothing crashes.
#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

#include "plugin.h"
#include "session.h"
#include "trace_host.h"

namespace {

constexpr const char* kSessionFile = "/nonexistent-pendant-fuzz/fuzz.session";

pendant_sim::Plugin plugin;

[[noreturn]] void Fail(const char* what, const std::string& detail) {
  std::fprintf(stderr, "invariant broken: %s: %s\n", what, detail.c_str());
  std::abort();
}

std::string LibraryPath() {
  if (const char* env = std::getenv("PENDANT_SIM_LIB"); env != nullptr && *env != '\0') return env;
  char self[4096] = {};
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  const std::string program = n > 0 ? std::string(self, static_cast<std::size_t>(n)) : "";
  return program.substr(0, program.find_last_of('/') + 1) + "libpendant_sim.so";
}

// "<session file>:<line>: <message>" with a line of the text.
void CheckError(const std::string& error, const std::string& text) {
  const std::string prefix = std::string(kSessionFile) + ":";
  if (error.rfind(prefix, 0) != 0) Fail("an error without the session file", error);
  std::size_t at = prefix.size();
  long line = 0;
  while (at < error.size() && error[at] >= '0' && error[at] <= '9' && line < 100000000) {
    line = line * 10 + (error[at] - '0');
    ++at;
  }
  const long lines = static_cast<long>(std::count(text.begin(), text.end(), '\n')) + 1;
  if (line < 1 || line > lines) Fail("an error naming no line of the text", error);
  if (error.compare(at, 2, ": ") != 0 || error.size() <= at + 2)
    Fail("an error without a message", error);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Sessions copy profiles into a temporary folder, and every save flushes: keep that in memory
  // where the system has a memory file system.
  if (access("/dev/shm", W_OK) == 0) setenv("TMPDIR", "/dev/shm", 1);
  std::string error;
  if (!pendant_sim::LoadPlugin(LibraryPath(), plugin, error)) Fail("cannot load", error);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  plugin.SimReset();
  pendant_sim::TraceHost& host = pendant_sim::TheHost();
  host.trace.clear();
  host.traceReads = false;
  host.leds.clear();
  host.dros.clear();
  std::memset(host.hostState.data(), 0, host.hostState.size());
  std::memset(host.hostConfig.data(), 0, host.hostConfig.size());
  std::memset(host.hostMotion.data(), 0, host.hostMotion.size());

  pendant_sim::SessionOptions options;
  options.maxRepeat = 8;  // long runs add time, not coverage
  std::istringstream in(text);
  std::string error;
  bool played = false;
  {
    pendant_sim::Session session(plugin, host, kSessionFile, options);
    played = session.Run(in, error);
  }
  if (!played) CheckError(error, text);
  plugin.StopPlug();
  return 0;
}
