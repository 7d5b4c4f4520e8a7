#include "platform/win32/win32_bus_window.h"

// clang-format off
#include <windows.h>
#include <dbt.h>
// clang-format on

// The HID header has no C++ linkage guard of its own.
extern "C" {
#include <hidsdi.h>
}

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string_view>

#include "platform/win32/module_instance.h"

namespace {

// The filter that RegisterDeviceNotificationA expects; the header packs it the same way on both
// targets.
static_assert(sizeof(DEV_BROADCAST_DEVICEINTERFACE_A) == 32);

constexpr const char* kWindowClassName = "ShuttleWin";
constexpr int kWindowChildId = 1;
constexpr int kWindowSize = 10;

// The interface name of a device-interface broadcast, `size` bytes from where the name starts. A
// window registered with RegisterDeviceNotificationA gets the 8-bit form on Windows, but Wine
// sends it the UTF-16 form. A path starts with a non-zero ASCII character, so a zero second byte
// marks the UTF-16 form (an 8-bit path is never one character long). That form is converted into
// `storage` to the 8-bit code page the setup API gives paths in; a name that does not convert is
// returned empty, which matches no path.
std::string_view InterfaceName(const std::uint8_t* name, std::size_t size, std::string& storage) {
  const auto* narrow = reinterpret_cast<const char*>(name);
  if (size < 2 * sizeof(WCHAR) || name[0] == 0 || name[1] != 0) {
    return std::string_view(narrow, strnlen(narrow, size));
  }
  // The broadcast promises no alignment for the units: copy them out, up to the first NUL.
  std::wstring wide;
  for (std::size_t offset = 0; offset + sizeof(WCHAR) <= size; offset += sizeof(WCHAR)) {
    WCHAR unit = 0;
    std::memcpy(&unit, name + offset, sizeof unit);
    if (unit == 0) break;
    wide.push_back(unit);
  }
  storage.clear();
  const int units = static_cast<int>(wide.size());
  const int bytes =
      WideCharToMultiByte(CP_ACP, 0, wide.data(), units, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return {};
  storage.resize(static_cast<std::size_t>(bytes));
  if (WideCharToMultiByte(CP_ACP, 0, wide.data(), units, storage.data(), bytes, nullptr, nullptr) !=
      bytes) {
    storage.clear();
  }
  return storage;
}

LRESULT CALLBACK BusWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* owner = reinterpret_cast<BusWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (owner == nullptr) return DefWindowProcA(window, message, wParam, lParam);
  // The system called us: nothing may unwind into it.
  try {
    return owner->HandleMessage(window, message, wParam, lParam);
  } catch (...) {
    return message == WM_DEVICECHANGE ? TRUE : 0;
  }
}

// The module that holds this code, should the instance handle not have been recorded.
HINSTANCE CodeModule() {
  HINSTANCE instance = ThisModuleInstance();
  if (instance != nullptr) return instance;
  HMODULE module = nullptr;
  GetModuleHandleExA(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCSTR>(&BusWindowProc), &module);
  return module;
}

}  // namespace

BusWindow::BusWindow(HWND parent) : instance_(CodeModule()) {
  timers_.reserve(2);
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = BusWindowProc;
  windowClass.hInstance = instance_;
  windowClass.lpszClassName = kWindowClassName;
  RegisterClassA(&windowClass);  // already registered by an earlier bus: fine
  if (parent != nullptr) {
    window_ = CreateWindowExA(0, kWindowClassName, "", WS_CHILD, 0, 0, kWindowSize, kWindowSize,
                              parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kWindowChildId)),
                              instance_, this);
  }
  // Timers and device notifications need no visible parent: without one (or with a handle that
  // is not a window) a message-only window carries them.
  if (window_ == nullptr) {
    window_ = CreateWindowExA(0, kWindowClassName, "", 0, 0, 0, kWindowSize, kWindowSize,
                              HWND_MESSAGE, nullptr, instance_, this);
  }
}

BusWindow::~BusWindow() {
  Destroy();
  // Fails while another window of the class lives; the class then stays for the next bus.
  UnregisterClassA(kWindowClassName, instance_);
}

void BusWindow::Destroy() {
  listener_ = nullptr;
  UnregisterNotifications();
  if (window_ == nullptr) return;
  for (UINT_PTR id : timers_) KillTimer(window_, id);
  // May run inside this window's own message: the window procedure then finds no owner.
  const HWND window = window_;
  window_ = nullptr;
  timers_.clear();
  SetWindowLongPtrA(window, GWLP_USERDATA, 0);
  DestroyWindow(window);
}

bool BusWindow::RegisterNotifications() {
  if (notification_) return true;
  if (window_ == nullptr) return false;
  DEV_BROADCAST_DEVICEINTERFACE_A filter{};
  filter.dbcc_size = sizeof(filter);
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  HidD_GetHidGuid(&filter.dbcc_classguid);
  notification_.reset(RegisterDeviceNotificationA(window_, &filter, DEVICE_NOTIFY_WINDOW_HANDLE));
  return static_cast<bool>(notification_);
}

void BusWindow::UnregisterNotifications() {
  notification_.reset();
}

void BusWindow::StartTimer(std::uint32_t id, std::uint32_t periodMs) {
  // Without the window a timer would be a thread timer with a system-chosen id: none at all.
  if (window_ == nullptr) return;
  if (SetTimer(window_, id, periodMs, nullptr) == 0) return;
  if (std::find(timers_.begin(), timers_.end(), id) == timers_.end()) timers_.push_back(id);
}

LRESULT BusWindow::HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_TIMER:
      // A host callback that pumps messages inside a poll must not start a second poll.
      if (listener_ != nullptr && !inTimer_) {
        inTimer_ = true;
        try {
          listener_->OnTick();
        } catch (...) {
          inTimer_ = false;
          throw;
        }
        inTimer_ = false;
      }
      return 0;
    case WM_DEVICECHANGE: {
      const auto eventType = static_cast<std::uint32_t>(wParam);
      // An arrival of any kind may be the pendant back; only a device interface's removal
      // names a path. Only these events carry a broadcast header; the name is read within the
      // size it states.
      if (eventType != DBT_DEVICEARRIVAL && eventType != DBT_DEVICEREMOVECOMPLETE) return TRUE;
      bool isInterface = false;
      std::string_view name;
      if (lParam != 0) {
        const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
        if (header->dbch_size >= sizeof(DEV_BROADCAST_HDR) &&
            header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE) {
          isInterface = true;
          constexpr DWORD kNameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name);
          if (header->dbch_size > kNameOffset) {
            name = InterfaceName(reinterpret_cast<const std::uint8_t*>(lParam) + kNameOffset,
                                 header->dbch_size - kNameOffset, broadcastName_);
          }
        }
      }
      if (listener_ == nullptr) return TRUE;
      if (eventType == DBT_DEVICEARRIVAL) {
        listener_->OnInterfaceArrived(name);
      } else if (isInterface) {
        listener_->OnInterfaceGone(name);
      }
      return TRUE;
    }
    case WM_NCDESTROY:
      // The parent may take the window down first; the owner must not use the handle afterwards.
      SetWindowLongPtrA(window, GWLP_USERDATA, 0);
      if (window == window_) {
        window_ = nullptr;
        timers_.clear();
      }
      return DefWindowProcA(window, message, wParam, lParam);
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}
