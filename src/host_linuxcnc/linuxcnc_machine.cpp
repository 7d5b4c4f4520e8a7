#include "host_linuxcnc/linuxcnc_machine.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "core/axes.h"
#include "core/saturating_add.h"
#include "jog/presets.h"
#include "settings/pendant_settings.h"

namespace {

// halui's status pins refresh about every 100 ms; an override it never shows (another program
// set it meanwhile, or it clamped) is taken as shown after this.
constexpr std::uint64_t kKnobAwaitUs = 500000;
// Counts of a tenth of a percent: the knob's half-percent steps survive the rounding both ways.
constexpr double kKnobCountsPerPercent = 10.0;
constexpr double kKnobScale = 0.001;
// halui shows a started MDI command as a running program within a status refresh or two.
constexpr std::uint64_t kActionStartUs = 250000;
// Motion travels every count it is given at the axis's speed: the wheel's counts may keep the
// axis going at most this long after the hand stopped.
constexpr std::uint64_t kWheelBacklogUs = 500000;

bool ValidButton(int button) {
  return button >= 0 && button < kFunctionButtonCount;
}

}  // namespace

void LinuxcncMachine::Start() {
  stepSize_ = 0.0;
  for (const std::string& text : settings_.S) {
    const double v = LeadingDecimalSingle(text.c_str());
    if (v != 0.0) {
      stepSize_ = v;
      break;
    }
  }
  pins_.stepSize = stepSize_;
  pins_.slowJogRate = slowJogRate_;
  for (JogAxisPins& axis : pins_.axis) axis.jogScale = stepSize_;
}

void LinuxcncMachine::NewWindow() {
  for (JogAxisPins& axis : pins_.axis)
    axis.jogPlus = axis.jogMinus = axis.jointPlus = axis.jointMinus = false;
}

void LinuxcncMachine::Publish(bool connected, bool safetyLatched) {
  // The asked stop stands until the machine shows it, or for one pulse: an input pressed and let
  // go within one poll still stops the machine.
  if (stopAsked_ && (pins_.estopIsActivated || nowUs_ >= stopEndUs_)) stopAsked_ = false;
  pins_.estop = !connected || safetyLatched || stopAsked_;
  pins_.connected = connected;
  for (int a = 0; a < kActionCount; ++a) {
    if (pins_.action[a] && nowUs_ >= actionEndUs_[a]) pins_.action[a] = false;
  }
  if (ownActionRunning_ && nowUs_ - ownActionSinceUs_ >= kActionStartUs && !pins_.coordMode &&
      !pins_.programIsRunning)
    ownActionRunning_ = false;
  for (JogAxisPins& axis : pins_.axis) {
    axis.jogEnable = jogOn_ && connected;
    if (!connected) axis.jogPlus = axis.jogMinus = axis.jointPlus = axis.jointMinus = false;
  }
  if (!connected) {
    for (bool& held : pins_.hold) held = false;
  }
}

void LinuxcncMachine::SafetyStop() {
  stopAsked_ = true;
  stopEndUs_ = nowUs_ + config_.actionHoldUs;
}

void LinuxcncMachine::AddCounts(int axis, std::int32_t steps) {
  // A running total that wraps as motion's own s32 difference does.
  JogAxisPins& pins = pins_.axis[axis];
  pins.jogCounts = static_cast<std::int32_t>(static_cast<std::uint32_t>(pins.jogCounts) +
                                             static_cast<std::uint32_t>(steps));
}

void LinuxcncMachine::StepAxis(std::int32_t axis, std::int32_t steps, bool hold) {
  if (hold || !ValidAxis(axis) || steps == 0) return;
  pins_.axis[axis].jogScale = stepSize_;
  pins_.axis[axis].jogEnable = jogOn_;
  // Motion drops counts while it runs coordinated moves; so does the pendant, rather than have
  // them move the axis later, when nobody expects it.
  if (pins_.coordMode) return;
  AddCounts(axis, BoundBacklog(axis, steps));
}

std::int32_t LinuxcncMachine::BoundBacklog(int axis, std::int32_t steps) {
  const double speed = config_.maxJogSpeed[axis] / 60.0;  // units per second
  double& backlog = backlog_[axis];
  const double elapsed = static_cast<double>(nowUs_ - backlogAtUs_[axis]) / 1e6;
  backlogAtUs_[axis] = nowUs_;
  const double travelled = std::min(std::abs(backlog), speed * elapsed);
  backlog -= std::copysign(travelled, backlog);
  // Without a speed or a step size there is nothing to bound by.
  if (!(speed > 0.0) || !(stepSize_ > 0.0)) return steps;
  const double limit = speed * static_cast<double>(kWheelBacklogUs) / 1e6;
  // Counts against the backlog's way shorten it: they are always taken.
  const double room = std::max(0.0, limit - (steps > 0 ? backlog : -backlog));
  const auto fits = static_cast<std::int32_t>(std::floor(room / stepSize_ + 1e-9));
  const std::int32_t taken = steps > 0 ? std::min(steps, fits) : std::max(steps, -fits);
  backlog += static_cast<double>(taken) * stepSize_;
  pins_.droppedCounts = SaturatingAdd(pins_.droppedCounts, std::abs(steps - taken));
  return taken;
}

void LinuxcncMachine::Jog(std::int32_t axis, std::int32_t direction, double speed) {
  if (!ValidAxis(axis)) return;
  pins_.jogSpeed = std::isfinite(speed) && speed > 0.0 ? speed : 0.0;
  JogAxisPins& pins = pins_.axis[axis];
  // halui jogs an axis only once the machine is homed (world mode); before that, its joint.
  const bool world = pins_.isHomed;
  pins.jogPlus = world && direction == 0;
  pins.jogMinus = world && direction != 0;
  pins.jointPlus = !world && direction == 0;
  pins.jointMinus = !world && direction != 0;
}

void LinuxcncMachine::EndJog(std::int32_t axis) {
  if (!ValidAxis(axis)) return;
  JogAxisPins& pins = pins_.axis[axis];
  pins.jogPlus = pins.jogMinus = pins.jointPlus = pins.jointMinus = false;
}

double LinuxcncMachine::MaxJogSpeed(std::int32_t axis) {
  return ValidAxis(axis) ? config_.maxJogSpeed[axis] : 0.0;
}

double LinuxcncMachine::KnobValue(const OverridePins& pins, KnobRequest& request) const {
  const double shown = pins.value * 100.0;
  if (request.awaiting &&
      (std::abs(shown - request.percent) < 1e-6 || nowUs_ - request.sinceUs >= kKnobAwaitUs))
    request.awaiting = false;
  return request.awaiting ? request.percent : shown;
}

void LinuxcncMachine::SetKnob(OverridePins& pins, KnobRequest& request, double percent, double lo,
                              double hi) {
  if (!std::isfinite(percent)) return;
  percent = std::clamp(percent, lo, hi);
  auto counts = static_cast<std::int32_t>(std::lround(percent * kKnobCountsPerPercent));
  double scale = kKnobScale;
  // halui applies a direct value when the counts change: the same value asked again (after
  // another program moved the override) goes as twice the counts at half the scale.
  if (counts == pins.counts) {
    counts *= 2;
    scale /= 2.0;
  }
  pins.scale = scale;
  pins.directValue = true;
  pins.countEnable = true;
  pins.counts = counts;
  request.percent = static_cast<double>(counts) * scale * 100.0;
  request.awaiting = true;
  request.sinceUs = nowUs_;
}

double LinuxcncMachine::Value(MachineValue value) {
  switch (value) {
    case MachineValue::StepSize:
      return stepSize_;
    case MachineValue::SlowJogRate:
      return slowJogRate_;
    case MachineValue::FeedRate:
      return pins_.feedRate;
    case MachineValue::FeedOverride:
      return KnobValue(pins_.feedOverride, feedRequest_);
    case MachineValue::SpindleSpeed:
      return pins_.spindleSpeed;
    case MachineValue::SpindleOverride:
      return KnobValue(pins_.spindleOverride, spindleRequest_);
  }
  return 0.0;
}

void LinuxcncMachine::SetValue(MachineValue value, double v) {
  switch (value) {
    case MachineValue::StepSize:
      stepSize_ = v;
      pins_.stepSize = v;
      break;
    case MachineValue::SlowJogRate:
      slowJogRate_ = v;
      pins_.slowJogRate = v;
      break;
    case MachineValue::FeedRate:
      pins_.feedRate = v;
      break;
    case MachineValue::FeedOverride:
      SetKnob(pins_.feedOverride, feedRequest_, v, 0.0, config_.feedOverrideMax);
      break;
    case MachineValue::SpindleSpeed:
      pins_.spindleSpeed = v;
      break;
    case MachineValue::SpindleOverride:
      SetKnob(pins_.spindleOverride, spindleRequest_, v, config_.spindleOverrideMin,
              config_.spindleOverrideMax);
      break;
  }
}

void LinuxcncMachine::ResetValue(MachineValue value) {
  switch (value) {
    case MachineValue::SlowJogRate:
    case MachineValue::FeedOverride:
    case MachineValue::SpindleOverride:
      SetValue(value, 100.0);
      break;
    case MachineValue::StepSize:
    case MachineValue::FeedRate:
    case MachineValue::SpindleSpeed:
      break;
  }
}

void LinuxcncMachine::Pulse(PendantAction action) {
  const auto a = static_cast<int>(action);
  pins_.action[a] = true;
  actionEndUs_[a] = nowUs_ + config_.actionHoldUs;
  // The zeroing and going-to-zero actions run as MDI commands.
  if (action <= PendantAction::GotoZero) {
    ownActionRunning_ = true;
    ownActionSinceUs_ = nowUs_;
  }
}

bool LinuxcncMachine::RunConfiguredAction(int button) {
  if (!ValidButton(button)) return true;
  const std::int8_t action = config_.buttonAction[button];
  if (action == kBuiltInAction) return false;
  if (action >= 0 && action < kActionCount) Pulse(static_cast<PendantAction>(action));
  return true;
}

void LinuxcncMachine::ZeroAxis(std::int32_t axis) {
  // X, Y, Z and A have a zero action.
  if (axis >= 0 && axis <= 3)
    Pulse(static_cast<PendantAction>(static_cast<int>(PendantAction::ZeroX) + axis));
}

void LinuxcncMachine::BeginHold(int button) {
  if (ValidButton(button)) pins_.hold[button] = true;
}

void LinuxcncMachine::EndHold(int button) {
  if (ValidButton(button)) pins_.hold[button] = false;
}

void LinuxcncMachine::RunChord(ChordKey chord, bool /*alone*/) {
  switch (chord) {
    case ChordKey::Key1:
      Pulse(PendantAction::Chord1);
      break;
    case ChordKey::Key2:
      Pulse(PendantAction::Chord2);
      break;
    case ChordKey::Key3:
      Pulse(PendantAction::Chord3);
      break;
  }
}

// The output report's lamps: E-stop, machine on, and the motion field while a program runs.
PendantLamps LinuxcncMachine::Lamps() {
  PendantLamps lamps;
  lamps.safetyStop = pins_.estopIsActivated;
  lamps.output = pins_.machineIsOn;
  lamps.motionHeldA = pins_.programIsRunning;
  return lamps;
}
