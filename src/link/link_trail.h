// The diagnostic trail of the pendant link: one line per connection event (search result, failed
// open, arrival, removal, read error, reports not understood), never one per poll. The platform
// decides where the lines go (the debugger output on Windows, a sink of the simulation). Every
// line starts with kTrailPrefix.
#pragma once

#include <cstdint>
#include <string_view>

#include "link/device_bus.h"

struct Core;

namespace link_trail {

inline constexpr std::string_view kTrailPrefix = "Pendant: ";

void SearchFound(Core& core, std::string_view path);
// `interfaces`: how many HID interfaces the search looked at.
void SearchNone(Core& core, std::uint32_t interfaces);
// The HID interface list could not be read at all.
void SearchFailed(Core& core, std::uint32_t error);
void OpenFailed(Core& core, OpenMode mode, std::string_view path, std::uint32_t error);
// `name`: the arriving interface (empty when the message named none); `knownPath`: the pendant's
// path that is reopened, empty when none is known and a search follows.
void Arrival(Core& core, std::string_view name, std::string_view knownPath);
void Removal(Core& core, std::string_view name, bool pendant);
// These two format into a fixed buffer: the poll calls them.
void ReadError(Core& core, std::uint32_t error);
// Reports of `bytes` bytes arrive where the pendant's have kInputReportSize.
void ReportSize(Core& core, std::uint32_t bytes);

}  // namespace link_trail
