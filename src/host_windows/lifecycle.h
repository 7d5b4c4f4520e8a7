// The module's life (InitControl, PostInitControl, StopPlug) and what the host may call from where.
//
// Every export and every message of the hidden window enters the module through a ModuleCall, so
// the module knows when one of its own frames is still on the stack, that is, when the host calls
// us from inside one of our callbacks (DoButton, SetDRO, GetDRO, GetLED, Code, and in the
// simulation the status and message-box sinks). The one place that decides what such a nested
// call does:
//
//   export            called from inside a callback
//   ----------------  ---------------------------------------------------------------------------
//   StopPlug          deferred: the window goes when the outermost call returns. From the request
//                     on, the running poll makes no further host call and writes no output report,
//                     and no further poll starts.
//   InitControl       deferred likewise: the old window goes and the new one is made with the new
//                     arguments when the outermost call returns; returns true (false only when the
//                     platform cannot make a window, which is known only then).
//   PostInitControl   deferred until the outermost call returns; a later StopPlug or InitControl
//                     in the same call drops it, as the window it would search with is gone.
//   Config            refused (does nothing): a modal dialog opened from inside a poll would hold
//                     that poll open, and a dialog inside the dialog would lose one of the edits.
//   SetProName        runs at once: it touches only the profile path and the name, which no
//                     running call depends on (an open profile keeps its own copy of the path).
//   Update            runs at once: it only steps counters.
//   Set<callback>     runs at once: the next call through that member uses the new pointer.
//   SimReset          refused (simulation only): it would destroy the module under the caller.
//
// StopPlug called from outside our callbacks first ends what the pendant started on the machine (a
// running jog, a held action, a step burst's feed values): nothing could end it afterwards.
//
// A poll never starts inside a running poll (a host that pumps messages inside a callback). A
// window that goes while one of its own messages is still being handled is only retired: its
// handles, timer and notifications end at once, its memory is freed at the next outermost call.
#pragma once

#include <cstdint>

struct Module;

// One of the module's frames on the stack; the outermost one runs the deferred work when it ends.
class ModuleCall {
 public:
  explicit ModuleCall(Module& module) noexcept;
  ~ModuleCall();
  ModuleCall(const ModuleCall&) = delete;
  ModuleCall& operator=(const ModuleCall&) = delete;

  // True when this call was made from inside one of the module's own callbacks.
  bool Nested() const { return nested_; }

 private:
  Module& module_;
  bool nested_;
};

// InitControl, StopPlug and PostInitControl with the decisions above. `call` is the export's own
// ModuleCall.
bool InitControlCall(Module& module, const ModuleCall& call, void* hostState, void* hostConfig,
                     void* hostMotion, void* hostParentWindow);
void StopPlugCall(Module& module, const ModuleCall& call);
void PostInitControlCall(Module& module, const ModuleCall& call);
