#pragma once

#include <cstdint>

#include "input/input_report.h"

struct Core;

enum class SafetyPhase : std::uint8_t {
  Idle,      // nothing pressed yet for the input
  Latched,   // the stop pressed for the input being active
  Released,  // the stop pressed again for the input going inactive
};

struct SafetyState {
  SafetyPhase phase = SafetyPhase::Idle;
};

// First step of the input chain: presses the host's stop on activation and on release.
void CheckSafetyInput(Core& core, SafetyState& state, const input_report::Words& report);

// A new window has pressed nothing yet: an input still active presses the stop again.
void ForgetSafetyLatch(SafetyState& state);
