// The Sim ABI's dialog script. No exception crosses this boundary.
#include "host_windows/exports.h"
#include "pendant_sim.h"
#include "platform/sim/sim_dialog.h"

extern "C" {

PENDANT_SIM_API void SimDialogSetText(int controlId, const char* text) {
  Guarded([&] { QueueSimDialogText(controlId, text); });
}
PENDANT_SIM_API void SimDialogSelect(int controlId, int index) {
  Guarded([&] { QueueSimDialogSelect(controlId, index); });
}
PENDANT_SIM_API void SimDialogSetCheck(int controlId, int checked) {
  Guarded([&] { QueueSimDialogCheck(controlId, checked); });
}
PENDANT_SIM_API void SimDialogPress(int controlId) {
  Guarded([&] { QueueSimDialogPress(controlId); });
}
PENDANT_SIM_API void SimDialogTick(int count) {
  Guarded([&] { QueueSimDialogTick(count); });
}
PENDANT_SIM_API const char* SimDialogStatusText(void) {
  return SimDialogShownStatus();
}
PENDANT_SIM_API const char* SimDialogLiveView(void) {
  return SimDialogShownLiveView();
}
PENDANT_SIM_API void SimSetDialogViewSink(void (*sink)(const char* status, const char* liveView)) {
  SetSimDialogViewSink(sink);
}
PENDANT_SIM_API void SimDialogClear(void) {
  Guarded([] { ClearSimDialogScript(); });
}
}
