// Arbitrary bytes as the host's profile: open a store over them, read and write settings, let
// another program replace the file meanwhile when the input asks for it, save, and check what must
// always hold for the host's file.
//
// Input: flags, value length, split, value bytes, file bytes. Flag 1: the file bytes are two files,
// split at split/256 of their length: the first is on disk when the store opens, the second is
// written over it before the store saves.
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <pugixml.hpp>
#include <string>
#include <string_view>

#include "platform/sim/posix_profile_files.h"
#include "settings/profile_store.h"
#include "settings/text_encoding.h"
#include "settings/xml_layout.h"

namespace {

constexpr const char* kSection = "S";

// The files of the current input, shown when a check fails.
const std::string* shownBefore = nullptr;
const std::string* shownAfter = nullptr;

void Show(const char* label, const std::string* bytes) {
  if (bytes == nullptr) return;
  std::fprintf(stderr, "%s (%zu bytes): ", label, bytes->size());
  for (char c : *bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 0x20 && b < 0x7F && b != '\\') {
      std::fputc(b, stderr);
    } else {
      std::fprintf(stderr, "\\x%02X", b);
    }
  }
  std::fputc('\n', stderr);
}

void Check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "profile round trip: %s\n", what);
  Show("before", shownBefore);
  Show("after", shownAfter);
  std::abort();
}

std::string& Folder() {
  static std::string folder = [] {
    std::string pattern = (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
    pattern += "/profile_fuzzXXXXXX";
    Check(mkdtemp(pattern.data()) != nullptr, "no scratch folder");
    return pattern;
  }();
  return folder;
}

void WriteFile(const std::string& path, std::string_view bytes) {
  FILE* file = std::fopen(path.c_str(), "wb");
  Check(file != nullptr, "cannot write the input file");
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
}

std::string ReadFile(const std::string& path) {
  std::string bytes;
  Check(PosixProfileFilesInstance().ReadAll(path, bytes) == ProfileFiles::ReadResult::Ok,
        "the profile is gone");
  return bytes;
}

int FolderEntries() {
  DIR* dir = opendir(Folder().c_str());
  Check(dir != nullptr, "scratch folder gone");
  int entries = 0;
  while (dirent* entry = readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (name != "." && name != "..") ++entries;
  }
  closedir(dir);
  return entries;
}

bool Parses(const std::string& bytes) {
  pugi::xml_document doc;
  return static_cast<bool>(doc.load_buffer(bytes.data(), bytes.size()));
}

// A file with no root but a prolog (or nothing) is one the store completes with a root.
bool ParsesButForTheRoot(const std::string& bytes) {
  pugi::xml_document doc;
  return doc.load_buffer(bytes.data(), bytes.size()).status == pugi::status_no_document_element;
}

// The bytes the layout works on: a wide file's as UTF-8.
std::string LayoutText(const std::string& bytes) {
  const DetectedEncoding detected = DetectEncoding(bytes);
  if (detected.encoding != TextEncoding::Wide) return bytes;
  std::string utf8;
  if (!WideToUtf8(bytes, detected.wide, utf8)) return {};
  return utf8;
}

// Every byte outside the plug-in's section is as it was: the part that differs lies inside the
// section, or is a pure insertion into the root (a new section), or replaces a self-closing root.
void CheckSplice(const std::string& beforeBytes, const std::string& afterBytes) {
  const std::string before = LayoutText(beforeBytes);
  const std::string after = LayoutText(afterBytes);
  Check(!before.empty() || beforeBytes.empty(), "a wide file the store wrote is not wide");
  const RootLayout layout = ScanLayout(before);
  if (!layout.valid) {
    // A file with only a prolog gets its root appended.
    Check(layout.prologOnly, "a file without a readable layout was rewritten");
    Check(after.compare(0, before.size(), before) == 0, "the prolog changed");
    return;
  }
  std::size_t prefix = 0;
  const std::size_t limit = std::min(before.size(), after.size());
  while (prefix < limit && before[prefix] == after[prefix]) ++prefix;
  std::size_t suffix = 0;
  while (suffix < limit - prefix &&
         before[before.size() - 1 - suffix] == after[after.size() - 1 - suffix]) {
    ++suffix;
  }
  const std::size_t begin = prefix;
  const std::size_t end = before.size() - suffix;
  if (begin >= end) {
    Check(begin >= layout.contentBegin && begin <= std::max(layout.contentEnd, layout.root.end),
          "text inserted outside the root");
    return;
  }
  if (layout.selfClosing) {
    Check(begin >= layout.root.begin && end <= layout.root.end, "changed outside the root");
    return;
  }
  for (const RootLayout::Child& child : layout.children) {
    if (child.type == LayoutNode::Element && child.name == kSection) {
      Check(begin >= child.range.begin && end <= child.range.end,
            "changed bytes outside the section");
      return;
    }
  }
  Check(false, "changed bytes although the file had no section");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const std::uint8_t flags = data[0];
  const std::size_t valueLength = std::min<std::size_t>(data[1], size - 3);
  const std::uint8_t split = data[2];
  const std::string value(reinterpret_cast<const char*>(data + 3), valueLength);
  const std::string_view file(reinterpret_cast<const char*>(data + 3 + valueLength),
                              size - 3 - valueLength);
  std::string_view first = file;
  std::string_view second;
  const bool externalChange = (flags & 1) != 0;
  if (externalChange) {
    const std::size_t at = file.size() * split / 256;
    first = file.substr(0, at);
    second = file.substr(at);
  }
  const auto number = static_cast<std::int32_t>(flags * 16777619u - split);

  const std::string path = Folder() + "/profile.xml";
  WriteFile(path, first);
  ProfileFiles& files = PosixProfileFilesInstance();
  bool saved = false;
  std::string failure;
  {
    ProfileStore store(path, files);
    store.ReadString(kSection, "A", "");
    store.ReadInt(kSection, "B", 0);
    if ((flags & 2) != 0) store.WriteString(kSection, "A", value);
    if ((flags & 4) != 0) store.WriteInt(kSection, "B", number);
    if (externalChange) WriteFile(path, second);
    saved = store.CloseProfile();
    failure = store.SaveFailure();
  }
  const std::string before(externalChange ? second : first);
  const std::string after = ReadFile(path);
  shownBefore = &before;
  shownAfter = &after;
  Check(FolderEntries() == 1, "a temporary file was left beside the profile");
  Check(saved || !failure.empty(), "a save failed without a reason");

  if (!Parses(before) && !ParsesButForTheRoot(before)) {
    Check(after == before, "a file that did not parse was changed");
  } else if (after != before) {
    Check(Parses(after), "the store wrote a file that does not parse");
  }
  if (after != before && !before.empty()) {
    Check(saved, "the file changed although the save failed");
    const std::string text = LayoutText(before);
    std::string_view body = text;
    if (body.substr(0, 3) == "\xEF\xBB\xBF") body.remove_prefix(3);
    if (body.find_first_not_of(" \t\r\n") != std::string_view::npos) CheckSplice(before, after);
  }
  // Bytes valid in the declared encoding stay valid.
  const TextEncoding encoding = DetectEncoding(after).encoding;
  if (encoding == TextEncoding::Utf8 && CleanSettingText(before, encoding) == before) {
    Check(CleanSettingText(after, encoding) == after, "invalid UTF-8 written");
  }
  if (encoding == TextEncoding::Ascii) {
    const auto high = [](const std::string& s) {
      return std::any_of(s.begin(), s.end(), [](char c) { return (c & 0x80) != 0; });
    };
    if (!high(before)) Check(!high(after), "a byte beyond ASCII in an ASCII file");
  }

  // What was written reads back.
  if (saved && (flags & 6) != 0) {
    ProfileStore store(path, files);
    if ((flags & 2) != 0) {
      const std::string clean = CleanSettingText(value, encoding);
      // Text that is only layout white space as written reads as missing.
      const bool blank =
          EscapeText(clean, encoding).find_first_not_of(" \t\r\n") == std::string::npos;
      Check(store.ReadString(kSection, "A", "\x01") == (blank ? "\x01" : clean),
            "a written text reads back differently");
    }
    if ((flags & 4) != 0) Check(store.ReadInt(kSection, "B", 0) == number, "a number changed");
  }
  shownBefore = shownAfter = nullptr;
  return 0;
}
