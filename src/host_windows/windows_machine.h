// The Windows host's rendering of the pendant's requests: host buttons, read-outs, indicators,
// command lines and the data blocks' jog records. The rules that exist only because of this host
// live here: its queue-depth gate and the catch-up of held steps, the feed values saved around a
// step burst, the "G90" after a relative line, the rotated X/Y plane, the jog-mode switch around
// a continuous jog and around a tap-and-hold burst.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "core/machine.h"
#include "jog/command_line.h"

struct Core;
class HostBridge;
class WindowsPlatform;

// Step lines: what a window keeps between polls. A new window starts afresh.
struct StepJogState {
  std::int32_t pendingSteps = 0;  // held back while the host's queue is full
  // The feed values of the first step of a burst, written back when it ends.
  double savedFeedRate = 0.0;
  double savedFeedOverride = 0.0;
  bool savedValid = false;
  bool feedOverrideForced = false;  // the burst set read-out 821 to 100, so restore it
  // The host was in absolute mode when last idle: each step line is followed by "G90".
  bool restoreAbsolute = true;
  // What the four-decimal rounding of the rotated lines has left out so far, carried into the
  // next line while the axis and the rotation stay the same, so that small steps add up.
  double rotatedCarryX = 0.0;
  double rotatedCarryY = 0.0;
  std::int32_t rotatedCarryAxis = -1;
  double rotatedCarryDegrees = 0.0;
};

// The host mode lit when a burst of tap-and-hold actions began, restored at its end.
enum class BurstMode : std::uint8_t {
  NotCaptured,  // no burst running
  NoneLit,
  Led14,
  Led15,
  Led57,
};

class WindowsMachine final : public Machine,
                             public HostHeldSteps,
                             public HostJogModes,
                             public HostDisplay,
                             public HostGates {
 public:
  WindowsMachine(Core& core, HostBridge& host, WindowsPlatform& platform)
      : core_(core), host_(host), platform_(platform) {}

  void NewWindow() override;

  void SafetyStop() override;
  bool SafetyStopShown() override;

  bool MotionAllowed() override;
  bool JogAllowed() override;
  bool JogInhibited() override;
  bool PresetsAllowed() override;
  bool CommandsQueued() override;

  void StepAxis(std::int32_t axis, std::int32_t steps, bool hold) override;
  void StepIdle(std::int32_t axis, bool hold) override;
  void SlowStepAxis(std::int32_t axis, std::int32_t steps) override;
  void DropHeldSteps() override;
  bool HoldsSteps() override { return stepJog.pendingSteps != 0; }
  void BeforeInput() override;
  void AfterWheel() override;
  // No feed values wait to go back, no jog mode to switch back.
  bool AtRest() override { return !stepJog.savedValid && !hostJogModeSwitched; }

  void BeginJogBurst() override;
  void EndJogBurst() override;
  void Jog(std::int32_t axis, std::int32_t direction, double speed) override;
  void EndJog(std::int32_t axis) override;
  double MaxJogSpeed(std::int32_t axis) override;

  double Value(MachineValue value) override;
  void SetValue(MachineValue value, double v) override;
  void ResetValue(MachineValue value) override;

  void WheelFunctionChanged(std::int32_t axis) override;

  bool RunConfiguredAction(int button) override;
  void ZeroAxis(std::int32_t axis) override;
  void GotoZeros() override;
  void ToggleJog() override;
  void CycleReadout() override;
  void BeginHoldBurst() override;
  void BeginHold(int button) override;
  void EndHold(int button) override;
  void EndHoldBurst() override;

  void RunChord(ChordKey chord, bool alone) override;
  void ToggleScreen() override;
  void ShowScreen(std::int32_t screen) override;

  PendantLamps Lamps() override;

  // The feed values saved around a step burst go back now (the plug-in stops before the burst's
  // end would restore them).
  void RestoreFeedValues();

  // Per window.
  StepJogState stepJog;
  bool hostJogModeSwitched = false;  // the jog burst pressed 204 and must press 205 at its end
  // Module-wide, as the function buttons' latches are.
  BurstMode burstMode = BurstMode::NotCaptured;
  bool modeSelectSent = false;

 private:
  void SaveFeedValues();
  void SendStepLine(bool hold, const char* format, std::initializer_list<LineArg> args);
  bool RotatedAxis(std::int32_t axis) const;
  void SendRotatedStep(std::int32_t axis, double distance, bool hold);
  bool PendingMovesAllowSend() const;
  void SendCatchUpLine(std::int32_t axis, bool hold, double distance);
  void CaptureHostMode();
  // Replaces the host's status message text.
  void ShowStatus(const char* text);

  Core& core_;
  HostBridge& host_;
  WindowsPlatform& platform_;
  // The last step line: the next one is the same while the wheel turns steadily.
  CommandLine stepLine_;
};
