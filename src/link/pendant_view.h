// What the plug-in sees of the pendant, for the operator: the configuration dialog's status area
// shows whether a pendant is connected and, while it is, the keys and buttons held, the wheel
// counter and the safety input of the report decoded last. Reading it changes nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "input/input_report.h"
#include "settings/config_dialog.h"

class PendantLink;

// What the view needs of the link.
struct PendantLinkState {
  bool connected = false;
  bool awaitingReport = false;
  input_report::Words report;  // decoded last
};

inline constexpr const char* kPendantConnectedText = "Pendant connected";
inline constexpr const char* kNoPendantText =
    "No pendant found. Plug it in: it is picked up when plugged in.";
inline constexpr const char* kAwaitingReportText = "Waiting for the pendant's first report";

// The status area for `win`'s link; a missing window shows no pendant. The live view reads, e.g.,
// "Held: EN X/A F1   Wheel: 132   Safety input: active"; it is empty while no pendant is connected.
DialogStatusArea PendantStatusArea(const PendantLink* win);
DialogStatusArea PendantStatusArea(const PendantLinkState& link);

// The live view of one report. With `wheelSteps` (signed, positive with the counter rising) the
// counter is followed by the steps since the report before: "Wheel: 132 (+3)".
std::string PendantReportText(const input_report::Words& report,
                              std::optional<std::int32_t> wheelSteps = std::nullopt);
