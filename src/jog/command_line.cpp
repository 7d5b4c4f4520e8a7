#include "jog/command_line.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>

bool CommandLine::Append(const char* text) {
  if (text == nullptr) return false;
  const std::size_t n = std::strlen(text);
  if (n >= kCapacity - length_) return false;  // keep room for the terminating NUL
  std::memcpy(buffer_ + length_, text, n);
  length_ += n;
  buffer_[length_] = '\0';
  return true;
}

bool CommandLine::AppendInt(std::int64_t value) {
  const auto [end, ec] = std::to_chars(buffer_ + length_, buffer_ + kCapacity - 1, value);
  if (ec != std::errc{}) return false;
  length_ = static_cast<std::size_t>(end - buffer_);
  buffer_[length_] = '\0';
  return true;
}

bool CommandLine::AppendFixed(double value, int decimals) {
  if (!std::isfinite(value)) return false;
  const auto [end, ec] = std::to_chars(buffer_ + length_, buffer_ + kCapacity - 1, value,
                                       std::chars_format::fixed, decimals);
  if (ec != std::errc{}) return false;
  length_ = static_cast<std::size_t>(end - buffer_);
  buffer_[length_] = '\0';
  return true;
}

bool CommandLine::Format(const char* format, std::initializer_list<LineArg> args) {
  length_ = 0;
  buffer_[0] = '\0';
  ok_ = false;
  if (format == nullptr) return false;
  const LineArg* arg = args.begin();
  const char* p = format;
  while (*p != '\0') {
    const char* literalEnd = std::strchr(p, '%');
    const std::size_t n =
        literalEnd != nullptr ? static_cast<std::size_t>(literalEnd - p) : std::strlen(p);
    if (n >= kCapacity - length_) return false;
    std::memcpy(buffer_ + length_, p, n);
    length_ += n;
    buffer_[length_] = '\0';
    p += n;
    if (*p == '\0') break;
    ++p;  // the '%'
    if (*p == '%') {
      if (!Append("%")) return false;
      ++p;
      continue;
    }
    int decimals = 6;
    if (*p == '.') {
      ++p;
      if (*p < '0' || *p > '9') return false;
      decimals = 0;
      while (*p >= '0' && *p <= '9' && decimals < 100) decimals = decimals * 10 + (*p++ - '0');
    }
    if (arg == args.end()) return false;
    bool appended = false;
    switch (*p) {
      case 'd':
        appended = arg->kind == LineArg::Kind::Int && AppendInt(arg->i);
        break;
      case 'f':
        appended = arg->kind == LineArg::Kind::Real && AppendFixed(arg->d, decimals);
        break;
      case 's':
        appended = arg->kind == LineArg::Kind::Text && Append(arg->s);
        break;
      default:
        return false;
    }
    if (!appended) return false;
    ++arg;
    ++p;
  }
  if (arg != args.end()) return false;
  ok_ = true;
  return true;
}

bool CommandLine::Holds(const char* format, std::initializer_list<LineArg> args) const {
  if (format == nullptr || format != heldFormat_ || args.size() != heldCount_) return false;
  const LineArg* held = heldArgs_;
  for (const LineArg& arg : args) {
    if (arg.kind != held->kind) return false;
    switch (arg.kind) {
      case LineArg::Kind::Int:
        if (arg.i != held->i) return false;
        break;
      case LineArg::Kind::Real:
        // Bit for bit: -0.0 is written with its sign.
        if (std::bit_cast<std::uint64_t>(arg.d) != std::bit_cast<std::uint64_t>(held->d))
          return false;
        break;
      case LineArg::Kind::Text:
        if (arg.s == nullptr || std::strlen(arg.s) >= kHeldTextSize ||
            std::strcmp(arg.s, heldText_[held - heldArgs_]) != 0)
          return false;
        break;
    }
    ++held;
  }
  return true;
}

bool CommandLine::FormatAgain(const char* format, std::initializer_list<LineArg> args) {
  if (Holds(format, args)) return ok_;
  const bool ok = Format(format, args);
  heldFormat_ = args.size() <= kHeldArgs ? format : nullptr;
  heldCount_ = args.size();
  std::size_t k = 0;
  for (const LineArg& arg : args) {
    if (k == kHeldArgs) break;
    heldArgs_[k] = arg;
    heldText_[k][0] = '\0';
    if (arg.kind == LineArg::Kind::Text && arg.s != nullptr && std::strlen(arg.s) < kHeldTextSize)
      std::memcpy(heldText_[k], arg.s, std::strlen(arg.s) + 1);
    ++k;
  }
  return ok;
}

double AsWritten(double value, int decimals) {
  char text[CommandLine::kCapacity];
  if (!std::isfinite(value)) return std::nan("");
  const auto written =
      std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
  double read = 0.0;
  if (written.ec != std::errc{} ||
      std::from_chars(text, written.ptr, read, std::chars_format::fixed).ec != std::errc{})
    return std::nan("");
  return read;
}
