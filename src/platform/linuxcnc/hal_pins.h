// The component's HAL pins (names as in examples/linuxcnc/pendant.hal), copied to and from the
// plain values the rendering works on.
#pragma once

#include "host_linuxcnc/linuxcnc_pendant.h"

struct HalPinBlock;

class HalPins final : public PinExchange {
 public:
  // Makes every pin of component `componentId`; false (and a line on stderr) when HAL refuses.
  bool Create(int componentId, const char* prefix);

  void Read(PendantPins& pins) override;
  void Write(const PendantPins& pins) override;

 private:
  HalPinBlock* block_ = nullptr;  // in HAL's shared memory
};
