#include "jog/wheel_rules.h"

#include "core/core.h"
#include "host/host_blocks.h"
#include "host/host_codes.h"

namespace {
constexpr const char* kAxisLetters[hostblock::kAxisCount] = {"X", "Y", "Z", "A", "B", "C"};
}  // namespace

const char* AxisLetter(std::int32_t axis) {
  return hostblock::ValidAxis(axis) ? kAxisLetters[axis] : nullptr;
}

bool MotionGateAllows(const Core& core) {
  const HostBridge& host = core.host;
  if (!host.GetLED(host_led::kMotionGateA) && !host.GetLED(host_led::kMotionGateB)) return true;
  return host.GetLED(host_led::kMotionOverride);
}

bool JogEnabled(Core& core) {
  if (core.host.GetLED(host_led::kJogEnabled)) return true;
  ShowStatus(core, kJogOffText);
  return false;
}
