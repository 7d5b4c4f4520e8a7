// What the pendant's behaviours ask of the machine, said in the operator's terms: step or jog an
// axis, end the jog, set a value, press stop, or run a function button's action. Each
// host renders these into its own calls. Queries are asked exactly where a behaviour needs the
// answer, so a host that reads its state through calls sees the reads in the behaviours' order.
#pragma once

#include <cstdint>

// The machine's adjustable values the wheel and the function buttons work on.
enum class MachineValue : std::uint8_t {
  StepSize,  // the distance of one wheel step
  SlowJogRate,
  FeedRate,
  FeedOverride,
  SpindleSpeed,
  SpindleOverride,
};

// The EN chords: EN held with key 1, 2 or 3.
enum class ChordKey : std::uint8_t { Key1, Key2, Key3 };

// The machine's lamps that the pendant shows.
struct PendantLamps {
  bool safetyStop = false;
  bool output = false;
  bool motionHeldA = false;
  bool motionHeldB = false;
  bool motionOverride = false;
};

class Machine {
 public:
  // A new window: what a host keeps per window starts afresh.
  virtual void NewWindow() = 0;

  // Safety.
  virtual void SafetyStop() = 0;
  virtual bool SafetyStopShown() = 0;

  // Gates, asked before a move.
  virtual bool MotionAllowed() = 0;
  // Also tells the operator when it is not.
  virtual bool JogAllowed() = 0;
  // Commands the machine has not yet taken.
  virtual bool CommandsQueued() = 0;

  // Step jogging: `steps` increments of the step size, negative backward. `hold` asks for a
  // step that moves nothing yet (the axis has just changed under a busy machine).
  virtual void StepAxis(std::int32_t axis, std::int32_t steps, bool hold) = 0;
  // Steps at the slow jog rate of the axis.
  virtual void SlowStepAxis(std::int32_t axis, std::int32_t steps) = 0;

  // Continuous jogging.
  // `direction` 1: backward. `speed` in the host's jog speed units, finite.
  virtual void Jog(std::int32_t axis, std::int32_t direction, double speed) = 0;
  virtual void EndJog(std::int32_t axis) = 0;
  virtual double MaxJogSpeed(std::int32_t axis) = 0;

  // Values.
  virtual double Value(MachineValue value) = 0;
  virtual void SetValue(MachineValue value, double v) = 0;
  virtual void ResetValue(MachineValue value) = 0;

  // Function buttons F1..F5 (0..4). The configured action of the EN layer; false when the
  // configuration leaves the button to its built-in action.
  virtual bool RunConfiguredAction(int button) = 0;
  virtual void ZeroAxis(std::int32_t axis) = 0;
  virtual void GotoZeros() = 0;
  virtual void ToggleJog() = 0;
  // Tap-and-hold: the action runs from the second press to its release.
  virtual void BeginHold(int button) = 0;
  virtual void EndHold(int button) = 0;

  // Chords and screens. `alone`: key 3's chord not following key 2's.
  virtual void RunChord(ChordKey chord, bool alone) = 0;

  virtual PendantLamps Lamps() = 0;

 protected:
  ~Machine() = default;
};

// What only some hosts have. Core points to a host's implementation of each, or to none, and the
// behaviours then leave the call out.

// A host that holds steps back while it is busy and catches up afterwards.
class HostHeldSteps {
 public:
  // Once per poll before any input.
  virtual void BeforeInput() = 0;
  // A still poll of step jogging.
  virtual void StepIdle(std::int32_t axis, bool hold) = 0;
  // Steps not yet moved are dropped (a new axis, the jog inhibited).
  virtual void DropHeldSteps() = 0;
  // Whether any steps are held back now.
  virtual bool HoldsSteps() = 0;

 protected:
  ~HostHeldSteps() = default;
};

// A host that switches its own jog modes around runs of motion.
class HostJogModes {
 public:
  // A burst is a run of continuous jogs while the wheel keeps turning.
  virtual void BeginJogBurst() = 0;
  virtual void EndJogBurst() = 0;
  // A run of tap-and-hold actions, ended once the buttons have been idle a while. Every hold
  // begins the burst first.
  virtual void BeginHoldBurst() = 0;
  virtual void EndHoldBurst() = 0;
  // The wheel's function changed while `axis` was selected.
  virtual void WheelFunctionChanged(std::int32_t axis) = 0;
  // Once per poll, after the wheel.
  virtual void AfterWheel() = 0;
  // Whether AfterWheel and EndJogBurst would ask nothing of the host now.
  virtual bool AtRest() = 0;

 protected:
  ~HostJogModes() = default;
};

// A host's screens and read-out display, which the pendant can switch.
class HostDisplay {
 public:
  virtual void CycleReadout() = 0;
  virtual void ToggleScreen() = 0;
  virtual void ShowScreen(std::int32_t screen) = 0;

 protected:
  ~HostDisplay() = default;
};

// A host's own gates beyond Machine's: without them the wheel is never inhibited and every preset
// may be picked.
class HostGates {
 public:
  virtual bool JogInhibited() = 0;
  // Whether a preset of a value other than the step size may be picked now.
  virtual bool PresetsAllowed() = 0;

 protected:
  ~HostGates() = default;
};

// A host that shows the pendant's state by itself (LinuxCNC's pins) is told what it needs.
class PendantWatch {
 public:
  // Whether a pendant is connected.
  virtual void PendantPresent(bool present) = 0;
  // The safety input's level, once per decoded report.
  virtual void SafetyInputLevel(bool active) = 0;

 protected:
  ~PendantWatch() = default;
};
