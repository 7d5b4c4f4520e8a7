// The profile belongs to the host: everything outside the section the store changes must go back
// to disk exactly as it was read. The store therefore keeps the original bytes next to the parsed
// tree, maps each child of the root to its byte range, and on save re-serialises only the root
// children it created or changed, copying every other byte from the original.
#include "settings/profile_store.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstddef>
#include <cstring>
#include <pugixml.hpp>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "settings/profile_files.h"

namespace {

constexpr const char* kRootName = "profile";
constexpr const char* kFreshDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
// Windows-style line ends for a profile the store writes from scratch.
constexpr const char* kFreshLineEnd = "\r\n";
constexpr const char* kDefaultIndentUnit = "\t";

// How the file's bytes relate to the UTF-8 the tree holds.
enum class Encoding {
  Utf8,    // with or without BOM; also files without a declared encoding
  Latin1,  // ISO-8859-1 and US-ASCII: converted to UTF-8 for parsing
  Cp1252,  // windows-1252: converted to UTF-8 for parsing
  Other,   // another ASCII-compatible declared encoding: bytes pass through untouched
  Wide,    // UTF-16/32: no byte splicing, the whole document is saved by the XML library
};

// windows-1252 0x80..0x9F; the five unassigned bytes map to the C1 control of the same value.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool IsBlank(std::string_view text) {
  for (char c : text) {
    if (!IsSpace(c)) return false;
  }
  return true;
}

// Names this store may create: anything else would be written out as broken markup.
bool IsElementName(const char* name) {
  if (name == nullptr || *name == '\0') return false;
  for (const char* c = name; *c != '\0'; ++c) {
    const auto b = static_cast<unsigned char>(*c);
    const bool letter = (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || b == '_' || b >= 0x80;
    const bool other = (b >= '0' && b <= '9') || b == '-' || b == '.';
    if (!letter && (c == name || !other)) return false;
  }
  return true;
}

bool IsBlankText(pugi::xml_node node) {
  return node.type() == pugi::node_pcdata && IsBlank(node.value());
}

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

void AppendUtf8(std::string& out, char32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

std::string SingleByteToUtf8(std::string_view bytes, Encoding encoding) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 8);
  for (char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    char32_t code = b;
    if (encoding == Encoding::Cp1252 && b >= 0x80 && b < 0xA0) code = kCp1252High[b - 0x80];
    AppendUtf8(out, code);
  }
  return out;
}

// False when the text holds a character the single-byte encoding cannot represent.
bool Utf8ToSingleByte(std::string_view utf8, Encoding encoding, std::string& out) {
  out.clear();
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    char32_t code = 0;
    std::size_t length = 1;
    if (b < 0x80) {
      code = b;
    } else if ((b & 0xE0) == 0xC0) {
      length = 2;
      code = b & 0x1F;
    } else if ((b & 0xF0) == 0xE0) {
      length = 3;
      code = b & 0x0F;
    } else {
      return false;  // beyond the BMP or malformed: no single-byte form
    }
    if (i + length > utf8.size()) return false;
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(utf8[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3F);
    }
    i += length;
    if (encoding == Encoding::Cp1252 && code >= 0x80) {
      bool found = false;
      for (std::size_t k = 0; k < kCp1252High.size(); ++k) {
        if (kCp1252High[k] == code) {
          out += static_cast<char>(0x80 + k);
          found = true;
          break;
        }
      }
      if (found) continue;
      if (code < 0xA0 || code > 0xFF) return false;
    }
    if (code > 0xFF) return false;
    out += static_cast<char>(code);
  }
  return true;
}

Encoding DetectEncoding(std::string_view bytes, bool& bom) {
  bom = false;
  auto at = [&](std::size_t i) -> unsigned { return static_cast<unsigned char>(bytes[i]); };
  if (bytes.size() >= 2 && ((at(0) == 0xFF && at(1) == 0xFE) || (at(0) == 0xFE && at(1) == 0xFF)))
    return Encoding::Wide;
  if (bytes.size() >= 2 && (at(0) == 0 || at(1) == 0)) return Encoding::Wide;
  if (bytes.size() >= 3 && at(0) == 0xEF && at(1) == 0xBB && at(2) == 0xBF) {
    bom = true;
    return Encoding::Utf8;
  }
  if (bytes.substr(0, 5) != "<?xml") return Encoding::Utf8;
  const std::string_view declaration = bytes.substr(0, bytes.find("?>"));
  std::size_t pos = declaration.find("encoding");
  if (pos == std::string_view::npos) return Encoding::Utf8;
  pos += 8;
  while (pos < declaration.size() && IsSpace(declaration[pos])) ++pos;
  if (pos >= declaration.size() || declaration[pos] != '=') return Encoding::Utf8;
  ++pos;
  while (pos < declaration.size() && IsSpace(declaration[pos])) ++pos;
  if (pos >= declaration.size() || (declaration[pos] != '"' && declaration[pos] != '\''))
    return Encoding::Utf8;
  const char quote = declaration[pos++];
  const std::size_t end = declaration.find(quote, pos);
  if (end == std::string_view::npos) return Encoding::Utf8;
  const std::string name = Lower(declaration.substr(pos, end - pos));
  if (name == "utf-8" || name == "utf8") return Encoding::Utf8;
  if (name == "iso-8859-1" || name == "iso_8859-1" || name == "latin1" || name == "latin-1" ||
      name == "l1" || name == "us-ascii" || name == "ascii") {
    return Encoding::Latin1;
  }
  if (name == "windows-1252" || name == "cp1252" || name == "x-cp1252") return Encoding::Cp1252;
  return Encoding::Other;
}

struct Range {
  std::size_t begin = 0;
  std::size_t end = 0;
};

// Byte layout of the root element in the original file (ASCII-compatible encodings only).
struct RootLayout {
  bool valid = false;
  bool prologOnly = false;  // no root, and nothing but prolog markup
  bool selfClosing = false;
  Range root;                    // the whole root element
  std::size_t contentBegin = 0;  // after the start tag's '>'
  std::size_t contentEnd = 0;    // at the end tag's '<'
  struct Child {
    pugi::xml_node_type type;
    std::string_view name;  // elements only
    Range range;
  };
  std::vector<Child> children;
};

// A small scanner for a document the XML library has already accepted: it only has to find
// where things start and end, not to validate them.
class LayoutScanner {
 public:
  explicit LayoutScanner(std::string_view bytes) : b_(bytes) {}

  RootLayout Scan() {
    RootLayout layout;
    std::size_t pos = 0;
    if (b_.substr(0, 3) == "\xEF\xBB\xBF") pos = 3;
    // Prolog: declaration, comments, processing instructions, document type, white space.
    for (;;) {
      while (pos < b_.size() && IsSpace(b_[pos])) ++pos;
      if (pos >= b_.size()) {
        layout.prologOnly = true;
        return layout;
      }
      if (b_[pos] != '<') return layout;
      if (Starts(pos, "<?")) {
        pos = After(pos, "?>");
      } else if (Starts(pos, "<!--")) {
        pos = After(pos + 4, "-->");
      } else if (Starts(pos, "<!")) {
        pos = DoctypeEnd(pos);
      } else {
        break;
      }
      if (pos == npos) return layout;
    }
    layout.root.begin = pos;
    bool selfClosing = false;
    std::size_t tagEnd = StartTagEnd(pos, selfClosing);
    if (tagEnd == npos) return layout;
    layout.contentBegin = tagEnd;
    if (selfClosing) {
      layout.selfClosing = true;
      layout.contentEnd = tagEnd;
      layout.root.end = tagEnd;
      layout.valid = EpilogOnly(tagEnd);
      return layout;
    }
    pos = tagEnd;
    while (pos < b_.size()) {
      RootLayout::Child child{};
      child.range.begin = pos;
      if (b_[pos] != '<') {
        child.type = pugi::node_pcdata;
        pos = b_.find('<', pos);
        if (pos == npos) return layout;
      } else if (Starts(pos, "</")) {
        layout.contentEnd = pos;
        pos = After(pos, ">");
        if (pos == npos) return layout;
        layout.root.end = pos;
        layout.valid = EpilogOnly(pos);
        return layout;
      } else if (Starts(pos, "<!--")) {
        child.type = pugi::node_comment;
        pos = After(pos + 4, "-->");
      } else if (Starts(pos, "<![CDATA[")) {
        child.type = pugi::node_cdata;
        pos = After(pos + 9, "]]>");
      } else if (Starts(pos, "<?")) {
        child.type = pugi::node_pi;
        pos = After(pos, "?>");
      } else {
        child.type = pugi::node_element;
        child.name = NameAt(pos + 1);
        pos = ElementEnd(pos);
      }
      if (pos == npos) return layout;
      child.range.end = pos;
      layout.children.push_back(child);
    }
    return layout;
  }

 private:
  static constexpr std::size_t npos = std::string_view::npos;

  // Only white space, comments and processing instructions may follow the root.
  bool EpilogOnly(std::size_t pos) const {
    for (;;) {
      while (pos < b_.size() && IsSpace(b_[pos])) ++pos;
      if (pos >= b_.size()) return true;
      if (Starts(pos, "<!--")) {
        pos = After(pos + 4, "-->");
      } else if (Starts(pos, "<?")) {
        pos = After(pos, "?>");
      } else {
        return false;
      }
      if (pos == npos) return false;
    }
  }

  bool Starts(std::size_t pos, std::string_view text) const {
    return b_.compare(pos, text.size(), text) == 0;
  }

  std::size_t After(std::size_t pos, std::string_view terminator) const {
    const std::size_t found = b_.find(terminator, pos);
    return found == npos ? npos : found + terminator.size();
  }

  std::string_view NameAt(std::size_t pos) const {
    std::size_t end = pos;
    while (end < b_.size() && !IsSpace(b_[end]) && b_[end] != '/' && b_[end] != '>') ++end;
    return b_.substr(pos, end - pos);
  }

  // From '<' of a start tag to just past its '>', skipping quoted attribute values.
  std::size_t StartTagEnd(std::size_t pos, bool& selfClosing) const {
    char quote = 0;
    for (++pos; pos < b_.size(); ++pos) {
      const char c = b_[pos];
      if (quote != 0) {
        if (c == quote) quote = 0;
      } else if (c == '"' || c == '\'') {
        quote = c;
      } else if (c == '>') {
        selfClosing = b_[pos - 1] == '/';
        return pos + 1;
      }
    }
    return npos;
  }

  // From '<' of an element's start tag to just past its end tag.
  std::size_t ElementEnd(std::size_t pos) const {
    std::size_t depth = 0;
    while (pos < b_.size()) {
      if (b_[pos] != '<') {
        pos = b_.find('<', pos);
      } else if (Starts(pos, "</")) {
        pos = After(pos, ">");
        if (pos == npos) return npos;
        if (--depth == 0) return pos;
      } else if (Starts(pos, "<!--")) {
        pos = After(pos + 4, "-->");
      } else if (Starts(pos, "<![CDATA[")) {
        pos = After(pos + 9, "]]>");
      } else if (Starts(pos, "<?")) {
        pos = After(pos, "?>");
      } else {
        bool selfClosing = false;
        pos = StartTagEnd(pos, selfClosing);
        if (pos == npos) return npos;
        if (selfClosing) {
          if (depth == 0) return pos;
        } else {
          ++depth;
        }
      }
      if (pos == npos) return npos;
    }
    return npos;
  }

  // A document type declaration, with an internal subset that may hold '>' in its own markup.
  std::size_t DoctypeEnd(std::size_t pos) const {
    bool inSubset = false;
    char quote = 0;
    for (pos += 2; pos < b_.size(); ++pos) {
      const char c = b_[pos];
      if (quote != 0) {
        if (c == quote) quote = 0;
      } else if (c == '"' || c == '\'') {
        quote = c;
      } else if (inSubset && Starts(pos, "<!--")) {
        pos = b_.find("-->", pos + 4);
        if (pos == npos) return npos;
        pos += 2;
      } else if (c == '[') {
        inSubset = true;
      } else if (c == ']') {
        inSubset = false;
      } else if (c == '>' && !inSubset) {
        return pos + 1;
      }
    }
    return npos;
  }

  std::string_view b_;
};

class StringWriter final : public pugi::xml_writer {
 public:
  explicit StringWriter(std::string& out) : out_(out) {}
  void write(const void* data, std::size_t size) override {
    out_.append(static_cast<const char*>(data), size);
  }

 private:
  std::string& out_;
};

// Leading white space, optional sign, decimal digits up to the first other character; no digits
// give 0. Overflow wraps in unsigned arithmetic, so any text has a defined result.
std::int32_t ParseInt(std::string_view text) {
  std::size_t pos = 0;
  while (pos < text.size() && (IsSpace(text[pos]) || text[pos] == '\v' || text[pos] == '\f')) ++pos;
  bool negative = false;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
    negative = text[pos] == '-';
    ++pos;
  }
  std::uint32_t value = 0;
  while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
    value = value * 10u + static_cast<std::uint32_t>(text[pos] - '0');
    ++pos;
  }
  if (negative) value = 0u - value;
  return value >= 0x80000000u ? -static_cast<std::int32_t>(~value) - 1
                              : static_cast<std::int32_t>(value);
}

// The text of all descendants. Blank text between child elements is layout, not content.
std::string TextOf(pugi::xml_node element) {
  std::string text;
  pugi::xml_node cur = element.first_child();
  while (cur) {
    if ((cur.type() == pugi::node_pcdata && !IsBlank(cur.value())) ||
        cur.type() == pugi::node_cdata) {
      text += cur.value();
    }
    if (cur.first_child()) {
      cur = cur.first_child();
      continue;
    }
    while (cur != element && !cur.next_sibling()) cur = cur.parent();
    if (cur == element) break;
    cur = cur.next_sibling();
  }
  return text;
}

}  // namespace

struct ProfileStore::Impl {
  ProfileFiles& files;
  std::string path;
  std::string original;
  pugi::xml_document document;
  Encoding encoding = Encoding::Utf8;
  pugi::xml_encoding wideEncoding = pugi::encoding_auto;
  bool bom = false;
  bool usable = false;  // false: every read gives its default and nothing is saved
  bool fresh = false;   // the file was missing or blank: write a whole new document
  bool noRoot = false;  // the file held only a prolog: the new root goes after it
  bool changed = false;
  bool closed = false;
  std::string lineEnd = "\n";
  std::string indentUnit = kDefaultIndentUnit;
  RootLayout layout;
  std::unordered_map<pugi::xml_node_struct*, Range> originalChildren;
  std::unordered_set<pugi::xml_node_struct*> dirtySections;

  Impl(const std::string& p, ProfileFiles& f) : files(f), path(p) {}

  void Open();
  pugi::xml_node Root() const { return document.document_element(); }
  pugi::xml_node FindKey(const char* section, const char* key) const;
  pugi::xml_node FindOrCreateKey(const char* section, const char* key);
  pugi::xml_node AppendFormatted(pugi::xml_node parent, const char* name);
  std::string IndentBefore(pugi::xml_node node) const;
  void MarkChanged(pugi::xml_node section);
  void RemoveKey(pugi::xml_node key);
  bool ReadKeyText(const char* section, const char* key, std::string& text);
  void SetText(const char* section, const char* key, const std::string& text);
  std::string DocumentText(const std::string& text) const;
  std::string SettingsText(const std::string& text) const;
  bool Encode(const std::string& utf8, std::string& out) const;
  bool Serialize(pugi::xml_node node, std::string& out) const;
  bool Compose(std::string& out) const;
  bool Save();
};

void ProfileStore::Impl::Open() {
  if (path.empty()) return;
  const ProfileFiles::ReadResult read = files.ReadAll(path, original);
  if (read == ProfileFiles::ReadResult::Failed) return;  // never overwrite what we could not read
  if (read == ProfileFiles::ReadResult::Missing) original.clear();

  encoding = DetectEncoding(original, bom);
  const std::string_view body = std::string_view(original).substr(bom ? 3 : 0);
  if (encoding != Encoding::Wide && IsBlank(body)) {
    fresh = true;
    usable = true;
    lineEnd = kFreshLineEnd;
    document.append_child(kRootName);
    changed = true;
    return;
  }

  const unsigned options = (pugi::parse_full | pugi::parse_ws_pcdata) & ~pugi::parse_eol;
  pugi::xml_parse_result result;
  if (encoding == Encoding::Wide) {
    result = document.load_buffer(original.data(), original.size(), options, pugi::encoding_auto);
    wideEncoding = result.encoding;
  } else if (encoding == Encoding::Latin1 || encoding == Encoding::Cp1252) {
    const std::string utf8 = SingleByteToUtf8(original, encoding);
    result = document.load_buffer(utf8.data(), utf8.size(), options, pugi::encoding_utf8);
  } else {
    result = document.load_buffer(original.data(), original.size(), options, pugi::encoding_utf8);
  }

  if (result.status == pugi::status_no_document_element && encoding != Encoding::Wide) {
    // Only a prolog (declaration, comments, processing instructions): keep it, add the root.
    for (pugi::xml_node node : document.children()) {
      const auto type = node.type();
      if (type != pugi::node_declaration && type != pugi::node_comment && type != pugi::node_pi &&
          type != pugi::node_doctype && !IsBlankText(node)) {
        return;
      }
    }
    noRoot = true;
  } else if (!result) {
    return;  // unparseable: left alone
  } else {
    // The XML library tolerates a second top-level element or stray text; the host would not.
    int elements = 0;
    for (pugi::xml_node node : document.children()) {
      if (node.type() == pugi::node_element) ++elements;
      if ((node.type() == pugi::node_pcdata && !IsBlank(node.value())) ||
          node.type() == pugi::node_cdata) {
        return;
      }
    }
    if (elements != 1) return;
  }
  if (encoding != Encoding::Wide) {
    layout = LayoutScanner(original).Scan();
    // Stray text or a second element beside the root: not a file the host wrote; leave it.
    if (noRoot ? !layout.prologOnly : !layout.valid) return;
  }
  usable = true;
  if (original.find("\r\n") != std::string::npos) lineEnd = "\r\n";
  if (noRoot) {
    document.append_child(kRootName);
    changed = true;
    return;
  }

  // Indentation of the root's children, for sections and keys the store adds.
  for (pugi::xml_node child : Root().children()) {
    if (child.type() != pugi::node_element) continue;
    const pugi::xml_node before = child.previous_sibling();
    if (IsBlankText(before)) {
      const std::string_view blank = before.value();
      const std::size_t newline = blank.rfind('\n');
      if (newline != std::string_view::npos && newline + 1 < blank.size()) {
        indentUnit = std::string(blank.substr(newline + 1));
      }
    }
    break;
  }

  if (encoding == Encoding::Wide) return;
  // The byte layout must describe exactly the tree's root children, or nothing is spliced.
  std::size_t index = 0;
  for (pugi::xml_node child : Root().children()) {
    if (!layout.valid || index >= layout.children.size() ||
        layout.children[index].type != child.type()) {
      layout.valid = false;
      break;
    }
    if (child.type() == pugi::node_element) {
      std::string name(layout.children[index].name);
      if (encoding == Encoding::Latin1 || encoding == Encoding::Cp1252) {
        name = SingleByteToUtf8(name, encoding);
      }
      if (name != child.name()) {
        layout.valid = false;
        break;
      }
    }
    originalChildren.emplace(child.internal_object(), layout.children[index].range);
    ++index;
  }
  if (index != layout.children.size()) layout.valid = false;
  if (!layout.valid) originalChildren.clear();
}

pugi::xml_node ProfileStore::Impl::FindKey(const char* section, const char* key) const {
  if (!usable || section == nullptr || key == nullptr) return {};
  return Root().child(section).child(key);
}

// The white space that puts `node` on its own line, normalised to the file's line end.
std::string ProfileStore::Impl::IndentBefore(pugi::xml_node node) const {
  if (node == Root()) return lineEnd;
  const pugi::xml_node before = node.previous_sibling();
  if (!IsBlankText(before)) return {};
  const std::string_view blank = before.value();
  const std::size_t newline = blank.rfind('\n');
  if (newline == std::string_view::npos) return {};
  return lineEnd + std::string(blank.substr(newline + 1));
}

// Appends an element last in `parent`, laid out like its siblings: on its own line with their
// indentation when they are on their own lines, inline when the parent is written compactly.
pugi::xml_node ProfileStore::Impl::AppendFormatted(pugi::xml_node parent, const char* name) {
  std::string childIndent;
  for (pugi::xml_node child : parent.children()) {
    if (child.type() == pugi::node_element) {
      childIndent = IndentBefore(child);
      break;
    }
  }
  const bool hadChildren = static_cast<bool>(parent.first_child());
  const std::string parentIndent = IndentBefore(parent);
  if (childIndent.empty() && (hadChildren || parentIndent.empty())) {
    return parent.append_child(name);
  }
  if (childIndent.empty()) childIndent = parentIndent + indentUnit;
  const pugi::xml_node last = parent.last_child();
  if (last && IsBlankText(last)) {
    parent.insert_child_before(pugi::node_pcdata, last).set_value(childIndent.c_str());
    return parent.insert_child_before(name, last);
  }
  parent.append_child(pugi::node_pcdata).set_value(childIndent.c_str());
  const pugi::xml_node element = parent.append_child(name);
  if (!hadChildren) {
    parent.append_child(pugi::node_pcdata).set_value(parentIndent.c_str());
  }
  return element;
}

pugi::xml_node ProfileStore::Impl::FindOrCreateKey(const char* section, const char* key) {
  if (!usable || !IsElementName(section) || !IsElementName(key)) return {};
  pugi::xml_node root = Root();
  pugi::xml_node sectionNode = root.child(section);
  if (!sectionNode) sectionNode = AppendFormatted(root, section);
  pugi::xml_node keyNode = sectionNode.child(key);
  if (!keyNode) {
    keyNode = AppendFormatted(sectionNode, key);
    MarkChanged(sectionNode);
  }
  return keyNode;
}

void ProfileStore::Impl::MarkChanged(pugi::xml_node section) {
  dirtySections.insert(section.internal_object());
  changed = true;
}

void ProfileStore::Impl::RemoveKey(pugi::xml_node key) {
  pugi::xml_node section = key.parent();
  const pugi::xml_node before = key.previous_sibling();
  if (IsBlankText(before)) section.remove_child(before);
  section.remove_child(key);
  MarkChanged(section);
}

void ProfileStore::Impl::SetText(const char* section, const char* key, const std::string& text) {
  pugi::xml_node element = FindOrCreateKey(section, key);
  if (!element) return;
  // Writing back what is already there changes nothing, so the file can stay byte-identical.
  const pugi::xml_node only = element.first_child();
  if (only && !only.next_sibling() && only.type() == pugi::node_pcdata && text == only.value())
    return;
  if (!only && text.empty()) return;
  element.remove_children();
  if (!text.empty()) element.append_child(pugi::node_pcdata).set_value(text.c_str());
  MarkChanged(element.parent());
}

// Settings' code page -> the tree's text. Bytes of an unknown declared encoding pass unchanged.
std::string ProfileStore::Impl::DocumentText(const std::string& text) const {
  return encoding == Encoding::Other ? text : files.ToDocument(text);
}

std::string ProfileStore::Impl::SettingsText(const std::string& text) const {
  return encoding == Encoding::Other ? text : files.FromDocument(text);
}

bool ProfileStore::Impl::Encode(const std::string& utf8, std::string& out) const {
  if (encoding == Encoding::Latin1 || encoding == Encoding::Cp1252) {
    return Utf8ToSingleByte(utf8, encoding, out);
  }
  out = utf8;
  return true;
}

bool ProfileStore::Impl::Serialize(pugi::xml_node node, std::string& out) const {
  std::string utf8;
  StringWriter writer(utf8);
  node.print(writer, "", pugi::format_raw, pugi::encoding_utf8);
  std::string encoded;
  if (!Encode(utf8, encoded)) return false;
  out += encoded;
  return true;
}

// The bytes to write, or false when the document cannot be written without damage.
bool ProfileStore::Impl::Compose(std::string& out) const {
  out.clear();
  if (!changed) {
    out = original;
    return true;
  }
  if (fresh) {
    out = std::string(kFreshDeclaration) + lineEnd;
    if (!Serialize(Root(), out)) return false;
    out += lineEnd;
    return true;
  }
  if (noRoot) {
    out = original;
    if (!out.empty() && out.back() != '\n') out += lineEnd;
    if (!Serialize(Root(), out)) return false;
    out += lineEnd;
    return true;
  }
  if (!layout.valid) {
    // No safe splice: let the XML library write the whole tree, in the file's own encoding.
    unsigned flags = pugi::format_raw | pugi::format_no_declaration;
    if (bom || encoding == Encoding::Wide) flags |= pugi::format_write_bom;
    if (encoding == Encoding::Wide) {
      StringWriter writer(out);
      document.save(writer, "", flags, wideEncoding);
      return true;
    }
    std::string utf8;
    StringWriter writer(utf8);
    document.save(writer, "", flags, pugi::encoding_utf8);
    return Encode(utf8, out);
  }
  if (layout.selfClosing) {
    out.append(original, 0, layout.root.begin);
    if (!Serialize(Root(), out)) return false;
    out.append(original, layout.root.end, std::string::npos);
    return true;
  }
  out.reserve(original.size() + 4096);
  out.append(original, 0, layout.contentBegin);
  for (pugi::xml_node child : Root().children()) {
    const auto found = originalChildren.find(child.internal_object());
    if (found != originalChildren.end() && !dirtySections.contains(child.internal_object())) {
      out.append(original, found->second.begin, found->second.end - found->second.begin);
    } else if (!Serialize(child, out)) {
      return false;
    }
  }
  out.append(original, layout.contentEnd, std::string::npos);
  return true;
}

bool ProfileStore::Impl::Save() {
  if (!usable) return false;
  std::string bytes;
  if (!Compose(bytes)) return false;
  return files.ReplaceAll(path, bytes);
}

ProfileStore::ProfileStore(const std::string& path, ProfileFiles& files)
    : impl_(std::make_unique<Impl>(path, files)) {
  try {
    impl_->Open();
  } catch (...) {
    // Out of memory while loading: behave as if the profile could not be read.
    impl_->usable = false;
  }
}

ProfileStore::~ProfileStore() {
  try {
    CloseProfile();
  } catch (...) {
    // Releasing a store must not throw; an unsaved profile is the only consequence.
  }
}

// The steps both reads share: false for a missing key, and for an empty one, which is removed.
bool ProfileStore::Impl::ReadKeyText(const char* section, const char* key, std::string& text) {
  if (closed) return false;
  const pugi::xml_node element = FindKey(section, key);
  if (!element) return false;
  text = TextOf(element);
  if (!text.empty()) return true;
  RemoveKey(element);
  return false;
}

std::int32_t ProfileStore::ReadInt(const char* section, const char* key,
                                   std::int32_t defaultValue) {
  std::string text;
  return impl_->ReadKeyText(section, key, text) ? ParseInt(text) : defaultValue;
}

std::string ProfileStore::ReadString(const char* section, const char* key,
                                     const std::string& defaultValue) {
  std::string text;
  return impl_->ReadKeyText(section, key, text) ? impl_->SettingsText(text) : defaultValue;
}

void ProfileStore::WriteInt(const char* section, const char* key, std::int32_t value) {
  if (impl_->closed) return;
  std::array<char, 16> digits{};
  const auto result = std::to_chars(digits.data(), digits.data() + digits.size(), value);
  impl_->SetText(section, key, std::string(digits.data(), result.ptr));
}

void ProfileStore::WriteString(const char* section, const char* key, const std::string& value) {
  if (impl_->closed) return;
  // Control characters other than tab and line ends cannot appear in XML 1.0 at all: written
  // raw they would make the host's whole profile unreadable, so they are dropped.
  std::string text = impl_->DocumentText(value);
  std::erase_if(text, [](char c) {
    const auto b = static_cast<unsigned char>(c);
    return b < 0x20 && c != '\t' && c != '\n' && c != '\r';
  });
  impl_->SetText(section, key, text);
}

bool ProfileStore::CloseProfile() {
  if (impl_->closed) return false;
  impl_->closed = true;
  const bool saved = impl_->Save();
  impl_->document.reset();
  impl_->original.clear();
  impl_->originalChildren.clear();
  impl_->dirtySections.clear();
  return saved;
}
