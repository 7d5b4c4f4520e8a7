// Plugging the virtual pendant in and out of a Wine prefix, and talking to its control device.
// The driver file must already be in the prefix's drivers folder (the test harness puts it there).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "control.h"

namespace vpendant {

// The input report as the application reads it: id byte 0, then the device's 7 data bytes.
using InputReport = std::array<std::uint8_t, VPENDANT_INPUT_DATA + 1>;
// An output report as the application wrote it: id byte 0, then the 4 data bytes.
using OutputReport = std::array<std::uint8_t, VPENDANT_OUTPUT_DATA + 1>;

// The root device instances a pendant can be plugged in as: each is another "port", so its HID
// interface has another path. The driver serves one at a time.
constexpr unsigned kPorts = 2;

// Creates the root device of `port` (once) and installs its driver from `infPath`, then waits
// until the control device answers. False with `error` set on failure.
bool Plug(const std::string& infPath, std::string& error, unsigned port = 0);
// Removes the root device of every port. `wasPlugged` tells whether there was one.
bool Unplug(bool& wasPlugged, std::string& error);
// The same for a test: false, with the reason printed, on failure.
bool UnplugOrSay();

// The control device; each call opens and closes it, so no handle outlives the driver.
bool Push(const InputReport& report);
bool Pop(std::vector<OutputReport>& reports);  // appends everything written so far
bool Status(vpendant_status& status);
bool SetPeriod(std::uint32_t periodMs);

}  // namespace vpendant
