// The Win32 device bus: HID interfaces through the setup API, device files, the one overlapped
// read, writes; the hidden window (win32_bus_window) carries its timer and notifications.
#include "platform/win32/win32_device_bus.h"

// clang-format off
#include <windows.h>
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

#include "platform/win32/win32_bus_window.h"
#include "platform/win32/win32_handles.h"

namespace {

// The window's one timer: the poll's ticks.
constexpr std::uint32_t kPollTimerId = 1;

// The detail record's size field counts the fixed part only: 5 bytes on i686, 8 on x64.
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == (sizeof(void*) == 8 ? 8 : 5));
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == (sizeof(void*) == 8 ? 32 : 28));
static_assert(sizeof(HIDD_ATTRIBUTES) == 12);

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

class HidInterfaceEnumerator final : public InterfaceEnumerator {
 public:
  ~HidInterfaceEnumerator() override { End(); }

  bool Begin() override {
    End();
    HidD_GetHidGuid(&classGuid_);
    set_.reset(
        SetupDiGetClassDevsA(&classGuid_, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    return static_cast<bool>(set_);
  }

  bool Path(std::uint32_t index, std::string& path) override {
    path.clear();
    if (!set_) return false;
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof(data);
    if (!SetupDiEnumDeviceInterfaces(set_.get(), nullptr, &classGuid_, index, &data)) return false;
    // From here on the interface exists: a failure leaves the path empty, which no open accepts,
    // so the search goes on with the next index instead of ending early.
    DWORD required = 0;
    SetupDiGetDeviceInterfaceDetailA(set_.get(), &data, nullptr, 0, &required, nullptr);
    constexpr DWORD kPathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
    if (required <= kPathOffset || required > kMaxDetailSize) return true;
    // DWORD elements keep the record aligned for its size field.
    detail_.assign((required + sizeof(DWORD) - 1) / sizeof(DWORD), 0);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(detail_.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (SetupDiGetDeviceInterfaceDetailA(set_.get(), &data, detail, required, nullptr, nullptr)) {
      path.assign(detail->DevicePath, strnlen(detail->DevicePath, required - kPathOffset));
    }
    return true;
  }

  void End() override { set_.reset(); }

  bool Attributes(const std::string&, void* handle, HidAttributes& attributes) override {
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr) return false;
    HIDD_ATTRIBUTES raw{};
    raw.Size = sizeof(raw);
    if (!HidD_GetAttributes(handle, &raw)) return false;
    attributes.vendorId = raw.VendorID;
    attributes.productId = raw.ProductID;
    return true;
  }

 private:
  GUID classGuid_{};
  UniqueDevInfo set_;
  std::vector<DWORD> detail_;
};

class Win32DeviceBus final : public DeviceBus {
 public:
  explicit Win32DeviceBus(HWND parent);
  ~Win32DeviceBus() override;
  Win32DeviceBus(const Win32DeviceBus&) = delete;
  Win32DeviceBus& operator=(const Win32DeviceBus&) = delete;

  void SetListener(BusListener* listener) override { window_.SetListener(listener); }

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
  IoStatus ReadReport(DeviceHandle handle, std::uint8_t* buffer, std::uint32_t size,
                      std::uint32_t timeoutUs, std::uint32_t& transferred,
                      bool& handedOverAtOnce) override;
  bool ReadOutstanding(DeviceHandle handle) const override {
    return readPending_ && readingHandle_ == ToHandle(handle);
  }

  bool Write(DeviceHandle handle, const std::uint8_t* data, std::uint32_t size) override;

  bool RegisterNotifications() override { return window_.RegisterNotifications(); }
  void UnregisterNotifications() override { window_.UnregisterNotifications(); }

  void StartTicks(std::uint32_t periodMs) override { window_.StartTimer(kPollTimerId, periodMs); }
  std::uint64_t NowMicroseconds() override;

  bool Ready() const override { return window_.Exists(); }
  void Shutdown() override;

  std::uint32_t LastError() const override { return lastError_; }

 private:
  struct OpenDevice {
    UniqueHandle handle;
    std::string path;
    DWORD inputLength;
    DWORD outputLength;
  };

  const OpenDevice* Find(HANDLE handle) const;
  // Starts the read on `device`: Done when the system handed a report over at once.
  IoStatus StartRead(HANDLE native, const OpenDevice& device, std::uint8_t* buffer,
                     std::uint32_t size, std::uint32_t& transferred);
  IoStatus WaitRead(HANDLE native, std::uint32_t timeoutUs, std::uint8_t* buffer,
                    std::uint32_t size, std::uint32_t& transferred);
  void AbandonRead();
  // The read is done: its first bytes, up to `size`, go to `buffer`.
  void FinishRead(DWORD count, std::uint8_t* buffer, std::uint32_t size,
                  std::uint32_t& transferred);
  // No read outstanding any more.
  void ClearRead();

  std::unique_ptr<InterfaceEnumerator> enumerator_;
  BusWindow window_;
  std::vector<OpenDevice> devices_;
  DWORD lastError_ = 0;

  // The one read that may be outstanding. The system reads into readStorage_, which is sized to
  // the device's input report length when that is larger than the caller's buffer (a shorter read
  // fails at once); the caller gets the first bytes, up to its own size, when the read is done.
  UniqueHandle readEvent_;
  OVERLAPPED readOverlapped_{};
  HANDLE readingHandle_ = INVALID_HANDLE_VALUE;
  bool readPending_ = false;
  std::vector<std::uint8_t> readStorage_;
  // Output reports are padded with zeros to the device's output report length.
  std::vector<std::uint8_t> writeStorage_;
};

Win32DeviceBus::Win32DeviceBus(HWND parent)
    : enumerator_(CreateInterfaceEnumerator()),
      window_(parent),
      readStorage_(kInitialReportStorage),
      writeStorage_(kInitialReportStorage) {
  devices_.reserve(4);
  // Manual reset, initially signalled, unnamed.
  readEvent_.reset(CreateEventA(nullptr, TRUE, TRUE, nullptr));
}

Win32DeviceBus::~Win32DeviceBus() {
  Shutdown();
}

void Win32DeviceBus::Shutdown() {
  window_.SetListener(nullptr);
  AbandonRead();
  // Handles the link left open (it owns them, but none may outlive the bus).
  devices_.clear();
  readEvent_.reset();
  window_.Destroy();
}

const Win32DeviceBus::OpenDevice* Win32DeviceBus::Find(HANDLE handle) const {
  for (const OpenDevice& device : devices_) {
    if (device.handle.get() == handle) return &device;
  }
  return nullptr;
}

DeviceHandle Win32DeviceBus::Open(const std::string& path, OpenMode mode) {
  DWORD access = 0;
  DWORD flags = 0;
  switch (mode) {
    case OpenMode::Probe:
      break;
    case OpenMode::Read:
      access = GENERIC_READ;
      flags = FILE_FLAG_OVERLAPPED;
      break;
    case OpenMode::Write:
      access = GENERIC_WRITE;
      break;
  }
  // Everything that may throw happens before the open or after the handle is on record, so an
  // exception cannot leak the handle.
  OpenDevice device{UniqueHandle(), path, 0, 0};
  devices_.reserve(devices_.size() + 1);
  device.handle.reset(
      CreateFileA(path.c_str(), access, kShareReadWrite, nullptr, OPEN_EXISTING, flags, nullptr));
  if (!device.handle) {
    lastError_ = GetLastError();
    return kInvalidDeviceHandle;
  }
  const HANDLE handle = device.handle.get();
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
  return enumerator_->Attributes(device->path, device->handle.get(), attributes);
}

void Win32DeviceBus::Close(DeviceHandle handle) {
  if (handle == kInvalidDeviceHandle) return;
  HANDLE native = ToHandle(handle);
  auto it = std::find_if(devices_.begin(), devices_.end(), [native](const OpenDevice& device) {
    return device.handle.get() == native;
  });
  // Only handles this bus opened are closed: a stray value must not close someone else's handle.
  if (it == devices_.end()) return;
  if (readPending_ && readingHandle_ == native) AbandonRead();
  devices_.erase(it);
}

// Cancels the outstanding read, if any, and waits until the system is done with its buffer.
void Win32DeviceBus::AbandonRead() {
  if (!readPending_) return;
  CancelIoEx(readingHandle_, &readOverlapped_);
  DWORD ignored = 0;
  GetOverlappedResult(readingHandle_, &readOverlapped_, &ignored, TRUE);
  ClearRead();
}

void Win32DeviceBus::ClearRead() {
  readPending_ = false;
  readingHandle_ = INVALID_HANDLE_VALUE;
}

void Win32DeviceBus::FinishRead(DWORD count, std::uint8_t* buffer, std::uint32_t size,
                                std::uint32_t& transferred) {
  const auto copied =
      static_cast<std::uint32_t>(std::min<std::size_t>({count, size, readStorage_.size()}));
  if (copied > 0) std::memcpy(buffer, readStorage_.data(), copied);
  transferred = copied;
  ClearRead();
}

void Win32DeviceBus::SetInputBufferCount(DeviceHandle handle, std::uint32_t reports) {
  const OpenDevice* device = handle == kInvalidDeviceHandle ? nullptr : Find(ToHandle(handle));
  // Only a HID device has such a queue; anything else refuses, which changes nothing.
  if (device != nullptr) HidD_SetNumInputBuffers(device->handle.get(), reports);
}

IoStatus Win32DeviceBus::ReadReport(DeviceHandle handle, std::uint8_t* buffer, std::uint32_t size,
                                    std::uint32_t timeoutUs, std::uint32_t& transferred,
                                    bool& handedOverAtOnce) {
  transferred = 0;
  handedOverAtOnce = false;
  HANDLE native = ToHandle(handle);
  const OpenDevice* device = handle == kInvalidDeviceHandle ? nullptr : Find(native);
  if (device == nullptr || buffer == nullptr || size == 0 || !readEvent_) {
    lastError_ = ERROR_INVALID_HANDLE;
    return IoStatus::Failed;
  }
  if (!ReadOutstanding(handle)) {
    const IoStatus started = StartRead(native, *device, buffer, size, transferred);
    if (started != IoStatus::Pending) {
      handedOverAtOnce = started == IoStatus::Done;
      return started;
    }
  }
  return WaitRead(native, timeoutUs, buffer, size, transferred);
}

IoStatus Win32DeviceBus::StartRead(HANDLE native, const OpenDevice& device, std::uint8_t* buffer,
                                   std::uint32_t size, std::uint32_t& transferred) {
  // One overlapped record and one buffer: an earlier read must be finished before they are reused.
  AbandonRead();
  const DWORD length = std::max<DWORD>(size, device.inputLength);
  if (length > readStorage_.size()) return IoStatus::Failed;

  readOverlapped_ = OVERLAPPED{};
  readOverlapped_.hEvent = readEvent_.get();
  readingHandle_ = native;
  readPending_ = true;
  DWORD count = 0;
  if (ReadFile(native, readStorage_.data(), length, &count, &readOverlapped_)) {
    // Completed at once; the overlapped record holds the authoritative count.
    GetOverlappedResult(native, &readOverlapped_, &count, FALSE);
    FinishRead(count, buffer, size, transferred);
    return IoStatus::Done;
  }
  const DWORD error = GetLastError();
  if (error == ERROR_IO_PENDING) return IoStatus::Pending;
  lastError_ = error;
  ClearRead();
  return IoStatus::Failed;
}

IoStatus Win32DeviceBus::WaitRead(HANDLE native, std::uint32_t timeoutUs, std::uint8_t* buffer,
                                  std::uint32_t size, std::uint32_t& transferred) {
  DWORD waited = WaitForSingleObject(readEvent_.get(), timeoutUs / 1000);
  // The system waits whole milliseconds; a remainder below one, the usual short wait for a
  // report being handed over, is spent checking the event and giving way to other threads.
  const std::uint64_t remainderStart = timeoutUs % 1000 != 0 ? NowMicroseconds() : 0;
  if (remainderStart != 0) {
    const std::uint64_t deadline = remainderStart + timeoutUs % 1000;
    while (waited == WAIT_TIMEOUT && NowMicroseconds() < deadline) {
      SwitchToThread();
      waited = WaitForSingleObject(readEvent_.get(), 0);
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
    FinishRead(count, buffer, size, transferred);
    return IoStatus::Done;
  }
  const DWORD error = GetLastError();
  if (error == ERROR_IO_INCOMPLETE) return IoStatus::Pending;
  lastError_ = error;
  ClearRead();
  return IoStatus::Failed;
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
