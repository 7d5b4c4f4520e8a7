#include "support/fake_platform.h"

#include "support/recording_host.h"

ProfileFiles::ReadResult MemoryProfileFiles::ReadAll(const std::string& path, std::string& bytes) {
  if (++readCount == changeOnRead && change) change();
  auto it = files.find(path);
  if (it == files.end()) return ReadResult::Missing;
  bytes = it->second;
  return ReadResult::Ok;
}

ProfileFiles::WriteResult MemoryProfileFiles::ReplaceAll(const std::string& path,
                                                         const std::string& bytes) {
  if (failReplace) return WriteResult::Failed;
  files[path] = bytes;
  ++replaceCount;
  return WriteResult::Ok;
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
