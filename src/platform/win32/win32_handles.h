// Owners of the Win32 handles the device bus holds: each closes its handle exactly once, when it
// is reset or goes, so no path out of a function can leak one.
#pragma once

// clang-format off
#include <windows.h>
#include <setupapi.h>
// clang-format on

template <class Traits>
class UniqueOwner {
 public:
  using Handle = typename Traits::Handle;

  UniqueOwner() = default;
  explicit UniqueOwner(Handle handle) : handle_(handle) {}
  ~UniqueOwner() { reset(); }
  UniqueOwner(UniqueOwner&& other) noexcept : handle_(other.release()) {}
  UniqueOwner& operator=(UniqueOwner&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueOwner(const UniqueOwner&) = delete;
  UniqueOwner& operator=(const UniqueOwner&) = delete;

  Handle get() const { return handle_; }
  explicit operator bool() const { return Traits::Valid(handle_); }
  Handle release() {
    const Handle handle = handle_;
    handle_ = Traits::Invalid();
    return handle;
  }
  void reset(Handle handle = Traits::Invalid()) {
    if (Traits::Valid(handle_)) Traits::Close(handle_);
    handle_ = handle;
  }

 private:
  Handle handle_ = Traits::Invalid();
};

// Files and events; CreateFile fails with INVALID_HANDLE_VALUE, CreateEvent with null.
struct KernelHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return INVALID_HANDLE_VALUE; }
  static bool Valid(Handle handle) { return handle != INVALID_HANDLE_VALUE && handle != nullptr; }
  static void Close(Handle handle) { CloseHandle(handle); }
};
using UniqueHandle = UniqueOwner<KernelHandleTraits>;

struct DevInfoTraits {
  using Handle = HDEVINFO;
  static Handle Invalid() { return INVALID_HANDLE_VALUE; }
  static bool Valid(Handle handle) { return handle != INVALID_HANDLE_VALUE && handle != nullptr; }
  static void Close(Handle handle) { SetupDiDestroyDeviceInfoList(handle); }
};
using UniqueDevInfo = UniqueOwner<DevInfoTraits>;

struct DevNotifyTraits {
  using Handle = HDEVNOTIFY;
  static Handle Invalid() { return nullptr; }
  static bool Valid(Handle handle) { return handle != nullptr; }
  static void Close(Handle handle) { UnregisterDeviceNotification(handle); }
};
using UniqueDevNotify = UniqueOwner<DevNotifyTraits>;
