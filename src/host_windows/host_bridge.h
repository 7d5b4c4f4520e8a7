// The host's callbacks and data blocks, and the one wrapper through which the plug-in calls them.
#pragma once

#include <cstdint>

extern "C" {
// Plain function pointers with the platform's default (cdecl) convention.
using DoButtonFn = void (*)(std::int16_t code);
using SetDROFn = void (*)(std::int32_t dro, double value);
using GetDROFn = double (*)(std::int32_t dro);
using GetLEDFn = std::uint8_t (*)(std::int32_t led);  // only the low byte counts
using SetLEDFn = void (*)(void);                      // kept, never called
using CodeFn = void (*)(const char* line);
}

struct HostCallbacks {
  DoButtonFn DoButton = nullptr;
  SetDROFn SetDRO = nullptr;
  GetDROFn GetDRO = nullptr;
  GetLEDFn GetLED = nullptr;
  SetLEDFn SetLED = nullptr;
  CodeFn Code = nullptr;
};

// Callbacks or blocks the host never set are not called or touched: an unset GetLED reads unlit,
// an unset GetDRO reads 0, an unset DoButton, SetDRO or Code does nothing.
// What a bridge that no module owns (a test's) reads as its muted flag.
inline constexpr bool kNeverMuted = false;

class HostBridge {
 public:
  HostCallbacks callbacks;
  void* HostState = nullptr;
  void* HostConfig = nullptr;
  void* HostMotion = nullptr;
  void* hostParentWindow = nullptr;
  // The module's flag, set while the window that is running goes (StopPlug or InitControl from
  // inside a callback): from then on nothing reaches the host, and reads answer as if unset.
  const bool* muted = &kNeverMuted;
  bool Muted() const { return *muted; }

  // Host button codes are 16-bit; only the low 16 bits of `code` reach the host.
  void DoButton(std::int32_t code) const {
    if (!Muted() && callbacks.DoButton != nullptr)
      callbacks.DoButton(static_cast<std::int16_t>(code));
  }
  void SetDRO(std::int32_t dro, double value) const {
    if (!Muted() && callbacks.SetDRO != nullptr) callbacks.SetDRO(dro, value);
  }
  double GetDRO(std::int32_t dro) const {
    return !Muted() && callbacks.GetDRO != nullptr ? callbacks.GetDRO(dro) : 0.0;
  }
  bool GetLED(std::int32_t led) const {
    return !Muted() && callbacks.GetLED != nullptr && (callbacks.GetLED(led) & 0xFFu) != 0;
  }
  void Code(const char* line) const {
    if (!Muted() && callbacks.Code != nullptr && line != nullptr) callbacks.Code(line);
  }
};
