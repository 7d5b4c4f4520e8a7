// Host callbacks that do no work, for measuring the poll itself: jogging is enabled (LED 83),
// nothing else is lit and every read-out is 0.
#pragma once

#include <cstdint>

#include "host_windows/host_bridge.h"

namespace idle_host {

inline void DoButton(std::int16_t) {}
inline void SetDRO(std::int32_t, double) {}
inline double GetDRO(std::int32_t) {
  return 0.0;
}
inline std::uint8_t GetLED(std::int32_t led) {
  return led == 83 ? 1 : 0;
}
inline void Code(const char*) {}

// `code` replaces the line sink, e.g. to count lines.
inline HostCallbacks Callbacks(CodeFn code = Code) {
  return {DoButton, SetDRO, GetDRO, GetLED, nullptr, code};
}

}  // namespace idle_host
