#include "link/link_trail.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <string>

#include "host/module.h"

namespace link_trail {
namespace {

constexpr std::string_view kNoName = "(no name)";

std::string_view ModeName(OpenMode mode) {
  switch (mode) {
    case OpenMode::Probe:
      return "probe";
    case OpenMode::OverlappedRead:
      return "read";
    case OpenMode::Write:
      return "write";
  }
  return "?";
}

std::string Decimal(std::uint32_t value) {
  std::array<char, 12> digits{};
  const auto end = std::to_chars(digits.data(), digits.data() + digits.size(), value).ptr;
  return std::string(digits.data(), end);
}

void Emit(Module& module, std::string line) {
  line.insert(0, kTrailPrefix);
  module.platform.Trace(line.c_str());
}

std::string_view NameOrNone(std::string_view name) {
  return name.empty() ? kNoName : name;
}

}  // namespace

void SearchFound(Module& module, std::string_view path) {
  Emit(module, "search: found " + std::string(path));
}

void SearchNone(Module& module, std::uint32_t interfaces) {
  Emit(module, "search: none among " + Decimal(interfaces) + " HID interfaces");
}

void SearchFailed(Module& module, std::uint32_t error) {
  Emit(module, "search: none, the HID interface list cannot be read: error " + Decimal(error));
}

void OpenFailed(Module& module, OpenMode mode, std::string_view path, std::uint32_t error) {
  Emit(module, "open failed: " + std::string(ModeName(mode)) + " " + std::string(path) +
                   ": error " + Decimal(error));
}

void Arrival(Module& module, std::string_view name, std::string_view knownPath) {
  std::string line = "arrival: " + std::string(NameOrNone(name));
  line +=
      knownPath.empty() ? "; no pendant known, searching" : "; reopening " + std::string(knownPath);
  Emit(module, std::move(line));
}

void Removal(Module& module, std::string_view name, bool pendant) {
  Emit(module, "removal: " + std::string(NameOrNone(name)) +
                   (pendant ? "; the pendant, released" : "; not the pendant"));
}

void ReadError(Module& module, std::uint32_t error) {
  constexpr std::string_view kText = "read error: error ";
  std::array<char, kTrailPrefix.size() + kText.size() + 12> line{};
  char* at = line.data();
  for (std::string_view part : {kTrailPrefix, kText}) at = std::copy(part.begin(), part.end(), at);
  at = std::to_chars(at, line.data() + line.size() - 1, error).ptr;
  *at = '\0';
  module.platform.Trace(line.data());
}

}  // namespace link_trail
