#pragma once

#include <cstdint>

struct Core;

inline constexpr std::uint32_t kOutputReportSize = 5;

// The pendant's wheel-mode display value for wheelMode 1..6; 0 for any other mode.
std::uint8_t WheelModeIndicator(std::int32_t wheelMode);

// Fills the 5-byte output report from the host's indicators, the axis, the wheel mode and the
// heartbeat.
void FillOutputReport(Core& core, std::int32_t selectedAxis,
                      std::uint8_t (&report)[kOutputReportSize]);
