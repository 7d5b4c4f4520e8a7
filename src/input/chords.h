#pragma once

#include <cstdint>

#include "input/input_report.h"

struct Core;

struct ChordState {
  bool chordLatch[3] = {false, false, false};
  bool key2ChordFired = false;
  bool screenKeyDown = false;
};

// The screens the screen key cycles through; a new window starts again at slot 1.
struct ScreenSelection {
  std::int32_t screenCode[3] = {0, 0, 0};
  std::int32_t screenSlot = 1;
};

// EN chords and the screen key; second step of the input chain.
void ProcessChords(Core& core, ChordState& state, ScreenSelection& screens,
                   const input_report::Words& report);
