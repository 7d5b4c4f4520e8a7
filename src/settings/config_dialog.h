// The configuration dialog's portable model.
//
// ConfigDialog holds the dialog's own copy of every setting, control by control (edit texts, list
// selections, check marks). A platform shows it, lets the user change the copies and calls Ok or
// Esc; only a successful Ok reaches PendantSettings, in one step.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "settings/pendant_settings.h"

enum class DialogControlKind : std::uint8_t { Edit, List, Check, Option };

enum class DialogMessageIcon : std::uint8_t { None, Exclamation };

// Why Ok refused: the message to show and the field to focus, with its text selected.
struct DialogRefusal {
  int controlId = 0;
  std::string message;
  DialogMessageIcon icon = DialogMessageIcon::None;
};

// The dialog's status area: whether a pendant is connected, and what it reports.
struct DialogStatusArea {
  bool connected = false;
  std::string status;
  std::string liveView;

  bool operator==(const DialogStatusArea&) const = default;
};
// Asked again at every refresh while the dialog is open; it must change nothing.
using DialogStatusSource = std::function<DialogStatusArea()>;

class ConfigDialog {
 public:
  // Opening: copies every value of `settings` into the controls and fills the lists.
  explicit ConfigDialog(PendantSettings& settings);

  // Every bound control id, in a fixed order.
  static std::span<const int> ControlIds();
  // Kind of a bound control; nullopt for an id that is not one.
  static std::optional<DialogControlKind> Kind(int controlId);

  // Control state. Setters return false (and change nothing) for an id of another kind.
  bool SetText(int controlId, std::string_view text);
  std::string_view Text(int controlId) const;
  // An index outside the list leaves it without a selection.
  bool Select(int controlId, int index);
  int Selection(int controlId) const;  // -1: none
  std::span<const std::string> Entries(int controlId) const;
  // Marking an option button unmarks its partner.
  bool SetCheck(int controlId, bool checked);
  bool Checked(int controlId) const;

  // Reads every field in the fixed order. The first that fails is reported and nothing changes;
  // when all pass the settings take the new values at once and the dialog is closed.
  std::optional<DialogRefusal> Ok();
  // Closes without taking anything.
  void Esc();
  bool IsOpen() const { return open_; }

  // The status area as it reads now; empty without a source.
  DialogStatusArea StatusArea() const {
    return statusSource_ ? statusSource_() : DialogStatusArea{};
  }
  void SetStatusSource(DialogStatusSource source) { statusSource_ = std::move(source); }

 private:
  struct Control {
    int id;
    DialogControlKind kind;
    std::string text;
    int selection = -1;
    bool checked = false;
    std::vector<std::string> entries;
  };
  Control* Find(int controlId, DialogControlKind kind);
  const Control* Find(int controlId, DialogControlKind kind) const;

  PendantSettings& settings_;
  DialogStatusSource statusSource_;
  std::vector<Control> controls_;
  bool open_ = true;
};
