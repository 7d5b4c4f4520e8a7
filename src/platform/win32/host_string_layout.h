// The host framework's string object: one pointer to its first character, with a header in front
// of the characters. Two header layouts exist; both are recognised here before anything is touched.
//   newer: { manager*, dataLength, allocLength, refs }  (sizeof the struct, 16 bytes on 32-bit)
//   older: { refs, dataLength, allocLength }            (12 bytes)
// Lengths count characters without the NUL. refs < 0 is locked, refs > 1 shared. Only the newer
// layout says who owns the memory (its manager), so only it is ever grown, forked or freed; the
// older layout's buffers belong to pools of the host's framework and are only written in place.
// No OS header here: memory checks come in through a probe so the logic also runs natively.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace hoststring {

struct NewerHeader;

// The newer layout's memory manager. Five virtual methods in this slot order and no virtual
// destructor, which would add slots; g++ and the host use the same member-call convention.
class StringManager {
 public:
  virtual NewerHeader* Allocate(int nChars, int charSize) = 0;
  virtual void Free(NewerHeader* data) = 0;
  virtual NewerHeader* Reallocate(NewerHeader* data, int nChars, int charSize) = 0;
  virtual NewerHeader* GetNilString() = 0;
  virtual StringManager* Clone() = 0;

 protected:
  ~StringManager() = default;
};

struct NewerHeader {
  StringManager* manager;
  std::int32_t dataLength;
  std::int32_t allocLength;
  std::int32_t refs;
};

struct OlderHeader {
  std::int32_t refs;
  std::int32_t dataLength;
  std::int32_t allocLength;
};

// Characters follow the header directly.
inline constexpr std::size_t kNewerHeaderSize = sizeof(NewerHeader);
inline constexpr std::size_t kOlderHeaderSize = sizeof(OlderHeader);
static_assert(kOlderHeaderSize == 12);

// Anything larger is not a text the host would hand us: treat it as garbage.
inline constexpr std::int32_t kMaxLength = 1 << 24;
inline constexpr std::int32_t kMaxRefs = 1 << 20;

// Tells whether [p, p + n) can be read (write false) or written (write true) without a fault.
using MemoryProbe = bool (*)(const void* p, std::size_t n, bool write);

enum class Layout { None, Newer, Older };

// What a character pointer turned out to be.
struct View {
  Layout layout = Layout::None;
  char* text = nullptr;
  std::int32_t dataLength = 0;
  std::int32_t allocLength = 0;
  std::int32_t refs = 0;
  NewerHeader* newer = nullptr;  // set for the newer layout
};

namespace detail {

inline bool SaneRefs(std::int32_t refs) {
  return refs == -1 || (refs >= 1 && refs <= kMaxRefs);
}

// The characters are readable, the first NUL sits exactly at dataLength, and the buffer that
// allocLength claims is there.
inline bool SaneText(const char* text, std::int32_t dataLength, std::int32_t allocLength,
                     MemoryProbe probe) {
  if (dataLength < 0 || dataLength > kMaxLength) return false;
  if (allocLength < dataLength || allocLength > kMaxLength) return false;
  if (!probe(text, static_cast<std::size_t>(allocLength) + 1, false)) return false;
  return std::memchr(text, '\0', static_cast<std::size_t>(dataLength) + 1) == text + dataLength;
}

// We will call through it: the object and the five slots of its table must at least be there.
inline bool PlausibleManager(const StringManager* manager, MemoryProbe probe) {
  constexpr std::size_t kSlots = 5;
  if (manager == nullptr || reinterpret_cast<std::uintptr_t>(manager) % alignof(void*) != 0)
    return false;
  if (!probe(manager, sizeof(void*), false)) return false;
  const void* table = nullptr;
  std::memcpy(&table, manager, sizeof table);
  return table != nullptr && reinterpret_cast<std::uintptr_t>(table) % alignof(void*) == 0 &&
         probe(table, kSlots * sizeof(void*), false);
}

inline View InspectNewer(char* text, MemoryProbe probe) {
  View v;
  auto* header = reinterpret_cast<NewerHeader*>(text - kNewerHeaderSize);
  if (reinterpret_cast<std::uintptr_t>(header) % alignof(NewerHeader) != 0) return v;
  if (!probe(header, kNewerHeaderSize, false)) return v;
  NewerHeader h;
  std::memcpy(&h, header, sizeof h);
  if (!PlausibleManager(h.manager, probe)) return v;
  if (!SaneRefs(h.refs) || !SaneText(text, h.dataLength, h.allocLength, probe)) return v;
  v.layout = Layout::Newer;
  v.text = text;
  v.dataLength = h.dataLength;
  v.allocLength = h.allocLength;
  v.refs = h.refs;
  v.newer = header;
  return v;
}

inline View InspectOlder(char* text, MemoryProbe probe) {
  View v;
  char* header = text - kOlderHeaderSize;
  if (reinterpret_cast<std::uintptr_t>(header) % alignof(OlderHeader) != 0) return v;
  if (!probe(header, kOlderHeaderSize, false)) return v;
  OlderHeader h;
  std::memcpy(&h, header, sizeof h);
  if (!SaneRefs(h.refs) || !SaneText(text, h.dataLength, h.allocLength, probe)) return v;
  v.layout = Layout::Older;
  v.text = text;
  v.dataLength = h.dataLength;
  v.allocLength = h.allocLength;
  v.refs = h.refs;
  return v;
}

inline void StoreLength(const View& v, std::int32_t length) {
  char* field = v.layout == Layout::Newer
                    ? reinterpret_cast<char*>(v.newer) + offsetof(NewerHeader, dataLength)
                    : v.text - kOlderHeaderSize + offsetof(OlderHeader, dataLength);
  std::memcpy(field, &length, sizeof length);
}

inline std::int32_t DecrementRefs(NewerHeader* header) {
  return std::atomic_ref<std::int32_t>(header->refs).fetch_sub(1) - 1;
}

}  // namespace detail

// Recognises the header in front of `text`. A header that fits both layouts (a one-character
// text can) takes `hint`, the layout seen before from the same host; without one it counts as
// unknown, since guessing wrong would call through a pointer that is not a manager.
inline View Inspect(char* text, MemoryProbe probe, Layout hint = Layout::None) {
  if (text == nullptr) return {};
  const View newer = detail::InspectNewer(text, probe);
  const View older = detail::InspectOlder(text, probe);
  if (newer.layout != Layout::None && older.layout != Layout::None)
    return hint == Layout::Newer ? newer : hint == Layout::Older ? older : View{};
  return newer.layout != Layout::None ? newer : older;
}

// The text of a string object. A pointer without a recognised header is read as a plain
// zero-terminated text of at most `maxPlain` characters; nothing readable gives "".
inline std::string ReadText(char* text, MemoryProbe probe, Layout hint = Layout::None,
                            std::size_t maxPlain = 32767) {
  const View v = Inspect(text, probe, hint);
  if (v.layout != Layout::None) return std::string(v.text, static_cast<std::size_t>(v.dataLength));
  if (text == nullptr) return {};
  std::string plain;
  for (std::size_t i = 0; i < maxPlain && probe(text + i, 1, false) && text[i] != '\0'; ++i)
    plain.push_back(text[i]);
  return plain;
}

// Drops one reference of an object handed over by value. Only the newer layout has a safe way to
// free; the older layout (and anything unrecognised or locked) is left as it is.
inline void Release(const View& v, MemoryProbe probe) {
  if (v.layout != Layout::Newer || v.refs < 1) return;
  if (!probe(v.newer, kNewerHeaderSize, true)) return;
  if (detail::DecrementRefs(v.newer) <= 0) v.newer->manager->Free(v.newer);
}

// Assigns `text` to the string object whose character pointer is `object` and returns the
// object's character pointer afterwards: the same one after an in-place write or when nothing
// could be done safely, a new one when the manager supplied memory.
inline char* Assign(char* object, const char* text, MemoryProbe probe, Layout hint = Layout::None) {
  if (text == nullptr) return object;
  const View v = Inspect(object, probe, hint);
  // A locked object's buffer is in someone's hands: leave it alone.
  if (v.layout == Layout::None || v.refs < 1) return object;
  const std::size_t length = std::strlen(text);
  if (length > static_cast<std::size_t>(kMaxLength)) return object;
  const auto n = static_cast<std::int32_t>(length);

  // Sole owner with room: write in place, which is right for both layouts.
  if (v.refs == 1 && v.allocLength >= n) {
    const std::size_t header = v.layout == Layout::Newer ? kNewerHeaderSize : kOlderHeaderSize;
    if (!probe(v.text - header, header + length + 1, true)) return object;
    std::memmove(v.text, text, length);
    v.text[length] = '\0';
    detail::StoreLength(v, n);
    return v.text;
  }
  if (v.layout != Layout::Newer) return object;
  if (!probe(v.newer, kNewerHeaderSize, true)) return object;

  const bool shared = v.refs > 1;
  NewerHeader* fresh = nullptr;
  if (shared) {
    // Fork a private copy through a clone of the owner's manager.
    StringManager* manager = v.newer->manager->Clone();
    if (manager == nullptr) return object;
    fresh = manager->Allocate(n, 1);
  } else {
    // Sole owner without room: the manager grows the block, keeping the old characters.
    fresh = v.newer->manager->Reallocate(v.newer, n, 1);
  }
  if (fresh == nullptr) return object;  // the old data is still the object's
  char* freshText = reinterpret_cast<char*>(fresh) + kNewerHeaderSize;
  if (!probe(fresh, kNewerHeaderSize + length + 1, true) || fresh->allocLength < n) {
    // Too little memory came back. A grown block replaced the old one, so it stays the object
    // with its old text; a forked one goes back to its manager.
    if (!shared) return freshText;
    if (probe(fresh, kNewerHeaderSize, false) && fresh->manager != nullptr)
      fresh->manager->Free(fresh);
    return object;
  }
  std::memcpy(freshText, text, length);
  freshText[length] = '\0';
  fresh->dataLength = n;
  if (shared) Release(v, probe);
  return freshText;
}

}  // namespace hoststring
