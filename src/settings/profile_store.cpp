// The profile belongs to the host: everything outside the section the store changes must go back
// to disk exactly as it was read. The store therefore keeps the file's bytes next to the parsed
// tree, maps each child of the root to its byte range, and on save re-serialises only the root
// children it created or changed, copying every other byte.
//
// The file may change while a store is open (the host or an editor saves it while the dialog is
// up), so the save reads it again; if it changed, the store's edits are replayed over what is on
// disk now and spliced into those bytes instead.
//
// Text is kept in the tree as the file spells it (no entity expansion, no attribute white space
// conversion), so references to entities a DOCTYPE declares, character references and attribute
// quoting all go back unchanged. The store escapes what it writes and unescapes what it reads.
#include "settings/profile_store.h"

#include <array>
#include <charconv>
#include <cstddef>
#include <pugixml.hpp>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "settings/profile_files.h"
#include "settings/settings_keys.h"
#include "settings/text_encoding.h"
#include "settings/xml_layout.h"
#include "text/ascii.h"

namespace {

constexpr const char* kRootName = "profile";
constexpr const char* kFreshDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
// Windows-style line ends for a profile the store writes from scratch.
constexpr const char* kFreshLineEnd = "\r\n";
constexpr const char* kDefaultIndentUnit = "\t";

constexpr unsigned kParseOptions =
    (pugi::parse_full | pugi::parse_ws_pcdata) &
    ~(pugi::parse_eol | pugi::parse_escapes | pugi::parse_wconv_attribute);
constexpr unsigned kPrintFlags = pugi::format_raw | pugi::format_no_escapes;

// Why a save did not happen, for the operator.
constexpr const char* kUnreadable = "The profile file could not be read.";
constexpr const char* kNoFolder =
    "The profile file's folder does not exist, so the file cannot be created there.";
constexpr const char* kNotXml =
    "The profile file is not well-formed XML as this plug-in reads it, so it was left as it is.";
constexpr const char* kReadOnly = "The profile file is read-only.";
constexpr const char* kNotAFile = "The profile path does not name a regular file.";
constexpr const char* kWriteFailed =
    "The profile file could not be written; it was left as it was.";
constexpr const char* kCannotEncode =
    "The settings cannot be written in the profile file's encoding.";

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
  return node.type() == pugi::node_pcdata && ascii::IsBlank(node.value());
}

class StringWriter final : public pugi::xml_writer {
 public:
  explicit StringWriter(std::string& out) : out_(out) {}
  void write(const void* data, std::size_t size) override {
    out_.append(static_cast<const char*>(data), size);
  }

 private:
  std::string& out_;
};

// A raw attribute value from a single-quoted attribute may hold '"'; the writer always uses '"'.
void QuoteAttributes(pugi::xml_node node) {
  for (pugi::xml_node cur = node; cur;) {
    for (pugi::xml_attribute attribute : cur.attributes()) {
      const std::string_view value = attribute.value();
      if (value.find('"') == std::string_view::npos) continue;
      std::string quoted;
      for (char c : value) {
        if (c == '"') {
          quoted += "&quot;";
        } else {
          quoted += c;
        }
      }
      attribute.set_value(quoted.c_str());
    }
    if (cur.first_child()) {
      cur = cur.first_child();
      continue;
    }
    while (cur != node && !cur.next_sibling()) cur = cur.parent();
    if (cur == node) break;
    cur = cur.next_sibling();
  }
}

// One version of the profile file: its bytes, the tree over them and the edits made to the tree.
class Profile {
 public:
  explicit Profile(ProfileFiles& files) : files_(files) {}

  // False, with the reason, when the store must neither use nor write over these bytes.
  bool Load(std::string bytes, bool exists, const char*& reason);

  const std::string& Bytes() const { return bytes_; }
  bool Exists() const { return exists_; }
  bool Changed() const { return changed_; }

  pugi::xml_node FindKey(const char* section, const char* key) const;
  void RemoveKey(pugi::xml_node key);
  // Reads a key's text; an empty key is removed and reads as missing.
  bool ReadKeyText(const char* section, const char* key, std::string& text);
  void WriteSetting(const char* section, const char* key, const std::string& settingsText);
  std::string SettingsText(const std::string& text) const;
  // The bytes to write, or false when the document cannot be written without damage.
  bool Compose(std::string& out);

 private:
  pugi::xml_node Root() const { return document_.document_element(); }
  std::string_view Text() const { return encoding_ == TextEncoding::Wide ? wideText_ : bytes_; }
  bool NameFits(const char* name) const;
  pugi::xml_node FindOrCreateKey(const char* section, const char* key);
  pugi::xml_node AppendFormatted(pugi::xml_node parent, const char* name);
  std::string IndentBefore(pugi::xml_node node) const;
  void MarkChanged(pugi::xml_node section);
  bool Serialize(pugi::xml_node node, std::string& out) const;
  bool ComposeText(std::string& out);

  ProfileFiles& files_;
  std::string bytes_;
  std::string wideText_;  // a wide file's bytes as UTF-8
  bool exists_ = false;
  pugi::xml_document document_;
  TextEncoding encoding_ = TextEncoding::Utf8;
  WideForm wide_;
  bool fresh_ = false;   // the file was missing or blank: write a whole new document
  bool noRoot_ = false;  // the file held only a prolog: the new root goes after it
  bool changed_ = false;
  std::string lineEnd_ = "\n";
  std::string indentUnit_ = kDefaultIndentUnit;
  RootLayout layout_;
  std::unordered_map<pugi::xml_node_struct*, ByteRange> originalChildren_;
  std::unordered_set<pugi::xml_node_struct*> dirtySections_;
};

bool Profile::Load(std::string bytes, bool exists, const char*& reason) {
  reason = kNotXml;
  bytes_ = std::move(bytes);
  exists_ = exists;
  const DetectedEncoding detected = DetectEncoding(bytes_);
  encoding_ = detected.encoding;
  wide_ = detected.wide;
  if (encoding_ == TextEncoding::Wide && !WideToUtf8(bytes_, wide_, wideText_)) return false;
  const std::string_view text = Text();
  const std::string_view body = text.substr(text.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0);
  if (encoding_ != TextEncoding::Wide && ascii::IsBlank(body)) {
    fresh_ = true;
    lineEnd_ = kFreshLineEnd;
    document_.append_child(kRootName);
    changed_ = true;
    return true;
  }
  // The XML library stops at a NUL byte and would accept a document cut short there.
  if (text.find('\0') != std::string_view::npos) return false;

  pugi::xml_parse_result result;
  if (encoding_ == TextEncoding::Latin1 || encoding_ == TextEncoding::Ascii) {
    result = document_.load_buffer(text.data(), text.size(), kParseOptions, pugi::encoding_latin1);
  } else if (encoding_ == TextEncoding::Cp1252) {
    const std::string utf8 = Cp1252ToUtf8(text);
    result = document_.load_buffer(utf8.data(), utf8.size(), kParseOptions, pugi::encoding_utf8);
  } else {
    result = document_.load_buffer(text.data(), text.size(), kParseOptions, pugi::encoding_utf8);
  }

  if (result.status == pugi::status_no_document_element) {
    // Only a prolog (declaration, comments, processing instructions): keep it, add the root.
    for (pugi::xml_node node : document_.children()) {
      const auto type = node.type();
      if (type != pugi::node_declaration && type != pugi::node_comment && type != pugi::node_pi &&
          type != pugi::node_doctype && !IsBlankText(node)) {
        return false;
      }
    }
    noRoot_ = true;
  } else if (!result) {
    return false;
  }
  // Stray text or a second element beside the root: not a file the host wrote; leave it.
  layout_ = ScanLayout(text);
  if (noRoot_ ? !layout_.prologOnly : !layout_.valid) return false;
  if (text.find("\r\n") != std::string_view::npos) lineEnd_ = "\r\n";
  if (noRoot_) {
    document_.append_child(kRootName);
    changed_ = true;
    return true;
  }

  // Indentation of the root's children, for sections and keys the store adds.
  for (pugi::xml_node child : Root().children()) {
    if (child.type() != pugi::node_element) continue;
    const pugi::xml_node before = child.previous_sibling();
    if (IsBlankText(before)) {
      const std::string_view blank = before.value();
      const std::size_t newline = blank.rfind('\n');
      if (newline != std::string_view::npos && newline + 1 < blank.size()) {
        indentUnit_ = std::string(blank.substr(newline + 1));
      }
    }
    break;
  }

  // The byte layout must describe exactly the tree's root children, or nothing can be spliced.
  std::size_t index = 0;
  std::string name;
  for (pugi::xml_node child : Root().children()) {
    if (index >= layout_.children.size() ||
        !LayoutMatchesNode(layout_.children[index].type, child.type()))
      return false;
    if (child.type() == pugi::node_element) {
      name.clear();
      if (!EncodeUtf8(child.name(), encoding_, name) || name != layout_.children[index].name)
        return false;
    }
    originalChildren_.emplace(child.internal_object(), layout_.children[index].range);
    ++index;
  }
  return index == layout_.children.size();
}

// Sections and keys are elements; a processing instruction of the same name is the file's own.
pugi::xml_node ChildElement(pugi::xml_node parent, const char* name) {
  for (pugi::xml_node child = parent.child(name); child; child = child.next_sibling(name)) {
    if (child.type() == pugi::node_element) return child;
  }
  return {};
}

pugi::xml_node Profile::FindKey(const char* section, const char* key) const {
  if (section == nullptr || key == nullptr) return {};
  return ChildElement(ChildElement(Root(), section), key);
}

// A name the store creates must be valid text that the file's encoding holds as it is.
bool Profile::NameFits(const char* name) const {
  if (!IsElementName(name)) return false;
  const std::string_view view(name);
  std::string encoded;
  return CleanSettingText(view, encoding_) == view && EncodeUtf8(view, encoding_, encoded);
}

// The white space that puts `node` on its own line, normalised to the file's line end.
std::string Profile::IndentBefore(pugi::xml_node node) const {
  if (node == Root()) return lineEnd_;
  const pugi::xml_node before = node.previous_sibling();
  if (!IsBlankText(before)) return {};
  const std::string_view blank = before.value();
  const std::size_t newline = blank.rfind('\n');
  if (newline == std::string_view::npos) return {};
  return lineEnd_ + std::string(blank.substr(newline + 1));
}

// Appends an element last in `parent`, laid out like its siblings: on its own line with their
// indentation when they are on their own lines, inline when the parent is written compactly.
pugi::xml_node Profile::AppendFormatted(pugi::xml_node parent, const char* name) {
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
  if (childIndent.empty()) childIndent = parentIndent + indentUnit_;
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

pugi::xml_node Profile::FindOrCreateKey(const char* section, const char* key) {
  if (!NameFits(section) || !NameFits(key)) return {};
  pugi::xml_node root = Root();
  pugi::xml_node sectionNode = ChildElement(root, section);
  if (!sectionNode) sectionNode = AppendFormatted(root, section);
  pugi::xml_node keyNode = ChildElement(sectionNode, key);
  if (!keyNode) {
    keyNode = AppendFormatted(sectionNode, key);
    MarkChanged(sectionNode);
  }
  return keyNode;
}

void Profile::MarkChanged(pugi::xml_node section) {
  dirtySections_.insert(section.internal_object());
  changed_ = true;
}

void Profile::RemoveKey(pugi::xml_node key) {
  pugi::xml_node section = key.parent();
  const pugi::xml_node before = key.previous_sibling();
  if (IsBlankText(before)) section.remove_child(before);
  section.remove_child(key);
  MarkChanged(section);
}

// The text of all descendants. Blank text between child elements is layout, not content.
std::string TextOf(pugi::xml_node element) {
  std::string text;
  pugi::xml_node cur = element.first_child();
  while (cur) {
    if (cur.type() == pugi::node_pcdata && !ascii::IsBlank(cur.value())) {
      text += UnescapeText(cur.value());
    } else if (cur.type() == pugi::node_cdata) {
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

bool Profile::ReadKeyText(const char* section, const char* key, std::string& text) {
  const pugi::xml_node element = FindKey(section, key);
  if (!element) return false;
  text = TextOf(element);
  if (!text.empty()) return true;
  RemoveKey(element);
  return false;
}

// Settings' code page -> clean text for the tree. Bytes of an unknown declared encoding pass.
void Profile::WriteSetting(const char* section, const char* key, const std::string& settingsText) {
  const std::string text = CleanSettingText(
      encoding_ == TextEncoding::Other ? settingsText : files_.ToDocument(settingsText), encoding_);
  pugi::xml_node element = FindOrCreateKey(section, key);
  if (!element) return;
  // Writing back what is already there changes nothing, so the file can stay byte-identical.
  const pugi::xml_node only = element.first_child();
  if (only && !only.next_sibling() && only.type() == pugi::node_pcdata &&
      UnescapeText(only.value()) == text) {
    return;
  }
  if (!only && text.empty()) return;
  element.remove_children();
  if (!text.empty()) {
    element.append_child(pugi::node_pcdata).set_value(EscapeText(text, encoding_).c_str());
  }
  MarkChanged(element.parent());
}

std::string Profile::SettingsText(const std::string& text) const {
  return encoding_ == TextEncoding::Other ? text : files_.FromDocument(text);
}

bool Profile::Serialize(pugi::xml_node node, std::string& out) const {
  QuoteAttributes(node);
  std::string utf8;
  StringWriter writer(utf8);
  node.print(writer, "", kPrintFlags, pugi::encoding_utf8);
  return EncodeUtf8(utf8, encoding_, out);
}

bool Profile::Compose(std::string& out) {
  out.clear();
  if (!changed_) {
    out = bytes_;
    return true;
  }
  if (encoding_ != TextEncoding::Wide) return ComposeText(out);
  std::string utf8;
  if (!ComposeText(utf8)) return false;
  out = Utf8ToWide(utf8, wide_);
  return true;
}

// The new file in the bytes of its single-byte or UTF-8 form.
bool Profile::ComposeText(std::string& out) {
  const std::string_view text = Text();
  if (fresh_) {
    out = std::string(kFreshDeclaration) + lineEnd_;
    if (!Serialize(Root(), out)) return false;
    out += lineEnd_;
    return true;
  }
  if (noRoot_) {
    out = text;
    if (!out.empty() && out.back() != '\n') out += lineEnd_;
    if (!Serialize(Root(), out)) return false;
    out += lineEnd_;
    return true;
  }
  if (layout_.selfClosing) {
    out.append(text.substr(0, layout_.root.begin));
    if (!Serialize(Root(), out)) return false;
    out.append(text.substr(layout_.root.end));
    return true;
  }
  out.reserve(text.size() + 4096);
  out.append(text.substr(0, layout_.contentBegin));
  for (pugi::xml_node child : Root().children()) {
    const auto found = originalChildren_.find(child.internal_object());
    if (found != originalChildren_.end() && !dirtySections_.contains(child.internal_object())) {
      out.append(text.substr(found->second.begin, found->second.end - found->second.begin));
    } else if (!Serialize(child, out)) {
      return false;
    }
  }
  out.append(text.substr(layout_.contentEnd));
  return true;
}

// What the store did to the tree, so it can be done again over a file that changed meanwhile.
struct Edit {
  bool removeIfEmpty = false;  // else: write `text`
  std::string section;
  std::string key;
  std::string text;  // in the settings' code page
};

}  // namespace

struct ProfileStore::Impl {
  ProfileFiles& files;
  std::string path;
  std::unique_ptr<Profile> profile;  // null: every read gives its default and nothing is saved
  const char* openFailure = nullptr;
  std::vector<Edit> edits;
  std::string failure;
  bool closed = false;

  Impl(const std::string& p, ProfileFiles& f) : files(f), path(p) {}

  void Open();
  bool ReadKeyText(const char* section, const char* key, std::string& text);
  bool Save();
};

void ProfileStore::Impl::Open() {
  if (path.empty()) return;
  std::string bytes;
  const ProfileFiles::ReadResult read = files.ReadAll(path, bytes);
  if (read == ProfileFiles::ReadResult::Failed || read == ProfileFiles::ReadResult::NoFolder) {
    // Never overwrite what we could not read.
    openFailure = read == ProfileFiles::ReadResult::NoFolder ? kNoFolder : kUnreadable;
    return;
  }
  auto loaded = std::make_unique<Profile>(files);
  if (loaded->Load(std::move(bytes), read == ProfileFiles::ReadResult::Ok, openFailure)) {
    profile = std::move(loaded);
    openFailure = nullptr;
  }
}

// The steps both reads share: false for a missing key, and for an empty one, which is removed.
bool ProfileStore::Impl::ReadKeyText(const char* section, const char* key, std::string& text) {
  if (closed || !profile) return false;
  const bool present = static_cast<bool>(profile->FindKey(section, key));
  if (profile->ReadKeyText(section, key, text)) return true;
  if (present) edits.push_back({true, section, key, {}});
  return false;
}

bool ProfileStore::Impl::Save() {
  failure.clear();
  if (!profile) {
    if (openFailure != nullptr) failure = openFailure;
    return false;
  }
  if (!profile->Changed()) return true;

  std::string current;
  const ProfileFiles::ReadResult read = files.ReadAll(path, current);
  if (read == ProfileFiles::ReadResult::Failed || read == ProfileFiles::ReadResult::NoFolder) {
    failure = read == ProfileFiles::ReadResult::NoFolder ? kNoFolder : kUnreadable;
    return false;
  }
  const bool exists = read == ProfileFiles::ReadResult::Ok;
  Profile* target = profile.get();
  std::unique_ptr<Profile> now;
  if (exists != profile->Exists() || current != profile->Bytes()) {
    // Another program saved the file meanwhile: apply our edits to its content instead.
    now = std::make_unique<Profile>(files);
    const char* reason = nullptr;
    if (!now->Load(std::move(current), exists, reason)) {
      failure = reason;
      return false;
    }
    for (const Edit& edit : edits) {
      if (edit.removeIfEmpty) {
        std::string ignored;
        now->ReadKeyText(edit.section.c_str(), edit.key.c_str(), ignored);
      } else {
        now->WriteSetting(edit.section.c_str(), edit.key.c_str(), edit.text);
      }
    }
    if (!now->Changed()) return true;
    target = now.get();
  }
  std::string bytes;
  if (!target->Compose(bytes)) {
    failure = kCannotEncode;
    return false;
  }
  if (exists && bytes == target->Bytes()) return true;
  switch (files.ReplaceAll(path, bytes)) {
    case ProfileFiles::WriteResult::Ok:
      return true;
    case ProfileFiles::WriteResult::ReadOnly:
      failure = kReadOnly;
      return false;
    case ProfileFiles::WriteResult::NotAFile:
      failure = kNotAFile;
      return false;
    case ProfileFiles::WriteResult::Failed:
      break;
  }
  failure = kWriteFailed;
  return false;
}

ProfileStore::ProfileStore(const std::string& path, ProfileFiles& files)
    : impl_(std::make_unique<Impl>(path, files)) {
  try {
    impl_->Open();
  } catch (...) {
    // Out of memory while loading: behave as if the profile could not be read.
    impl_->profile.reset();
    impl_->openFailure = kUnreadable;
  }
}

ProfileStore::~ProfileStore() {
  try {
    CloseProfile();
  } catch (...) {
    // Releasing a store must not throw; an unsaved profile is the only consequence.
  }
}

std::int32_t ProfileStore::ReadInt(const char* section, const char* key,
                                   std::int32_t defaultValue) {
  std::string text;
  if (!impl_->ReadKeyText(section, key, text)) return defaultValue;
  // A stored text without digits reads as 0, as the host reads it.
  std::int32_t value = 0;
  ParseSettingInteger(text, value);
  return value;
}

std::string ProfileStore::ReadString(const char* section, const char* key,
                                     const std::string& defaultValue) {
  std::string text;
  return impl_->ReadKeyText(section, key, text) ? impl_->profile->SettingsText(text) : defaultValue;
}

void ProfileStore::WriteInt(const char* section, const char* key, std::int32_t value) {
  std::array<char, 16> digits{};
  const auto result = std::to_chars(digits.data(), digits.data() + digits.size(), value);
  WriteString(section, key, std::string(digits.data(), result.ptr));
}

void ProfileStore::WriteString(const char* section, const char* key, const std::string& value) {
  if (impl_->closed || !impl_->profile || section == nullptr || key == nullptr) return;
  impl_->profile->WriteSetting(section, key, value);
  impl_->edits.push_back({false, section, key, value});
}

bool ProfileStore::CloseProfile() {
  if (impl_->closed) return false;
  impl_->closed = true;
  const bool saved = impl_->Save();
  impl_->profile.reset();
  impl_->edits.clear();
  return saved;
}

const std::string& ProfileStore::SaveFailure() const {
  return impl_->failure;
}
