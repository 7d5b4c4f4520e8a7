// The checks of the Wine link test programs: count, print failures, summarise.
#pragma once

#include <cstdio>
#include <string>

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

inline void CheckText(const std::string& actual, const std::string& expected, const char* what) {
  if (actual == expected) {
    ++passed;
  } else {
    ++failed;
    std::printf("FAILED: %s (got \"%s\", expected \"%s\")\n", what, actual.c_str(),
                expected.c_str());
  }
}

// Prints "N passed, N failed"; the program's exit code.
inline int Summary() {
  std::printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 && passed > 0 ? 0 : 1;
}

}  // namespace linkcheck
