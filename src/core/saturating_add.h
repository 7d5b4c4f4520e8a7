// Counters that must not wrap however long a host leaves them growing (steps held back, a C-mode
// count, the turn folded over a poll) saturate symmetrically, so negating one never overflows.
#pragma once

#include <cstdint>
#include <limits>

inline std::int32_t SaturatingAdd(std::int32_t a, std::int32_t b) {
  const std::int64_t sum = static_cast<std::int64_t>(a) + b;
  constexpr std::int64_t hi = std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(sum > hi ? hi : (sum < -hi ? -hi : sum));
}
