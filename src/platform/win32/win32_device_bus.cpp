// The Win32 device bus and the hidden child window that carries the poll timer and the
// device-change messages.
#include "platform/win32/win32_device_bus.h"

// clang-format off
#include <windows.h>
#include <dbt.h>
#include <setupapi.h>
// clang-format on

// The HID header has no C++ linkage guard of its own.
extern "C" {
#include <hidsdi.h>
}

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/win32/module_instance.h"

namespace {

// The filter that RegisterDeviceNotificationA expects; the header packs it the same way on both
// targets.
static_assert(sizeof(DEV_BROADCAST_DEVICEINTERFACE_A) == 32);
// The detail record's size field counts the fixed part only: 5 bytes on i686, 8 on x64.
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == (sizeof(void*) == 8 ? 8 : 5));
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == (sizeof(void*) == 8 ? 32 : 28));
static_assert(sizeof(HIDD_ATTRIBUTES) == 12);

constexpr const char* kWindowClassName = "ShuttleWin";
constexpr int kWindowChildId = 1;
constexpr int kWindowSize = 10;
constexpr DWORD kShareReadWrite = FILE_SHARE_READ | FILE_SHARE_WRITE;

// Report lengths beyond this are not believed; the read and write then use the caller's size.
constexpr DWORD kMaxReportLength = 4096;
// Covers every full-speed HID report, so the poll never has to grow a buffer.
constexpr std::size_t kInitialReportStorage = 64;
// A detail record larger than this is not a device path.
constexpr DWORD kMaxDetailSize = 32 * 1024;

HANDLE ToHandle(DeviceHandle handle) {
  return reinterpret_cast<HANDLE>(handle);
}

DeviceHandle FromHandle(HANDLE handle) {
  return reinterpret_cast<DeviceHandle>(handle);
}

// Input and output report lengths of an opened HID device; 0 where the device does not tell.
void QueryReportLengths(HANDLE handle, DWORD& inputLength, DWORD& outputLength) {
  inputLength = 0;
  outputLength = 0;
  PHIDP_PREPARSED_DATA preparsed = nullptr;
  if (!HidD_GetPreparsedData(handle, &preparsed)) return;
  HIDP_CAPS caps{};
  if (HidP_GetCaps(preparsed, &caps) == HIDP_STATUS_SUCCESS) {
    if (caps.InputReportByteLength <= kMaxReportLength) inputLength = caps.InputReportByteLength;
    if (caps.OutputReportByteLength <= kMaxReportLength) outputLength = caps.OutputReportByteLength;
  }
  HidD_FreePreparsedData(preparsed);
}

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

class HidInterfaceEnumerator final : public InterfaceEnumerator {
 public:
  ~HidInterfaceEnumerator() override { End(); }

  bool Begin() override {
    End();
    HidD_GetHidGuid(&classGuid_);
    set_ =
        SetupDiGetClassDevsA(&classGuid_, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    return set_ != INVALID_HANDLE_VALUE;
  }

  bool Path(std::uint32_t index, std::string& path) override {
    path.clear();
    if (set_ == INVALID_HANDLE_VALUE) return false;
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof(data);
    if (!SetupDiEnumDeviceInterfaces(set_, nullptr, &classGuid_, index, &data)) return false;
    // From here on the interface exists: a failure leaves the path empty, which no open accepts,
    // so the search goes on with the next index instead of ending early.
    DWORD required = 0;
    SetupDiGetDeviceInterfaceDetailA(set_, &data, nullptr, 0, &required, nullptr);
    constexpr DWORD kPathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
    if (required <= kPathOffset || required > kMaxDetailSize) return true;
    // DWORD elements keep the record aligned for its size field.
    detail_.assign((required + sizeof(DWORD) - 1) / sizeof(DWORD), 0);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(detail_.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (SetupDiGetDeviceInterfaceDetailA(set_, &data, detail, required, nullptr, nullptr)) {
      path.assign(detail->DevicePath, strnlen(detail->DevicePath, required - kPathOffset));
    }
    return true;
  }

  void End() override {
    if (set_ != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(set_);
    set_ = INVALID_HANDLE_VALUE;
  }

  bool Attributes(const std::string&, void* handle, HidAttributes& attributes) override {
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr) return false;
    HIDD_ATTRIBUTES raw{};
    raw.Size = sizeof(raw);
    if (!HidD_GetAttributes(handle, &raw)) return false;
    attributes.vendorId = raw.VendorID;
    attributes.productId = raw.ProductID;
    attributes.versionNumber = raw.VersionNumber;
    return true;
  }

 private:
  GUID classGuid_{};
  HDEVINFO set_ = INVALID_HANDLE_VALUE;
  std::vector<DWORD> detail_;
};

class Win32DeviceBus final : public DeviceBus {
 public:
  explicit Win32DeviceBus(HWND parent);
  ~Win32DeviceBus() override;
  Win32DeviceBus(const Win32DeviceBus&) = delete;
  Win32DeviceBus& operator=(const Win32DeviceBus&) = delete;

  void SetListener(BusListener* listener) override { listener_ = listener; }

  bool BeginEnumeration() override {
    if (enumerator_->Begin()) return true;
    lastError_ = GetLastError();
    return false;
  }
  bool InterfacePath(std::uint32_t index, std::string& path) override {
    return enumerator_->Path(index, path);
  }
  void EndEnumeration() override { enumerator_->End(); }

  DeviceHandle Open(const std::string& path, OpenMode mode) override;
  bool GetAttributes(DeviceHandle handle, HidAttributes& attributes) override;
  void Close(DeviceHandle handle) override;

  void SetInputBufferCount(DeviceHandle handle, std::uint32_t reports) override;
  IoStatus StartRead(DeviceHandle handle, std::uint8_t* buffer, std::uint32_t size,
                     std::uint32_t& transferred) override;
  IoStatus WaitRead(DeviceHandle handle, std::uint32_t timeoutUs,
                    std::uint32_t& transferred) override;
  void CancelRead(DeviceHandle handle) override;

  bool Write(DeviceHandle handle, const std::uint8_t* data, std::uint32_t size) override;

  bool RegisterNotifications() override;
  void UnregisterNotifications() override;

  void StartTimer(std::uint32_t id, std::uint32_t periodMs) override;
  std::uint64_t NowMicroseconds() override;

  bool HasWindow() const override { return window_ != nullptr; }
  void Shutdown() override;

  std::uint32_t LastError() const override { return lastError_; }

  LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

 private:
  struct OpenDevice {
    HANDLE handle;
    std::string path;
    DWORD inputLength;
    DWORD outputLength;
  };

  const OpenDevice* Find(HANDLE handle) const;
  void AbandonRead();
  void FinishRead(DWORD count, std::uint32_t& transferred);

  std::unique_ptr<InterfaceEnumerator> enumerator_;
  BusListener* listener_ = nullptr;
  HWND window_ = nullptr;
  HINSTANCE instance_ = nullptr;
  HDEVNOTIFY notification_ = nullptr;
  std::vector<UINT_PTR> timers_;
  bool inTimer_ = false;
  std::string broadcastName_;  // a UTF-16 broadcast name, converted
  std::vector<OpenDevice> devices_;
  DWORD lastError_ = 0;

  // The one read that may be outstanding. The system reads into readStorage_, which is sized to
  // the device's input report length when that is larger than the caller's buffer (a shorter read
  // fails at once); the caller gets the first bytes, up to its own size, when the read is done.
  HANDLE readEvent_ = nullptr;
  OVERLAPPED readOverlapped_{};
  HANDLE readingHandle_ = INVALID_HANDLE_VALUE;
  bool readPending_ = false;
  std::uint8_t* readTarget_ = nullptr;
  std::uint32_t readTargetSize_ = 0;
  std::vector<std::uint8_t> readStorage_;
  // Output reports are padded with zeros to the device's output report length.
  std::vector<std::uint8_t> writeStorage_;
};

LRESULT CALLBACK BusWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* bus = reinterpret_cast<Win32DeviceBus*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (bus == nullptr) return DefWindowProcA(window, message, wParam, lParam);
  // The system called us: nothing may unwind into it.
  try {
    return bus->HandleMessage(window, message, wParam, lParam);
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

Win32DeviceBus::Win32DeviceBus(HWND parent)
    : enumerator_(CreateInterfaceEnumerator()),
      instance_(CodeModule()),
      readStorage_(kInitialReportStorage),
      writeStorage_(kInitialReportStorage) {
  devices_.reserve(4);
  timers_.reserve(2);
  // Manual reset, initially signalled, unnamed.
  readEvent_ = CreateEventA(nullptr, TRUE, TRUE, nullptr);

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

Win32DeviceBus::~Win32DeviceBus() {
  Shutdown();
  // Fails while another window of the class lives; the class then stays for the next bus.
  UnregisterClassA(kWindowClassName, instance_);
}

void Win32DeviceBus::Shutdown() {
  listener_ = nullptr;
  AbandonRead();
  // Handles the link left open (it owns them, but none may outlive the bus).
  for (const OpenDevice& device : devices_) CloseHandle(device.handle);
  devices_.clear();
  if (readEvent_ != nullptr) CloseHandle(readEvent_);
  readEvent_ = nullptr;
  UnregisterNotifications();
  if (window_ != nullptr) {
    for (UINT_PTR id : timers_) KillTimer(window_, id);
    // May run inside this window's own message: the window procedure then finds no bus.
    const HWND window = window_;
    window_ = nullptr;
    timers_.clear();
    SetWindowLongPtrA(window, GWLP_USERDATA, 0);
    DestroyWindow(window);
  }
}

const Win32DeviceBus::OpenDevice* Win32DeviceBus::Find(HANDLE handle) const {
  for (const OpenDevice& device : devices_) {
    if (device.handle == handle) return &device;
  }
  return nullptr;
}

DeviceHandle Win32DeviceBus::Open(const std::string& path, OpenMode mode) {
  DWORD access = 0;
  DWORD flags = 0;
  switch (mode) {
    case OpenMode::Probe:
      break;
    case OpenMode::OverlappedRead:
      access = GENERIC_READ;
      flags = FILE_FLAG_OVERLAPPED;
      break;
    case OpenMode::Write:
      access = GENERIC_WRITE;
      break;
  }
  // Everything that may throw happens before the open or after the handle is on record, so an
  // exception cannot leak the handle.
  OpenDevice device{INVALID_HANDLE_VALUE, path, 0, 0};
  devices_.reserve(devices_.size() + 1);
  HANDLE handle =
      CreateFileA(path.c_str(), access, kShareReadWrite, nullptr, OPEN_EXISTING, flags, nullptr);
  if (handle == INVALID_HANDLE_VALUE || handle == nullptr) {
    lastError_ = GetLastError();
    return kInvalidDeviceHandle;
  }
  device.handle = handle;
  if (mode != OpenMode::Probe) QueryReportLengths(handle, device.inputLength, device.outputLength);
  const DWORD inputLength = device.inputLength;
  const DWORD outputLength = device.outputLength;
  devices_.push_back(std::move(device));

  // Grow the buffers here, never in the poll. The read storage may be in the system's hands.
  if (inputLength > readStorage_.size()) {
    AbandonRead();
    readStorage_.resize(inputLength);
  }
  if (outputLength > writeStorage_.size()) writeStorage_.resize(outputLength);
  return FromHandle(handle);
}

bool Win32DeviceBus::GetAttributes(DeviceHandle handle, HidAttributes& attributes) {
  if (handle == kInvalidDeviceHandle) return false;
  const OpenDevice* device = Find(ToHandle(handle));
  if (device == nullptr) return false;
  return enumerator_->Attributes(device->path, device->handle, attributes);
}

void Win32DeviceBus::Close(DeviceHandle handle) {
  if (handle == kInvalidDeviceHandle) return;
  HANDLE native = ToHandle(handle);
  auto it = std::find_if(devices_.begin(), devices_.end(),
                         [native](const OpenDevice& device) { return device.handle == native; });
  // Only handles this bus opened are closed: a stray value must not close someone else's handle.
  if (it == devices_.end()) return;
  if (readPending_ && readingHandle_ == native) AbandonRead();
  CloseHandle(native);
  devices_.erase(it);
}

// Cancels the outstanding read, if any, and waits until the system is done with its buffer.
void Win32DeviceBus::AbandonRead() {
  if (!readPending_) return;
  CancelIoEx(readingHandle_, &readOverlapped_);
  DWORD ignored = 0;
  GetOverlappedResult(readingHandle_, &readOverlapped_, &ignored, TRUE);
  readPending_ = false;
  readingHandle_ = INVALID_HANDLE_VALUE;
  readTarget_ = nullptr;
  readTargetSize_ = 0;
}

void Win32DeviceBus::FinishRead(DWORD count, std::uint32_t& transferred) {
  const std::uint32_t copied = std::min<std::uint32_t>(count, readTargetSize_);
  if (copied > 0) std::memcpy(readTarget_, readStorage_.data(), copied);
  transferred = copied;
  readPending_ = false;
  readingHandle_ = INVALID_HANDLE_VALUE;
  readTarget_ = nullptr;
  readTargetSize_ = 0;
}

void Win32DeviceBus::SetInputBufferCount(DeviceHandle handle, std::uint32_t reports) {
  const OpenDevice* device = handle == kInvalidDeviceHandle ? nullptr : Find(ToHandle(handle));
  // Only a HID device has such a queue; anything else refuses, which changes nothing.
  if (device != nullptr) HidD_SetNumInputBuffers(device->handle, reports);
}

IoStatus Win32DeviceBus::StartRead(DeviceHandle handle, std::uint8_t* buffer, std::uint32_t size,
                                   std::uint32_t& transferred) {
  transferred = 0;
  HANDLE native = ToHandle(handle);
  const OpenDevice* device = handle == kInvalidDeviceHandle ? nullptr : Find(native);
  if (device == nullptr || buffer == nullptr || size == 0 || readEvent_ == nullptr) {
    lastError_ = ERROR_INVALID_HANDLE;
    return IoStatus::Failed;
  }
  // One overlapped record and one buffer: an earlier read must be finished before they are reused.
  AbandonRead();
  const DWORD length = std::max<DWORD>(size, device->inputLength);
  if (length > readStorage_.size()) return IoStatus::Failed;

  readOverlapped_ = OVERLAPPED{};
  readOverlapped_.hEvent = readEvent_;
  readingHandle_ = native;
  readTarget_ = buffer;
  readTargetSize_ = size;
  readPending_ = true;
  DWORD count = 0;
  if (ReadFile(native, readStorage_.data(), length, &count, &readOverlapped_)) {
    // Completed at once; the overlapped record holds the authoritative count.
    GetOverlappedResult(native, &readOverlapped_, &count, FALSE);
    FinishRead(count, transferred);
    return IoStatus::Done;
  }
  const DWORD error = GetLastError();
  if (error == ERROR_IO_PENDING) return IoStatus::Pending;
  lastError_ = error;
  readPending_ = false;
  readingHandle_ = INVALID_HANDLE_VALUE;
  readTarget_ = nullptr;
  readTargetSize_ = 0;
  return IoStatus::Failed;
}

IoStatus Win32DeviceBus::WaitRead(DeviceHandle handle, std::uint32_t timeoutUs,
                                  std::uint32_t& transferred) {
  transferred = 0;
  HANDLE native = ToHandle(handle);
  if (!readPending_ || readingHandle_ != native) {
    lastError_ = ERROR_INVALID_HANDLE;
    return IoStatus::Failed;
  }
  DWORD waited = WaitForSingleObject(readEvent_, timeoutUs / 1000);
  // The system waits whole milliseconds; a remainder below one, the usual short wait for a
  // report being handed over, is spent checking the event and giving way to other threads.
  const std::uint64_t remainderStart = timeoutUs % 1000 != 0 ? NowMicroseconds() : 0;
  if (remainderStart != 0) {
    const std::uint64_t deadline = remainderStart + timeoutUs % 1000;
    while (waited == WAIT_TIMEOUT && NowMicroseconds() < deadline) {
      SwitchToThread();
      waited = WaitForSingleObject(readEvent_, 0);
    }
  }
  if (waited == WAIT_TIMEOUT) return IoStatus::Pending;
  if (waited != WAIT_OBJECT_0) {
    // The event is unusable: the read could never be collected, so take it back now.
    lastError_ = GetLastError();
    AbandonRead();
    return IoStatus::Failed;
  }
  DWORD count = 0;
  if (GetOverlappedResult(native, &readOverlapped_, &count, FALSE)) {
    FinishRead(count, transferred);
    return IoStatus::Done;
  }
  const DWORD error = GetLastError();
  if (error == ERROR_IO_INCOMPLETE) return IoStatus::Pending;
  lastError_ = error;
  readPending_ = false;
  readingHandle_ = INVALID_HANDLE_VALUE;
  readTarget_ = nullptr;
  readTargetSize_ = 0;
  return IoStatus::Failed;
}

void Win32DeviceBus::CancelRead(DeviceHandle handle) {
  if (readPending_ && readingHandle_ == ToHandle(handle)) AbandonRead();
}

bool Win32DeviceBus::Write(DeviceHandle handle, const std::uint8_t* data, std::uint32_t size) {
  if (handle == kInvalidDeviceHandle || data == nullptr) return false;
  HANDLE native = ToHandle(handle);
  const OpenDevice* device = Find(native);
  if (device == nullptr) return false;
  const void* bytes = data;
  DWORD length = size;
  // A HID write shorter than the device's output report fails: pad with zeros.
  if (device->outputLength > size && device->outputLength <= writeStorage_.size()) {
    std::fill(writeStorage_.begin(), writeStorage_.begin() + device->outputLength, 0);
    std::memcpy(writeStorage_.data(), data, size);
    bytes = writeStorage_.data();
    length = device->outputLength;
  }
  DWORD written = 0;
  return WriteFile(native, bytes, length, &written, nullptr) && written == length;
}

bool Win32DeviceBus::RegisterNotifications() {
  if (notification_ != nullptr) return true;
  if (window_ == nullptr) return false;
  DEV_BROADCAST_DEVICEINTERFACE_A filter{};
  filter.dbcc_size = sizeof(filter);
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  HidD_GetHidGuid(&filter.dbcc_classguid);
  notification_ = RegisterDeviceNotificationA(window_, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
  return notification_ != nullptr;
}

void Win32DeviceBus::UnregisterNotifications() {
  if (notification_ != nullptr) UnregisterDeviceNotification(notification_);
  notification_ = nullptr;
}

void Win32DeviceBus::StartTimer(std::uint32_t id, std::uint32_t periodMs) {
  // Without the window a timer would be a thread timer with a system-chosen id: none at all.
  if (window_ == nullptr) return;
  if (SetTimer(window_, id, periodMs, nullptr) == 0) return;
  if (std::find(timers_.begin(), timers_.end(), id) == timers_.end()) timers_.push_back(id);
}

std::uint64_t Win32DeviceBus::NowMicroseconds() {
  // The performance counter: the tick count's resolution on Windows is far coarser than the
  // poll's few milliseconds.
  LARGE_INTEGER frequency{};
  LARGE_INTEGER counter{};
  if (!QueryPerformanceFrequency(&frequency) || frequency.QuadPart <= 0 ||
      !QueryPerformanceCounter(&counter)) {
    return 0;
  }
  const auto ticks = static_cast<std::uint64_t>(counter.QuadPart);
  const auto perSecond = static_cast<std::uint64_t>(frequency.QuadPart);
  return ticks / perSecond * 1000000 + ticks % perSecond * 1000000 / perSecond;
}

LRESULT Win32DeviceBus::HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_TIMER:
      // A host callback that pumps messages inside a poll must not start a second poll.
      if (listener_ != nullptr && !inTimer_) {
        inTimer_ = true;
        try {
          listener_->OnTimer();
        } catch (...) {
          inTimer_ = false;
          throw;
        }
        inTimer_ = false;
      }
      return 0;
    case WM_DEVICECHANGE: {
      const auto eventType = static_cast<std::uint32_t>(wParam);
      DeviceBroadcast decoded;
      const DeviceBroadcast* broadcast = nullptr;
      // Only these events carry a broadcast header; the name is read within the size it states.
      if (lParam != 0 && eventType >= DBT_DEVICEARRIVAL && eventType <= DBT_CUSTOMEVENT) {
        const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
        if (header->dbch_size >= sizeof(DEV_BROADCAST_HDR)) {
          decoded.deviceType = header->dbch_devicetype;
          constexpr DWORD kNameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name);
          if (decoded.deviceType == DBT_DEVTYP_DEVICEINTERFACE && header->dbch_size > kNameOffset) {
            decoded.name =
                InterfaceName(reinterpret_cast<const std::uint8_t*>(lParam) + kNameOffset,
                              header->dbch_size - kNameOffset, broadcastName_);
          }
          broadcast = &decoded;
        }
      }
      if (listener_ != nullptr) listener_->OnDeviceChange(eventType, broadcast);
      return TRUE;
    }
    case WM_NCDESTROY:
      // The parent may take the window down first; the bus must not use the handle afterwards.
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

}  // namespace

std::unique_ptr<InterfaceEnumerator> CreateHidInterfaceEnumerator() {
  return std::make_unique<HidInterfaceEnumerator>();
}

std::unique_ptr<InterfaceEnumerator> CreateInterfaceEnumerator() {
  return CreateHidInterfaceEnumerator();
}

std::unique_ptr<DeviceBus> CreateWin32DeviceBus(void* hostParentWindow) {
  return std::make_unique<Win32DeviceBus>(static_cast<HWND>(hostParentWindow));
}
