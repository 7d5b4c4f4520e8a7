#include "jog/wheel_rules.h"

#include "host/host_blocks.h"
#include "host/host_codes.h"
#include "host/module.h"

namespace {
constexpr const char* kAxisLetters[hostblock::kAxisCount] = {"X", "Y", "Z", "A", "B", "C"};
}  // namespace

const char* AxisLetter(std::int32_t axis) {
  return hostblock::ValidAxis(axis) ? kAxisLetters[axis] : nullptr;
}

bool MotionGateAllows(const Module& module) {
  const HostBridge& host = module.host;
  if (!host.GetLED(host_led::kMotionGateA) && !host.GetLED(host_led::kMotionGateB)) return true;
  return host.GetLED(host_led::kMotionOverride);
}

bool JogEnabled(Module& module) {
  if (module.host.GetLED(host_led::kJogEnabled)) return true;
  ShowStatus(module, kJogOffText);
  return false;
}
