// Text conversions on their own: every conversion the store relies on must come back to what went
// in, and escaped text must be exactly what an independent XML reader decodes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <pugixml.hpp>
#include <string>
#include <string_view>

#include "settings/text_encoding.h"

namespace {

void Check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "text encoding: %s\n", what);
  std::abort();
}

constexpr TextEncoding kNarrow[] = {TextEncoding::Utf8, TextEncoding::Ascii, TextEncoding::Latin1,
                                    TextEncoding::Cp1252};

// White space only text is text too.
constexpr unsigned kOptions = pugi::parse_default | pugi::parse_ws_pcdata;

// How the XML library reads a file in `encoding` (windows-1252 through our own table).
std::string ReadBack(const std::string& element, TextEncoding encoding) {
  static pugi::xml_document doc;
  pugi::xml_parse_result result;
  if (encoding == TextEncoding::Cp1252) {
    const std::string utf8 = Cp1252ToUtf8(element);
    result = doc.load_buffer(utf8.data(), utf8.size(), kOptions, pugi::encoding_utf8);
  } else {
    const auto as = encoding == TextEncoding::Utf8 ? pugi::encoding_utf8 : pugi::encoding_latin1;
    result = doc.load_buffer(element.data(), element.size(), kOptions, as);
  }
  Check(static_cast<bool>(result), "escaped text does not parse");
  return doc.child("K").text().get();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);

  // Wide bytes come back unchanged through UTF-8.
  for (const WideForm form :
       {WideForm{2, false}, WideForm{2, true}, WideForm{4, false}, WideForm{4, true}}) {
    std::string utf8;
    if (WideToUtf8(input, form, utf8)) {
      Check(Utf8ToWide(utf8, form) == input, "wide bytes changed through UTF-8");
    } else {
      Check(size % form.unit != 0 || form.unit == 4, "whole UTF-16 units refused");
    }
  }
  // windows-1252 bytes come back unchanged.
  std::string bytes;
  Check(EncodeUtf8(Cp1252ToUtf8(input), TextEncoding::Cp1252, bytes) && bytes == input,
        "windows-1252 bytes changed");

  const std::string clean = CleanSettingText(input, TextEncoding::Utf8);
  Check(CleanSettingText(clean, TextEncoding::Utf8) == clean, "cleaning is not stable");
  if (CleanSettingText(input, TextEncoding::Utf8) == input) Check(clean == input, "clean changed");
  for (const TextEncoding encoding : kNarrow) {
    const std::string escaped = EscapeText(clean, encoding);
    Check(UnescapeText(escaped) == clean, "escaped text unescapes differently");
    std::string encoded;
    Check(EncodeUtf8(escaped, encoding, encoded), "escaped text has no byte form");
    if (encoding == TextEncoding::Ascii) {
      for (char c : encoded) Check((c & 0x80) == 0, "a byte beyond ASCII");
    }
    // The XML library must read the same text. It turns a NUL into the end of the text, and we
    // never write one.
    Check(clean.find('\0') == std::string::npos, "a NUL survived cleaning");
    Check(ReadBack("<K>" + encoded + "</K>", encoding) == clean, "the XML library reads otherwise");
  }
  // Unescaping never grows text and is the identity on text without '&'.
  const std::string unescaped = UnescapeText(input);
  Check(unescaped.size() <= input.size(), "unescaping grew the text");
  if (input.find('&') == std::string::npos) Check(unescaped == input, "text without '&' changed");
  return 0;
}
