// Preset stepping: with EN held, one flick of the wheel selects the next nonzero preset of nine in
// the turning direction and writes it into the function's host read-out. Step sizes (wheel
// function 12), slow jog rates (14), feed overrides or feed rates (15) and spindle overrides or
// spindle speeds (16) share one stepping rule, told apart by a table of members.
#pragma once

#include <cstdint>

struct Module;
class ShuttleWin;

// Returns false when `wheelFunction` is not a preset function.
bool RunPresetFunction(Module& module, ShuttleWin& win, std::int32_t wheelFunction,
                       std::int32_t direction);

// The decimal number at the start of `text`: leading white space, an optional sign, digits with
// an optional '.' fraction and an optional exponent. 0 when the text starts with no number or the
// number lies beyond double's range. The result does not depend on the process locale.
double LeadingDecimal(const char* text);

// LeadingDecimal in single precision; a number beyond single precision's range counts as 0, so it
// is skipped like an empty preset rather than written as infinity.
float LeadingDecimalSingle(const char* text);
