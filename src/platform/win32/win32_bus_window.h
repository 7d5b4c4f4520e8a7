// The hidden child window of the host's window that carries the poll timer and the HID class's
// device-change notifications, and hands both to the bus's listener.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "link/device_bus.h"
#include "platform/win32/win32_handles.h"

class BusWindow {
 public:
  // A child (id 1, 10 x 10, not visible) of `parent`; without a parent, or when the child cannot
  // be made, a message-only window instead. When none can be made, Exists() is false: no timer,
  // no notifications.
  explicit BusWindow(HWND parent);
  ~BusWindow();
  BusWindow(const BusWindow&) = delete;
  BusWindow& operator=(const BusWindow&) = delete;

  bool Exists() const { return window_ != nullptr; }
  // Nothing reaches a null listener.
  void SetListener(BusListener* listener) { listener_ = listener; }

  bool RegisterNotifications();
  void UnregisterNotifications();
  void StartTimer(std::uint32_t id, std::uint32_t periodMs);
  // Ends the timers, the notifications and the window; safe inside one of the window's own
  // messages. The object stays valid and inert.
  void Destroy();

  LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

 private:
  HWND window_ = nullptr;
  HINSTANCE instance_ = nullptr;
  BusListener* listener_ = nullptr;
  UniqueDevNotify notification_;
  std::vector<UINT_PTR> timers_;
  bool inTimer_ = false;
  std::string broadcastName_;  // a UTF-16 broadcast name, converted
};
