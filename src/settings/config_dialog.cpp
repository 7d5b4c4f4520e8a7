#include "settings/config_dialog.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <limits>

#include "settings/dialog_bindings.h"
#include "settings/pendant_settings_io.h"
#include "settings/profile_store.h"
#include "settings/settings_keys.h"
#include "text/ascii.h"

namespace {

constexpr const char* kNotIntegerMessage = "Please enter an integer.";
constexpr const char* kOutOfRangeMessage = "Please enter an integer between %1 and %2.";

// A list shows each entry's text after its first comma, blanks included.
std::string ShownText(const char* entry) {
  std::string_view text(entry);
  const auto comma = text.find(',');
  return std::string(comma == std::string_view::npos ? text : text.substr(comma + 1));
}

std::string DecimalText(std::int64_t value) {
  std::array<char, 24> buffer{};
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
  return std::string(buffer.data(), result.ptr);
}

std::string RangeMessage(std::int64_t low, std::int64_t high) {
  std::string message = kOutOfRangeMessage;
  const auto put = [&message](std::string_view marker, const std::string& value) {
    const auto at = message.find(marker);
    if (at != std::string::npos) message.replace(at, marker.size(), value);
  };
  put("%1", DecimalText(low));
  put("%2", DecimalText(high));
  return message;
}

// Optional white space, an optional sign, then at least one decimal digit; whatever follows is
// ignored. Saturates far beyond 32 bits, so the caller can tell an overflow from a value.
bool ParseLeadingInteger(std::string_view text, std::int64_t& value) {
  const ascii::LeadingInteger n = ascii::ParseLeadingInteger(text);
  if (!n.found) return false;
  constexpr std::uint64_t kCeiling = std::uint64_t{1} << 40;
  const auto magnitude = static_cast<std::int64_t>(std::min(kCeiling, n.magnitude));
  value = n.negative ? -magnitude : magnitude;
  return true;
}

}  // namespace

std::span<const int> ConfigDialog::ControlIds() {
  return DialogControlIds();
}

std::optional<DialogControlKind> ConfigDialog::Kind(int controlId) {
  const DialogBinding* binding = FindDialogBinding(controlId);
  if (binding == nullptr) return std::nullopt;
  return binding->kind;
}

ConfigDialog::ConfigDialog(PendantSettings& settings) : settings_(settings) {
  for (const DialogBinding& binding : DialogBindings()) {
    Control control{binding.id, binding.kind, {}, -1, false, {}};
    const SettingKey& key = *binding.key;
    switch (binding.kind) {
      case DialogControlKind::Edit:
        control.text = key.type == SettingType::Text ? key.constText(settings_)
                                                     : DecimalText(key.getInt(settings_));
        break;
      case DialogControlKind::List: {
        for (const char* entry : binding.list) control.entries.push_back(ShownText(entry));
        const std::int32_t stored = key.getInt(settings_);
        if (stored >= 0 && static_cast<std::size_t>(stored) < control.entries.size()) {
          control.selection = stored;
        }
        break;
      }
      case DialogControlKind::Check:
        control.checked = key.getInt(settings_) != 0;
        break;
      case DialogControlKind::Option:
        // The pair shows the stored choice: the second button stands for 1.
        control.checked = (key.getInt(settings_) != 0) == binding.secondOption;
        break;
    }
    controls_.push_back(std::move(control));
  }
}

ConfigDialog::Control* ConfigDialog::Find(int controlId, DialogControlKind kind) {
  for (Control& control : controls_) {
    if (control.id == controlId) return control.kind == kind ? &control : nullptr;
  }
  return nullptr;
}

const ConfigDialog::Control* ConfigDialog::Find(int controlId, DialogControlKind kind) const {
  return const_cast<ConfigDialog*>(this)->Find(controlId, kind);
}

bool ConfigDialog::SetText(int controlId, std::string_view text) {
  Control* control = Find(controlId, DialogControlKind::Edit);
  if (control == nullptr) return false;
  control->text.assign(text);
  return true;
}

std::string_view ConfigDialog::Text(int controlId) const {
  const Control* control = Find(controlId, DialogControlKind::Edit);
  return control == nullptr ? std::string_view() : std::string_view(control->text);
}

bool ConfigDialog::Select(int controlId, int index) {
  Control* control = Find(controlId, DialogControlKind::List);
  if (control == nullptr) return false;
  const bool inList = index >= 0 && static_cast<std::size_t>(index) < control->entries.size();
  control->selection = inList ? index : -1;
  return true;
}

int ConfigDialog::Selection(int controlId) const {
  const Control* control = Find(controlId, DialogControlKind::List);
  return control == nullptr ? -1 : control->selection;
}

std::span<const std::string> ConfigDialog::Entries(int controlId) const {
  const Control* control = Find(controlId, DialogControlKind::List);
  if (control == nullptr) return {};
  return control->entries;
}

bool ConfigDialog::SetCheck(int controlId, bool checked) {
  Control* control = Find(controlId, DialogControlKind::Check);
  if (control == nullptr) control = Find(controlId, DialogControlKind::Option);
  if (control == nullptr) return false;
  control->checked = checked;
  if (control->kind == DialogControlKind::Option && checked) {
    const DialogBinding* binding = FindDialogBinding(controlId);
    if (Control* partner = Find(binding->partnerId, DialogControlKind::Option)) {
      partner->checked = false;
    }
  }
  return true;
}

bool ConfigDialog::Checked(int controlId) const {
  const Control* control = Find(controlId, DialogControlKind::Check);
  if (control == nullptr) control = Find(controlId, DialogControlKind::Option);
  return control != nullptr && control->checked;
}

std::optional<DialogRefusal> ConfigDialog::Ok() {
  if (!open_) return std::nullopt;
  PendantSettings accepted = settings_;
  // Range tests that wait until a later field has been read (C1 and C2 wait for C3).
  struct Waiting {
    const DialogField* field;
    std::int64_t value;
  };
  std::array<Waiting, 4> waiting{};
  std::size_t waitingCount = 0;
  const auto rangeRefusal = [](const DialogField& field,
                               std::int64_t value) -> std::optional<DialogRefusal> {
    if (!field.ranged || (value >= field.low && value <= field.high)) return std::nullopt;
    return DialogRefusal{field.controlId, RangeMessage(field.low, field.high),
                         DialogMessageIcon::Exclamation};
  };

  for (const DialogField& field : DialogFieldsInReadingOrder()) {
    const SettingKey& key = *field.key;
    switch (field.value) {
      case DialogValue::Text:
        key.text(accepted).assign(Text(field.controlId));
        continue;
      case DialogValue::Check:
        key.setInt(accepted, Checked(field.controlId) ? 1 : 0);
        continue;
      case DialogValue::Int16:
      case DialogValue::Int32:
        break;
    }
    std::int64_t value = 0;
    if (!ParseLeadingInteger(Text(field.controlId), value)) {
      return DialogRefusal{field.controlId, kNotIntegerMessage, DialogMessageIcon::None};
    }
    // A number beyond the field's width would silently turn into another value.
    const bool narrow = field.value == DialogValue::Int16;
    const std::int64_t low = narrow ? std::numeric_limits<std::int16_t>::min()
                                    : std::numeric_limits<std::int32_t>::min();
    const std::int64_t high = narrow ? std::numeric_limits<std::int16_t>::max()
                                     : std::numeric_limits<std::int32_t>::max();
    if (value < low || value > high) {
      return DialogRefusal{field.controlId, RangeMessage(low, high),
                           DialogMessageIcon::Exclamation};
    }
    key.setInt(accepted, static_cast<std::int32_t>(value));
    if (field.deferRange && waitingCount < waiting.size()) {
      waiting[waitingCount++] = {&field, value};
      continue;
    }
    for (std::size_t i = 0; i < waitingCount; ++i) {
      if (auto refusal = rangeRefusal(*waiting[i].field, waiting[i].value)) return refusal;
    }
    waitingCount = 0;
    if (auto refusal = rangeRefusal(field, value)) return refusal;
  }

  for (const DialogBinding& binding : DialogBindings()) {
    if (binding.kind == DialogControlKind::List) {
      binding.key->setInt(accepted, Selection(binding.id));
    }
  }
  settings_ = std::move(accepted);
  open_ = false;
  return std::nullopt;
}

void ConfigDialog::Esc() {
  open_ = false;
}
