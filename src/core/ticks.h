// Module-wide tick counters and count-downs, stepped once by every host Update call. Press lengths,
// tap windows, settling pauses and the end of wheel bursts are measured in these ticks.
#pragma once

#include <cstdint>

// Above 1000 a counter is set back to 100 before it counts on, so one that was set to 0 never reads
// a small value again by itself.
inline void StepTickCounter(std::int32_t& counter) {
  if (counter > 1000) counter = 100;
  ++counter;
}

inline void StepCountdown(std::int32_t& countdown) {
  if (countdown != 0) --countdown;
}

struct TickCounters {
  std::int16_t heartbeat = 1;  // 2, 3, ..., 255, 2, ... once Update runs
  std::int32_t screenKeyTicks = 100;
  std::int32_t pressTicks = 100;
  std::int32_t tapWindowTicks[5] = {100, 100, 100, 100, 100};  // one per function button, F1..F5
  std::int32_t idleTicks = 0;
  std::int32_t reversalTicks = 100;
  std::int32_t jogActiveCountdown = 0;
  std::int32_t restoreCountdown = 0;

  void Update() {
    if (heartbeat > 254) heartbeat = 1;
    ++heartbeat;
    StepTickCounter(screenKeyTicks);
    StepTickCounter(pressTicks);
    for (auto& t : tapWindowTicks) StepTickCounter(t);
    StepTickCounter(idleTicks);
    StepTickCounter(reversalTicks);
    StepCountdown(jogActiveCountdown);
    StepCountdown(restoreCountdown);
  }
};
