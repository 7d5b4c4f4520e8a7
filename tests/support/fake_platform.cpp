#include "support/fake_platform.h"

#include "support/recording_host.h"

ProfileFiles::ReadResult MemoryProfileFiles::ReadAll(const std::string& path, std::string& bytes) {
  auto it = files.find(path);
  if (it == files.end()) return ReadResult::Missing;
  bytes = it->second;
  return ReadResult::Ok;
}

bool MemoryProfileFiles::ReplaceAll(const std::string& path, const std::string& bytes) {
  if (failReplace) return false;
  files[path] = bytes;
  ++replaceCount;
  return true;
}

std::unique_ptr<DeviceBus> FakePlatform::CreateDeviceBus(void*) {
  if (busFactory) return busFactory();
  return std::make_unique<NullBus>();
}

void FakePlatform::ShowStatus(const HostBridge&, const char* text) {
  if (RecordingHost::current) RecordingHost::current->Record(std::string("Status ") + text);
}

void FakePlatform::RunConfigDialog(ConfigDialog& dialog) {
  if (dialogScript) dialogScript(dialog);
}
