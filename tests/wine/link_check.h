// The checks of the Wine link test programs: count, print failures, summarise.
#pragma once

#include <cstdio>

namespace linkcheck {

inline int passed = 0;
inline int failed = 0;

inline void Check(bool condition, const char* what) {
  if (condition) {
    ++passed;
  } else {
    ++failed;
    std::printf("FAILED: %s\n", what);
  }
}

inline void CheckEqual(long long actual, long long expected, const char* what) {
  if (actual == expected) {
    ++passed;
  } else {
    ++failed;
    std::printf("FAILED: %s (got %lld, expected %lld)\n", what, actual, expected);
  }
}

// Prints "N passed, N failed"; the program's exit code.
inline int Summary() {
  std::printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 && passed > 0 ? 0 : 1;
}

}  // namespace linkcheck
