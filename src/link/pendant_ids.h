// The pendant's USB identifiers, by which every device bus's search knows it.
#pragma once

#include <cstdint>

inline constexpr std::uint16_t kPendantVendorId = 0x04D8;
inline constexpr std::uint16_t kPendantProductId = 0xFCE4;
