// The wheel: its counter turned into steps and a direction, handed to the wheel function.
#pragma once

#include <cstdint>

#include "input/axis_select.h"
#include "input/input_report.h"
#include "input/wheel_function.h"
#include "jog/continuous_jog.h"
#include "jog/presets.h"

struct Core;

inline constexpr std::int32_t kNoWheelCount = -1;
inline constexpr std::int32_t kNotTurned = -1;

struct WheelState {
  // The counter of the last report taken. None at start and after the pendant was (re)opened or
  // reports were lost: the next report only sets it, since the gap to it cannot be known.
  std::int32_t lastWheelCount = kNoWheelCount;
  // The last report's own move (1: counter falling); a change of exactly half a turn has no
  // direction of its own and repeats it.
  std::int32_t reportSteps = 0;
  std::int32_t reportDirection = 0;
  // Signed counts of the reports taken since the last poll's turn (positive: counter rising).
  std::int32_t foldedCounts = 0;
  // The way the wheel was last turned, before the axis's reverse setting: a still poll keeps it,
  // and the reverse setting applies to it afresh in every poll. Before the first turn there is
  // none, and the direction is forward whatever the reverse setting (as a jog's is at start).
  std::int32_t turnDirection = kNotTurned;
};

// The behaviours a turn of the wheel drives, each with its own state.
struct WheelTargets {
  ContinuousJogState& continuousJog;
  PresetState& presets;
};

// One report's counter: its move since the report before it joins the poll's turn. The poll
// calls it for each report it folds into a later one; ProcessWheel for the report it decodes.
void TakeWheelCounter(WheelState& wheel, std::uint8_t counter);
// The next report only sets the counter.
void ForgetWheelCounter(WheelState& wheel);
// The way a report moved the counter from `from` (kNoWheelCount: not known) to `to`: 1 rising,
// -1 falling. A still counter or exactly half a turn has no way of its own and keeps `way`, as a
// report's move keeps the one before it.
std::int32_t CounterWay(std::int32_t from, std::uint8_t to, std::int32_t way);

// Last step of the input chain: the turn of the reports since the last poll, reversal, dispatch,
// then the machine's own end of the poll's wheel.
void ProcessWheel(Core& core, WheelState& wheel, const WheelTargets& targets,
                  WheelFunction function, const AxisSelection& axis,
                  const input_report::Words& report);
