#include "jog/wheel.h"

#include "core/core.h"
#include "host/host_blocks.h"
#include "jog/override_knobs.h"

namespace {

constexpr std::int32_t kAxisX = 0;
constexpr std::int32_t kAxisY = 1;
constexpr std::int32_t kAxisZ = 2;

// The counter is 8 bits and wraps; a change of exactly half a turn has no direction, so the
// previous poll's step count and direction stand.
void ApplyCounterChange(WheelState& wheel, std::int32_t diff) {
  if (diff == 0) {
    wheel.wheelDelta = 0;
  } else if (diff >= 1 && diff <= 127) {
    wheel.wheelDelta = diff;
    wheel.wheelDirection = 0;
  } else if (diff <= -129) {
    wheel.wheelDelta = 256 + diff;
    wheel.wheelDirection = 0;
  } else if (diff >= -127 && diff <= -1) {
    wheel.wheelDelta = -diff;
    wheel.wheelDirection = 1;
  } else if (diff >= 129) {
    wheel.wheelDelta = 256 - diff;
    wheel.wheelDirection = 1;
  }
}

bool AxisReversed(const Core& core, std::int32_t axis) {
  const PendantSettings& s = core.settings;
  return (axis == kAxisX && s.Xreverse != 0) || (axis == kAxisY && s.Yreverse != 0) ||
         (axis == kAxisZ && s.Zreverse != 0);
}

void RunWheelFunction(Core& core, const WheelTargets& targets, WheelFunction function,
                      const WheelTurn& turn) {
  if (host_state::jogInhibit(core.host) != 0) {
    targets.stepJog.pendingSteps = 0;
    EndBurst(core, targets.continuousJog);
    return;
  }
  switch (function) {
    case WheelFunction::StepJog:
      StepJog(core, targets.stepJog, targets.continuousJog, turn);
      break;
    case WheelFunction::SlowRateStepJog:
      SlowRateStepJog(core, targets.stepJog, turn);
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

void ProcessWheel(Core& core, WheelState& wheel, const WheelTargets& targets,
                  WheelFunction function, const AxisSelection& axis,
                  const input_report::Words& report) {
  const std::int32_t current = input_report::WheelCounter(report.word0);
  ApplyCounterChange(wheel, current - wheel.lastWheelCount);
  WheelTurn turn;
  turn.rawDirection = wheel.wheelDirection != 0 ? 1 : 0;
  if (AxisReversed(core, axis.selectedAxis))
    wheel.wheelDirection = wheel.wheelDirection != 0 ? 0 : 1;
  wheel.lastWheelCount = current;
  turn.steps = wheel.wheelDelta;
  turn.direction = wheel.wheelDirection;
  turn.speed = input_report::WheelSpeed(report.word0);
  turn.enableHeld = input_report::EnablePressed(report.word0);
  turn.axis = axis.selectedAxis;
  turn.axisChangeHold = axis.axisChangeHold;
  RunWheelFunction(core, targets, function, turn);
  RestoreAfterStepBurst(core, targets.stepJog);
}
