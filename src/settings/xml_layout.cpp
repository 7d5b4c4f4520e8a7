#include "settings/xml_layout.h"

#include "text/ascii.h"

namespace {

constexpr std::size_t npos = std::string_view::npos;

class LayoutScanner {
 public:
  explicit LayoutScanner(std::string_view bytes) : b_(bytes) {}

  RootLayout Scan() {
    RootLayout layout;
    std::size_t pos = 0;
    if (b_.substr(0, 3) == "\xEF\xBB\xBF") pos = 3;
    // Prolog: declaration, comments, processing instructions, document type, white space.
    for (;;) {
      while (pos < b_.size() && ascii::IsXmlSpace(b_[pos])) ++pos;
      if (pos >= b_.size()) {
        layout.prologOnly = true;
        return layout;
      }
      if (b_[pos] != '<') return layout;
      if (Starts(pos, "<?")) {
        const std::size_t end = After(pos + 2, "?>");
        // The XML library reads a declaration's quoted values whole; a reader that skips the
        // declaration ends it at its first "?>". Where they disagree the file is not one layout.
        if (IsDeclaration(pos) && end != DeclarationEnd(pos)) return layout;
        pos = end;
      } else if (Starts(pos, "<!--")) {
        pos = After(pos + 4, "-->");
      } else if (Starts(pos, "<!DOCTYPE")) {
        pos = DoctypeEnd(pos);
      } else if (Starts(pos, "<!")) {
        return layout;
      } else {
        break;
      }
      if (pos == npos) return layout;
    }
    layout.root.begin = pos;
    bool selfClosing = false;
    const std::size_t tagEnd = StartTagEnd(pos, selfClosing);
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
        child.type = LayoutNode::Text;
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
        child.type = LayoutNode::Comment;
        pos = After(pos + 4, "-->");
      } else if (Starts(pos, "<![CDATA[")) {
        child.type = LayoutNode::Cdata;
        pos = After(pos + 9, "]]>");
      } else if (Starts(pos, "<?")) {
        child.type = LayoutNode::Pi;
        pos = After(pos + 2, "?>");
      } else if (Starts(pos, "<!")) {
        return layout;
      } else {
        child.type = LayoutNode::Element;
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
  // Only white space, comments and processing instructions may follow the root.
  bool EpilogOnly(std::size_t pos) const {
    for (;;) {
      while (pos < b_.size() && ascii::IsXmlSpace(b_[pos])) ++pos;
      if (pos >= b_.size()) return true;
      if (Starts(pos, "<!--")) {
        pos = After(pos + 4, "-->");
      } else if (Starts(pos, "<?")) {
        pos = After(pos + 2, "?>");
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
    if (pos > b_.size()) return npos;
    const std::size_t found = b_.find(terminator, pos);
    return found == npos ? npos : found + terminator.size();
  }

  std::string_view NameAt(std::size_t pos) const {
    std::size_t end = pos;
    while (end < b_.size() && !ascii::IsXmlSpace(b_[end]) && b_[end] != '/' && b_[end] != '>')
      ++end;
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
        if (pos == npos || depth == 0) return npos;
        if (--depth == 0) return pos;
      } else if (Starts(pos, "<!--")) {
        pos = After(pos + 4, "-->");
      } else if (Starts(pos, "<![CDATA[")) {
        pos = After(pos + 9, "]]>");
      } else if (Starts(pos, "<?")) {
        pos = After(pos + 2, "?>");
      } else if (Starts(pos, "<!")) {
        return npos;
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

  // "<?xml" followed by white space or "?": the target is "xml" in any letter case.
  bool IsDeclaration(std::size_t pos) const {
    if (pos + 5 >= b_.size()) return false;
    const auto lower = [this](std::size_t at) { return static_cast<char>(b_[at] | 0x20); };
    return lower(pos + 2) == 'x' && lower(pos + 3) == 'm' && lower(pos + 4) == 'l' &&
           (ascii::IsSpace(b_[pos + 5]) || b_[pos + 5] == '?');
  }

  // After the "?>" that ends a declaration whose quoted values are skipped whole.
  std::size_t DeclarationEnd(std::size_t pos) const {
    for (pos += 5; pos < b_.size(); ++pos) {
      const char c = b_[pos];
      if (c == '"' || c == '\'') {
        pos = b_.find(c, pos + 1);
        if (pos == npos) return npos;
      } else if (Starts(pos, "?>")) {
        return pos + 2;
      }
    }
    return npos;
  }

  // One quoted string, comment or processing instruction inside a document type declaration;
  // npos for anything else.
  std::size_t DoctypePrimitiveEnd(std::size_t pos) const {
    const char c = b_[pos];
    if (c == '"' || c == '\'') {
      const std::size_t close = b_.find(c, pos + 1);
      return close == npos ? npos : close + 1;
    }
    if (Starts(pos, "<?")) return After(pos + 2, "?>");
    if (Starts(pos, "<!--")) return After(pos + 4, "-->");
    return npos;
  }

  // A conditional section "<![ ... ]]>", nested ones included.
  std::size_t DoctypeIgnoreEnd(std::size_t pos) const {
    std::size_t depth = 0;
    for (pos += 3; pos < b_.size();) {
      if (Starts(pos, "<![")) {
        pos += 3;
        ++depth;
      } else if (Starts(pos, "]]>")) {
        pos += 3;
        if (depth == 0) return pos;
        --depth;
      } else {
        ++pos;
      }
    }
    return npos;
  }

  // A document type declaration with its internal subset: declarations nest by "<!" ... ">",
  // while quotes, comments and processing instructions are skipped whole, so a quote inside a
  // comment or a '>' inside a quoted value ends nothing.
  std::size_t DoctypeEnd(std::size_t pos) const {
    std::size_t depth = 0;
    for (pos += 2; pos < b_.size();) {
      const char c = b_[pos];
      if (c == '<' && Starts(pos, "<!") && !Starts(pos, "<!-")) {
        if (Starts(pos, "<![")) {
          pos = DoctypeIgnoreEnd(pos);
          if (pos == npos) return npos;
        } else {
          pos += 2;
          ++depth;
        }
      } else if (c == '<' || c == '"' || c == '\'') {
        pos = DoctypePrimitiveEnd(pos);
        if (pos == npos) return npos;
      } else if (c == '>') {
        if (depth == 0) return pos + 1;
        --depth;
        ++pos;
      } else {
        ++pos;
      }
    }
    return npos;
  }

  std::string_view b_;
};

}  // namespace

RootLayout ScanLayout(std::string_view bytes) {
  return LayoutScanner(bytes).Scan();
}

bool LayoutMatchesNode(LayoutNode layout, pugi::xml_node_type tree) {
  switch (layout) {
    case LayoutNode::Text:
      return tree == pugi::node_pcdata;
    case LayoutNode::Element:
      return tree == pugi::node_element;
    case LayoutNode::Comment:
      return tree == pugi::node_comment;
    case LayoutNode::Cdata:
      return tree == pugi::node_cdata;
    case LayoutNode::Pi:
      return tree == pugi::node_pi;
  }
  return false;
}
