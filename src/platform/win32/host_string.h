// The host framework's string objects as Pendant.dll meets them: the SetProName argument and the
// status text in HostMotion.
#pragma once

#include <string>
#include <type_traits>

class HostBridge;

// The string object passed by value: the caller copies its one pointer into the argument slot and
// the callee owns that reference. Trivially copyable on purpose: a class with a destructor would
// be passed through a hidden pointer instead.
struct HostStringArg {
  char* text;
};
static_assert(std::is_trivially_copyable_v<HostStringArg> &&
              sizeof(HostStringArg) == sizeof(char*));

// The argument's text; "" when nothing readable is there.
std::string HostStringText(HostStringArg arg);

// Gives up the argument's reference where the layout allows it (see host_string_layout.h).
void ReleaseHostString(HostStringArg arg);

// Assigns `text` to HostMotion `statusMessage`; leaves it alone when its header does not validate
// or the assignment would need memory the host's framework does not let us manage.
void AssignHostStatus(const HostBridge& host, const char* text);
