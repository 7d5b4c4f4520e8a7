#include "platform/sim/sim_dialog.h"

#include <string>
#include <vector>

#include "platform/sim/sim_sinks.h"
#include "settings/config_dialog.h"

namespace {

constexpr int kOkId = 1;
constexpr int kEscId = 2;

enum class ActionKind { SetText, Select, SetCheck, Press };

struct Action {
  ActionKind kind;
  int controlId;
  int value;
  std::string text;
};

std::vector<Action>& Script() {
  static std::vector<Action> script;
  return script;
}

}  // namespace

void QueueSimDialogText(int controlId, const char* text) {
  Script().push_back({ActionKind::SetText, controlId, 0, text == nullptr ? "" : text});
}
void QueueSimDialogSelect(int controlId, int index) {
  Script().push_back({ActionKind::Select, controlId, index, {}});
}
void QueueSimDialogCheck(int controlId, int checked) {
  Script().push_back({ActionKind::SetCheck, controlId, checked, {}});
}
void QueueSimDialogPress(int controlId) {
  Script().push_back({ActionKind::Press, controlId, 0, {}});
}

void ClearSimDialogScript() {
  Script().clear();
}

void RunSimConfigDialog(ConfigDialog& dialog) {
  // One Config consumes the whole script; actions after the dialog has closed are dropped.
  std::vector<Action> script;
  script.swap(Script());
  for (const Action& action : script) {
    if (!dialog.IsOpen()) break;
    switch (action.kind) {
      case ActionKind::SetText:
        dialog.SetText(action.controlId, action.text);
        break;
      case ActionKind::Select:
        dialog.Select(action.controlId, action.value);
        break;
      case ActionKind::SetCheck:
        dialog.SetCheck(action.controlId, action.value != 0);
        break;
      case ActionKind::Press:
        if (action.controlId == kOkId) {
          if (auto refusal = dialog.Ok()) SimShowMessageBox(refusal->message.c_str());
        } else if (action.controlId == kEscId) {
          dialog.Esc();
        }
        break;
    }
  }
  if (dialog.IsOpen()) dialog.Esc();
}
