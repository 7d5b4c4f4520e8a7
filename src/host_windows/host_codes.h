// The host's button, indicator and read-out numbers the plug-in uses, each defined once. What they
// do is the host's business; the names say what the plug-in uses them for.
#pragma once

#include <cstdint>

// Buttons, pressed with DoButton.
namespace host_button {
inline constexpr std::int32_t kSafetyStop = 1021;
// The host jog modes a tap-and-hold burst or a continuous jog switches between: the mode of
// indicator 14 (also the one a continuous jog runs in), of indicator 15, of indicator 57.
inline constexpr std::int32_t kModeOfLed14 = 204;
inline constexpr std::int32_t kModeOfLed15 = 205;
inline constexpr std::int32_t kModeOfLed57 = 327;
// Chords and the screen key.
inline constexpr std::int32_t kChord1 = 110;
inline constexpr std::int32_t kChord2 = 1000;
inline constexpr std::int32_t kChord2Alt = 1001;
inline constexpr std::int32_t kChord3Follow = 1002;
inline constexpr std::int32_t kChord3 = 1003;
inline constexpr std::int32_t kToggleTabScreen = 323;
// A change of wheel function presses this plus the selected axis.
inline constexpr std::int32_t kWheelFunctionChange = 334;
// The function buttons' defaults.
inline constexpr std::int32_t kZeroX = 1008;  // + axis, X to A
inline constexpr std::int32_t kGotoZeros = 1017;
inline constexpr std::int32_t kResetFeedOverride = 1014;
inline constexpr std::int32_t kResetSpindleOverride = 183;
inline constexpr std::int32_t kToggleJog = 103;
inline constexpr std::int32_t kMachineCoordinates = 256;
inline constexpr std::int32_t kDistanceToGo = 333;
}  // namespace host_button

// Indicators, asked with GetLED.
namespace host_led {
inline constexpr std::int32_t kSafetyStop = 800;
inline constexpr std::int32_t kOutput11 = 11;  // shown on the pendant only
inline constexpr std::int32_t kMode14 = 14;
inline constexpr std::int32_t kMode15 = 15;
inline constexpr std::int32_t kMode57 = 57;
inline constexpr std::int32_t kMachineCoordinates = 16;
inline constexpr std::int32_t kDistanceToGo = 163;
inline constexpr std::int32_t kJogEnabled = 83;
// The motion gate: a move is allowed while 804 and 805 are both unlit, or 806 is lit.
inline constexpr std::int32_t kMotionGateA = 804;
inline constexpr std::int32_t kMotionGateB = 805;
inline constexpr std::int32_t kMotionOverride = 806;
}  // namespace host_led

// Read-outs, read with GetDRO and written with SetDRO.
namespace host_dro {
inline constexpr std::int32_t kSlowJogRate = 3;
inline constexpr std::int32_t kPendingMoves = 22;
inline constexpr std::int32_t kReadoutCycle = 46;
inline constexpr std::int32_t kSpindleOverride = 74;
inline constexpr std::int32_t kSpindleSpeed = 817;
inline constexpr std::int32_t kFeedRate = 818;
inline constexpr std::int32_t kFeedOverride = 821;
inline constexpr std::int32_t kStepSize = 828;
}  // namespace host_dro
