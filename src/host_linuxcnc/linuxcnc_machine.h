// LinuxCNC's rendering of the pendant's requests, into plain pin values (PendantPins):
//   steps       the axis's jog-counts running total, scale = the step size; dropped while motion
//               runs coordinated moves (as motion itself drops them), and beyond what the axis can
//               travel within kWheelBacklogUs at its speed
//   jogs        jog-plus/-minus of the axis through halui, at jog-speed (units per minute); of the
//               joint of the same number before homing
//   overrides   halui's direct value: counts x scale is the fraction
//   E-stop      true while the safety input is active or no pendant is there
//   actions     action.NAME pins, held long enough for halui's poll to see them
// Everything LinuxCNC has no counterpart for is either a pin the integrator may wire or nothing.
#pragma once

#include <cstdint>

#include "core/machine.h"
#include "host_linuxcnc/pendant_pins.h"

struct PendantSettings;

// What a function button does with EN held.
inline constexpr std::int8_t kBuiltInAction = -1;  // the pendant's own (zero the axis, ...)
inline constexpr std::int8_t kNoAction = -2;       // configured empty

// What the component reads from the INI beside the profile-style settings.
struct LinuxcncConfig {
  double maxJogSpeed[kPinAxisCount] = {};  // units per minute
  std::int8_t buttonAction[kFunctionButtonCount] = {kBuiltInAction, kBuiltInAction, kBuiltInAction,
                                                    kBuiltInAction, kBuiltInAction};
  // halui clamps the overrides to these (percent); the rendering clamps first, so what it asked
  // for is what halui shows back.
  double feedOverrideMax = 250.0;
  double spindleOverrideMin = 0.0;
  double spindleOverrideMax = 250.0;
  // halui looks at its inputs about every 50 ms: a pulse shorter than that may be missed.
  std::uint32_t actionHoldUs = 75000;
};

class LinuxcncMachine final : public Machine, public PendantWatch {
 public:
  LinuxcncMachine(PendantPins& pins, const LinuxcncConfig& config, const PendantSettings& settings)
      : pins_(pins), config_(config), settings_(settings) {}

  // The step size starts at the first nonzero preset; the slow jog rate at 100 %.
  void Start();
  // Before each poll or device event: the time pulses and waits are measured by.
  void SetTime(std::uint64_t nowUs) { nowUs_ = nowUs; }
  // After it: E-stop, connection, ended pulses, jog enables.
  void Publish(bool connected, bool safetyLatched);
  // The same for the pendant's state as the link last told it.
  void Publish() { Publish(present_, safetyActive_); }

  void PendantPresent(bool present) override { present_ = present; }
  void SafetyInputLevel(bool active) override { safetyActive_ = active; }

  void NewWindow() override;

  void SafetyStop() override;
  bool SafetyStopShown() override { return pins_.estopIsActivated; }

  // A program or MDI command started elsewhere keeps the wheel off. During one of the pendant's
  // own MDI actions the wheel stays on, but StepAxis drops its counts while motion cannot jog.
  bool MotionAllowed() override { return !pins_.programIsRunning || ownActionRunning_; }
  bool JogAllowed() override { return jogOn_; }
  bool CommandsQueued() override { return pins_.coordMode; }

  void StepAxis(std::int32_t axis, std::int32_t steps, bool hold) override;
  // Counts move at the axis's own speed: there is no slower feed for them.
  void SlowStepAxis(std::int32_t axis, std::int32_t steps) override {
    StepAxis(axis, steps, false);
  }

  void Jog(std::int32_t axis, std::int32_t direction, double speed) override;
  void EndJog(std::int32_t axis) override;
  double MaxJogSpeed(std::int32_t axis) override;

  double Value(MachineValue value) override;
  void SetValue(MachineValue value, double v) override;
  void ResetValue(MachineValue value) override;

  bool RunConfiguredAction(int button) override;
  void ZeroAxis(std::int32_t axis) override;
  void GotoZeros() override { Pulse(PendantAction::GotoZero); }
  void ToggleJog() override { jogOn_ = !jogOn_; }
  void BeginHold(int button) override;
  void EndHold(int button) override;

  void RunChord(ChordKey chord, bool alone) override;

  PendantLamps Lamps() override;

  bool JogOn() const { return jogOn_; }

 private:
  // What the rendering asked an override to be, until halui shows it (its status lags).
  struct KnobRequest {
    double percent = 0.0;
    bool awaiting = false;
    std::uint64_t sinceUs = 0;
  };

  void Pulse(PendantAction action);
  // The steps of `steps` that the axis can travel within kWheelBacklogUs; the rest are counted
  // as dropped.
  std::int32_t BoundBacklog(int axis, std::int32_t steps);
  void AddCounts(int axis, std::int32_t steps);
  double KnobValue(const OverridePins& pins, KnobRequest& request) const;
  void SetKnob(OverridePins& pins, KnobRequest& request, double percent, double lo, double hi);

  PendantPins& pins_;
  const LinuxcncConfig& config_;
  const PendantSettings& settings_;
  std::uint64_t nowUs_ = 0;
  bool jogOn_ = true;
  // What the link last told of the pendant.
  bool present_ = false;
  bool safetyActive_ = false;
  double stepSize_ = 0.0;
  double slowJogRate_ = 100.0;
  // What the axis is still travelling of the counts passed on, in units (signed), as of
  // backlogAtUs_[axis], taking it to travel at its maximum speed.
  double backlog_[kPinAxisCount] = {};
  std::uint64_t backlogAtUs_[kPinAxisCount] = {};
  std::uint64_t actionEndUs_[kActionCount] = {};
  // From an MDI action's pulse until motion is back from it.
  bool ownActionRunning_ = false;
  std::uint64_t ownActionSinceUs_ = 0;
  bool stopAsked_ = false;
  std::uint64_t stopEndUs_ = 0;
  KnobRequest feedRequest_;
  KnobRequest spindleRequest_;
};
