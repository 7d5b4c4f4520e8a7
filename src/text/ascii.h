// Small text helpers over ASCII only, so that no result depends on the process locale.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ascii {

// XML's white space: space, tab, carriage return, line feed.
constexpr bool IsXmlSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// C's white space: XML's and vertical tab and form feed.
constexpr bool IsSpace(char c) {
  return IsXmlSpace(c) || c == '\v' || c == '\f';
}

constexpr bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// True for a text of XML white space only, and for an empty one.
constexpr bool IsBlank(std::string_view text) {
  for (char c : text) {
    if (!IsXmlSpace(c)) return false;
  }
  return true;
}

// Folds A-Z only.
constexpr char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

inline std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = Lower(c);
  return out;
}

constexpr bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

// The decimal integer at the start of a text: C white space, an optional sign, then digits up to
// the first other character. Callers differ in what a huge number becomes, so both the saturated
// magnitude and its low 32 bits are kept.
struct LeadingInteger {
  bool found = false;  // at least one digit
  bool negative = false;
  std::uint64_t magnitude = 0;  // saturates at UINT64_MAX
  std::uint32_t low32 = 0;      // the magnitude modulo 2^32
};

constexpr LeadingInteger ParseLeadingInteger(std::string_view text) {
  LeadingInteger n;
  std::size_t at = 0;
  while (at < text.size() && IsSpace(text[at])) ++at;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) n.negative = text[at++] == '-';
  constexpr std::uint64_t kMax = ~std::uint64_t{0};
  for (; at < text.size() && IsDigit(text[at]); ++at) {
    const auto digit = static_cast<unsigned>(text[at] - '0');
    n.found = true;
    n.magnitude = n.magnitude > (kMax - digit) / 10 ? kMax : n.magnitude * 10 + digit;
    n.low32 = n.low32 * 10u + digit;
  }
  return n;
}

// The file name of a path without its folder and its last extension; `separators` are the
// characters that end a folder name.
constexpr std::string_view BaseNameWithoutExtension(std::string_view path,
                                                    std::string_view separators) {
  const std::size_t slash = path.find_last_of(separators);
  std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  const std::size_t dot = name.rfind('.');
  if (dot != std::string_view::npos) name = name.substr(0, dot);
  return name;
}

}  // namespace ascii
