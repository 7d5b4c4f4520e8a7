// The pendant's axes as every layer counts them: 0..5 for X, Y, Z, A, B, C.
#pragma once

#include <cstdint>

inline constexpr int kAxisCount = 6;
inline constexpr std::int32_t kAxisX = 0;
inline constexpr std::int32_t kAxisY = 1;
inline constexpr std::int32_t kAxisZ = 2;

inline constexpr bool ValidAxis(std::int32_t axis) {
  return axis >= 0 && axis < kAxisCount;
}
