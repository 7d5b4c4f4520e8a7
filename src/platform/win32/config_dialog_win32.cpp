// The dialog procedure over the portable ConfigDialog: it puts the model's copies into the
// controls on opening, reads them back at OK, shows the model's refusal and draws the pictures.
#include "platform/win32/config_dialog_win32.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <utility>

#include "core/platform.h"
#include "host_windows/exports.h"
#include "host_windows/module.h"
#include "platform/win32/dialog_resource.h"
#include "platform/win32/module_instance.h"
#include "platform/win32/module_name.h"
#include "settings/config_dialog.h"

namespace {

// The status area is refreshed this often while the dialog is open.
constexpr UINT_PTR kStatusTimerId = 1;
constexpr UINT kStatusPeriodMs = 100;

struct DialogWindow {
  ConfigDialog* model = nullptr;
  HFONT headingFont = nullptr;
  HFONT iconFont = nullptr;
  DialogStatusArea shown;
  bool shownOnce = false;
};

DialogWindow* StateOf(HWND hwnd) {
  return reinterpret_cast<DialogWindow*>(GetWindowLongPtrA(hwnd, DWLP_USER));
}

HFONT DerivedFont(HWND hwnd, LONG weight, int heightPercent) {
  LOGFONTA font{};
  const auto base = reinterpret_cast<HFONT>(SendMessageA(hwnd, WM_GETFONT, 0, 0));
  if (base == nullptr || GetObjectA(base, sizeof font, &font) == 0) return nullptr;
  font.lfWeight = weight;
  font.lfHeight = font.lfHeight * heightPercent / 100;
  return CreateFontIndirectA(&font);
}

void PutControls(HWND hwnd, const ConfigDialog& model) {
  for (int id : ConfigDialog::ControlIds()) {
    const HWND control = GetDlgItem(hwnd, id);
    if (control == nullptr) continue;
    switch (*ConfigDialog::Kind(id)) {
      case DialogControlKind::Edit:
        SetWindowTextA(control, std::string(model.Text(id)).c_str());
        break;
      case DialogControlKind::List:
        SendMessageA(control, CB_RESETCONTENT, 0, 0);
        for (const std::string& entry : model.Entries(id)) {
          SendMessageA(control, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str()));
        }
        // -1 leaves the list without a selection.
        SendMessageA(control, CB_SETCURSEL, static_cast<WPARAM>(model.Selection(id)), 0);
        break;
      case DialogControlKind::Check:
      case DialogControlKind::Option:
        SendMessageA(control, BM_SETCHECK, model.Checked(id) ? BST_CHECKED : BST_UNCHECKED, 0);
        break;
    }
  }
}

void TakeControls(HWND hwnd, ConfigDialog& model) {
  for (int id : ConfigDialog::ControlIds()) {
    const HWND control = GetDlgItem(hwnd, id);
    if (control == nullptr) continue;
    switch (*ConfigDialog::Kind(id)) {
      case DialogControlKind::Edit: {
        std::string text(static_cast<std::size_t>(GetWindowTextLengthA(control)) + 1, '\0');
        const int length = GetWindowTextA(control, text.data(), static_cast<int>(text.size()));
        text.resize(static_cast<std::size_t>(std::max(length, 0)));
        model.SetText(id, text);
        break;
      }
      case DialogControlKind::List: {
        const LRESULT selection = SendMessageA(control, CB_GETCURSEL, 0, 0);
        model.Select(id, selection == CB_ERR ? -1 : static_cast<int>(selection));
        break;
      }
      case DialogControlKind::Check:
      case DialogControlKind::Option:
        model.SetCheck(id, SendMessageA(control, BM_GETCHECK, 0, 0) == BST_CHECKED);
        break;
    }
  }
}

// Message boxes carry the module's name, like its status texts.
std::string MessageCaption() {
  std::array<char, MAX_PATH> path{};
  const DWORD n = GetModuleFileNameA(ThisModuleInstance(), path.data(), path.size());
  return BaseNameWithoutExtension(std::string_view(path.data(), std::min<DWORD>(n, path.size())));
}

void OnOk(HWND hwnd, DialogWindow& state) {
  TakeControls(hwnd, *state.model);
  const auto refusal = state.model->Ok();
  if (!refusal) {
    EndDialog(hwnd, IDOK);
    return;
  }
  const UINT icon = refusal->icon == DialogMessageIcon::Exclamation ? MB_ICONEXCLAMATION : 0;
  MessageBoxA(hwnd, refusal->message.c_str(), MessageCaption().c_str(), MB_OK | icon);
  if (const HWND field = GetDlgItem(hwnd, refusal->controlId)) {
    SendMessageA(hwnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(field), TRUE);
    SendMessageA(field, EM_SETSEL, 0, -1);
  }
}

// Puts the status area's texts into their controls where they changed, so nothing flickers.
void RefreshStatusArea(HWND hwnd, DialogWindow& state) {
  DialogStatusArea area = state.model->StatusArea();
  if (state.shownOnce && area == state.shown) return;
  if (!state.shownOnce || area.status != state.shown.status)
    SetDlgItemTextA(hwnd, IDC_PENDANT_STATUS, area.status.c_str());
  if (!state.shownOnce || area.liveView != state.shown.liveView)
    SetDlgItemTextA(hwnd, IDC_PENDANT_VIEW, area.liveView.c_str());
  if (!state.shownOnce || area.connected != state.shown.connected) {
    if (const HWND lamp = GetDlgItem(hwnd, IDC_PENDANT_LAMP)) InvalidateRect(lamp, nullptr, TRUE);
  }
  state.shown = std::move(area);
  state.shownOnce = true;
}

// Lit green while a pendant is connected, grey while none is.
void DrawLamp(HDC dc, const RECT& r, bool lit) {
  const int side = std::min(r.right - r.left, r.bottom - r.top);
  const int cx = (r.left + r.right) / 2;
  const int cy = (r.top + r.bottom) / 2;
  const HBRUSH fill = CreateSolidBrush(lit ? RGB(40, 170, 70) : RGB(160, 160, 165));
  const HPEN edge = CreatePen(PS_SOLID, 1, RGB(20, 20, 20));
  const HGDIOBJ oldBrush = SelectObject(dc, fill);
  const HGDIOBJ oldPen = SelectObject(dc, edge);
  Ellipse(dc, cx - side / 2, cy - side / 2, cx + side / 2, cy + side / 2);
  SelectObject(dc, oldPen);
  SelectObject(dc, oldBrush);
  DeleteObject(edge);
  DeleteObject(fill);
}

// A rotary knob with nine ticks from the lower left (position 1) over the top (5) to the lower
// right (9), like the fields around it.
void DrawKnob(HDC dc, const RECT& r) {
  const int cx = (r.left + r.right) / 2;
  const int cy = (r.top + r.bottom) / 2;
  const int outer = std::min(r.right - r.left, r.bottom - r.top) / 2 - 1;
  const int knob = outer * 7 / 10;
  constexpr double kPi = 3.14159265358979323846;

  const HPEN tickPen = CreatePen(PS_SOLID, 2, RGB(40, 40, 40));
  const HGDIOBJ oldPen = SelectObject(dc, tickPen);
  for (int i = 0; i < 9; ++i) {
    const double angle = (-135.0 + 33.75 * i) * kPi / 180.0;
    const double dx = std::sin(angle);
    const double dy = -std::cos(angle);
    MoveToEx(dc, cx + static_cast<int>(std::lround(dx * (knob + 3))),
             cy + static_cast<int>(std::lround(dy * (knob + 3))), nullptr);
    LineTo(dc, cx + static_cast<int>(std::lround(dx * outer)),
           cy + static_cast<int>(std::lround(dy * outer)));
  }
  const HBRUSH rim = CreateSolidBrush(RGB(70, 70, 75));
  const HGDIOBJ oldBrush = SelectObject(dc, rim);
  Ellipse(dc, cx - knob, cy - knob, cx + knob + 1, cy + knob + 1);
  const HBRUSH face = CreateSolidBrush(RGB(150, 150, 158));
  SelectObject(dc, face);
  const int inner = knob * 3 / 4;
  Ellipse(dc, cx - inner, cy - inner, cx + inner + 1, cy + inner + 1);
  // The pointer, at position 5.
  const HPEN pointerPen = CreatePen(PS_SOLID, 3, RGB(245, 245, 245));
  SelectObject(dc, pointerPen);
  MoveToEx(dc, cx, cy - inner + 2, nullptr);
  LineTo(dc, cx, cy - inner / 3);
  SelectObject(dc, oldBrush);
  SelectObject(dc, oldPen);
  DeleteObject(pointerPen);
  DeleteObject(face);
  DeleteObject(rim);
  DeleteObject(tickPen);
}

// Mode icons ("S", "V", "C") are round, button icons ("F1" .. "F5") are key caps.
// One line of text, vertically centred in `r`, in `font` (the dialog's own when null).
void DrawLabel(HDC dc, const RECT& r, const std::string& text, HFONT font, COLORREF color,
               UINT alignment) {
  const HGDIOBJ oldFont = font != nullptr ? SelectObject(dc, font) : nullptr;
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, color);
  RECT textRect = r;
  DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &textRect,
            alignment | DT_VCENTER | DT_SINGLELINE);
  if (oldFont != nullptr) SelectObject(dc, oldFont);
}

void DrawIcon(HDC dc, const RECT& r, const std::string& text, HFONT font) {
  const bool mode = text.size() == 1;
  const HBRUSH fill = CreateSolidBrush(mode ? RGB(30, 90, 160) : RGB(60, 60, 66));
  const HPEN edge = CreatePen(PS_SOLID, 1, RGB(20, 20, 20));
  const HGDIOBJ oldBrush = SelectObject(dc, fill);
  const HGDIOBJ oldPen = SelectObject(dc, edge);
  const int side = std::min(r.right - r.left, r.bottom - r.top);
  if (mode) {
    const int cx = (r.left + r.right) / 2;
    const int cy = (r.top + r.bottom) / 2;
    Ellipse(dc, cx - side / 2, cy - side / 2, cx + side / 2, cy + side / 2);
  } else {
    RoundRect(dc, r.left, r.top, r.right, r.bottom, side / 2, side / 2);
  }
  DrawLabel(dc, r, text, font, RGB(255, 255, 255), DT_CENTER);
  SelectObject(dc, oldPen);
  SelectObject(dc, oldBrush);
  DeleteObject(edge);
  DeleteObject(fill);
}

void DrawHeading(HDC dc, const RECT& r, const std::string& text, HFONT font) {
  DrawLabel(dc, r, text, font, RGB(30, 90, 160), DT_LEFT);
}

void OnDrawItem(const DRAWITEMSTRUCT& item, const DialogWindow& state) {
  if (item.CtlType != ODT_STATIC) return;
  std::array<char, 16> buffer{};
  GetWindowTextA(item.hwndItem, buffer.data(), static_cast<int>(buffer.size()));
  const std::string role(buffer.data());
  FillRect(item.hDC, &item.rcItem, GetSysColorBrush(COLOR_BTNFACE));
  if (item.CtlID == IDC_PENDANT_LAMP) {
    DrawLamp(item.hDC, item.rcItem, state.shown.connected);
  } else if (role == "knob") {
    DrawKnob(item.hDC, item.rcItem);
  } else if (item.CtlID == IDC_HEADING) {
    DrawHeading(item.hDC, item.rcItem, role, state.headingFont);
  } else {
    DrawIcon(item.hDC, item.rcItem, role, state.iconFont);
  }
}

INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  try {
    switch (message) {
      case WM_INITDIALOG: {
        auto* state = reinterpret_cast<DialogWindow*>(lParam);
        SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
        state->headingFont = DerivedFont(hwnd, FW_BOLD, 160);
        state->iconFont = DerivedFont(hwnd, FW_BOLD, 100);
        PutControls(hwnd, *state->model);
        // The poll keeps running in this dialog's loop; the status area follows it.
        RefreshStatusArea(hwnd, *state);
        SetTimer(hwnd, kStatusTimerId, kStatusPeriodMs, nullptr);
        SetWindowPos(hwnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
        SetForegroundWindow(hwnd);
        return TRUE;
      }
      case WM_TIMER:
        if (DialogWindow* state = StateOf(hwnd); state != nullptr && wParam == kStatusTimerId) {
          RefreshStatusArea(hwnd, *state);
          return TRUE;
        }
        return FALSE;
      case WM_DRAWITEM:
        if (const DialogWindow* state = StateOf(hwnd)) {
          OnDrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam), *state);
          return TRUE;
        }
        return FALSE;
      case WM_COMMAND: {
        DialogWindow* state = StateOf(hwnd);
        if (state == nullptr) return FALSE;
        if (LOWORD(wParam) == IDOK) {
          OnOk(hwnd, *state);
          return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
          state->model->Esc();
          EndDialog(hwnd, IDCANCEL);
          return TRUE;
        }
        return FALSE;
      }
      case WM_DESTROY:
        KillTimer(hwnd, kStatusTimerId);
        if (DialogWindow* state = StateOf(hwnd)) {
          if (state->headingFont != nullptr) DeleteObject(state->headingFont);
          if (state->iconFont != nullptr) DeleteObject(state->iconFont);
          state->headingFont = state->iconFont = nullptr;
        }
        return FALSE;
      default:
        return FALSE;
    }
  } catch (...) {
    // Nothing may unwind into the dialog manager; a failed OK leaves the dialog open.
    return TRUE;
  }
}

}  // namespace

void RunWin32ConfigDialog(ConfigDialog& dialog) {
  DialogWindow state;
  state.model = &dialog;
  auto owner = static_cast<HWND>(TheModule().host.hostParentWindow);
  if (owner != nullptr && !IsWindow(owner)) owner = nullptr;
  DialogBoxParamA(ThisModuleInstance(), MAKEINTRESOURCEA(IDD_PROPERTIESDLG), owner, DialogProc,
                  reinterpret_cast<LPARAM>(&state));
}
