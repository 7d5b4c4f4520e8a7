#include "platform/sim/sim_dialog.h"

#include <algorithm>
#include <string>
#include <vector>

#include "platform/sim/sim_sinks.h"
#include "platform/sim/virtual_bus.h"
#include "settings/config_dialog.h"

namespace {

constexpr int kOkId = 1;
constexpr int kEscId = 2;

// A script of more ticks than this is cut there: a dialog is not left open forever.
constexpr int kMaxTicksPerAction = 100000;

enum class ActionKind { SetText, Select, SetCheck, Press, Tick };

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

struct ShownView {
  std::string status;
  std::string liveView;
  SimDialogViewSink sink = nullptr;
};

ShownView& Shown() {
  static ShownView shown;
  return shown;
}

// What a window's refresh timer does: shows the pendant's view, telling the sink of a change.
void RefreshView(const ConfigDialog& dialog, bool opening) {
  ShownView& shown = Shown();
  DialogStatusArea area = dialog.StatusArea();
  std::string status = std::move(area.status);
  std::string liveView = std::move(area.liveView);
  if (!opening && status == shown.status && liveView == shown.liveView) return;
  shown.status = std::move(status);
  shown.liveView = std::move(liveView);
  if (shown.sink != nullptr) shown.sink(shown.status.c_str(), shown.liveView.c_str());
}

}  // namespace

void QueueSimDialogTick(int count) {
  if (count > 0) Script().push_back({ActionKind::Tick, 0, count, {}});
}

const char* SimDialogShownStatus() {
  return Shown().status.c_str();
}

const char* SimDialogShownLiveView() {
  return Shown().liveView.c_str();
}

void SetSimDialogViewSink(SimDialogViewSink sink) {
  Shown().sink = sink;
}

void ResetSimDialogView() {
  Shown() = ShownView{};
}

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
  RefreshView(dialog, true);
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
      case ActionKind::Tick:
        // The modal loop goes on dispatching the poll timer.
        for (int i = 0; i < std::min(action.value, kMaxTicksPerAction); ++i) {
          VirtualBusTimerTick();
          RefreshView(dialog, false);
        }
        break;
    }
  }
  if (dialog.IsOpen()) dialog.Esc();
}
