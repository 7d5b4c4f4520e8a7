#include "settings/text_encoding.h"

#include <array>
#include <cstddef>
#include <cstdint>

#include "text/ascii.h"

namespace {

// windows-1252 0x80..0x9F; the five unassigned bytes map to the C1 control of the same value.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// Decodes one character at `i` and moves past it. False for a byte that does not start a
// well-formed sequence (overlong forms, surrogates and values beyond U+10FFFF included); `i` then
// moves past that one byte.
bool NextCode(std::string_view s, std::size_t& i, char32_t& code) {
  const auto b = static_cast<unsigned char>(s[i]);
  if (b < 0x80) {
    code = b;
    ++i;
    return true;
  }
  std::size_t length = 0;
  char32_t min = 0;
  if (b >= 0xC2 && b <= 0xDF) {
    length = 2;
    code = b & 0x1F;
    min = 0x80;
  } else if (b >= 0xE0 && b <= 0xEF) {
    length = 3;
    code = b & 0x0F;
    min = 0x800;
  } else if (b >= 0xF0 && b <= 0xF4) {
    length = 4;
    code = b & 0x07;
    min = 0x10000;
  } else {
    ++i;
    return false;
  }
  if (s.size() - i < length) {
    ++i;
    return false;
  }
  for (std::size_t k = 1; k < length; ++k) {
    const auto next = static_cast<unsigned char>(s[i + k]);
    if ((next & 0xC0) != 0x80) {
      ++i;
      return false;
    }
    code = (code << 6) | (next & 0x3F);
  }
  if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
    ++i;
    return false;
  }
  i += length;
  return true;
}

void AppendReference(std::string& out, char32_t code) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  out += "&#x";
  bool started = false;
  for (int shift = 20; shift >= 0; shift -= 4) {
    const unsigned digit = (code >> shift) & 0xF;
    if (digit != 0 || started || shift == 0) {
      out += kHex[digit];
      started = true;
    }
  }
  out += ';';
}

// The value of a numeric character reference body ("#233", "#xE9"); false when it names no
// character XML allows.
bool ReferenceValue(std::string_view body, char32_t& code) {
  if (body.size() < 2 || body[0] != '#') return false;
  const bool hex = body[1] == 'x';
  std::size_t i = hex ? 2 : 1;
  if (i >= body.size()) return false;
  std::uint32_t value = 0;
  for (; i < body.size(); ++i) {
    const char c = body[i];
    unsigned digit = 0;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned>(c - '0');
    } else if (hex && c >= 'a' && c <= 'f') {
      digit = static_cast<unsigned>(c - 'a' + 10);
    } else if (hex && c >= 'A' && c <= 'F') {
      digit = static_cast<unsigned>(c - 'A' + 10);
    } else {
      return false;
    }
    value = value * (hex ? 16u : 10u) + digit;
    if (value > 0x10FFFF) return false;
  }
  code = value;
  return code != 0 && !(code >= 0xD800 && code <= 0xDFFF);
}

}  // namespace

DetectedEncoding DetectEncoding(std::string_view bytes) {
  DetectedEncoding result;
  if (bytes.size() >= 4) {
    auto at = [&](std::size_t i) -> unsigned { return static_cast<unsigned char>(bytes[i]); };
    const unsigned d0 = at(0), d1 = at(1), d2 = at(2), d3 = at(3);
    WideForm& wide = result.wide;
    if ((d0 == 0 && d1 == 0 && d2 == 0xFE && d3 == 0xFF) ||
        (d0 == 0 && d1 == 0 && d2 == 0 && d3 == '<')) {
      wide = {4, true};
    } else if ((d0 == 0xFF && d1 == 0xFE && d2 == 0 && d3 == 0) ||
               (d0 == '<' && d1 == 0 && d2 == 0 && d3 == 0)) {
      wide = {4, false};
    } else if ((d0 == 0xFE && d1 == 0xFF) || (d0 == 0 && d1 == '<')) {
      wide = {2, true};
    } else if ((d0 == 0xFF && d1 == 0xFE) || (d0 == '<' && d1 == 0)) {
      wide = {2, false};
    }
    if (wide.unit != 0) {
      result.encoding = TextEncoding::Wide;
      return result;
    }
  }
  // A byte order mark says UTF-8 whatever the declaration claims.
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF" || bytes.substr(0, 5) != "<?xml") return result;
  const std::string_view text = bytes;
  const std::string_view declaration = text.substr(0, text.find("?>"));
  std::size_t pos = declaration.find("encoding");
  if (pos == std::string_view::npos) return result;
  pos += 8;
  while (pos < declaration.size() && ascii::IsXmlSpace(declaration[pos])) ++pos;
  if (pos >= declaration.size() || declaration[pos] != '=') return result;
  ++pos;
  while (pos < declaration.size() && ascii::IsXmlSpace(declaration[pos])) ++pos;
  if (pos >= declaration.size() || (declaration[pos] != '"' && declaration[pos] != '\''))
    return result;
  const char quote = declaration[pos++];
  const std::size_t end = declaration.find(quote, pos);
  if (end == std::string_view::npos) return result;
  const std::string name = ascii::Lower(declaration.substr(pos, end - pos));
  if (name == "utf-8" || name == "utf8") {
    result.encoding = TextEncoding::Utf8;
  } else if (name == "us-ascii" || name == "ascii") {
    result.encoding = TextEncoding::Ascii;
  } else if (name == "iso-8859-1" || name == "iso_8859-1" || name == "latin1" ||
             name == "latin-1" || name == "l1") {
    result.encoding = TextEncoding::Latin1;
  } else if (name == "windows-1252" || name == "cp1252" || name == "x-cp1252") {
    result.encoding = TextEncoding::Cp1252;
  } else {
    result.encoding = TextEncoding::Other;
  }
  return result;
}

bool WideToUtf8(std::string_view bytes, WideForm form, std::string& out) {
  out.clear();
  if (form.unit != 2 && form.unit != 4) return false;
  if (bytes.size() % form.unit != 0) return false;
  out.reserve(bytes.size() / form.unit + bytes.size() / 8);
  auto unitAt = [&](std::size_t i) {
    char32_t value = 0;
    for (unsigned k = 0; k < form.unit; ++k) {
      const auto b =
          static_cast<unsigned char>(bytes[i + (form.bigEndian ? k : form.unit - 1 - k)]);
      value = (value << 8) | b;
    }
    return value;
  };
  for (std::size_t i = 0; i < bytes.size(); i += form.unit) {
    char32_t code = unitAt(i);
    if (code > 0x10FFFF) return false;
    if (form.unit == 2 && code >= 0xD800 && code <= 0xDBFF && i + 2 < bytes.size()) {
      const char32_t low = unitAt(i + 2);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        i += 2;
      }
    }
    AppendUtf8(out, code);
  }
  return true;
}

std::string Utf8ToWide(std::string_view utf8, WideForm form) {
  std::string out;
  out.reserve(utf8.size() * form.unit);
  auto put = [&](char32_t unit) {
    for (unsigned k = 0; k < form.unit; ++k) {
      const unsigned shift = 8 * (form.bigEndian ? form.unit - 1 - k : k);
      out += static_cast<char>((unit >> shift) & 0xFF);
    }
  };
  for (std::size_t i = 0; i < utf8.size();) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    char32_t code = b;
    std::size_t length = 1;
    if (b >= 0xF0) {
      length = 4;
      code = b & 0x07;
    } else if (b >= 0xE0) {
      length = 3;
      code = b & 0x0F;
    } else if (b >= 0xC0) {
      length = 2;
      code = b & 0x1F;
    }
    // Our own UTF-8 (decoded from wide bytes or written by the store) is always complete.
    if (utf8.size() - i < length) length = utf8.size() - i;
    for (std::size_t k = 1; k < length; ++k) {
      code = (code << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    }
    i += length;
    if (form.unit == 2 && code >= 0x10000) {
      put(0xD800 + ((code - 0x10000) >> 10));
      put(0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
      put(code);
    }
  }
  return out;
}

std::string Cp1252ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 8);
  for (char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    AppendUtf8(out, b >= 0x80 && b < 0xA0 ? kCp1252High[b - 0x80] : b);
  }
  return out;
}

bool CanHold(TextEncoding encoding, char32_t code) {
  switch (encoding) {
    case TextEncoding::Utf8:
    case TextEncoding::Wide:
    case TextEncoding::Other:
      return true;
    case TextEncoding::Ascii:
      return code < 0x80;
    case TextEncoding::Latin1:
      return code < 0x100;
    case TextEncoding::Cp1252:
      if (code < 0x80 || (code >= 0xA0 && code < 0x100)) return true;
      for (char16_t high : kCp1252High) {
        if (high == code) return true;
      }
      return false;
  }
  return false;
}

bool EncodeUtf8(std::string_view utf8, TextEncoding encoding, std::string& out) {
  if (encoding != TextEncoding::Ascii && encoding != TextEncoding::Latin1 &&
      encoding != TextEncoding::Cp1252) {
    out.append(utf8);
    return true;
  }
  out.reserve(out.size() + utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    // ASCII runs are most of any profile.
    if (static_cast<unsigned char>(utf8[i]) < 0x80) {
      out += utf8[i++];
      continue;
    }
    char32_t code = 0;
    if (!NextCode(utf8, i, code)) return false;
    if (encoding == TextEncoding::Cp1252 && code >= 0x80 && (code < 0xA0 || code > 0xFF)) {
      bool found = false;
      for (std::size_t k = 0; k < kCp1252High.size() && !found; ++k) {
        if (kCp1252High[k] == code) {
          out += static_cast<char>(0x80 + k);
          found = true;
        }
      }
      if (found) continue;
      return false;
    }
    if (code > 0xFF) return false;
    out += static_cast<char>(code);
  }
  return true;
}

std::string CleanSettingText(std::string_view text, TextEncoding encoding) {
  std::string out;
  out.reserve(text.size());
  auto allowedControl = [](char32_t code) {
    return code >= 0x20 || code == '\t' || code == '\n' || code == '\r';
  };
  if (encoding == TextEncoding::Other) {
    for (char c : text) {
      if (allowedControl(static_cast<unsigned char>(c))) out += c;
    }
    return out;
  }
  for (std::size_t i = 0; i < text.size();) {
    char32_t code = 0;
    if (!NextCode(text, i, code)) code = kReplacement;
    if (!allowedControl(code) || code == 0xFFFE || code == 0xFFFF) continue;
    AppendUtf8(out, code);
  }
  return out;
}

std::string EscapeText(std::string_view text, TextEncoding encoding) {
  std::string out;
  out.reserve(text.size() + 8);
  for (std::size_t i = 0; i < text.size();) {
    const char c = text[i];
    switch (c) {
      case '&':
        out += "&amp;";
        ++i;
        continue;
      case '<':
        out += "&lt;";
        ++i;
        continue;
      case '>':
        out += "&gt;";
        ++i;
        continue;
      case '\r':
        out += "&#xD;";
        ++i;
        continue;
      default:
        break;
    }
    if (static_cast<unsigned char>(c) < 0x80 || encoding == TextEncoding::Other) {
      out += c;
      ++i;
      continue;
    }
    const std::size_t start = i;
    char32_t code = 0;
    if (!NextCode(text, i, code)) {
      AppendReference(out, kReplacement);  // not clean text: never raw into the file
    } else if (CanHold(encoding, code)) {
      out.append(text.substr(start, i - start));
    } else {
      AppendReference(out, code);
    }
  }
  return out;
}

std::string UnescapeText(std::string_view raw) {
  std::string out;
  out.reserve(raw.size());
  for (std::size_t i = 0; i < raw.size();) {
    if (raw[i] != '&') {
      const std::size_t next = raw.find('&', i);
      const std::size_t end = next == std::string_view::npos ? raw.size() : next;
      out.append(raw.substr(i, end - i));
      i = end;
      continue;
    }
    const std::size_t semicolon = raw.find(';', i + 1);
    if (semicolon == std::string_view::npos) {
      out.append(raw.substr(i));
      break;
    }
    const std::string_view body = raw.substr(i + 1, semicolon - i - 1);
    char32_t code = 0;
    if (body == "lt") {
      out += '<';
    } else if (body == "gt") {
      out += '>';
    } else if (body == "amp") {
      out += '&';
    } else if (body == "quot") {
      out += '"';
    } else if (body == "apos") {
      out += '\'';
    } else if (ReferenceValue(body, code)) {
      AppendUtf8(out, code);
    } else {
      out += '&';  // a reference this reader does not know: kept as written
      ++i;
      continue;
    }
    i = semicolon + 1;
  }
  return out;
}
