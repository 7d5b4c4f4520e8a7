#include "jog/wheel.h"

#include "host/host_blocks.h"
#include "host/module.h"
#include "jog/continuous_jog.h"
#include "jog/override_knobs.h"
#include "jog/presets.h"
#include "jog/step_jog.h"
#include "jog/wheel_rules.h"
#include "link/shuttle_win.h"

namespace {

constexpr std::int32_t kAxisX = 0;
constexpr std::int32_t kAxisY = 1;
constexpr std::int32_t kAxisZ = 2;

// The counter is 8 bits and wraps; a change of exactly half a turn has no direction, so the
// previous poll's step count and direction stand.
void ApplyCounterChange(ShuttleWin& win, std::int32_t diff) {
  if (diff == 0) {
    win.wheelDelta = 0;
  } else if (diff >= 1 && diff <= 127) {
    win.wheelDelta = diff;
    win.wheelDirection = 0;
  } else if (diff <= -129) {
    win.wheelDelta = 256 + diff;
    win.wheelDirection = 0;
  } else if (diff >= -127 && diff <= -1) {
    win.wheelDelta = -diff;
    win.wheelDirection = 1;
  } else if (diff >= 129) {
    win.wheelDelta = 256 - diff;
    win.wheelDirection = 1;
  }
}

bool AxisReversed(const Module& module, std::int32_t axis) {
  const PendantSettings& s = module.settings;
  return (axis == kAxisX && s.Xreverse != 0) || (axis == kAxisY && s.Yreverse != 0) ||
         (axis == kAxisZ && s.Zreverse != 0);
}

void RestoreAfterStepBurst(Module& module, ShuttleWin& win) {
  if (win.savedValid == 0 || module.ticks.restoreCountdown != 0) return;
  module.host.SetDRO(kDroFeedRate, win.savedFeedRate);
  // Read-out 821 goes back whenever the burst set it to 100, also at StepJogRate 0 after a slow
  // rate step, so the user's feed override is never left at 100.
  if (module.settings.StepJogRate != 0 || win.feedOverrideForced != 0)
    module.host.SetDRO(kDroFeedOverride, win.savedFeedOverride);
  win.savedValid = 0;
  win.feedOverrideForced = 0;
}

using WheelFunction = void (*)(Module&, ShuttleWin&, std::int32_t direction, std::int32_t steps);

void Knob(Module& m, ShuttleWin& w, std::int32_t direction, std::int32_t steps) {
  RunOverrideKnob(m, w, w.wheelFunction, direction, steps);
}
void Preset(Module& m, ShuttleWin& w, std::int32_t direction, std::int32_t) {
  RunPresetFunction(m, w, w.wheelFunction, direction);
}

struct WheelFunctionEntry {
  std::int32_t wheelFunction;
  WheelFunction run;
};

constexpr WheelFunctionEntry kWheelFunctions[] = {
    {10, StepJog}, {12, Preset}, {2, VelocityJog}, {3, CModeJog}, {13, SlowRateStepJog}, {4, Knob},
    {14, Preset},  {5, Knob},    {15, Preset},     {6, Knob},     {16, Preset},
};

}  // namespace

void ProcessWheel(Module& module, ShuttleWin& win) {
  const std::int32_t current = win.readBuffer[1];
  ApplyCounterChange(win, current - win.lastWheelCount);
  module.rawWheelDirection = win.wheelDirection != 0 ? 1 : 0;
  if (AxisReversed(module, win.selectedAxis)) win.wheelDirection = win.wheelDirection != 0 ? 0 : 1;
  win.lastWheelCount = current;
  RunWheelFunction(module, win, win.wheelDirection, win.wheelDelta);
  RestoreAfterStepBurst(module, win);
}

void RunWheelFunction(Module& module, ShuttleWin& win, std::int32_t direction, std::int32_t steps) {
  if (host_state::jogInhibit(module.host) != 0) {
    win.pendingSteps = 0;
    win.jogStarted = 0;
    if (win.hostJogModeSwitched != 0) {
      module.host.DoButton(kButtonJogModeLeave);
      win.hostJogModeSwitched = 0;
    }
    return;
  }
  for (const WheelFunctionEntry& entry : kWheelFunctions) {
    if (entry.wheelFunction == win.wheelFunction) {
      entry.run(module, win, direction, steps);
      return;
    }
  }
}
