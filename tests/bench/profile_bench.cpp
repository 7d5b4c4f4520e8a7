// Cost of the profile work of PostInitControl and of Config closed with Esc, over files on disk,
// next to a plain copy of the same file, so the per-byte cost and the ratio to a copy can be read.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "platform/sim/posix_profile_files.h"
#include "settings/pendant_settings.h"
#include "settings/pendant_settings_io.h"
#include "settings/profile_store.h"

namespace {

// A host-like profile of about `bytes` bytes: CRLF, comments, attributes, many sections, and the
// pendant's section with all its keys in the middle.
std::string HostProfile(std::size_t bytes) {
  std::string out =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<!-- host profile -->\r\n<profile>\r\n";
  std::string section;
  for (int s = 0; out.size() < bytes; ++s) {
    section = "  <Section" + std::to_string(s) + " kind=\"plain\">\r\n    <!-- block -->\r\n";
    for (int k = 0; k < 12; ++k) {
      section += "    <Key" + std::to_string(k) + ">" + std::to_string(s * 13 + k) + ".5</Key" +
                 std::to_string(k) + ">\r\n";
    }
    section += "  </Section" + std::to_string(s) + ">\r\n";
    out += section;
    if (s == 3) {
      out += std::string("  <") + kSettingsSection + ">\r\n";
      out += std::string("  </") + kSettingsSection + ">\r\n";
    }
  }
  out += "</profile>\r\n";
  return out;
}

class Files {
 public:
  Files() {
    char pattern[] = "/tmp/profile_benchXXXXXX";
    if (mkdtemp(pattern) == nullptr) std::abort();
    dir_ = pattern;
  }
  ~Files() { std::filesystem::remove_all(dir_); }

  // The profile of the given size, with the pendant's section filled by one Config.
  const std::string& Profile(std::size_t bytes) {
    auto found = paths_.find(bytes);
    if (found != paths_.end()) return found->second;
    const std::string path = dir_ + "/profile-" + std::to_string(bytes) + ".xml";
    PosixProfileFilesInstance().ReplaceAll(path, HostProfile(bytes));
    {
      ProfileStore store(path, PosixProfileFilesInstance());
      PendantSettings settings;
      LoadSettings(store, settings, 2);
      SaveSettings(store, settings);
    }
    return paths_.emplace(bytes, path).first->second;
  }

  std::string CopyPath() const { return dir_ + "/copy.xml"; }

 private:
  std::string dir_;
  std::map<std::size_t, std::string> paths_;
};

Files& TheFiles() {
  static Files files;
  return files;
}

std::int64_t FileSize(const std::string& path) {
  return static_cast<std::int64_t>(std::filesystem::file_size(path));
}

void BM_PostInitControlLoad(benchmark::State& state) {
  const std::string& path = TheFiles().Profile(static_cast<std::size_t>(state.range(0)));
  PendantSettings settings;
  for (auto _ : state) {
    ProfileStore store(path, PosixProfileFilesInstance());
    LoadSettings(store, settings, 0);
    benchmark::DoNotOptimize(settings);
  }
  state.SetBytesProcessed(state.iterations() * FileSize(path));
}

void BM_ConfigLoadSave(benchmark::State& state) {
  const std::string& path = TheFiles().Profile(static_cast<std::size_t>(state.range(0)));
  PendantSettings settings;
  for (auto _ : state) {
    ProfileStore store(path, PosixProfileFilesInstance());
    LoadSettings(store, settings, 2);
    SaveSettings(store, settings);
  }
  state.SetBytesProcessed(state.iterations() * FileSize(path));
}

// The same, with one setting changed each time, so the section is rewritten and spliced.
void BM_ConfigChangeOneSetting(benchmark::State& state) {
  const std::string& path = TheFiles().Profile(static_cast<std::size_t>(state.range(0)));
  PendantSettings settings;
  std::int32_t rate = 100;
  for (auto _ : state) {
    ProfileStore store(path, PosixProfileFilesInstance());
    LoadSettings(store, settings, 2);
    settings.StepJogRate = ++rate;
    SaveSettings(store, settings);
  }
  state.SetBytesProcessed(state.iterations() * FileSize(path));
}

void BM_PlainCopy(benchmark::State& state) {
  const std::string& path = TheFiles().Profile(static_cast<std::size_t>(state.range(0)));
  const std::string copy = TheFiles().CopyPath();
  std::string bytes;
  for (auto _ : state) {
    PosixProfileFilesInstance().ReadAll(path, bytes);
    PosixProfileFilesInstance().ReplaceAll(copy, bytes);
  }
  state.SetBytesProcessed(state.iterations() * FileSize(path));
}

#define PROFILE_SIZES Arg(10 << 10)->Arg(100 << 10)->Arg(1 << 20)->Arg(10 << 20)
BENCHMARK(BM_PostInitControlLoad)->PROFILE_SIZES->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ConfigLoadSave)->PROFILE_SIZES->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ConfigChangeOneSetting)->PROFILE_SIZES->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PlainCopy)->PROFILE_SIZES->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
