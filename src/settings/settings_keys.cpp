#include "settings/settings_keys.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <tuple>
#include <type_traits>
#include <utility>

#include "text/ascii.h"

namespace {

// Cuts to the low 16 bits in two's complement without relying on implementation-defined casts.
std::int16_t LowSixteen(std::int32_t value) {
  const auto low = static_cast<std::uint16_t>(static_cast<std::uint32_t>(value) & 0xFFFFu);
  return static_cast<std::int16_t>(low >= 0x8000u ? static_cast<std::int32_t>(low) - 0x10000
                                                  : static_cast<std::int32_t>(low));
}

template <typename T>
void Store(T& field, std::int32_t value) {
  if constexpr (std::is_same_v<T, std::int16_t>) {
    field = LowSixteen(value);
  } else if constexpr (std::is_same_v<T, std::uint8_t>) {
    field = value != 0 ? 1 : 0;
  } else {
    field = value;
  }
}

template <typename T>
constexpr SettingType TypeOf() {
  if constexpr (std::is_same_v<T, std::int16_t>) return SettingType::Int16;
  if constexpr (std::is_same_v<T, std::uint8_t>) return SettingType::Bool;
  return SettingType::Int32;
}

// A plain number field.
template <auto Member>
SettingKey Number(const char* key, std::int32_t defaultValue) {
  using T = std::remove_cvref_t<decltype(std::declval<PendantSettings&>().*Member)>;
  return {key,
          TypeOf<T>(),
          defaultValue,
          nullptr,
          [](const PendantSettings& s) -> std::int32_t { return s.*Member; },
          [](PendantSettings& s, std::int32_t v) { Store(s.*Member, v); },
          nullptr,
          nullptr};
}

// Element `Index` of a number array field.
template <auto Member, std::size_t Index>
SettingKey NumberAt(const char* key, std::int32_t defaultValue) {
  using A = std::remove_cvref_t<decltype(std::declval<PendantSettings&>().*Member)>;
  using T = typename A::value_type;
  static_assert(Index < std::tuple_size_v<A>);
  return {key,
          TypeOf<T>(),
          defaultValue,
          nullptr,
          [](const PendantSettings& s) -> std::int32_t { return (s.*Member)[Index]; },
          [](PendantSettings& s, std::int32_t v) { Store((s.*Member)[Index], v); },
          nullptr,
          nullptr};
}

// Element `Index` of a text array field.
template <auto Member, std::size_t Index>
SettingKey TextAt(const char* key, const char* defaultText) {
  using A = std::remove_cvref_t<decltype(std::declval<PendantSettings&>().*Member)>;
  static_assert(Index < std::tuple_size_v<A>);
  return {key,
          SettingType::Text,
          0,
          defaultText,
          nullptr,
          nullptr,
          [](PendantSettings& s) -> std::string& { return (s.*Member)[Index]; },
          [](const PendantSettings& s) -> const std::string& { return (s.*Member)[Index]; }};
}

using S = PendantSettings;

// The function button keys are numbered from 0 (F1) with this format.
constexpr const char* kButtonKeyFormat = "BUTTON%d";
using KeyText = std::array<char, 20>;  // room for "BUTTON" and any int

// Built on first use, so callers in other files' static initialisers see a complete table.
const std::array<SettingKey, 82>& Keys() {
  static const std::array<KeyText, 5> kButtonKeys = [] {
    std::array<KeyText, 5> keys{};
    for (int i = 0; i < 5; ++i) std::snprintf(keys[i].data(), keys[i].size(), kButtonKeyFormat, i);
    return keys;
  }();

  static const std::array<SettingKey, 82> kKeys = {
      NumberAt<&S::BUTTON, 0>(kButtonKeys[0].data(), 0),
      NumberAt<&S::BUTTON, 1>(kButtonKeys[1].data(), 0),
      NumberAt<&S::BUTTON, 2>(kButtonKeys[2].data(), 0),
      NumberAt<&S::BUTTON, 3>(kButtonKeys[3].data(), 0),
      NumberAt<&S::BUTTON, 4>(kButtonKeys[4].data(), 0),
      Number<&S::Vel>(kVelKey, 0),
      NumberAt<&S::Macro, 0>("Macro1", 0),
      NumberAt<&S::Macro, 1>("Macro2", 0),
      NumberAt<&S::Macro, 2>("Macro3", 0),
      NumberAt<&S::Macro, 3>("Macro4", 0),
      NumberAt<&S::OEM, 0>("OEM1", 0),
      NumberAt<&S::OEM, 1>("OEM2", 0),
      NumberAt<&S::OEM, 2>("OEM3", 0),
      NumberAt<&S::OEM, 3>("OEM4", 0),
      Number<&S::StepJogRate>("StepJogRate", 100),
      Number<&S::DelaySteps>("DelaySteps", 25),
      Number<&S::SlowDownRate>("SlowDownRate", 2),
      NumberAt<&S::ScreenSel, 0>("ScreenSel1", 1),
      NumberAt<&S::ScreenSel, 1>("ScreenSel2", 2),
      NumberAt<&S::ScreenSel, 2>("ScreenSel3", 3),
      TextAt<&S::S, 0>("S1", "0.0001"),
      TextAt<&S::S, 1>("S2", "0.001"),
      TextAt<&S::S, 2>("S3", "0.01"),
      TextAt<&S::S, 3>("S4", "0.1"),
      TextAt<&S::S, 4>("S5", "1"),
      TextAt<&S::S, 5>("S6", "0.254"),
      TextAt<&S::S, 6>("S7", "0"),
      TextAt<&S::S, 7>("S8", "0"),
      TextAt<&S::S, 8>("S9", "0"),
      NumberAt<&S::Fp, 0>("Fp1", 0),
      NumberAt<&S::Fp, 1>("Fp2", 0),
      NumberAt<&S::Fp, 2>("Fp3", 0),
      NumberAt<&S::Fp, 3>("Fp4", 0),
      NumberAt<&S::Fp, 4>("Fp5", 0),
      NumberAt<&S::Fp, 5>("Fp6", 0),
      NumberAt<&S::Fp, 6>("Fp7", 0),
      NumberAt<&S::Fp, 7>("Fp8", 0),
      NumberAt<&S::Fp, 8>("Fp9", 0),
      TextAt<&S::F, 0>("F1", "0"),
      TextAt<&S::F, 1>("F2", "0"),
      TextAt<&S::F, 2>("F3", "0"),
      TextAt<&S::F, 3>("F4", "0"),
      TextAt<&S::F, 4>("F5", "0"),
      TextAt<&S::F, 5>("F6", "0"),
      TextAt<&S::F, 6>("F7", "0"),
      TextAt<&S::F, 7>("F8", "0"),
      TextAt<&S::F, 8>("F9", "0"),
      NumberAt<&S::C, 0>("C1", 1),
      NumberAt<&S::C, 1>("C2", 2),
      NumberAt<&S::C, 2>("C3", 5),
      NumberAt<&S::C, 3>("C4", 10),
      NumberAt<&S::C, 4>("C5", 20),
      NumberAt<&S::C, 5>("C6", 50),
      NumberAt<&S::C, 6>("C7", 100),
      NumberAt<&S::C, 7>("C8", 0),
      NumberAt<&S::C, 8>("C9", 0),
      NumberAt<&S::Sp, 0>("Sp1", 0),
      NumberAt<&S::Sp, 1>("Sp2", 0),
      NumberAt<&S::Sp, 2>("Sp3", 0),
      NumberAt<&S::Sp, 3>("Sp4", 0),
      NumberAt<&S::Sp, 4>("Sp5", 0),
      NumberAt<&S::Sp, 5>("Sp6", 0),
      NumberAt<&S::Sp, 6>("Sp7", 0),
      NumberAt<&S::Sp, 7>("Sp8", 0),
      NumberAt<&S::Sp, 8>("Sp9", 0),
      NumberAt<&S::Spd, 0>("Spd1", 0),
      NumberAt<&S::Spd, 1>("Spd2", 0),
      NumberAt<&S::Spd, 2>("Spd3", 0),
      NumberAt<&S::Spd, 3>("Spd4", 0),
      NumberAt<&S::Spd, 4>("Spd5", 0),
      NumberAt<&S::Spd, 5>("Spd6", 0),
      NumberAt<&S::Spd, 6>("Spd7", 0),
      NumberAt<&S::Spd, 7>("Spd8", 0),
      NumberAt<&S::Spd, 8>("Spd9", 0),
      Number<&S::Xreverse>("Xreverse", 0),
      Number<&S::Yreverse>("Yreverse", 0),
      Number<&S::Zreverse>("Zreverse", 0),
      Number<&S::SelectAAxis>("SelectAAxis", 0),
      Number<&S::SelectBAxis>("SelectBAxis", 0),
      Number<&S::SelectCAxis>("SelectCAxis", 0),
      Number<&S::UseFRO>("UseFRO", 0),
      Number<&S::UseSOV>("UseSOV", 0),
  };
  return kKeys;
}

}  // namespace

std::span<const SettingKey> SettingKeys() {
  return Keys();
}

const SettingKey* FindSettingKey(const char* key) {
  if (key == nullptr) return nullptr;
  for (const SettingKey& entry : Keys()) {
    if (std::strcmp(entry.key, key) == 0) return &entry;
  }
  return nullptr;
}

bool ParseSettingInteger(std::string_view text, std::int32_t& value) {
  const ascii::LeadingInteger n = ascii::ParseLeadingInteger(text);
  if (!n.found) return false;
  // Wraps in unsigned arithmetic, so any text has a defined result.
  const std::uint32_t bits = n.negative ? 0u - n.low32 : n.low32;
  value =
      bits >= 0x80000000u ? -static_cast<std::int32_t>(~bits) - 1 : static_cast<std::int32_t>(bits);
  return true;
}
