// Which control of the configuration dialog shows which setting, and the order and rules by which
// OK reads them back. The settings themselves are reached through the one key table.
#pragma once

#include <cstdint>
#include <span>

#include "settings/config_dialog.h"

struct SettingKey;

struct DialogBinding {
  int id;
  DialogControlKind kind;
  const SettingKey* key;
  std::span<const char* const> list;  // a drop-down list's entries, as stored
  int partnerId;                      // an option button's partner
  bool secondOption;                  // the option button that stands for 1
};

enum class DialogValue : std::uint8_t { Int16, Int32, Text, Check };

struct DialogField {
  int controlId;
  const SettingKey* key;
  DialogValue value;
  bool ranged;
  std::int32_t low, high;
  bool deferRange;  // tested only after the next field without this mark has been read
};

std::span<const DialogBinding> DialogBindings();
std::span<const int> DialogControlIds();
const DialogBinding* FindDialogBinding(int controlId);
// Every field that OK reads, in its reading order (lists are taken as selected, not read).
std::span<const DialogField> DialogFieldsInReadingOrder();
