// The export boundary: the one static module and the entry points shared by both builds.
#pragma once

#include <string>

struct Module;
class WindowsPlatform;

#if defined(_WIN32)
#define PENDANT_EXPORT extern "C"
#else
#define PENDANT_EXPORT extern "C" __attribute__((visibility("default")))
#endif

// Runs `f` at the export boundary: no exception reaches the host, failures are silent.
template <class F>
void Guarded(F&& f) noexcept {
  try {
    f();
  } catch (...) {
  }
}

// The same for an export with a result: `onFailure` when `f` throws.
template <class R, class F>
R Guarded(R onFailure, F&& f) noexcept {
  try {
    return f();
  } catch (...) {
    return onFailure;
  }
}

// Provided by the platform library (win32 or sim).
WindowsPlatform& ThePlatform();

// The single module instance of this library.
Module& TheModule();
// Back to the state right after the library was loaded (the simulation's SimReset). Refused
// (false) while a call into the module is running, that is, from inside one of its callbacks.
bool ResetModule();

// SetProName steps shared by both builds: keeps the profile path, opens and releases a store over
// it, and builds the display name. Returns the name's characters, valid until the next call.
const char* SetProNameFromPath(const std::string& profilePath);
