// Each function button has two layers, and a press belongs to the one it began in:
//   EN held:  the EN layer (input/en_layer.h)
//   EN up:    tap-and-hold (input/tap_hold.h)
#include "input/buttons.h"

#include "core/core.h"
#include "input/en_layer.h"

namespace {

// F1..F5 = 0..4, in the order the buttons are handled.
constexpr int kButtonOrder[5] = {2, 0, 1, 3, 4};

}  // namespace

void ProcessButtons(Core& core, ButtonState& s, WheelFunction& wheelFunction,
                    std::int32_t selectedAxis, const input_report::Words& report) {
  const bool enableHeld = input_report::EnablePressed(report.word0);
  ChooseWheelFunction(core, s.modeButtons, wheelFunction, selectedAxis, report);

  // No button down, no press under way and no tap waiting (most polls): nothing below changes.
  constexpr std::uint32_t kButtons = input_report::kF1Mask | input_report::kF2Mask |
                                     input_report::kF3Mask | input_report::kF4Mask |
                                     input_report::kF5Mask;
  if ((report.word1 & kButtons) == 0 && PressesAtRest(s)) {
    s.plainPressHeld = false;
    return;
  }

  bool anyPlainDown = false;
  for (const int button : kButtonOrder) {
    const bool down = input_report::FunctionButton(report.word1, button);
    CloseTapWindow(core, s.tapHold, button);
    PressLayer& layer = s.press[button];
    const bool began = down && layer == PressLayer::Up;
    if (began) layer = enableHeld ? PressLayer::En : PressLayer::Plain;
    switch (layer) {
      case PressLayer::En:
        RunEnLayer(core, button, selectedAxis, down, began, enableHeld);
        break;
      case PressLayer::Plain:
        RunTapHold(core, s.tapHold, button, down);
        anyPlainDown = anyPlainDown || down;
        break;
      case PressLayer::Up:
        break;
    }
    if (!down) layer = PressLayer::Up;
  }
  if (anyPlainDown) core.ticks.idleTicks = 0;
  s.plainPressHeld = anyPlainDown;
}

void NotePlainPressStillHeld(Core& core, const ButtonState& s) {
  if (s.plainPressHeld) core.ticks.idleTicks = 0;
}

void EndIdleButtons(Core& core, ButtonState& s) {
  // A press held through a stall of the polls is not idle, whatever the ticks say.
  if (!s.plainPressHeld) EndIdleHoldBurst(core, s.tapHold);
}
