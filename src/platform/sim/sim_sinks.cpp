#include "platform/sim/sim_sinks.h"

namespace {

SimTextSink statusSink = nullptr;
SimTextSink messageBoxSink = nullptr;

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

void SimSinksSetStatus(SimTextSink sink) {
  statusSink = sink;
}

void SimSinksSetMessageBox(SimTextSink sink) {
  messageBoxSink = sink;
}

void SimSinksClear() {
  statusSink = nullptr;
  messageBoxSink = nullptr;
}
