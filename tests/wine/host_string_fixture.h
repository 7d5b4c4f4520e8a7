// The host framework's string object as the host lays it out (newer layout): a header of manager,
// length, allocation and references, then the characters. Declared here from the host's side,
// independently of the plug-in's own reading of it, for the Wine test hosts.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace hoststringfixture {

struct Header;

class Manager {
 public:
  virtual Header* Allocate(int nChars, int charSize);
  virtual void Free(Header* data);
  virtual Header* Reallocate(Header* data, int nChars, int charSize);
  virtual Header* GetNilString();
  virtual Manager* Clone();

  int allocations = 0;
  int frees = 0;
  Header* lastFreed = nullptr;
};

struct Header {
  Manager* manager;
  std::int32_t dataLength;
  std::int32_t allocLength;
  std::int32_t refs;
  char* Chars() { return reinterpret_cast<char*>(this + 1); }
};

inline Header* Manager::Allocate(int nChars, int) {
  ++allocations;
  auto* h =
      static_cast<Header*>(std::calloc(1, sizeof(Header) + static_cast<std::size_t>(nChars) + 1));
  h->manager = this;
  h->allocLength = nChars;
  h->refs = 1;
  return h;
}
// Freed blocks are kept so the test can look at them afterwards; the process is short.
inline void Manager::Free(Header* data) {
  ++frees;
  lastFreed = data;
}
inline Header* Manager::Reallocate(Header* data, int nChars, int charSize) {
  Header* h = Allocate(nChars, charSize);
  std::memcpy(h->Chars(), data->Chars(), static_cast<std::size_t>(data->dataLength) + 1);
  h->dataLength = data->dataLength;
  Free(data);
  return h;
}
inline Header* Manager::GetNilString() {
  return nullptr;
}
inline Manager* Manager::Clone() {
  return this;
}

inline Manager manager;

// A string holding `text` with room for at least `capacity` characters.
inline Header* MakeString(const std::string& text, std::int32_t refs, std::size_t capacity = 0) {
  Header* h = manager.Allocate(static_cast<int>(std::max(text.size(), capacity)), 1);
  std::memcpy(h->Chars(), text.c_str(), text.size() + 1);
  h->dataLength = static_cast<std::int32_t>(text.size());
  h->refs = refs;
  return h;
}

}  // namespace hoststringfixture
