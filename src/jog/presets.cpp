#include "jog/presets.h"

#include <array>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>

#include "host/module.h"
#include "jog/wheel_rules.h"
#include "link/shuttle_win.h"

namespace {

constexpr std::int32_t kPresetCount = 9;
constexpr std::int32_t kBurstCountdownStart = 3;

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Where to read a member's nine values and where its position is kept.
struct PresetMember {
  std::int32_t readout;
  std::int32_t ShuttleWin::*index;
  bool gated;               // host indicators 804 and 805 must both be unlit
  bool followsAxisReverse;  // wheelDirection rather than rawWheelDirection
  // Refreshes text presets into their single-precision values; null for integer presets.
  void (*refresh)(const Module&, ShuttleWin&);
  double (*value)(const Module&, const ShuttleWin&, std::int32_t slot);
};

template <std::size_t N>
void ConvertTexts(const std::array<std::string, N>& texts, float (&values)[N]) {
  for (std::size_t i = 0; i < N; ++i) values[i] = LeadingDecimalSingle(texts[i].c_str());
}

void RefreshStepSizes(const Module& m, ShuttleWin& w) {
  ConvertTexts(m.settings.S, w.stepPresetValues);
}
void RefreshFeedRates(const Module& m, ShuttleWin& w) {
  ConvertTexts(m.settings.F, w.feedRatePresetValues);
}
double StepSize(const Module&, const ShuttleWin& w, std::int32_t i) {
  return w.stepPresetValues[i];
}
double FeedRate(const Module&, const ShuttleWin& w, std::int32_t i) {
  return w.feedRatePresetValues[i];
}
double SlowJogRate(const Module& m, const ShuttleWin&, std::int32_t i) {
  return m.settings.C[static_cast<std::size_t>(i)];
}
double FeedOverride(const Module& m, const ShuttleWin&, std::int32_t i) {
  return m.settings.Fp[static_cast<std::size_t>(i)];
}
double SpindleOverride(const Module& m, const ShuttleWin&, std::int32_t i) {
  return m.settings.Sp[static_cast<std::size_t>(i)];
}
double SpindleSpeed(const Module& m, const ShuttleWin&, std::int32_t i) {
  return m.settings.Spd[static_cast<std::size_t>(i)];
}

const PresetMember kStepSizes{
    kDroStepSize, &ShuttleWin::stepPresetIndex, false, false, RefreshStepSizes, StepSize};
const PresetMember kSlowJogRates{
    kDroSlowJogRate, &ShuttleWin::slowJogPresetIndex, true, false, nullptr, SlowJogRate};
const PresetMember kFeedOverrides{
    kDroFeedOverride, &ShuttleWin::feedOverridePresetIndex, true, false, nullptr, FeedOverride};
const PresetMember kFeedRates{
    kDroFeedRate, &ShuttleWin::feedRatePresetIndex, true, true, RefreshFeedRates, FeedRate};
const PresetMember kSpindleOverrides{
    kDroSpindleOverride, &ShuttleWin::spindlePresetIndex, true, false, nullptr, SpindleOverride};
const PresetMember kSpindleSpeeds{
    kDroSpindleSpeed, &ShuttleWin::spindlePresetIndex, true, false, nullptr, SpindleSpeed};

const PresetMember* MemberFor(const Module& module, std::int32_t wheelFunction) {
  switch (wheelFunction) {
    case 12:
      return &kStepSizes;
    case 14:
      return &kSlowJogRates;
    case 15:
      return module.settings.UseFRO != 0 ? &kFeedRates : &kFeedOverrides;
    case 16:
      return module.settings.UseSOV != 0 ? &kSpindleSpeeds : &kSpindleOverrides;
    default:
      return nullptr;
  }
}

// One flick: the next nonzero preset in the turning direction, never the current one again.
void StepPreset(Module& module, ShuttleWin& win, const PresetMember& member, bool down) {
  std::int32_t& index = win.*member.index;
  if (index < 1 || index > kPresetCount) {
    index = 1;
    return;
  }
  std::int32_t candidate = index;
  for (std::int32_t looked = 1; looked < kPresetCount; ++looked) {
    candidate = down ? (candidate == 1 ? kPresetCount : candidate - 1)
                     : (candidate == kPresetCount ? 1 : candidate + 1);
    const double value = member.value(module, win, candidate - 1);
    if (value != 0.0) {
      index = candidate;
      module.host.SetDRO(member.readout, value);
      return;
    }
  }
}

}  // namespace

double LeadingDecimal(const char* text) {
  if (text == nullptr) return 0.0;
  const char* p = text;
  while (IsBlank(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  // Only a plain decimal counts: no "inf", "nan" or hexadecimal forms.
  if (!IsDigit(*p) && !(*p == '.' && IsDigit(p[1]))) return 0.0;
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

bool RunPresetFunction(Module& module, ShuttleWin& win, std::int32_t wheelFunction,
                       std::int32_t direction) {
  const PresetMember* member = MemberFor(module, wheelFunction);
  if (member == nullptr) return false;
  if (member->refresh != nullptr) member->refresh(module, win);

  win.wheelSpeed = WheelSpeedByte(win);
  win.wheelMoving = win.wheelSpeed != 0 ? 1 : 0;
  if (win.wheelSpeed != 0) module.ticks.jogActiveCountdown = kBurstCountdownStart;
  if (module.ticks.jogActiveCountdown == 0) return true;
  if (member->gated && (module.host.GetLED(kLedMotionGateA) || module.host.GetLED(kLedMotionGateB)))
    return true;
  if (win.wheelMoving == 1 && win.wheelMovingBefore == 0) {
    const bool down = (member->followsAxisReverse ? direction : module.rawWheelDirection) != 0;
    StepPreset(module, win, *member, down);
  }
  win.wheelMovingBefore = win.wheelMoving;
  return true;
}
