// The interface list of the pipe test build (PendantPipe.dll only): one named pipe, taken from
// PENDANT_TEST_PIPE, stands in for the pendant, so a test host can play the device through the
// bus's real open, read, write and cancel code.
#include <windows.h>

#include "platform/win32/win32_device_bus.h"

namespace {

constexpr const char* kPipeVariable = "PENDANT_TEST_PIPE";
constexpr std::uint16_t kPipeVendorId = 0x04D8;
constexpr std::uint16_t kPipeProductId = 0xFCE4;

class PipeInterfaceEnumerator final : public InterfaceEnumerator {
 public:
  PipeInterfaceEnumerator() : hid_(CreateHidInterfaceEnumerator()) { ReadPipePath(); }

  // Read at every search, as the system lists what is present now: a test moves the pendant to
  // another pipe (another port) by changing the variable.
  bool Begin() override {
    ReadPipePath();
    return true;
  }

  bool Path(std::uint32_t index, std::string& path) override {
    if (index != 0 || pipePath_.empty()) return false;
    path = pipePath_;
    return true;
  }

  void End() override {}

  bool Attributes(const std::string& path, void* handle, HidAttributes& attributes) override {
    if (pipePath_.empty() || lstrcmpiA(path.c_str(), pipePath_.c_str()) != 0) {
      return hid_->Attributes(path, handle, attributes);
    }
    attributes = HidAttributes{kPipeVendorId, kPipeProductId, 0};
    return true;
  }

 private:
  void ReadPipePath() {
    char value[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableA(kPipeVariable, value, sizeof(value));
    pipePath_.clear();
    if (length > 0 && length < sizeof(value)) pipePath_.assign(value, length);
  }

  std::unique_ptr<InterfaceEnumerator> hid_;
  std::string pipePath_;
};

}  // namespace

std::unique_ptr<InterfaceEnumerator> CreateInterfaceEnumerator() {
  return std::make_unique<PipeInterfaceEnumerator>();
}
