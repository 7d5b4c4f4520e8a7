#include "settings/dialog_bindings.h"

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "settings/lists.h"
#include "settings/settings_keys.h"

namespace {

using Kind = DialogControlKind;

enum class ListId : std::uint8_t { None, ButtonAction, Velocity, SlowDown, Screen };

// One control, or a run of `count` controls for the numbered keys `key``first`, `key``first`+1 ...
struct BindingRow {
  const char* key;
  int count;  // 0: the key stands alone
  int first;
  std::array<int, 9> ids;
  Kind kind;
  ListId list;
};

constexpr std::array<int, 9> Run(int firstId) {
  return {firstId,     firstId + 1, firstId + 2, firstId + 3, firstId + 4,
          firstId + 5, firstId + 6, firstId + 7, firstId + 8};
}

// An option pair lists its first button first; the second one stands for 1.
constexpr std::array<BindingRow, 22> kBindingRows{{
    {"S", 9, 1, Run(4171), Kind::Edit, ListId::None},
    {"Fp", 9, 1, Run(4198), Kind::Edit, ListId::None},
    {"F", 9, 1, Run(4207), Kind::Edit, ListId::None},
    {"C", 9, 1, Run(4216), Kind::Edit, ListId::None},
    {"Sp", 9, 1, Run(4225), Kind::Edit, ListId::None},
    {"Spd", 9, 1, Run(4234), Kind::Edit, ListId::None},
    {"UseFRO", 0, 0, {4161, 4035}, Kind::Option, ListId::None},
    {"UseSOV", 0, 0, {4036, 4159}, Kind::Option, ListId::None},
    {"StepJogRate", 0, 0, {4182}, Kind::Edit, ListId::None},
    {"Vel", 0, 0, {4037}, Kind::List, ListId::Velocity},
    {"SlowDownRate", 0, 0, {4023}, Kind::List, ListId::SlowDown},
    {"DelaySteps", 0, 0, {4181}, Kind::Edit, ListId::None},
    {"BUTTON", 5, 0, {4040, 4041, 4043, 4042, 4044}, Kind::List, ListId::ButtonAction},
    {"OEM", 4, 1, {4164, 4165, 4166, 4167}, Kind::Edit, ListId::None},
    {"Macro", 4, 1, {4162, 4163, 4168, 4185}, Kind::Edit, ListId::None},
    {"SelectAAxis", 0, 0, {4180}, Kind::Check, ListId::None},
    {"SelectBAxis", 0, 0, {4243}, Kind::Check, ListId::None},
    {"SelectCAxis", 0, 0, {4244}, Kind::Check, ListId::None},
    {"Xreverse", 0, 0, {4245}, Kind::Check, ListId::None},
    {"Yreverse", 0, 0, {4246}, Kind::Check, ListId::None},
    {"Zreverse", 0, 0, {4247}, Kind::Check, ListId::None},
    {"ScreenSel", 3, 1, {4032, 4033, 4034}, Kind::List, ListId::Screen},
}};

// OK's reading order; a run reads S1..S9 and so on in turn. The first `deferred` members of a run
// have their range tested only once the member after them has been read.
struct ReadingRow {
  const char* key;
  int count;
  bool ranged;
  std::int32_t low, high;
  int deferred;
};

constexpr std::array<ReadingRow, 24> kReadingRows{{
    {"Macro1", 0, false, 0, 0, 0},      {"Macro2", 0, false, 0, 0, 0},
    {"OEM1", 0, false, 0, 0, 0},        {"OEM2", 0, false, 0, 0, 0},
    {"DelaySteps", 0, false, 0, 0, 0},  {"StepJogRate", 0, false, 0, 0, 0},
    {"S", 9, false, 0, 0, 0},           {"Fp", 9, true, 0, 250, 0},
    {"F", 9, false, 0, 0, 0},           {"C", 9, true, 0, 100, 2},
    {"Sp", 9, true, 0, 250, 0},         {"Spd", 9, false, 0, 0, 0},
    {"SelectAAxis", 0, false, 0, 0, 0}, {"SelectBAxis", 0, false, 0, 0, 0},
    {"SelectCAxis", 0, false, 0, 0, 0}, {"Xreverse", 0, false, 0, 0, 0},
    {"Yreverse", 0, false, 0, 0, 0},    {"Zreverse", 0, false, 0, 0, 0},
    {"UseFRO", 0, false, 0, 0, 0},      {"UseSOV", 0, false, 0, 0, 0},
    {"OEM3", 0, false, 0, 0, 0},        {"OEM4", 0, false, 0, 0, 0},
    {"Macro3", 0, false, 0, 0, 0},      {"Macro4", 0, false, 0, 0, 0},
}};

const SettingKey* KeyNamed(const std::string& name) {
  return FindSettingKey(name.c_str());
}

std::span<const char* const> ListTexts(ListId list) {
  static const std::array<const char*, kScreenCount> screenTexts = [] {
    std::array<const char*, kScreenCount> texts{};
    for (std::size_t i = 0; i < kScreenCount; ++i) texts[i] = kScreenList[i].text;
    return texts;
  }();
  switch (list) {
    case ListId::None:
      return {};
    case ListId::ButtonAction:
      return kButtonActionList;
    case ListId::Velocity:
      return kVelocityDivisorList;
    case ListId::SlowDown:
      return kSlowDownList;
    case ListId::Screen:
      return screenTexts;
  }
  return {};
}

std::string MemberName(const char* key, int count, int number) {
  return count == 0 ? std::string(key) : std::string(key) + std::to_string(number);
}

const std::vector<DialogBinding>& Bindings() {
  static const std::vector<DialogBinding> bindings = [] {
    std::vector<DialogBinding> out;
    for (const BindingRow& row : kBindingRows) {
      if (row.kind == Kind::Option) {
        const SettingKey* key = KeyNamed(row.key);
        if (key == nullptr) continue;
        out.push_back({row.ids[0], row.kind, key, {}, row.ids[1], false});
        out.push_back({row.ids[1], row.kind, key, {}, row.ids[0], true});
        continue;
      }
      for (int i = 0; i < std::max(row.count, 1); ++i) {
        const SettingKey* key = KeyNamed(MemberName(row.key, row.count, row.first + i));
        if (key == nullptr) continue;
        out.push_back(
            {row.ids[static_cast<std::size_t>(i)], row.kind, key, ListTexts(row.list), 0, false});
      }
    }
    return out;
  }();
  return bindings;
}

// The control that shows `key`; for an option pair the button that stands for 1.
const DialogBinding* BindingOf(const SettingKey* key) {
  const DialogBinding* found = nullptr;
  for (const DialogBinding& binding : Bindings()) {
    if (binding.key == key && (found == nullptr || binding.secondOption)) found = &binding;
  }
  return found;
}

DialogValue ValueOf(const DialogBinding& binding) {
  if (binding.kind != Kind::Edit) return DialogValue::Check;
  switch (binding.key->type) {
    case SettingType::Int16:
      return DialogValue::Int16;
    case SettingType::Int32:
      return DialogValue::Int32;
    case SettingType::Bool:
      return DialogValue::Check;
    case SettingType::Text:
      return DialogValue::Text;
  }
  return DialogValue::Text;
}

}  // namespace

std::span<const DialogBinding> DialogBindings() {
  return Bindings();
}

std::span<const int> DialogControlIds() {
  static const std::vector<int> ids = [] {
    std::vector<int> out;
    for (const DialogBinding& binding : Bindings()) out.push_back(binding.id);
    return out;
  }();
  return ids;
}

const DialogBinding* FindDialogBinding(int controlId) {
  for (const DialogBinding& binding : Bindings()) {
    if (binding.id == controlId) return &binding;
  }
  return nullptr;
}

std::span<const DialogField> DialogFieldsInReadingOrder() {
  static const std::vector<DialogField> fields = [] {
    std::vector<DialogField> out;
    for (const ReadingRow& row : kReadingRows) {
      for (int i = 0; i < std::max(row.count, 1); ++i) {
        const SettingKey* key = KeyNamed(MemberName(row.key, row.count, 1 + i));
        const DialogBinding* binding = key == nullptr ? nullptr : BindingOf(key);
        if (binding == nullptr) continue;
        out.push_back(
            {binding->id, key, ValueOf(*binding), row.ranged, row.low, row.high, i < row.deferred});
      }
    }
    return out;
  }();
  return fields;
}
