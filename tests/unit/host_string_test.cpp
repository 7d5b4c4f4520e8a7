// The host framework string headers built in memory: recognition, reading, release and
// assignment, with a fake manager that counts what it is asked to do. Memory outside the arena
// counts as unreadable, so a wrong length shows up as a refused probe instead of a stray read.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/win32/host_string_layout.h"
#include "platform/win32/module_name.h"

namespace {

using hoststring::Layout;
using hoststring::NewerHeader;
using hoststring::StringManager;

alignas(16) std::uint8_t arena[1024];
std::size_t readOnlyFrom = sizeof arena;  // bytes from here on are readable but not writable

// Readable outside the arena: the fake managers and their method tables.
std::vector<std::pair<const void*, std::size_t>> alsoReadable;

void AllowManager(const StringManager* m) {
  const void* table = nullptr;
  std::memcpy(&table, m, sizeof table);
  alsoReadable.emplace_back(m, sizeof(void*));
  alsoReadable.emplace_back(table, 5 * sizeof(void*));
}

bool ArenaProbe(const void* p, std::size_t n, bool write) {
  const auto* b = static_cast<const std::uint8_t*>(p);
  for (const auto& [start, size] : alsoReadable)
    if (!write && b >= static_cast<const std::uint8_t*>(start) &&
        b + n <= static_cast<const std::uint8_t*>(start) + size)
      return true;
  if (b < arena || b > arena + sizeof arena ||
      n > static_cast<std::size_t>(arena + sizeof arena - b))
    return false;
  return !write || static_cast<std::size_t>(b - arena) + n <= readOnlyFrom;
}

class FakeManager final : public StringManager {
 public:
  int allocations = 0, frees = 0, reallocations = 0, clones = 0;
  bool failAllocate = false;
  std::int32_t shortBy = 0;  // hands out blocks this much smaller than asked
  NewerHeader* lastFreed = nullptr;
  std::size_t next = 512;  // blocks come from the arena's upper half

  NewerHeader* Allocate(int nChars, int) override {
    ++allocations;
    return failAllocate ? nullptr : Block(nChars);
  }
  void Free(NewerHeader* data) override {
    ++frees;
    lastFreed = data;
  }
  NewerHeader* Reallocate(NewerHeader* data, int nChars, int) override {
    ++reallocations;
    if (failAllocate) return nullptr;
    NewerHeader* grown = Block(nChars);
    std::memcpy(grown + 1, data + 1, static_cast<std::size_t>(data->dataLength) + 1);
    grown->dataLength = data->dataLength;
    return grown;
  }
  NewerHeader* GetNilString() override { return nullptr; }
  StringManager* Clone() override {
    ++clones;
    return this;
  }

 private:
  NewerHeader* Block(int nChars) {
    auto* h = reinterpret_cast<NewerHeader*>(arena + next);
    next += (sizeof(NewerHeader) + static_cast<std::size_t>(nChars) + 16) & ~std::size_t{15};
    *h = NewerHeader{this, 0, nChars - shortBy, 1};
    reinterpret_cast<char*>(h + 1)[0] = '\0';
    return h;
  }
};

class HostStringTest : public ::testing::Test {
 public:
  static constexpr std::int32_t kAuto = INT32_MIN;  // the text's own length

  void SetUp() override {
    std::memset(arena, 0xCD, sizeof arena);
    readOnlyFrom = sizeof arena;
    alsoReadable.clear();
    AllowManager(&mgr);
  }

  // A newer-layout object at `at`, characters right after the header.
  char* Newer(std::size_t at, const char* text, std::int32_t refs, std::int32_t alloc = kAuto,
              StringManager* manager = nullptr, std::int32_t length = kAuto) {
    const auto n = static_cast<std::int32_t>(std::strlen(text));
    StringManager* owner = manager != nullptr ? manager : &mgr;
    const std::int32_t fields[3] = {length == kAuto ? n : length, alloc == kAuto ? n : alloc, refs};
    std::memcpy(arena + at + offsetof(NewerHeader, manager), &owner, sizeof owner);
    std::memcpy(arena + at + offsetof(NewerHeader, dataLength), fields, sizeof fields);
    char* chars = reinterpret_cast<char*>(arena + at + sizeof(NewerHeader));
    std::memcpy(chars, text, static_cast<std::size_t>(n) + 1);
    return chars;
  }

  char* Older(std::size_t at, const char* text, std::int32_t refs, std::int32_t alloc = kAuto,
              std::int32_t length = kAuto) {
    const auto n = static_cast<std::int32_t>(std::strlen(text));
    const std::int32_t h[3] = {refs, length == kAuto ? n : length, alloc == kAuto ? n : alloc};
    std::memcpy(arena + at, h, sizeof h);
    char* chars = reinterpret_cast<char*>(arena + at + sizeof h);
    std::memcpy(chars, text, static_cast<std::size_t>(n) + 1);
    return chars;
  }

  static std::int32_t Field(const char* chars, std::ptrdiff_t offset) {
    std::int32_t v;
    std::memcpy(&v, chars + offset, sizeof v);
    return v;
  }
  static std::int32_t NewerLength(const char* c) {
    return Field(c, -static_cast<std::ptrdiff_t>(sizeof(NewerHeader)) +
                        static_cast<std::ptrdiff_t>(offsetof(NewerHeader, dataLength)));
  }
  static std::int32_t NewerRefs(const char* c) {
    return Field(c, -static_cast<std::ptrdiff_t>(sizeof(NewerHeader)) +
                        static_cast<std::ptrdiff_t>(offsetof(NewerHeader, refs)));
  }
  static std::int32_t OlderLength(const char* c) { return Field(c, -8); }

  // "x" with length, allocation and refs 1 wherever either layout looks for them (on 64-bit
  // the older layout's last field falls on the newer header's padding).
  static char* Ambiguous(HostStringTest& t) {
    char* chars = t.Newer(64, "x", 1);
    const std::int32_t one = 1;
    for (std::size_t off = offsetof(NewerHeader, dataLength); off < sizeof(NewerHeader); off += 4)
      std::memcpy(arena + 64 + off, &one, sizeof one);
    return chars;
  }

  FakeManager mgr;
};

TEST_F(HostStringTest, RecognisesLayoutsAndRejectsBrokenHeaders) {
  struct Case {
    const char* name;
    char* (*make)(HostStringTest&);
    Layout hint;
    Layout expected;
  };
  const Case cases[] = {
      {"newer", [](HostStringTest& t) { return t.Newer(64, "C:\\p.xml", 1, 20); }, Layout::None,
       Layout::Newer},
      {"newer empty shared", [](HostStringTest& t) { return t.Newer(64, "", 2); }, Layout::None,
       Layout::Newer},
      {"newer locked", [](HostStringTest& t) { return t.Newer(64, "abc", -1); }, Layout::None,
       Layout::Newer},
      {"older", [](HostStringTest& t) { return t.Older(64, "C:\\p.xml", 1, 20); }, Layout::None,
       Layout::Older},
      {"older empty locked", [](HostStringTest& t) { return t.Older(64, "", -1); }, Layout::None,
       Layout::Older},
      {"one char fits both, no hint", Ambiguous, Layout::None, Layout::None},
      {"one char fits both, hint newer", Ambiguous, Layout::Newer, Layout::Newer},
      {"one char fits both, hint older", Ambiguous, Layout::Older, Layout::Older},
      {"manager not readable",
       [](HostStringTest& t) {
         return t.Newer(64, "abcdef", 1, 20, reinterpret_cast<StringManager*>(std::uintptr_t{64}));
       },
       Layout::None, Layout::None},
      {"manager without a method table",
       [](HostStringTest& t) {
         return t.Newer(64, "abcdef", 1, 20, reinterpret_cast<StringManager*>(arena + 256));
       },
       Layout::None, Layout::None},
      {"refs zero (freed)", [](HostStringTest& t) { return t.Newer(64, "abcdef", 0); },
       Layout::None, Layout::None},
      {"refs absurd", [](HostStringTest& t) { return t.Newer(64, "abcdef", 1 << 24); },
       Layout::None, Layout::None},
      {"refs below -1", [](HostStringTest& t) { return t.Older(64, "abcdef", -7); }, Layout::None,
       Layout::None},
      {"alloc below length", [](HostStringTest& t) { return t.Newer(64, "abcdef", 1, 3); },
       Layout::None, Layout::None},
      {"NUL before length", [](HostStringTest& t) { return t.Newer(64, "ab", 1, 40, nullptr, 6); },
       Layout::None, Layout::None},
      {"no NUL at length",
       [](HostStringTest& t) { return t.Newer(64, "abcdef", 1, 6, nullptr, 4); }, Layout::None,
       Layout::None},
      {"negative length", [](HostStringTest& t) { return t.Older(64, "abc", 1, 3, -2); },
       Layout::None, Layout::None},
      {"length beyond memory",
       [](HostStringTest& t) { return t.Newer(900, "abc", 1, 4000, nullptr, 3); }, Layout::None,
       Layout::None},
      {"header before memory", [](HostStringTest&) { return reinterpret_cast<char*>(arena + 4); },
       Layout::None, Layout::None},
      {"null", [](HostStringTest&) -> char* { return nullptr; }, Layout::None, Layout::None},
  };
  for (const Case& c : cases) {
    SetUp();
    char* text = c.make(*this);
    EXPECT_EQ(hoststring::Inspect(text, ArenaProbe, c.hint).layout, c.expected) << c.name;
  }
}

TEST_F(HostStringTest, ReadsTextOfEitherLayoutOrAPlainString) {
  EXPECT_EQ(hoststring::ReadText(Newer(64, "C:\\cnc\\Mill.xml", 1), ArenaProbe),
            "C:\\cnc\\Mill.xml");
  EXPECT_EQ(hoststring::ReadText(Older(256, "D:\\p.xml", 1, 30), ArenaProbe), "D:\\p.xml");
  // No header in front: a plain text.
  std::memset(arena, 0, 64);
  std::memcpy(arena + 40, "plain", 6);
  EXPECT_EQ(hoststring::ReadText(reinterpret_cast<char*>(arena + 40), ArenaProbe), "plain");
  // A plain text that runs into unreadable memory stops there.
  std::memset(arena + sizeof arena - 8, 'z', 8);
  EXPECT_EQ(hoststring::ReadText(reinterpret_cast<char*>(arena + sizeof arena - 8), ArenaProbe),
            "zzzzzzzz");
  EXPECT_EQ(hoststring::ReadText(nullptr, ArenaProbe), "");
}

TEST_F(HostStringTest, ReleaseFreesOnlyTheLastReferenceOfTheNewerLayout) {
  char* sole = Newer(64, "path", 1);
  hoststring::Release(hoststring::Inspect(sole, ArenaProbe), ArenaProbe);
  EXPECT_EQ(mgr.frees, 1);
  EXPECT_EQ(mgr.lastFreed, reinterpret_cast<NewerHeader*>(sole) - 1);

  char* shared = Newer(192, "path", 3);
  hoststring::Release(hoststring::Inspect(shared, ArenaProbe), ArenaProbe);
  EXPECT_EQ(NewerRefs(shared), 2);
  EXPECT_EQ(mgr.frees, 1);

  char* locked = Newer(320, "path", -1);
  hoststring::Release(hoststring::Inspect(locked, ArenaProbe), ArenaProbe);
  EXPECT_EQ(NewerRefs(locked), -1);

  // The older layout has no safe release: its bytes stay as they were.
  char* older = Older(448, "path", 1);
  std::vector<std::uint8_t> before(arena + 448, arena + 448 + 20);
  hoststring::Release(hoststring::Inspect(older, ArenaProbe), ArenaProbe);
  EXPECT_EQ(std::vector<std::uint8_t>(arena + 448, arena + 448 + 20), before);
  EXPECT_EQ(mgr.frees, 1);
}

TEST_F(HostStringTest, AssignsInPlaceWhenSoleOwnerWithRoom) {
  char* newer = Newer(64, "old status text", 1, 30);
  EXPECT_EQ(hoststring::Assign(newer, " Jog OFF. ", ArenaProbe), newer);
  EXPECT_STREQ(newer, " Jog OFF. ");
  EXPECT_EQ(NewerLength(newer), 10);

  char* older = Older(256, "older text here", 1, 15);
  EXPECT_EQ(hoststring::Assign(older, "Macro M3", ArenaProbe), older);
  EXPECT_STREQ(older, "Macro M3");
  EXPECT_EQ(OlderLength(older), 8);

  // Its own tail assigned to itself.
  EXPECT_EQ(hoststring::Assign(newer, newer + 5, ArenaProbe), newer);
  EXPECT_STREQ(newer, "OFF. ");
  EXPECT_EQ(mgr.allocations + mgr.reallocations + mgr.frees, 0);
}

TEST_F(HostStringTest, GrowsOrForksTheNewerLayoutThroughItsManager) {
  char* empty = Newer(64, "", 2);  // the shared empty string
  char* forked = hoststring::Assign(empty, "Macro M7", ArenaProbe);
  ASSERT_NE(forked, empty);
  EXPECT_STREQ(forked, "Macro M7");
  EXPECT_EQ(NewerLength(forked), 8);
  EXPECT_EQ(NewerRefs(empty), 1);  // our reference to it was dropped, not freed
  EXPECT_EQ(mgr.clones, 1);
  EXPECT_EQ(mgr.allocations, 1);
  EXPECT_EQ(mgr.frees, 0);

  char* small = Newer(192, "ab", 1);
  char* grown = hoststring::Assign(small, "a longer status", ArenaProbe);
  ASSERT_NE(grown, small);
  EXPECT_STREQ(grown, "a longer status");
  EXPECT_EQ(mgr.reallocations, 1);
}

TEST_F(HostStringTest, LeavesTheObjectAloneWhenAssignmentIsNotSafe) {
  struct Case {
    const char* name;
    char* (*make)(HostStringTest&);
    void (*setup)(FakeManager&);
  };
  const auto none = [](FakeManager&) {};
  const Case cases[] = {
      {"older shared", [](HostStringTest& t) { return t.Older(64, "abcdefgh", 2, 40); }, none},
      {"older without room", [](HostStringTest& t) { return t.Older(64, "ab", 1); }, none},
      {"older locked empty", [](HostStringTest& t) { return t.Older(64, "", -1); }, none},
      {"newer locked", [](HostStringTest& t) { return t.Newer(64, "abcdefgh", -1, 40); }, none},
      {"unrecognised", [](HostStringTest& t) { return t.Newer(64, "abcdef", 0, 40); }, none},
      {"allocation fails", [](HostStringTest& t) { return t.Newer(64, "", 2); },
       [](FakeManager& m) { m.failAllocate = true; }},
      {"reallocation fails", [](HostStringTest& t) { return t.Newer(64, "ab", 1); },
       [](FakeManager& m) { m.failAllocate = true; }},
      {"header not writable",
       [](HostStringTest& t) {
         readOnlyFrom = 0;
         return t.Newer(64, "abcdefgh", 1, 40);
       },
       none},
  };
  for (const Case& c : cases) {
    SetUp();
    mgr = FakeManager{};
    c.setup(mgr);
    char* object = c.make(*this);
    const std::vector<std::uint8_t> before(arena, arena + 512);
    EXPECT_EQ(hoststring::Assign(object, "new status text", ArenaProbe), object) << c.name;
    EXPECT_EQ(std::vector<std::uint8_t>(arena, arena + 512), before) << c.name;
    EXPECT_EQ(mgr.frees, 0) << c.name;
  }
}

TEST_F(HostStringTest, AShortBlockFromTheManagerIsNeverOverrun) {
  mgr.shortBy = 4;
  char* empty = Newer(64, "", 2);
  EXPECT_EQ(hoststring::Assign(empty, "new status text", ArenaProbe), empty);
  EXPECT_EQ(mgr.frees, 1);  // the short fork went back
  EXPECT_EQ(NewerRefs(empty), 2);

  // A grown block replaced the old one: it becomes the object, with the old text kept.
  char* small = Newer(192, "ab", 1);
  char* grown = hoststring::Assign(small, "new status text", ArenaProbe);
  ASSERT_NE(grown, small);
  EXPECT_STREQ(grown, "ab");
}

TEST(ModuleName, DropsFolderAndLastExtension) {
  const std::pair<const char*, const char*> cases[] = {
      {"C:\\Program Files\\Host\\PlugIns\\Pendant.dll", "Pendant"},
      {"C:\\x\\a.b.dll", "a.b"},
      {"C:/x.dir/noext", "noext"},
      {"Pendant.dll", "Pendant"},
      {"C:Pendant.dll", "Pendant"},
      {"", ""},
  };
  for (const auto& [path, expected] : cases)
    EXPECT_EQ(BaseNameWithoutExtension(path), expected) << path;
}

}  // namespace
