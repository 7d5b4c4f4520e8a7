#include "jog/presets.h"

#include <array>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>

#include "core/core.h"
#include "text/ascii.h"

namespace {

constexpr std::int32_t kPresetCount = 9;
constexpr std::int32_t kBurstCountdownStart = 3;

// Where to read a member's nine values and where its position is kept.
struct PresetMember {
  MachineValue target;
  std::int32_t PresetState::*index;
  bool gated;               // only while the machine allows presets
  bool followsAxisReverse;  // the direction after the axis's reverse setting, not the wheel's own
  double (*value)(const Core&, std::size_t slot);
};

// Text presets count in single precision, as the host keeps them.
double StepSize(const Core& m, std::size_t i) {
  return LeadingDecimalSingle(m.settings.S[i].c_str());
}
double FeedRate(const Core& m, std::size_t i) {
  return LeadingDecimalSingle(m.settings.F[i].c_str());
}
double SlowJogRate(const Core& m, std::size_t i) {
  return m.settings.C[i];
}
double FeedOverride(const Core& m, std::size_t i) {
  return m.settings.Fp[i];
}
double SpindleOverride(const Core& m, std::size_t i) {
  return m.settings.Sp[i];
}
double SpindleSpeed(const Core& m, std::size_t i) {
  return m.settings.Spd[i];
}

constexpr PresetMember kStepSizes{MachineValue::StepSize, &PresetState::stepPresetIndex, false,
                                  false, StepSize};
constexpr PresetMember kSlowJogRates{MachineValue::SlowJogRate, &PresetState::slowJogPresetIndex,
                                     true, false, SlowJogRate};
constexpr PresetMember kFeedOverrides{
    MachineValue::FeedOverride, &PresetState::feedOverridePresetIndex, true, false, FeedOverride};
constexpr PresetMember kFeedRates{MachineValue::FeedRate, &PresetState::feedRatePresetIndex, true,
                                  true, FeedRate};
constexpr PresetMember kSpindleOverrides{
    MachineValue::SpindleOverride, &PresetState::spindlePresetIndex, true, false, SpindleOverride};
constexpr PresetMember kSpindleSpeeds{MachineValue::SpindleSpeed, &PresetState::spindlePresetIndex,
                                      true, false, SpindleSpeed};

const PresetMember* MemberFor(const Core& core, WheelFunction function) {
  switch (function) {
    case WheelFunction::StepSizePresets:
      return &kStepSizes;
    case WheelFunction::SlowJogRatePresets:
      return &kSlowJogRates;
    case WheelFunction::FeedPresets:
      return core.settings.UseFRO != 0 ? &kFeedRates : &kFeedOverrides;
    case WheelFunction::SpindlePresets:
      return core.settings.UseSOV != 0 ? &kSpindleSpeeds : &kSpindleOverrides;
    default:
      return nullptr;
  }
}

// One flick: the next nonzero preset in the turning direction, never the current one again.
void StepPreset(Core& core, PresetState& state, const PresetMember& member, bool down) {
  std::int32_t& index = state.*member.index;
  if (index < 1 || index > kPresetCount) {
    index = 1;
    return;
  }
  std::int32_t candidate = index;
  for (std::int32_t looked = 1; looked < kPresetCount; ++looked) {
    candidate = down ? (candidate == 1 ? kPresetCount : candidate - 1)
                     : (candidate == kPresetCount ? 1 : candidate + 1);
    const double value = member.value(core, static_cast<std::size_t>(candidate - 1));
    if (value != 0.0) {
      index = candidate;
      core.machine.SetValue(member.target, value);
      return;
    }
  }
}

}  // namespace

double LeadingDecimal(const char* text) {
  if (text == nullptr) return 0.0;
  const char* p = text;
  while (ascii::IsSpace(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  // Only a plain decimal counts: no "inf", "nan" or hexadecimal forms.
  if (!ascii::IsDigit(*p) && !(*p == '.' && ascii::IsDigit(p[1]))) return 0.0;
  double value = 0.0;
  const char* end = p + std::strlen(p);
  const auto result = std::from_chars(p, end, value, std::chars_format::general);
  // Beyond double's range either way (too small or too large): no usable preset.
  if (result.ec != std::errc{}) return 0.0;
  return negative ? -value : value;
}

float LeadingDecimalSingle(const char* text) {
  const double value = LeadingDecimal(text);
  if (!std::isfinite(value) || std::abs(value) > static_cast<double>(FLT_MAX)) return 0.0f;
  return static_cast<float>(value);
}

bool RunPresetFunction(Core& core, PresetState& state, WheelFunction function,
                       const WheelTurn& turn) {
  const PresetMember* member = MemberFor(core, function);
  if (member == nullptr) return false;

  const bool wheelMoving = turn.speed != 0;
  if (wheelMoving) core.ticks.jogActiveCountdown = kBurstCountdownStart;
  const bool flickStarts = wheelMoving && !state.wheelMovingBefore;
  // A rest ends the flick whatever else holds now (the burst over, presets barred), or the next
  // flick would be taken for this one.
  if (!wheelMoving) state.wheelMovingBefore = false;
  if (core.ticks.jogActiveCountdown == 0) return true;
  if (member->gated && core.gates != nullptr && !core.gates->PresetsAllowed()) return true;
  if (flickStarts) {
    const bool down = (member->followsAxisReverse ? turn.direction : turn.rawDirection) != 0;
    StepPreset(core, state, *member, down);
  }
  state.wheelMovingBefore = wheelMoving;
  return true;
}
