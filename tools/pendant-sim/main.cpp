// pendant-sim: a host simulator. Loads the simulation library the way a host loads the plug-in,
// plays a session file and prints every host call in order, or compares them with a file.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "plugin.h"
#include "session.h"
#include "trace_diff.h"
#include "trace_host.h"

namespace {

namespace fs = std::filesystem;

constexpr int kExitMismatch = 1;
constexpr int kExitUsage = 2;

void Usage() {
  std::cerr
      << "usage: pendant-sim [--lib <libpendant_sim.so>] [--reads] [--trail] [--all-outputs]\n"
         "                   [--expect <file> | --write-expected <file>] <session file>\n";
}

// --lib first, then PENDANT_SIM_LIB, then the library beside this program.
std::string DefaultLibrary() {
  if (const char* env = std::getenv("PENDANT_SIM_LIB"); env != nullptr && *env != '\0') return env;
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (!ec) return (self.parent_path() / "libpendant_sim.so").string();
  return "libpendant_sim.so";
}

}  // namespace

int main(int argc, char** argv) {
  std::string library;
  std::string expectFile;
  std::string writeFile;
  std::string sessionFile;
  pendant_sim::SessionOptions options;
  bool traceReads = false;
  bool traceTrail = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--lib" && hasValue) {
      library = argv[++i];
    } else if (arg == "--expect" && hasValue) {
      expectFile = argv[++i];
    } else if (arg == "--write-expected" && hasValue) {
      writeFile = argv[++i];
    } else if (arg == "--reads") {
      traceReads = true;
    } else if (arg == "--trail") {
      traceTrail = true;
    } else if (arg == "--all-outputs") {
      options.allOutputs = true;
    } else if (arg == "--help" || arg == "-h") {
      Usage();
      return 0;
    } else if (!arg.empty() && arg[0] != '-' && sessionFile.empty()) {
      sessionFile = arg;
    } else {
      Usage();
      return kExitUsage;
    }
  }
  if (sessionFile.empty() || (!expectFile.empty() && !writeFile.empty())) {
    Usage();
    return kExitUsage;
  }
  if (library.empty()) library = DefaultLibrary();

  std::ifstream in(sessionFile);
  if (!in) {
    std::cerr << "pendant-sim: cannot read " << sessionFile << "\n";
    return kExitUsage;
  }
  pendant_sim::Plugin plugin;
  std::string error;
  if (!pendant_sim::LoadPlugin(library, plugin, error)) {
    std::cerr << "pendant-sim: " << error << "\n";
    return kExitUsage;
  }

  pendant_sim::TraceHost& host = pendant_sim::TheHost();
  host.traceReads = traceReads;
  host.traceTrail = traceTrail;
  std::vector<std::string> failed;
  bool played = false;
  {
    pendant_sim::Session session(plugin, host, fs::absolute(sessionFile), options);
    played = session.Run(in, error);
    failed = session.failedExpectations;
  }
  if (!played) {
    std::cerr << "pendant-sim: " << error << "\n";
    return kExitUsage;
  }

  int status = 0;
  if (!writeFile.empty()) {
    if (!pendant_sim::WriteTrace(writeFile, host.trace)) {
      std::cerr << "pendant-sim: cannot write " << writeFile << "\n";
      return kExitUsage;
    }
  } else if (!expectFile.empty()) {
    std::vector<std::string> expected;
    if (!pendant_sim::ReadTrace(expectFile, expected)) {
      std::cerr << "pendant-sim: cannot read " << expectFile << "\n";
      return kExitUsage;
    }
    if (expected != host.trace) {
      std::cout << pendant_sim::UnifiedDiff(expected, host.trace, expectFile, "actual");
      std::cout << "pendant-sim: trace differs from " << expectFile << "\n";
      status = kExitMismatch;
    }
  } else {
    for (const auto& line : host.trace) std::cout << line << "\n";
  }
  for (const auto& message : failed) {
    std::cerr << "pendant-sim: " << message << "\n";
    status = kExitMismatch;
  }
  return status;
}
