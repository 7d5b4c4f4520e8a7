#pragma once

struct Module;
class ShuttleWin;

struct ChordState {
  bool chordLatch[3] = {false, false, false};
  bool key2ChordFired = false;
  bool screenKeyDown = false;
};

// EN chords and the screen key; second step of the input chain.
void ProcessChords(Module& module, ShuttleWin& win);
