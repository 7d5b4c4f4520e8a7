// The export boundary: the one static module and the entry points shared by both builds.
#pragma once

#include <string>

struct Module;
class Platform;

#if defined(_WIN32)
#define PENDANT_EXPORT extern "C"
#else
#define PENDANT_EXPORT extern "C" __attribute__((visibility("default")))
#endif

// Provided by the platform library (win32 or sim).
Platform& ThePlatform();

// The single module instance of this library.
Module& TheModule();
// Back to the state right after the library was loaded (the simulation's SimReset).
void ResetModule();

// SetProName steps shared by both builds: keeps the profile path, opens and releases a store over
// it, and builds the display name. Returns the name's characters, valid until the next call.
const char* SetProNameFromPath(const std::string& profilePath);
