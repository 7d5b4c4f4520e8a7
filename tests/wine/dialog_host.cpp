// A Win32 host program for the configuration dialog, run under Wine.
//   dialog_host            opens Config twice: fills in fields, is refused, fixes the field and
//                          accepts; then leaves with Esc. Checks the controls, the message box,
//                          the focus, the profile on disk and that the poll timer kept running.
//   dialog_host <out.bmp>  opens Config and saves a picture of the dialog, then leaves with Esc.
// Prints "N passed, N failed"; the exit code is nonzero on any failure.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "check.h"
#include "host_windows/host_blocks.h"
#include "plugin_loader.h"

namespace {

using winecheck::Check;
using winecheck::CheckText;

// ---------------------------------------------------------------------------------------------
// The plug-in and a minimal host

extern "C" void NoButton(std::int16_t) {}
extern "C" void NoSetDRO(std::int32_t, double) {}
extern "C" double NoGetDRO(std::int32_t) {
  return 0.0;
}
extern "C" std::uint8_t NoGetLED(std::int32_t) {
  return 0;
}
extern "C" void NoSetLED() {}
extern "C" void NoCode(const char*) {}

HWND CreateHostWindow() {
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = DefWindowProcA;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = "DialogTestHost";
  RegisterClassA(&windowClass);
  return CreateWindowExA(0, "DialogTestHost", "dialog test host", WS_OVERLAPPEDWINDOW, 0, 0, 200,
                         100, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// The text of one key element in the saved profile; "<missing>" when absent.
std::string KeyText(const std::string& xml, const std::string& key) {
  const std::string open = "<" + key + ">";
  const auto at = xml.find(open);
  if (at == std::string::npos) return "<missing>";
  const auto end = xml.find("</" + key + ">", at);
  if (end == std::string::npos) return "<missing>";
  return xml.substr(at + open.size(), end - at - open.size());
}

// ---------------------------------------------------------------------------------------------
// Driving the modal dialog from inside its own message loop

struct Driver {
  HWND hostWindow = nullptr;
  HWND dialog = nullptr;
  HWND messageBox = nullptr;
  std::string messageText;
  UINT messageStyleIcon = 0;
  int step = 0;
  int idleTicks = 0;
  std::vector<std::function<bool()>> steps;  // each returns true when done, false to retry
  // Timer messages for the plug-in's hidden window seen while a dialog was open.
  int pollsWhileOpen = 0;
};
Driver driver;

struct DialogSearch {
  bool wantMessageBox;
  HWND found;
};

BOOL CALLBACK MatchDialog(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<DialogSearch*>(param);
  char className[16] = {};
  GetClassNameA(window, className, sizeof className);
  if (std::strcmp(className, "#32770") != 0 || !IsWindowVisible(window)) return TRUE;
  const bool isMessageBox = GetDlgItem(window, 4171) == nullptr;
  if (isMessageBox != search->wantMessageBox) return TRUE;
  search->found = window;
  return FALSE;
}

// The configuration dialog, or with `wantMessageBox` a message box, open on this thread.
HWND FindOwnDialog(bool wantMessageBox) {
  DialogSearch search{wantMessageBox, nullptr};
  EnumThreadWindows(GetCurrentThreadId(), MatchDialog, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

LRESULT CALLBACK CbtHook(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_ACTIVATE) {
    const auto window = reinterpret_cast<HWND>(wParam);
    char className[16] = {};
    GetClassNameA(window, className, sizeof className);
    if (std::strcmp(className, "#32770") == 0 && GetDlgItem(window, 4171) == nullptr) {
      driver.messageBox = window;
      char text[256] = {};
      GetDlgItemTextA(window, 0xFFFF, text, sizeof text);
      driver.messageText = text;
      // The icon is a static picture beside the text (id 20 on Windows, 1088 on Wine).
      driver.messageStyleIcon = 0;
      for (int id : {0x0014, 0x0440}) {
        if (SendDlgItemMessageA(window, id, STM_GETICON, 0, 0) != 0) driver.messageStyleIcon = 1;
      }
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

LRESULT CALLBACK GetMessageHook(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HC_ACTION && wParam == PM_REMOVE) {
    const auto* message = reinterpret_cast<const MSG*>(lParam);
    if (message->message == WM_TIMER && message->hwnd != nullptr &&
        GetParent(message->hwnd) == driver.hostWindow && FindOwnDialog(false) != nullptr) {
      ++driver.pollsWhileOpen;
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

void CALLBACK DriverTick(HWND, UINT, UINT_PTR, DWORD) {
  if (driver.step >= static_cast<int>(driver.steps.size())) return;
  if (driver.steps[static_cast<std::size_t>(driver.step)]()) {
    ++driver.step;
    driver.idleTicks = 0;
  } else if (++driver.idleTicks > 100) {
    winecheck::Fail("step " + std::to_string(driver.step) + " never completed; closing");
    driver.step = static_cast<int>(driver.steps.size());
    if (HWND box = FindOwnDialog(true)) PostMessageA(box, WM_COMMAND, IDOK, 0);
    if (HWND dialog = FindOwnDialog(false)) PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
  }
}

void RunConfig(Plugin& plugin, std::vector<std::function<bool()>> steps) {
  driver.steps = std::move(steps);
  driver.step = 0;
  driver.idleTicks = 0;
  const UINT_PTR timer = SetTimer(nullptr, 0, 50, DriverTick);
  plugin.Config();
  KillTimer(nullptr, timer);
  Check(driver.step == static_cast<int>(driver.steps.size()), "every dialog step ran");
}

std::string ItemText(HWND dialog, int id) {
  char text[256] = {};
  GetDlgItemTextA(dialog, id, text, sizeof text);
  return text;
}

std::string ListEntry(HWND dialog, int id, int index) {
  char text[256] = {};
  SendDlgItemMessageA(dialog, id, CB_GETLBTEXT, static_cast<WPARAM>(index),
                      reinterpret_cast<LPARAM>(text));
  return text;
}

bool FindDialogStep() {
  driver.dialog = FindOwnDialog(false);
  return driver.dialog != nullptr;
}

// Presses the dialog's button as the dialog manager would, from inside its loop.
void Press(int id) {
  PostMessageA(driver.dialog, WM_COMMAND, static_cast<WPARAM>(id), 0);
}

// ---------------------------------------------------------------------------------------------
// The picture

bool SaveBitmap(HWND window, const std::string& path) {
  // The client area: without a window manager nobody draws the frame.
  RECT r{};
  GetClientRect(window, &r);
  MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&r), 2);
  const int width = r.right - r.left;
  const int height = r.bottom - r.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
  GdiFlush();
  const DWORD stride = ((static_cast<DWORD>(width) * 3 + 3) / 4) * 4;
  const DWORD imageSize = stride * static_cast<DWORD>(height);
  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof info.bmiHeader;
  file.bfSize = file.bfOffBits + imageSize;
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(&file), sizeof file);
  out.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof info.bmiHeader);
  out.write(static_cast<const char*>(bits), imageSize);
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return out.good();
}

}  // namespace

int main(int argc, char** argv) {
  Plugin plugin;
  if (!LoadPlugin("Pendant.dll", plugin)) {
    winecheck::Fail("Pendant.dll loads");
    return winecheck::Summary();
  }
  const std::string folder = ProgramFolder();
  const std::string profilePath = folder + "dialog_profile.xml";
  const bool picture = argc > 1;
  {
    // The picture shows the defaults; the test starts from a few hand-edited values.
    std::ofstream profile(profilePath, std::ios::binary | std::ios::trunc);
    profile << "<?xml version=\"1.0\"?>\n<profile><Other>kept</Other>"
            << (picture ? ""
                        : "<Talvik_Q5_Pendant><StepJogRate>55</StepJogRate><BUTTON2>70</BUTTON2>"
                          "</Talvik_Q5_Pendant>")
            << "</profile>\n";
  }
  std::vector<std::uint8_t> state(hostblock::kHostStateSize);
  std::vector<std::uint8_t> config(hostblock::kHostConfigSize);
  std::vector<std::uint8_t> motion(hostblock::kHostMotionSize);
  driver.hostWindow = CreateHostWindow();

  OlderHostString name;
  std::memcpy(name.text, profilePath.data(), std::min<std::size_t>(profilePath.size(), MAX_PATH));
  name.dataLength = static_cast<std::int32_t>(std::strlen(name.text));
  plugin.SetProName(HostString{name.text});
  plugin.SetDoButton(NoButton);
  plugin.SetSetDRO(NoSetDRO);
  plugin.SetGetDRO(NoGetDRO);
  plugin.SetGetLED(NoGetLED);
  plugin.SetSetLED(NoSetLED);
  plugin.SetCode(NoCode);
  plugin.InitControl(state.data(), config.data(), motion.data(), driver.hostWindow);
  plugin.PostInitControl();

  const HHOOK cbt = SetWindowsHookExA(WH_CBT, CbtHook, nullptr, GetCurrentThreadId());
  const HHOOK getMessage =
      SetWindowsHookExA(WH_GETMESSAGE, GetMessageHook, nullptr, GetCurrentThreadId());

  if (picture) {
    // The picture: wait until the dialog has painted, save it, leave with Esc.
    int waited = 0;
    RunConfig(plugin, {FindDialogStep, [&] { return ++waited > 10; },
                       [&] {
                         Check(SaveBitmap(driver.dialog, argv[1]), "picture saved");
                         Press(IDCANCEL);
                         return true;
                       }});
  } else {
    RunConfig(
        plugin,
        {FindDialogStep,
         [] {
           HWND d = driver.dialog;
           char caption[64] = {};
           GetWindowTextA(d, caption, sizeof caption);
           CheckText(caption, "", "no title text");
           const LONG style = GetWindowLongA(d, GWL_STYLE);
           Check((style & WS_SYSMENU) == 0, "no close box");
           Check((GetWindowLongA(d, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0, "stays on top");
           RECT client{};
           GetClientRect(d, &client);
           RECT units{0, 0, 733, 410};
           MapDialogRect(d, &units);
           Check(client.right == units.right && client.bottom == units.bottom,
                 "733 by 410 dialog units");
           CheckText(ItemText(d, 1002),
                     "No pendant found. Plug it in: it is picked up when plugged in.",
                     "the status area tells that no pendant is connected");
           CheckText(ItemText(d, 1003), "", "no live view without a pendant");
           CheckText(ItemText(d, 4182), "55", "StepJogRate from the profile");
           CheckText(ItemText(d, 4171), "0.0001", "S1 default");
           CheckText(ItemText(d, 4222), "100", "C7 default");
           CheckText(ItemText(d, IDOK), "OK", "OK button");
           CheckText(ItemText(d, 4161), "Use FRO", "first FRO option");
           CheckText(ItemText(d, 4159), "Use Spindle Speed", "second SOV option");
           CheckText(ItemText(d, 4245), "Reverse X axis MPG", "reverse X check box");
           CheckText(ItemText(d, 4244), "Include C axis in axis selection", "C axis check box");
           Check(IsDlgButtonChecked(d, 4161) == BST_CHECKED, "UseFRO 0 marks Use FRO");
           Check(SendDlgItemMessageA(d, 4037, CB_GETCOUNT, 0, 0) == 10, "ten velocity entries");
           CheckText(ListEntry(d, 4037, 9), "10", "velocity entry 10");
           Check(SendDlgItemMessageA(d, 4037, CB_GETCURSEL, 0, 0) == 2, "Vel missing shows 3");
           Check(SendDlgItemMessageA(d, 4040, CB_GETCOUNT, 0, 0) == 66, "66 button actions");
           CheckText(ListEntry(d, 4040, 0), " NONE", "first button action");
           Check(SendDlgItemMessageA(d, 4043, CB_GETCURSEL, 0, 0) == CB_ERR,
                 "BUTTON2 70 shows no selection");
           CheckText(ListEntry(d, 4032, 2), " Screen 2 (MDI screen)         ", "screen entry 2");
           CheckText(ListEntry(d, 4023, 2), "4", "slow-down entry 3");

           SetDlgItemTextA(d, 4200, "251");
           SetDlgItemTextA(d, 4182, "12abc");
           SendDlgItemMessageA(d, 4037, CB_SETCURSEL, 9, 0);
           // As a click on "Use Feed Rate" leaves the pair.
           CheckDlgButton(d, 4161, BST_UNCHECKED);
           CheckDlgButton(d, 4035, BST_CHECKED);
           CheckDlgButton(d, 4246, BST_CHECKED);
           driver.messageBox = nullptr;
           Press(IDOK);
           return true;
         },
         [] {
           if (driver.messageBox == nullptr) return false;
           CheckText(driver.messageText, "Please enter an integer between 0 and 250.",
                     "range message");
           Check(driver.messageStyleIcon == 1, "range message shows the exclamation icon");
           PostMessageA(driver.messageBox, WM_COMMAND, IDOK, 0);
           return true;
         },
         [] {
           if (FindOwnDialog(true) != nullptr) return false;
           HWND field = GetDlgItem(driver.dialog, 4200);
           Check(GetFocus() == field, "focus on Fp3");
           DWORD from = 0, to = 0;
           SendMessageA(field, EM_GETSEL, reinterpret_cast<WPARAM>(&from),
                        reinterpret_cast<LPARAM>(&to));
           Check(from == 0 && to == 3, "Fp3's text selected");
           SetDlgItemTextA(driver.dialog, 4200, "");
           driver.messageBox = nullptr;
           Press(IDOK);
           return true;
         },
         [] {
           if (driver.messageBox == nullptr) return false;
           CheckText(driver.messageText, "Please enter an integer.", "integer message");
           Check(driver.messageStyleIcon == 0, "integer message has no icon");
           PostMessageA(driver.messageBox, WM_COMMAND, IDOK, 0);
           return true;
         },
         [] {
           if (FindOwnDialog(true) != nullptr) return false;
           SetDlgItemTextA(driver.dialog, 4200, "250");
           Press(IDOK);
           return true;
         }});
    std::string xml = ReadFile(profilePath);
    CheckText(KeyText(xml, "Fp3"), "250", "Fp3 saved");
    CheckText(KeyText(xml, "StepJogRate"), "12", "12abc saved as 12");
    CheckText(KeyText(xml, "Vel"), "9", "velocity entry 10 saved as 9");
    CheckText(KeyText(xml, "UseFRO"), "1", "Use Feed Rate saved");
    CheckText(KeyText(xml, "Yreverse"), "1", "reverse Y saved");
    CheckText(KeyText(xml, "BUTTON2"), "-1", "list without selection saved as -1");
    CheckText(KeyText(xml, "Other"), "kept", "the host's own settings kept");
    Check(driver.pollsWhileOpen > 0, "the poll timer ran while the dialog was open");

    // Esc: the typed value is dropped and the profile keeps what was loaded.
    RunConfig(plugin, {FindDialogStep, [] {
                         CheckText(ItemText(driver.dialog, 4200), "250", "Fp3 shown on reopen");
                         SetDlgItemTextA(driver.dialog, 4182, "999");
                         HWND field = GetDlgItem(driver.dialog, 4182);
                         SetFocus(field);
                         PostMessageA(field, WM_KEYDOWN, VK_ESCAPE, 0);
                         return true;
                       }});
    xml = ReadFile(profilePath);
    CheckText(KeyText(xml, "StepJogRate"), "12", "Esc keeps StepJogRate");
    CheckText(KeyText(xml, "Fp3"), "250", "Esc keeps Fp3");

    // A read-only profile is not replaced, and the operator is told that OK saved nothing.
    SetFileAttributesA(profilePath.c_str(), FILE_ATTRIBUTE_READONLY);
    RunConfig(plugin, {FindDialogStep,
                       [] {
                         SetDlgItemTextA(driver.dialog, 4182, "77");
                         Press(IDOK);
                         return true;
                       },
                       [] {
                         // Shown after the dialog has gone, before Config returns.
                         if (FindOwnDialog(false) != nullptr) return false;
                         HWND box = FindOwnDialog(true);
                         if (box == nullptr) return false;
                         char text[512] = {};
                         GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
                         const std::string shown = text;
                         Check(shown.rfind("The pendant settings were not saved. ", 0) == 0 &&
                                   shown.find("read-only") != std::string::npos,
                               "read-only message: " + shown);
                         PostMessageA(box, WM_COMMAND, IDOK, 0);
                         return true;
                       }});
    Check(ReadFile(profilePath) == xml, "read-only profile untouched");
    Check((GetFileAttributesA(profilePath.c_str()) & FILE_ATTRIBUTE_READONLY) != 0,
          "profile still read-only");
    Check(GetFileAttributesA((profilePath + ".pendant.tmp").c_str()) == INVALID_FILE_ATTRIBUTES,
          "no temporary file left");
    SetFileAttributesA(profilePath.c_str(), FILE_ATTRIBUTE_NORMAL);
  }

  UnhookWindowsHookEx(getMessage);
  UnhookWindowsHookEx(cbt);
  plugin.StopPlug();
  DestroyWindow(driver.hostWindow);
  return winecheck::Summary();
}
