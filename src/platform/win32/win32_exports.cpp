// The one export whose argument is a host object rather than a plain value.
#include "host_windows/exports.h"
#include "platform/win32/host_string.h"

namespace {
constexpr const char kNoName[] = "";
}

PENDANT_EXPORT const char* SetProName(HostStringArg profile) {
  const char* name = kNoName;
  try {
    name = SetProNameFromPath(HostStringText(profile));
  } catch (...) {
    // Failures are silent towards the host.
  }
  // The by-value argument is ours to release, whatever happened above.
  ReleaseHostString(profile);
  return name;
}
