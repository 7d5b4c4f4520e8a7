// The plug-in's host string code against real Windows memory: headers next to inaccessible or
// read-only pages must be refused without a fault, and the status text is assigned through the
// manager of the newer layout. Links host_string.cpp directly.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "check.h"
#include "host_windows/host_blocks.h"
#include "host_windows/host_bridge.h"
#include "platform/win32/host_string.h"

namespace {

using winecheck::Check;

struct Header;
class Manager {
 public:
  virtual Header* Allocate(int nChars, int charSize);
  virtual void Free(Header* data);
  virtual Header* Reallocate(Header* data, int nChars, int charSize);
  virtual Header* GetNilString() { return nullptr; }
  virtual Manager* Clone() { return this; }
  int allocations = 0, frees = 0, reallocations = 0;
};
struct Header {
  Manager* manager;
  std::int32_t dataLength;
  std::int32_t allocLength;
  std::int32_t refs;
  char* Chars() { return reinterpret_cast<char*>(this + 1); }
};
Header* Manager::Allocate(int nChars, int) {
  ++allocations;
  auto* h =
      static_cast<Header*>(std::calloc(1, sizeof(Header) + static_cast<std::size_t>(nChars) + 1));
  *h = Header{this, 0, nChars, 1};
  return h;
}
void Manager::Free(Header*) {
  ++frees;
}
Header* Manager::Reallocate(Header* data, int nChars, int charSize) {
  ++reallocations;
  --allocations;
  Header* h = Allocate(nChars, charSize);
  std::memcpy(h->Chars(), data->Chars(), static_cast<std::size_t>(data->dataLength) + 1);
  h->dataLength = data->dataLength;
  return h;
}
Manager manager;

// Writes a newer-layout string so that its characters start at `chars`.
char* PlaceNewer(char* chars, const char* text, std::int32_t refs, std::int32_t alloc) {
  auto* h = reinterpret_cast<Header*>(chars) - 1;
  *h = Header{&manager, static_cast<std::int32_t>(std::strlen(text)), alloc, refs};
  std::strcpy(chars, text);
  return chars;
}

char* StatusOf(std::vector<std::uint8_t>& motion) {
  return hostblock::Read<char*>(motion.data(), hostblock::kStatusMessage);
}

void StatusAssignment() {
  std::vector<std::uint8_t> motion(hostblock::kHostMotionSize);
  HostBridge host;
  host.HostMotion = motion.data();

  Header* nil = manager.Allocate(0, 1);
  nil->refs = 2;
  hostblock::Write<char*>(motion.data(), hostblock::kStatusMessage, nil->Chars());

  AssignHostStatus(host, " Jog OFF. ");
  char* first = StatusOf(motion);
  Check(first != nil->Chars() && std::strcmp(first, " Jog OFF. ") == 0, "shared empty forks");
  Check(nil->refs == 1 && manager.frees == 0, "shared empty loses one reference");

  AssignHostStatus(host, "M3");
  Check(StatusOf(motion) == first && std::strcmp(first, "M3") == 0, "sole owner written in place");
  Check((reinterpret_cast<Header*>(first) - 1)->dataLength == 2, "in-place length");

  AssignHostStatus(host, "a status text longer than the first one");
  Check(std::strcmp(StatusOf(motion), "a status text longer than the first one") == 0 &&
            manager.reallocations == 1,
        "sole owner grown through the manager");

  HostBridge noBlock;
  AssignHostStatus(noBlock, "ignored");  // no HostMotion: nothing to do
  Check(true, "no HostMotion");
}

void GuardPages() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  const std::size_t page = info.dwPageSize;
  auto* base = static_cast<char*>(VirtualAlloc(nullptr, 3 * page, MEM_COMMIT, PAGE_READWRITE));
  Check(base != nullptr, "VirtualAlloc");
  if (!base) return;
  char* middle = base + page;
  DWORD old;
  VirtualProtect(base, page, PAGE_NOACCESS, &old);
  VirtualProtect(base + 2 * page, page, PAGE_NOACCESS, &old);

  std::vector<std::uint8_t> motion(hostblock::kHostMotionSize);
  HostBridge host;
  host.HostMotion = motion.data();

  // Characters at the start of a page whose predecessor is inaccessible: no header to read.
  std::strcpy(middle, "plain");
  hostblock::Write<char*>(motion.data(), hostblock::kStatusMessage, middle);
  AssignHostStatus(host, "status");
  Check(StatusOf(motion) == middle && std::strcmp(middle, "plain") == 0,
        "header on an inaccessible page: untouched");
  Check(HostStringText(HostStringArg{middle}) == "plain", "plain text read without a header");
  ReleaseHostString(HostStringArg{middle});

  // A header whose allocation reaches into the inaccessible page.
  char* nearEnd = middle + page - 8;
  PlaceNewer(nearEnd, "abc", 1, 4000);
  hostblock::Write<char*>(motion.data(), hostblock::kStatusMessage, nearEnd);
  AssignHostStatus(host, "status");
  Check(std::strcmp(nearEnd, "abc") == 0, "allocation past the page: untouched");

  // Text without a NUL up to the inaccessible page.
  std::memset(middle + page - 16, 'z', 16);
  Check(HostStringText(HostStringArg{middle + page - 16}) == std::string(16, 'z'),
        "plain text stops at the page end");

  // A valid header on a read-only page.
  char* chars = PlaceNewer(middle + 64, "read only", 1, 40);
  VirtualProtect(middle, page, PAGE_READONLY, &old);
  hostblock::Write<char*>(motion.data(), hostblock::kStatusMessage, chars);
  AssignHostStatus(host, "status");
  Check(std::strcmp(chars, "read only") == 0, "read-only header: untouched");
  Check(HostStringText(HostStringArg{chars}) == "read only", "read-only header still read");
  VirtualFree(base, 0, MEM_RELEASE);
}

void OlderLayout() {
  std::vector<std::uint8_t> motion(hostblock::kHostMotionSize);
  HostBridge host;
  host.HostMotion = motion.data();
  // Zeros in front of the header, so the newer layout finds no manager there.
  alignas(8) char buffer[96] = {};
  const std::int32_t header[3] = {1, 10, 40};
  std::memcpy(buffer + 20, header, sizeof header);
  char* chars = buffer + 32;
  std::strcpy(chars, "older text");
  hostblock::Write<char*>(motion.data(), hostblock::kStatusMessage, chars);
  const int allocations = manager.allocations;
  AssignHostStatus(host, "in place");
  std::int32_t length;
  std::memcpy(&length, buffer + 24, sizeof length);
  Check(std::strcmp(chars, "in place") == 0 && length == 8, "older layout written in place");
  AssignHostStatus(host, "a text longer than the forty characters it has room for");
  Check(std::strcmp(chars, "in place") == 0 && manager.allocations == allocations,
        "older layout never grown");
}

}  // namespace

int main() {
  StatusAssignment();
  GuardPages();
  OlderLayout();
  return winecheck::Summary();
}
