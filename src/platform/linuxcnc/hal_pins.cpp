#include "platform/linuxcnc/hal_pins.h"

#include <hal.h>

#include <cstdio>

struct HalAxisPins {
  hal_s32_t* jogCounts;
  hal_float_t* jogScale;
  hal_bit_t* jogEnable;
  hal_bit_t* jogPlus;
  hal_bit_t* jogMinus;
  hal_bit_t* jointPlus;
  hal_bit_t* jointMinus;
};

struct HalOverridePins {
  hal_s32_t* counts;
  hal_bit_t* countEnable;
  hal_bit_t* directValue;
  hal_float_t* scale;
  hal_float_t* value;
};

struct HalPinBlock {
  HalAxisPins axis[kPinAxisCount];
  hal_float_t* jogSpeed;
  HalOverridePins feedOverride;
  HalOverridePins spindleOverride;
  hal_bit_t* estop;
  hal_bit_t* connected;
  hal_bit_t* watchdog;
  hal_s32_t* droppedCounts;
  hal_bit_t* action[kActionCount];
  hal_bit_t* hold[kFunctionButtonCount];
  hal_float_t* stepSize;
  hal_float_t* slowJogRate;
  hal_float_t* feedRate;
  hal_float_t* spindleSpeed;
  hal_bit_t* machineIsOn;
  hal_bit_t* estopIsActivated;
  hal_bit_t* programIsRunning;
  hal_bit_t* isHomed;
  hal_bit_t* coordMode;
};

namespace {

// Pin makers that stop at the first refusal and say which pin it was.
struct Maker {
  int id;
  const char* prefix;
  bool ok = true;

  void Failed(const char* name, int rc) {
    std::fprintf(stderr, "%s: cannot make pin %s.%s (%d)\n", prefix, prefix, name, rc);
    ok = false;
  }
  void Bit(hal_bit_t** pin, hal_pin_dir_t dir, const char* name) {
    if (!ok) return;
    const int rc = hal_pin_bit_newf(dir, pin, id, "%s.%s", prefix, name);
    if (rc != 0) Failed(name, rc);
  }
  void Float(hal_float_t** pin, hal_pin_dir_t dir, const char* name) {
    if (!ok) return;
    const int rc = hal_pin_float_newf(dir, pin, id, "%s.%s", prefix, name);
    if (rc != 0) Failed(name, rc);
  }
  void S32(hal_s32_t** pin, hal_pin_dir_t dir, const char* name) {
    if (!ok) return;
    const int rc = hal_pin_s32_newf(dir, pin, id, "%s.%s", prefix, name);
    if (rc != 0) Failed(name, rc);
  }
};

void MakeKnob(Maker& make, HalOverridePins& knob, const char* name) {
  char pin[64];
  std::snprintf(pin, sizeof pin, "%s.counts", name);
  make.S32(&knob.counts, HAL_OUT, pin);
  std::snprintf(pin, sizeof pin, "%s.count-enable", name);
  make.Bit(&knob.countEnable, HAL_OUT, pin);
  std::snprintf(pin, sizeof pin, "%s.direct-value", name);
  make.Bit(&knob.directValue, HAL_OUT, pin);
  std::snprintf(pin, sizeof pin, "%s.scale", name);
  make.Float(&knob.scale, HAL_OUT, pin);
  std::snprintf(pin, sizeof pin, "%s.value", name);
  make.Float(&knob.value, HAL_IN, pin);
}

void WriteKnob(const HalOverridePins& hal, const OverridePins& pins) {
  // halui takes a count change with the scale and enables it sees then: those go first.
  *hal.scale = pins.scale;
  *hal.directValue = pins.directValue;
  *hal.countEnable = pins.countEnable;
  *hal.counts = pins.counts;
}

}  // namespace

bool HalPins::Create(int componentId, const char* prefix) {
  block_ = static_cast<HalPinBlock*>(hal_malloc(sizeof(HalPinBlock)));
  if (block_ == nullptr) {
    std::fprintf(stderr, "%s: out of HAL memory\n", prefix);
    return false;
  }
  Maker make{componentId, prefix};
  HalPinBlock& b = *block_;
  char name[64];
  for (int a = 0; a < kPinAxisCount; ++a) {
    const char l = kPinAxisLetters[a];
    std::snprintf(name, sizeof name, "axis.%c.jog-counts", l);
    make.S32(&b.axis[a].jogCounts, HAL_OUT, name);
    std::snprintf(name, sizeof name, "axis.%c.jog-scale", l);
    make.Float(&b.axis[a].jogScale, HAL_OUT, name);
    std::snprintf(name, sizeof name, "axis.%c.jog-enable", l);
    make.Bit(&b.axis[a].jogEnable, HAL_OUT, name);
    std::snprintf(name, sizeof name, "axis.%c.jog-plus", l);
    make.Bit(&b.axis[a].jogPlus, HAL_OUT, name);
    std::snprintf(name, sizeof name, "axis.%c.jog-minus", l);
    make.Bit(&b.axis[a].jogMinus, HAL_OUT, name);
    std::snprintf(name, sizeof name, "joint.%d.jog-plus", a);
    make.Bit(&b.axis[a].jointPlus, HAL_OUT, name);
    std::snprintf(name, sizeof name, "joint.%d.jog-minus", a);
    make.Bit(&b.axis[a].jointMinus, HAL_OUT, name);
  }
  make.Float(&b.jogSpeed, HAL_OUT, "jog-speed");
  MakeKnob(make, b.feedOverride, "feed-override");
  MakeKnob(make, b.spindleOverride, "spindle-override");
  make.Bit(&b.estop, HAL_OUT, "estop");
  make.Bit(&b.connected, HAL_OUT, "connected");
  make.Bit(&b.watchdog, HAL_OUT, "watchdog");
  make.S32(&b.droppedCounts, HAL_OUT, "dropped-counts");
  for (int i = 0; i < kActionCount; ++i) {
    std::snprintf(name, sizeof name, "action.%s", kActionNames[i]);
    make.Bit(&b.action[i], HAL_OUT, name);
  }
  for (int i = 0; i < kFunctionButtonCount; ++i) {
    std::snprintf(name, sizeof name, "hold.f%d", i + 1);
    make.Bit(&b.hold[i], HAL_OUT, name);
  }
  make.Float(&b.stepSize, HAL_OUT, "step-size");
  make.Float(&b.slowJogRate, HAL_OUT, "slow-jog-rate");
  make.Float(&b.feedRate, HAL_OUT, "feed-rate");
  make.Float(&b.spindleSpeed, HAL_OUT, "spindle-speed");
  make.Bit(&b.machineIsOn, HAL_IN, "machine-is-on");
  make.Bit(&b.estopIsActivated, HAL_IN, "estop-is-activated");
  make.Bit(&b.programIsRunning, HAL_IN, "program-is-running");
  make.Bit(&b.isHomed, HAL_IN, "is-homed");
  make.Bit(&b.coordMode, HAL_IN, "coord-mode");
  if (!make.ok) return false;
  // Until the first write: no pendant, E-stop, overrides as halui has them.
  Write(PendantPins{});
  *b.feedOverride.value = 1.0;
  *b.spindleOverride.value = 1.0;
  return true;
}

void HalPins::Read(PendantPins& pins) {
  const HalPinBlock& b = *block_;
  pins.feedOverride.value = *b.feedOverride.value;
  pins.spindleOverride.value = *b.spindleOverride.value;
  pins.machineIsOn = *b.machineIsOn;
  pins.estopIsActivated = *b.estopIsActivated;
  pins.programIsRunning = *b.programIsRunning;
  pins.isHomed = *b.isHomed;
  pins.coordMode = *b.coordMode;
}

void HalPins::Write(const PendantPins& pins) {
  HalPinBlock& b = *block_;
  // E-stop first: it is what matters most when the rest is late.
  *b.estop = pins.estop;
  *b.connected = pins.connected;
  for (int a = 0; a < kPinAxisCount; ++a) {
    const JogAxisPins& p = pins.axis[a];
    HalAxisPins& h = b.axis[a];
    // Motion travels a count change at the scale and enable it sees with it.
    *h.jogScale = p.jogScale;
    *h.jogEnable = p.jogEnable;
    *h.jogCounts = p.jogCounts;
  }
  *b.jogSpeed = pins.jogSpeed;
  for (int a = 0; a < kPinAxisCount; ++a) {
    *b.axis[a].jogPlus = pins.axis[a].jogPlus;
    *b.axis[a].jogMinus = pins.axis[a].jogMinus;
    *b.axis[a].jointPlus = pins.axis[a].jointPlus;
    *b.axis[a].jointMinus = pins.axis[a].jointMinus;
  }
  *b.droppedCounts = pins.droppedCounts;
  WriteKnob(b.feedOverride, pins.feedOverride);
  WriteKnob(b.spindleOverride, pins.spindleOverride);
  for (int i = 0; i < kActionCount; ++i) *b.action[i] = pins.action[i];
  for (int i = 0; i < kFunctionButtonCount; ++i) *b.hold[i] = pins.hold[i];
  *b.stepSize = pins.stepSize;
  *b.slowJogRate = pins.slowJogRate;
  *b.feedRate = pins.feedRate;
  *b.spindleSpeed = pins.spindleSpeed;
  // Last: it says the rest is current.
  *b.watchdog = pins.watchdog;
}
