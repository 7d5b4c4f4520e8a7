// EN chords and the screen key.
//
//   EN+key1   chord 1 once per hold
//   EN+key2   chord 2 once per hold; arms key2ChordFired
//   EN+key3   chord 3, alone unless key2ChordFired (which it consumes)
//   key3 alone, released with EN up, by host ticks held:
//     0..2   toggle the tab screen
//     3..19  switch to the next configured screen
//     20..   nothing
#include "input/chords.h"

#include <cstdint>

#include "core/core.h"
#include "settings/lists.h"

namespace {

constexpr std::int32_t kShortPressTicks = 3;  // below: toggle the tab screen
constexpr std::int32_t kLongPressTicks = 20;  // from here on: nothing

// Slots tried after each slot (1-based), in order.
constexpr int kNextSlots[3][2] = {{2, 3}, {3, 1}, {1, 2}};

void SwitchScreen(Core& core, ScreenSelection& screens) {
  const auto& sel = core.settings.ScreenSel;
  for (std::size_t i = 0; i < 3; ++i) {
    // An index outside the list keeps the code the slot had.
    if (sel[i] >= 0 && static_cast<std::size_t>(sel[i]) < kScreenCount)
      screens.screenCode[i] = kScreenList[static_cast<std::size_t>(sel[i])].hostCode;
  }
  if (screens.screenSlot < 1 || screens.screenSlot > 3) {
    screens.screenSlot = 1;
    return;
  }
  for (int slot : kNextSlots[screens.screenSlot - 1]) {
    if (sel[static_cast<std::size_t>(slot - 1)] != 0) {
      screens.screenSlot = slot;
      if (core.display != nullptr) core.display->ShowScreen(screens.screenCode[slot - 1]);
      return;
    }
  }
}

void ProcessScreenKey(Core& core, ChordState& s, ScreenSelection& screens, bool key3, bool en) {
  if (key3 && !en && !s.screenKeyDown) {
    core.ticks.screenKeyTicks = 0;
    s.screenKeyDown = true;
  } else if (!key3 && !en && s.screenKeyDown) {
    s.screenKeyDown = false;
    const std::int32_t held = core.ticks.screenKeyTicks;
    if (held < kShortPressTicks) {
      if (core.display != nullptr) core.display->ToggleScreen();
    } else if (held < kLongPressTicks) {
      SwitchScreen(core, screens);
    }
  }
}

}  // namespace

void ProcessChords(Core& core, ChordState& s, ScreenSelection& screens,
                   const input_report::Words& report) {
  using namespace input_report;
  Machine& machine = core.machine;
  const std::uint32_t word0 = report.word0;
  // At rest with none of the keys down (most polls), nothing below changes.
  constexpr std::uint32_t kKeys = kKey1Mask | kKey2Mask | kKey3Mask | kEnableMask;
  if ((word0 & kKeys) == 0 && !s.chordLatch[0] && !s.chordLatch[1] && !s.chordLatch[2] &&
      !s.screenKeyDown)
    return;
  const bool en = EnablePressed(word0);
  const bool key3 = Key3(word0);

  if (Key1(word0) && en) {
    if (!s.chordLatch[0]) {
      machine.RunChord(ChordKey::Key1, true);
      s.chordLatch[0] = true;
    }
  } else {
    s.chordLatch[0] = false;
  }

  if (Key2(word0) && en) {
    if (!s.chordLatch[1]) {
      machine.RunChord(ChordKey::Key2, true);
      s.chordLatch[1] = true;
      s.key2ChordFired = true;
    }
  } else {
    s.chordLatch[1] = false;
  }

  if (key3 && en) {
    if (!s.chordLatch[2]) {
      const bool alone = !s.key2ChordFired;
      s.key2ChordFired = false;
      machine.RunChord(ChordKey::Key3, alone);
      s.chordLatch[2] = true;
    }
  } else {
    s.chordLatch[2] = false;
  }

  ProcessScreenKey(core, s, screens, key3, en);
}
