// Where the root element and each of its children lie in a profile's bytes, so the store can copy
// every byte it does not change. Works on ASCII-compatible bytes of a document the XML library has
// already accepted: it finds where things start and end, it does not validate them.
#pragma once

#include <cstddef>
#include <pugixml.hpp>
#include <string_view>
#include <vector>

struct ByteRange {
  std::size_t begin = 0;
  std::size_t end = 0;
};

enum class LayoutNode { Text, Element, Comment, Cdata, Pi };

struct RootLayout {
  bool valid = false;       // the bytes hold exactly one root with nothing but markup around it
  bool prologOnly = false;  // no root, and nothing but prolog markup and white space
  bool selfClosing = false;
  ByteRange root;                // the whole root element
  std::size_t contentBegin = 0;  // after the start tag's '>'
  std::size_t contentEnd = 0;    // at the end tag's '<'
  struct Child {
    LayoutNode type = LayoutNode::Text;
    std::string_view name;  // elements only, as the bytes spell it
    ByteRange range;
  };
  std::vector<Child> children;
};

RootLayout ScanLayout(std::string_view bytes);

// True when a scanned child and the parsed tree's node are of the same kind.
bool LayoutMatchesNode(LayoutNode layout, pugi::xml_node_type tree);
