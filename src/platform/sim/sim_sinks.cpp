#include "platform/sim/sim_sinks.h"

namespace {

SimTextSink statusSink = nullptr;
SimTextSink messageBoxSink = nullptr;
SimTextSink trailSink = nullptr;

void Deliver(SimTextSink sink, const char* text) {
  if (sink != nullptr) sink(text != nullptr ? text : "");
}

}  // namespace

void SimShowMessageBox(const char* text) {
  Deliver(messageBoxSink, text);
}

void SimShowStatusText(const char* text) {
  Deliver(statusSink, text);
}

void SimTraceLine(const char* line) {
  Deliver(trailSink, line);
}

void SimSinksSetStatus(SimTextSink sink) {
  statusSink = sink;
}

void SimSinksSetMessageBox(SimTextSink sink) {
  messageBoxSink = sink;
}

void SimSinksSetTrail(SimTextSink sink) {
  trailSink = sink;
}

void SimSinksClear() {
  trailSink = nullptr;
  statusSink = nullptr;
  messageBoxSink = nullptr;
}
