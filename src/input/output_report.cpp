#include "input/output_report.h"

#include <cstdint>

#include "core/core.h"
#include "host/host_codes.h"

namespace {

struct LedBit {
  std::int32_t led;
  std::uint8_t bits;
};
// Asked in this order; 804..806 share a two-bit field whose values combine by OR.
inline constexpr LedBit kLedBits[] = {
    {host_led::kSafetyStop, 0x01},     {host_led::kOutput11, 0x02},
    {host_led::kMotionGateA, 0x04},    {host_led::kMotionGateB, 0x08},
    {host_led::kMotionOverride, 0x0C},
};

// Byte 2 by wheelMode 1..6: the mode button's number minus one, plus 3 for the second mode.
inline constexpr std::uint8_t kWheelModeIndicator[] = {0, 3, 1, 4, 2, 5};

}  // namespace

std::uint8_t WheelModeIndicator(std::int32_t wheelMode) {
  if (wheelMode < 1 || wheelMode > 6) return 0;
  return kWheelModeIndicator[wheelMode - 1];
}

void FillOutputReport(Core& core, std::int32_t selectedAxis,
                      std::uint8_t (&report)[kOutputReportSize]) {
  std::uint8_t indicators = 0;
  for (const LedBit& l : kLedBits)
    if (core.host.GetLED(l.led)) indicators |= l.bits;
  if (selectedAxis >= 1 && selectedAxis <= 5)
    indicators |= static_cast<std::uint8_t>(selectedAxis << 4);
  report[0] = 0;
  report[1] = indicators;
  report[2] = WheelModeIndicator(core.wheelMode);
  report[3] = static_cast<std::uint8_t>(core.ticks.heartbeat & 0xFF);
  report[4] = 0;
}
