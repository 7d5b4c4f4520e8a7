// A platform for unit tests: status texts go to the recording host's trace, files live in memory,
// the device bus does nothing unless a test supplies one, and the dialog runs a test-given
// function.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host_windows/windows_platform.h"
#include "link/device_bus.h"
#include "settings/profile_files.h"

class MemoryProfileFiles final : public ProfileFiles {
 public:
  std::map<std::string, std::string> files;
  bool failReplace = false;
  int replaceCount = 0;
  // Runs inside the next ReadAll of the given number (1: the first), before it reads: another
  // program changing the file while a store is open.
  int readCount = 0;
  int changeOnRead = 0;
  std::function<void()> change;

  ReadResult ReadAll(const std::string& path, std::string& bytes) override;
  WriteResult ReplaceAll(const std::string& path, const std::string& bytes) override;
  std::string ToDocument(const std::string& text) override { return text; }
  std::string FromDocument(const std::string& text) override { return text; }
};

// A bus with no devices whose timer and notifications only record that they were asked for.
class NullBus final : public DeviceBus {
 public:
  void SetListener(BusListener* l) override { listener = l; }
  bool BeginEnumeration() override { return true; }
  bool InterfacePath(std::uint32_t, std::string&) override { return false; }
  void EndEnumeration() override {}
  DeviceHandle Open(const std::string&, OpenMode) override { return kInvalidDeviceHandle; }
  bool GetAttributes(DeviceHandle, HidAttributes&) override { return false; }
  void Close(DeviceHandle) override {}
  IoStatus ReadReport(DeviceHandle, std::uint8_t*, std::uint32_t, std::uint32_t, std::uint32_t&,
                      bool&) override {
    return IoStatus::Failed;
  }
  bool ReadOutstanding(DeviceHandle) const override { return false; }
  bool Write(DeviceHandle, const std::uint8_t*, std::uint32_t) override { return false; }
  bool RegisterNotifications() override { return true; }
  void UnregisterNotifications() override {}
  void StartTicks(std::uint32_t) override { timerStarted = true; }
  bool Ready() const override { return true; }
  void Shutdown() override {
    listener = nullptr;
    timerStarted = false;
  }

  BusListener* listener = nullptr;
  bool timerStarted = false;
};

class FakePlatform final : public WindowsPlatform {
 public:
  std::unique_ptr<DeviceBus> CreateDeviceBus(void* hostParentWindow) override;
  void ShowStatus(const HostBridge& host, const char* text) override;
  std::string ModuleBaseName() override { return moduleBaseName; }
  ProfileFiles& Files() override { return files; }
  void RunConfigDialog(ConfigDialog& dialog) override;
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  void Trace(const char* line) override { trail.emplace_back(line); }

  std::string moduleBaseName = "Pendant";
  MemoryProfileFiles files;
  // Makes the next buses; NullBus when empty.
  std::function<std::unique_ptr<DeviceBus>()> busFactory;
  std::function<void(ConfigDialog&)> dialogScript;
  std::vector<std::string> messages;  // message boxes shown
  std::vector<std::string> trail;     // the diagnostic trail, line by line
};
