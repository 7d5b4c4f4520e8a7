// The Win32 device bus: HID interface enumeration through the setup API, device files opened with
// CreateFileA, one overlapped read at a time with a bounded wait, synchronous writes, device-change
// notifications, and the hidden child window whose timer and device-change messages drive the link.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "link/device_bus.h"

// Creates the hidden child window (child id 1, 10 x 10, not visible) of `hostParentWindow` (an
// HWND) and the bus that owns it; without a parent, or when the child cannot be made, a
// message-only window instead. Never null; when no window can be created at all, the bus still
// opens and reads devices but has no timer and receives no notifications (Ready is false).
std::unique_ptr<DeviceBus> CreateWin32DeviceBus(void* hostParentWindow);

// Where the bus gets its interface list and the identity of an opened interface from: the HID
// class.
class InterfaceEnumerator {
 public:
  virtual ~InterfaceEnumerator() = default;
  virtual bool Begin() = 0;
  // False when there is no interface at `index`.
  virtual bool Path(std::uint32_t index, std::string& path) = 0;
  virtual void End() = 0;
  // Attributes of the device that `path` was opened as `handle` (a HANDLE); false if unknown.
  virtual bool Attributes(const std::string& path, void* handle, HidAttributes& attributes) = 0;
};

// The HID class enumeration of the system.
std::unique_ptr<InterfaceEnumerator> CreateHidInterfaceEnumerator();
// The one the bus uses.
std::unique_ptr<InterfaceEnumerator> CreateInterfaceEnumerator();
