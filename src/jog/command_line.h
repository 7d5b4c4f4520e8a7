// Command lines for the host, built in a fixed buffer from printf-style formats. Numbers are
// written the same way under every process locale ('.' as the decimal point), and a line that
// cannot be written in full (a non-finite number, a missing argument, no room) is never sent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>

struct LineArg {
  enum class Kind : std::uint8_t { Int, Real, Text };
  Kind kind;
  std::int64_t i = 0;
  double d = 0.0;
  const char* s = nullptr;

  static LineArg Int(std::int64_t v) { return {Kind::Int, v, 0.0, nullptr}; }
  static LineArg Real(double v) { return {Kind::Real, 0, v, nullptr}; }
  static LineArg Text(const char* v) { return {Kind::Text, 0, 0.0, v}; }
};

class CommandLine {
 public:
  // Fixed notation of the largest double with six decimals needs about 320 characters; a rotated
  // move carries two such numbers.
  static constexpr std::size_t kCapacity = 1024;

  // Understands "%d", "%s", "%f" (six decimals), "%.<n>f" and "%%". Returns false, leaving the
  // line unusable, when the format and the arguments disagree, a number is not finite, or the
  // text does not fit.
  CommandLine() { buffer_[0] = '\0'; }

  bool Format(const char* format, std::initializer_list<LineArg> args);
  // Format, except that a line whose format and arguments are those of the line held now stands
  // as it is, ready or not: a wheel turned steadily sends the same line poll after poll. Formats
  // are the callers' constants, so the same pointer is the same format.
  bool FormatAgain(const char* format, std::initializer_list<LineArg> args);

  const char* c_str() const { return buffer_; }

 private:
  bool Append(const char* text);
  bool AppendInt(std::int64_t value);
  bool AppendFixed(double value, int decimals);
  bool Holds(const char* format, std::initializer_list<LineArg> args) const;

  // What the line held now was formatted from; a text argument is kept as a copy, and one too long
  // for it is never taken for the same.
  static constexpr std::size_t kHeldArgs = 3;
  static constexpr std::size_t kHeldTextSize = 8;
  const char* heldFormat_ = nullptr;
  std::size_t heldCount_ = 0;
  LineArg heldArgs_[kHeldArgs] = {};
  char heldText_[kHeldArgs][kHeldTextSize] = {};

  // Left uninitialised: zeroing a kilobyte per line would cost more than formatting it.
  char buffer_[kCapacity];
  std::size_t length_ = 0;
  bool ok_ = false;  // the line held now is complete
};

// The value `value` reads as once written with `decimals` decimals; NaN when it cannot be written.
double AsWritten(double value, int decimals);
