#include "jog/wheel.h"

#include "core/axes.h"
#include "core/core.h"
#include "core/saturating_add.h"
#include "jog/override_knobs.h"
#include "jog/step_jog.h"

namespace {

// The counter is 8 bits and wraps, so a report's move is the shorter way round; a change of
// exactly half a turn has no direction, so the previous report's move stands.
void ApplyCounterChange(WheelState& wheel, std::int32_t diff) {
  if (diff == 0) {
    wheel.reportSteps = 0;
  } else if (diff >= 1 && diff <= 127) {
    wheel.reportSteps = diff;
    wheel.reportDirection = 0;
  } else if (diff <= -129) {
    wheel.reportSteps = 256 + diff;
    wheel.reportDirection = 0;
  } else if (diff >= -127 && diff <= -1) {
    wheel.reportSteps = -diff;
    wheel.reportDirection = 1;
  } else if (diff >= 129) {
    wheel.reportSteps = 256 - diff;
    wheel.reportDirection = 1;
  }
}

bool AxisReversed(const Core& core, std::int32_t axis) {
  const PendantSettings& s = core.settings;
  return (axis == kAxisX && s.Xreverse != 0) || (axis == kAxisY && s.Yreverse != 0) ||
         (axis == kAxisZ && s.Zreverse != 0);
}

void RunWheelFunction(Core& core, const WheelTargets& targets, WheelFunction function,
                      const WheelTurn& turn) {
  EndAbandonedJog(core, targets.continuousJog, function, turn.axis);
  if (core.gates != nullptr && core.gates->JogInhibited()) {
    if (core.heldSteps != nullptr) core.heldSteps->DropHeldSteps();
    EndBurst(core, targets.continuousJog);
    return;
  }
  switch (function) {
    case WheelFunction::StepJog:
      StepJog(core, targets.continuousJog, turn);
      break;
    case WheelFunction::SlowRateStepJog:
      SlowRateStepJog(core, turn);
      break;
    case WheelFunction::VelocityJog:
      VelocityJog(core, targets.continuousJog, turn);
      break;
    case WheelFunction::CModeJog:
      CModeJog(core, targets.continuousJog, turn);
      break;
    case WheelFunction::SlowJogRateKnob:
    case WheelFunction::FeedOverrideKnob:
    case WheelFunction::SpindleOverrideKnob:
      RunOverrideKnob(core, function, turn);
      break;
    case WheelFunction::StepSizePresets:
    case WheelFunction::SlowJogRatePresets:
    case WheelFunction::FeedPresets:
    case WheelFunction::SpindlePresets:
      RunPresetFunction(core, targets.presets, function, turn);
      break;
    case WheelFunction::BeforeFirstPoll:
      break;
  }
}

}  // namespace

void TakeWheelCounter(WheelState& wheel, std::uint8_t counter) {
  if (wheel.lastWheelCount != kNoWheelCount) {
    ApplyCounterChange(wheel, counter - wheel.lastWheelCount);
    const std::int32_t move = wheel.reportDirection != 0 ? -wheel.reportSteps : wheel.reportSteps;
    // A poll folds a few dozen reports at most; saturating only keeps the sum from wrapping.
    wheel.foldedCounts = SaturatingAdd(wheel.foldedCounts, move);
  }
  wheel.lastWheelCount = counter;
}

void ForgetWheelCounter(WheelState& wheel) {
  wheel.lastWheelCount = kNoWheelCount;
}

std::int32_t CounterWay(std::int32_t from, std::uint8_t to, std::int32_t way) {
  if (from == kNoWheelCount) return way;
  WheelState probe;
  probe.reportDirection = way < 0 ? 1 : 0;
  ApplyCounterChange(probe, to - from);
  if (probe.reportSteps == 0) return way;
  return probe.reportDirection != 0 ? -1 : 1;
}

void ProcessWheel(Core& core, WheelState& wheel, const WheelTargets& targets,
                  WheelFunction function, const AxisSelection& axis,
                  const input_report::Words& report) {
  TakeWheelCounter(wheel, input_report::WheelCounter(report.word0));
  const std::int32_t counts = wheel.foldedCounts;
  wheel.foldedCounts = 0;
  if (counts != 0) wheel.turnDirection = counts < 0 ? 1 : 0;
  WheelTurn turn;
  turn.steps = counts < 0 ? -counts : counts;
  const bool turned = wheel.turnDirection != kNotTurned;
  turn.rawDirection = turned ? wheel.turnDirection : 0;
  turn.direction =
      turned && AxisReversed(core, axis.selectedAxis) ? 1 - turn.rawDirection : turn.rawDirection;
  turn.speed = input_report::WheelSpeed(report.word0);
  turn.enableHeld = input_report::EnablePressed(report.word0);
  turn.axis = axis.selectedAxis;
  turn.axisChangeHold = axis.axisChangeHold;
  RunWheelFunction(core, targets, function, turn);
  if (core.jogModes != nullptr) core.jogModes->AfterWheel();
}
