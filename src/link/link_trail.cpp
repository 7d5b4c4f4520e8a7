#include "link/link_trail.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <string>

#include "core/core.h"
#include "core/platform.h"

namespace link_trail {
namespace {

constexpr std::string_view kNoName = "(no name)";

std::string_view ModeName(OpenMode mode) {
  switch (mode) {
    case OpenMode::Probe:
      return "probe";
    case OpenMode::Read:
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

void Emit(Core& core, std::string line) {
  line.insert(0, kTrailPrefix);
  core.platform.Trace(line.c_str());
}

std::string_view NameOrNone(std::string_view name) {
  return name.empty() ? kNoName : name;
}

}  // namespace

void SearchFound(Core& core, std::string_view path) {
  Emit(core, "search: found " + std::string(path));
}

void SearchNone(Core& core, std::uint32_t interfaces) {
  Emit(core, "search: none among " + Decimal(interfaces) + " HID interfaces");
}

void SearchFailed(Core& core, std::uint32_t error) {
  Emit(core, "search: none, the HID interface list cannot be read: error " + Decimal(error));
}

void OpenFailed(Core& core, OpenMode mode, std::string_view path, std::uint32_t error) {
  Emit(core, "open failed: " + std::string(ModeName(mode)) + " " + std::string(path) + ": error " +
                 Decimal(error));
}

void Arrival(Core& core, std::string_view name, std::string_view knownPath) {
  std::string line = "arrival: " + std::string(NameOrNone(name));
  line +=
      knownPath.empty() ? "; no pendant known, searching" : "; reopening " + std::string(knownPath);
  Emit(core, std::move(line));
}

void Removal(Core& core, std::string_view name, bool pendant) {
  Emit(core, "removal: " + std::string(NameOrNone(name)) +
                 (pendant ? "; the pendant, released" : "; not the pendant"));
}

namespace {

// "<prefix><head><number><tail>" in a fixed buffer, since the poll calls these; the texts are
// this file's own and fit.
void EmitNumber(Core& core, std::string_view head, std::uint32_t number, std::string_view tail) {
  std::array<char, 128> line{};
  char* at = line.data();
  for (std::string_view part : {kTrailPrefix, head}) at = std::copy(part.begin(), part.end(), at);
  at = std::to_chars(at, line.data() + line.size() - 1 - tail.size(), number).ptr;
  at = std::copy(tail.begin(), tail.end(), at);
  *at = '\0';
  core.platform.Trace(line.data());
}

}  // namespace

void ReadError(Core& core, std::uint32_t error) {
  EmitNumber(core, "read error: error ", error, "");
}

void ReportSize(Core& core, std::uint32_t bytes) {
  EmitNumber(core, "reports of ", bytes, " bytes are not understood and are ignored");
}

}  // namespace link_trail
