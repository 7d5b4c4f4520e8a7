// Rules every wheel function shares: axis letters, the motion gate, the jog-enabled check, ending
// a continuous jog, saving the feed values for the restore after a step burst, and sending a
// relative move with its "G90".
#pragma once

#include <cstdint>
#include <initializer_list>

#include "jog/command_line.h"

struct Module;
class ShuttleWin;

inline constexpr const char* kAbsoluteModeLine = "G90";
inline constexpr const char* kStartJogLine = "DOJOG";
inline constexpr const char* kEndJogLine = "ENDJOG";
inline constexpr const char* kJogOffText = " Jog OFF. ";

inline constexpr std::int32_t kLedJogEnabled = 83;
inline constexpr std::int32_t kLedMotionGateA = 804;
inline constexpr std::int32_t kLedMotionGateB = 805;
inline constexpr std::int32_t kLedMotionOverride = 806;

inline constexpr std::int32_t kDroSlowJogRate = 3;
inline constexpr std::int32_t kDroPendingMoves = 22;
inline constexpr std::int32_t kDroSpindleOverride = 74;
inline constexpr std::int32_t kDroSpindleSpeed = 817;
inline constexpr std::int32_t kDroFeedRate = 818;
inline constexpr std::int32_t kDroFeedOverride = 821;
inline constexpr std::int32_t kDroStepSize = 828;

inline constexpr std::int32_t kButtonJogModeEnter = 204;
inline constexpr std::int32_t kButtonJogModeLeave = 205;

// "X".."C" for selectedAxis 0..5; nullptr for any other value, so no line is built for it.
const char* AxisLetter(std::int32_t axis);

// Wheel speed byte of the report decoded this poll.
std::int32_t WheelSpeedByte(const ShuttleWin& win);

// (804 and 805 both unlit) or 806 lit; 805 and 806 are asked only when needed.
bool MotionGateAllows(const Module& module);

// Indicator 83 lit; otherwise shows " Jog OFF. " and returns false.
bool JogEnabled(Module& module);

// stopRequest of the selected axis's jog record, then "ENDJOG".
void EndContinuousJog(Module& module, const ShuttleWin& win);

// Keeps the feed values of the first step of a burst and re-arms the restore countdown.
void SaveFeedValues(Module& module, ShuttleWin& win);

// Builds a relative move line, submits it unless `hold`, then sends "G90" when restoreAbsolute is
// set. A line that cannot be written in full sends nothing, not even the "G90".
void SendStepLine(Module& module, const ShuttleWin& win, bool hold, const char* format,
                  std::initializer_list<LineArg> args);
