#include "platform/win32/host_string.h"

#include <windows.h>

#include <cstdint>

#include "host_windows/host_blocks.h"
#include "platform/win32/host_string_layout.h"

namespace {

constexpr DWORD kReadable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                            PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
constexpr DWORD kWritable =
    PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;

// Walks the committed regions covering [p, p + n): a header that lies about its lengths must not
// make us touch memory that is not there.
bool ProbeMemory(const void* p, std::size_t n, bool write) {
  if (p == nullptr) return false;
  auto address = reinterpret_cast<std::uintptr_t>(p);
  if (n == 0) return true;
  if (address + n < address) return false;
  const std::uintptr_t end = address + n;
  const DWORD wanted = write ? kWritable : kReadable;
  while (address < end) {
    MEMORY_BASIC_INFORMATION info;
    if (VirtualQuery(reinterpret_cast<const void*>(address), &info, sizeof info) == 0) return false;
    if (info.State != MEM_COMMIT || (info.Protect & (PAGE_GUARD | PAGE_NOACCESS)) != 0 ||
        (info.Protect & wanted) == 0)
      return false;
    const auto regionEnd = reinterpret_cast<std::uintptr_t>(info.BaseAddress) + info.RegionSize;
    if (regionEnd <= address) return false;
    address = regionEnd;
  }
  return true;
}

// The host uses one string type throughout; what one object showed decides the rare header that
// fits both layouts.
hoststring::Layout seenLayout = hoststring::Layout::None;

// Only an unambiguous header teaches the layout.
void Learn(char* text) {
  const hoststring::Layout layout = hoststring::Inspect(text, ProbeMemory).layout;
  if (layout != hoststring::Layout::None) seenLayout = layout;
}

}  // namespace

std::string HostStringText(HostStringArg arg) {
  Learn(arg.text);
  return hoststring::ReadText(arg.text, ProbeMemory, seenLayout);
}

void ReleaseHostString(HostStringArg arg) {
  Learn(arg.text);
  hoststring::Release(hoststring::Inspect(arg.text, ProbeMemory, seenLayout), ProbeMemory);
}

void AssignHostStatus(const HostBridge& host, const char* text) {
  char* object = hostblock::Read<char*>(host.HostMotion, hostblock::kStatusMessage);
  Learn(object);
  char* assigned = hoststring::Assign(object, text, ProbeMemory, seenLayout);
  if (assigned != object)
    hostblock::Write<char*>(host.HostMotion, hostblock::kStatusMessage, assigned);
}
