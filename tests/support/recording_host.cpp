#include "support/recording_host.h"

#include <charconv>

#include "host_windows/host_blocks.h"

RecordingHost* RecordingHost::current = nullptr;

namespace {

void DoButtonCb(std::int16_t code) {
  if (RecordingHost::current) RecordingHost::current->Record("DoButton " + std::to_string(code));
}
void SetDROCb(std::int32_t dro, double value) {
  if (!RecordingHost::current) return;
  RecordingHost::current->dros[dro] = value;
  RecordingHost::current->Record("SetDRO " + std::to_string(dro) + " " + FormatDouble(value));
}
double GetDROCb(std::int32_t dro) {
  RecordingHost* h = RecordingHost::current;
  if (!h) return 0.0;
  if (h->recordReads) h->Record("GetDRO " + std::to_string(dro));
  auto it = h->dros.find(dro);
  return it == h->dros.end() ? 0.0 : it->second;
}
std::uint8_t GetLEDCb(std::int32_t led) {
  RecordingHost* h = RecordingHost::current;
  if (!h) return 0;
  if (h->recordReads) h->Record("GetLED " + std::to_string(led));
  auto it = h->leds.find(led);
  return it != h->leds.end() && it->second ? 1 : 0;
}
void CodeCb(const char* line) {
  RecordingHost* h = RecordingHost::current;
  if (!h) return;
  std::string traced = std::string("Code ") + line;
  if (h->traceJogRecords && traced == "Code DOJOG") {
    for (std::size_t axis = 0; axis < 6; ++axis) {
      const std::uint8_t* record =
          h->hostState.data() + hostblock::kAxisJogBase + hostblock::kAxisJogStride * axis;
      if (record[hostblock::kAxisJogRecordActive] == 0 ||
          record[hostblock::kAxisJogRecordStopRequest] != 0)
        continue;
      const auto direction = hostblock::Read<std::int32_t>(
          h->hostState.data(), hostblock::kAxisJogBase + hostblock::kAxisJogStride * axis +
                                   hostblock::kAxisJogRecordDirection);
      traced += std::string(" ") + "XYZABC"[axis] + (direction == 0 ? '+' : '-');
    }
  }
  h->Record(std::move(traced));
}

}  // namespace

std::string FormatDouble(double value) {
  char buf[64];
  auto result = std::to_chars(buf, buf + sizeof buf, value);
  return std::string(buf, result.ptr);
}

RecordingHost::RecordingHost()
    : hostState(hostblock::kHostStateSize),
      hostConfig(hostblock::kHostConfigSize),
      hostMotion(hostblock::kHostMotionSize) {
  current = this;
}

RecordingHost::~RecordingHost() {
  if (current == this) current = nullptr;
}

void RecordingHost::Install(HostBridge& bridge) {
  current = this;
  bridge.callbacks.DoButton = DoButtonCb;
  bridge.callbacks.SetDRO = SetDROCb;
  bridge.callbacks.GetDRO = GetDROCb;
  bridge.callbacks.GetLED = GetLEDCb;
  bridge.callbacks.Code = CodeCb;
  bridge.HostState = hostState.data();
  bridge.HostConfig = hostConfig.data();
  bridge.HostMotion = hostMotion.data();
}

std::vector<std::string> RecordingHost::Take() {
  std::vector<std::string> out;
  out.swap(calls);
  return out;
}
