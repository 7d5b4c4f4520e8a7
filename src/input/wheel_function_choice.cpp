// A mode button toggles between the two modes of its pair; a press while EN is held waits for EN
// to be let go. Every change of function is told to the machine, but not the first choice.
#include "input/wheel_function_choice.h"

#include <cstdint>

#include "core/core.h"

void ChooseWheelFunction(Core& core, ModeButtonState& s, WheelFunction& wheelFunction,
                         std::int32_t selectedAxis, const input_report::Words& report) {
  const std::int32_t button = input_report::ModeButtons(report.word1);
  const bool enableHeld = input_report::EnablePressed(report.word0);
  if (button >= 1 && button <= 3 && !enableHeld && !s.modeLatch[button - 1]) {
    s.modeLatch[button - 1] = true;
    const std::int32_t first = 2 * button - 1;  // 1, 3, 5: the first mode of the button's pair
    core.wheelMode = static_cast<std::int32_t>(core.wheelMode) == first ? WheelMode{first + 1}
                                                                        : WheelMode{first};
  }
  const WheelFunction previous = wheelFunction;
  wheelFunction = WheelFunctionFor(core.wheelMode, enableHeld);
  for (int k = 1; k <= 3; ++k) {
    if (k != button) s.modeLatch[k - 1] = false;
  }
  // Nothing was running under a wheel function before the first poll.
  if (previous != WheelFunction::BeforeFirstPoll && wheelFunction != previous)
    if (core.jogModes != nullptr) core.jogModes->WheelFunctionChanged(selectedAxis);
}
