// The three axis keys. A press selects the key's linear axis, or its rotary axis when the linear
// one is already selected and the rotary axis is enabled.
#include "input/axis_select.h"

#include <cstdint>

#include "core/core.h"

namespace {

struct AxisKey {
  std::int32_t linearAxis;
  std::int32_t rotaryAxis;
  std::uint8_t PendantSettings::*rotaryEnabled;
};

// In the order the keys are handled: X/A, Y/B, Z/C.
constexpr AxisKey kAxisKeys[3] = {
    {0, 3, &PendantSettings::SelectAAxis},
    {1, 4, &PendantSettings::SelectBAxis},
    {2, 5, &PendantSettings::SelectCAxis},
};

}  // namespace

bool SelectAxis(Core& core, AxisKeyState& keys, AxisSelection& axis,
                const input_report::Words& report) {
  bool* latch = keys.axisKeyLatch;
  constexpr std::uint32_t kKeys =
      input_report::kXAMask | input_report::kYBMask | input_report::kZCMask;
  // With no key down and none latched (most polls) the keys change nothing.
  const bool keysAtRest = (report.word0 & kKeys) == 0 && !latch[0] && !latch[1] && !latch[2];
  for (int i = 0; i < 3 && !keysAtRest; ++i) {
    const AxisKey& key = kAxisKeys[i];
    if (!input_report::AxisKey(report.word0, i)) {
      latch[i] = false;
      continue;
    }
    if (latch[i]) continue;
    const bool toRotary =
        axis.selectedAxis == key.linearAxis && core.settings.*key.rotaryEnabled != 0;
    axis.selectedAxis = toRotary ? key.rotaryAxis : key.linearAxis;
    latch[i] = true;
  }

  const bool queueEmpty = !core.machine.CommandsQueued();
  const bool changed = axis.selectedAxis != axis.previousAxis;
  if (changed && !queueEmpty) axis.axisChangeHold = true;
  if (axis.axisChangeHold && queueEmpty) axis.axisChangeHold = false;
  axis.previousAxis = axis.selectedAxis;
  return changed;
}
