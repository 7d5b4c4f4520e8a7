// The profile's byte encoding and the text conversions the store needs around it: which encoding
// a file declares, its bytes to and from the UTF-8 the XML library works in, and setting texts
// made safe to place in the file.
#pragma once

#include <string>
#include <string_view>

enum class TextEncoding {
  Utf8,    // with or without BOM; also files without a declared encoding
  Ascii,   // US-ASCII: read like Latin-1, written with references beyond 0x7F
  Latin1,  // ISO-8859-1
  Cp1252,  // windows-1252
  Other,   // another ASCII-compatible declared encoding: bytes pass through untouched
  Wide,    // UTF-16/32: the XML library converts the whole document
};

// A wide file's code unit: 2 (UTF-16) or 4 (UTF-32) bytes, in either byte order.
struct WideForm {
  unsigned unit = 0;  // 0: not a wide file
  bool bigEndian = false;
};

struct DetectedEncoding {
  TextEncoding encoding = TextEncoding::Utf8;
  WideForm wide;
};

// By byte order mark, the first characters' byte pattern (as the XML library guesses them) and
// the declaration's encoding name.
DetectedEncoding DetectEncoding(std::string_view bytes);

// A wide file's bytes <-> UTF-8, so wide files are spliced like every other. Unpaired surrogates
// travel as their three-byte forms, so every sequence of code units comes back unchanged. False
// when the bytes are not whole code units or a UTF-32 unit is beyond U+10FFFF.
bool WideToUtf8(std::string_view bytes, WideForm form, std::string& out);
std::string Utf8ToWide(std::string_view utf8, WideForm form);

// windows-1252 bytes -> UTF-8 (Latin-1 is left to the XML library). The five unassigned bytes map
// to the C1 control of the same value.
std::string Cp1252ToUtf8(std::string_view bytes);

// UTF-8 -> the file's bytes. False when a character has no byte form in `encoding` (or the text
// is not UTF-8); `out` is then incomplete. US-ASCII files are written like Latin-1 here, so bytes
// a lenient reader accepted go back unchanged; new text is escaped before it gets this far.
bool EncodeUtf8(std::string_view utf8, TextEncoding encoding, std::string& out);

// Whether the file's bytes can hold `code` directly.
bool CanHold(TextEncoding encoding, char32_t code);

// A setting text as a character sequence XML 1.0 accepts: invalid UTF-8 becomes U+FFFD, and
// characters no XML document may contain (control characters other than tab and line ends,
// U+FFFE, U+FFFF) are dropped. In an `Other` file the bytes are of an unknown encoding: only the
// forbidden control bytes go.
std::string CleanSettingText(std::string_view text, TextEncoding encoding);

// Clean text -> XML character data for a file in `encoding`: markup characters as entities, a
// carriage return as a reference (a reader would otherwise turn it into a line feed), and every
// character the encoding cannot hold as a numeric character reference.
std::string EscapeText(std::string_view text, TextEncoding encoding);

// XML character data as the file holds it -> the text: the five predefined entities and numeric
// character references are decoded; any other reference (a DOCTYPE's own entity) stays as written.
std::string UnescapeText(std::string_view raw);
