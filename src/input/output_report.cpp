#include "input/output_report.h"

#include <cstdint>

#include "core/core.h"

namespace {

// Byte 2 by wheel mode 1..6: the mode button's number minus one, plus 3 for the second mode.
inline constexpr std::uint8_t kWheelModeIndicator[] = {0, 3, 1, 4, 2, 5};

}  // namespace

std::uint8_t WheelModeIndicator(WheelMode wheelMode) {
  return kWheelModeIndicator[WheelModeIndex(wheelMode)];
}

void FillOutputReport(Core& core, std::int32_t selectedAxis,
                      std::uint8_t (&report)[kOutputReportSize]) {
  const PendantLamps lamps = core.machine.Lamps();
  std::uint8_t indicators = 0;
  if (lamps.safetyStop) indicators |= 0x01;
  if (lamps.output) indicators |= 0x02;
  // The three motion lamps share a two-bit field whose values combine by OR.
  if (lamps.motionHeldA) indicators |= 0x04;
  if (lamps.motionHeldB) indicators |= 0x08;
  if (lamps.motionOverride) indicators |= 0x0C;
  if (selectedAxis >= 1 && selectedAxis <= 5)
    indicators |= static_cast<std::uint8_t>(selectedAxis << 4);
  report[0] = 0;
  report[1] = indicators;
  report[2] = WheelModeIndicator(core.wheelMode);
  report[3] = static_cast<std::uint8_t>(core.ticks.heartbeat & 0xFF);
  report[4] = 0;
}
