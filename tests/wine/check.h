// The checks of the Wine test programs: count, print failures, summarise.
#pragma once

#include <cstdio>
#include <string>

namespace winecheck {

inline int passed = 0;
inline int failed = 0;

inline void Fail(const std::string& what) {
  ++failed;
  std::printf("FAILED: %s\n", what.c_str());
  std::fflush(stdout);  // the program may crash next
}

inline void Check(bool condition, const std::string& what) {
  if (condition) {
    ++passed;
  } else {
    Fail(what);
  }
}

inline void CheckEqual(long long actual, long long expected, const std::string& what) {
  Check(actual == expected,
        what + " (got " + std::to_string(actual) + ", expected " + std::to_string(expected) + ")");
}

inline void CheckText(const std::string& actual, const std::string& expected,
                      const std::string& what) {
  Check(actual == expected, what + " (got \"" + actual + "\", expected \"" + expected + "\")");
}

// Prints "N passed, N failed"; the program's exit code.
inline int Summary() {
  std::printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 && passed > 0 ? 0 : 1;
}

}  // namespace winecheck
