// The layout scanner on its own: whenever it claims to know a document's layout, that layout must
// be exactly the XML library's tree of root children, byte range by byte range.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <pugixml.hpp>
#include <string>
#include <string_view>

#include "settings/xml_layout.h"

namespace {

void Check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "xml layout: %s\n", what);
  std::abort();
}

// As the store parses: text as written, white space kept.
constexpr unsigned kOptions =
    (pugi::parse_full | pugi::parse_ws_pcdata) &
    ~(pugi::parse_eol | pugi::parse_escapes | pugi::parse_wconv_attribute);

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const RootLayout layout = ScanLayout(bytes);
  if (!layout.valid) return 0;

  // The ranges tile the root's content in order.
  Check(layout.root.begin < layout.contentBegin && layout.contentBegin <= layout.contentEnd &&
            layout.contentEnd <= layout.root.end && layout.root.end <= size,
        "root ranges out of order");
  Check(bytes[layout.root.begin] == '<', "the root does not start at '<'");
  std::size_t at = layout.contentBegin;
  for (const RootLayout::Child& child : layout.children) {
    Check(child.range.begin == at && child.range.end > at, "children do not tile the content");
    at = child.range.end;
  }
  Check(at == layout.contentEnd, "children do not end at the end tag");

  // Where the library accepts the document (and a NUL did not cut it short), it sees the same.
  if (bytes.find('\0') != std::string_view::npos) return 0;
  pugi::xml_document doc;
  if (!doc.load_buffer(bytes.data(), bytes.size(), kOptions, pugi::encoding_utf8)) return 0;
  std::size_t index = 0;
  for (pugi::xml_node node : doc.document_element().children()) {
    Check(index < layout.children.size(), "the library sees more root children");
    const RootLayout::Child& child = layout.children[index++];
    Check(LayoutMatchesNode(child.type, node.type()), "a root child of another kind");
    if (node.type() == pugi::node_element) {
      Check(child.name == node.name(), "an element of another name");
      // The element's bytes on their own are that element.
      pugi::xml_document alone;
      const std::string_view range =
          bytes.substr(child.range.begin, child.range.end - child.range.begin);
      Check(static_cast<bool>(
                alone.load_buffer(range.data(), range.size(), kOptions, pugi::encoding_utf8)),
            "an element's bytes do not parse alone");
      Check(std::string_view(alone.document_element().name()) == node.name(),
            "an element's bytes hold another element");
    } else if (node.type() == pugi::node_pcdata) {
      Check(bytes.substr(child.range.begin, child.range.end - child.range.begin) == node.value(),
            "text of other bytes");
    }
  }
  Check(index == layout.children.size(), "the library sees fewer root children");
  return 0;
}
