#include "input/en_layer.h"

#include "core/core.h"

namespace {

constexpr std::int32_t kShortPressTicks = 7;

// The value the wheel sets in the current wheel mode goes back to its default.
void ResetWheelModeValue(Core& core) {
  switch (core.wheelMode) {
    case WheelMode::SlowJogRate:
      core.machine.ResetValue(MachineValue::SlowJogRate);
      break;
    case WheelMode::FeedOverride:
      core.machine.ResetValue(MachineValue::FeedOverride);
      break;
    case WheelMode::SpindleOverride:
      core.machine.ResetValue(MachineValue::SpindleOverride);
      break;
    case WheelMode::StepJog:
    case WheelMode::VelocityJog:
    case WheelMode::ContinuousJog:
      break;
  }
}

void RunBuiltInAction(Core& core, int button, std::int32_t selectedAxis) {
  Machine& machine = core.machine;
  switch (button) {
    case 0:
      machine.ZeroAxis(selectedAxis);
      break;
    case 1:
      machine.GotoZeros();
      break;
    case 2:
      ResetWheelModeValue(core);
      break;
    case 3:
      machine.ToggleJog();
      break;
    case 4:
      if (core.display != nullptr) core.display->CycleReadout();
      break;
    default:
      break;
  }
}

}  // namespace

void RunEnLayer(Core& core, int button, std::int32_t selectedAxis, bool down, bool began,
                bool enableHeld) {
  if (down && began) {
    core.ticks.pressTicks = 0;
  } else if (!down && enableHeld && core.ticks.pressTicks < kShortPressTicks) {
    if (!core.machine.RunConfiguredAction(button)) RunBuiltInAction(core, button, selectedAxis);
  }
}
