#pragma once

#include <cstdint>

#include "core/wheel_mode.h"

struct Core;

inline constexpr std::uint32_t kOutputReportSize = 5;

// The pendant's wheel-mode display value; 0 for a value outside the modes.
std::uint8_t WheelModeIndicator(WheelMode wheelMode);

// Fills the 5-byte output report from the host's indicators, the axis, the wheel mode and the
// heartbeat.
void FillOutputReport(Core& core, std::int32_t selectedAxis,
                      std::uint8_t (&report)[kOutputReportSize]);
