#include "link/pendant_view.h"

#include <array>
#include <charconv>
#include <cstdint>
#include <optional>
#include <string>

#include "input/input_report.h"
#include "link/pendant_link.h"

namespace {

struct HeldKey {
  const char* name;
  bool (*held)(std::uint32_t word0, std::uint32_t word1);
};

// In the order they sit on the pendant: the chord keys, EN, the axis keys, the function buttons.
constexpr HeldKey kHeldKeys[] = {
    {"Key1", [](std::uint32_t w0, std::uint32_t) { return input_report::Key1(w0); }},
    {"Key2", [](std::uint32_t w0, std::uint32_t) { return input_report::Key2(w0); }},
    {"Key3", [](std::uint32_t w0, std::uint32_t) { return input_report::Key3(w0); }},
    {"EN", [](std::uint32_t w0, std::uint32_t) { return input_report::EnablePressed(w0); }},
    {"X/A", [](std::uint32_t w0, std::uint32_t) { return input_report::AxisKey(w0, 0); }},
    {"Y/B", [](std::uint32_t w0, std::uint32_t) { return input_report::AxisKey(w0, 1); }},
    {"Z/C", [](std::uint32_t w0, std::uint32_t) { return input_report::AxisKey(w0, 2); }},
    {"F1", [](std::uint32_t, std::uint32_t w1) { return input_report::FunctionButton(w1, 0); }},
    {"F2", [](std::uint32_t, std::uint32_t w1) { return input_report::FunctionButton(w1, 1); }},
    {"F3", [](std::uint32_t, std::uint32_t w1) { return input_report::FunctionButton(w1, 2); }},
    {"F4", [](std::uint32_t, std::uint32_t w1) { return input_report::FunctionButton(w1, 3); }},
    {"F5", [](std::uint32_t, std::uint32_t w1) { return input_report::FunctionButton(w1, 4); }},
};

void AppendDecimal(std::string& text, unsigned value) {
  std::array<char, 12> digits{};
  const auto end = std::to_chars(digits.data(), digits.data() + digits.size(), value).ptr;
  text.append(digits.data(), end);
}

}  // namespace

DialogStatusArea PendantStatusArea(const PendantLink* win) {
  PendantLinkState link;
  if (win != nullptr) {
    link.connected = win->Connected();
    link.awaitingReport = win->AwaitingReport();
    link.report = input_report::Words::Of(win->DecodedReport());
  }
  return PendantStatusArea(link);
}

DialogStatusArea PendantStatusArea(const PendantLinkState& link) {
  DialogStatusArea area;
  if (!link.connected) {
    area.status = kNoPendantText;
    return area;
  }
  area.connected = true;
  area.status = kPendantConnectedText;
  if (link.awaitingReport) {
    area.liveView = kAwaitingReportText;
    return area;
  }
  area.liveView = PendantReportText(link.report);
  return area;
}

std::string PendantReportText(const input_report::Words& report,
                              std::optional<std::int32_t> wheelSteps) {
  const std::uint32_t word0 = report.word0;
  const std::uint32_t word1 = report.word1;
  std::string text = "Held:";
  std::size_t held = 0;
  for (const HeldKey& key : kHeldKeys) {
    if (!key.held(word0, word1)) continue;
    text += ' ';
    text += key.name;
    ++held;
  }
  if (const std::int32_t mode = input_report::ModeButtons(word1); mode != 0) {
    text += " Mode";
    AppendDecimal(text, static_cast<unsigned>(mode));
    ++held;
  }
  if (held == 0) text += " none";
  text += "   Wheel: ";
  AppendDecimal(text, input_report::WheelCounter(word0));
  if (wheelSteps) {
    text += *wheelSteps < 0 ? " (-" : " (+";
    AppendDecimal(text, static_cast<unsigned>(*wheelSteps < 0 ? -*wheelSteps : *wheelSteps));
    text += ')';
  }
  text += "   Safety input: ";
  text += input_report::SafetyActive(word0) ? "active" : "off";
  return text;
}
