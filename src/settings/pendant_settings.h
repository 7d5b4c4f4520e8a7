// The one record of every user setting, named after the profile keys. Arrays hold the numbered
// keys: S[0] is `S1`, BUTTON[0] is `BUTTON0` (F1), OEM[0] is `OEM1`, ScreenSel[0] is `ScreenSel1`.
// Before the first load every number is 0 and every text empty.
#pragma once

#include <array>
#include <cstdint>
#include <string>

struct PendantSettings {
  std::array<std::int16_t, 5> BUTTON{};  // index into the button action list, 0 = NONE
  std::int16_t Vel = 0;                  // index into the velocity divisor list
  std::array<std::int16_t, 4> Macro{};
  std::array<std::int16_t, 4> OEM{};
  std::int32_t StepJogRate = 0;
  std::int32_t DelaySteps = 0;
  std::int16_t SlowDownRate = 0;            // index into the slow-down divisor list
  std::array<std::int16_t, 3> ScreenSel{};  // index into the screen list, 0 = slot skipped
  std::array<std::string, 9> S;             // step sizes, as typed
  std::array<std::int32_t, 9> Fp{};         // feed override presets, percent
  std::array<std::string, 9> F;             // feed rate presets, as typed
  std::array<std::int32_t, 9> C{};          // slow jog rate presets, percent
  std::array<std::int32_t, 9> Sp{};         // spindle override presets, percent
  std::array<std::int32_t, 9> Spd{};        // spindle speed presets, RPM
  std::uint8_t Xreverse = 0, Yreverse = 0, Zreverse = 0;
  std::uint8_t SelectAAxis = 0, SelectBAxis = 0, SelectCAxis = 0;
  std::uint8_t UseFRO = 0;  // 0: Fp1..Fp9, 1: F1..F9
  std::uint8_t UseSOV = 0;  // 0: Sp1..Sp9, 1: Spd1..Spd9

  bool operator==(const PendantSettings&) const = default;
};
