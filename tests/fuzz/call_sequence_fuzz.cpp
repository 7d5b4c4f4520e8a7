// Drives the simulation library, loaded as a host loads it, with arbitrary sequences of calls:
// every host entry point and Sim ABI function, and from inside every callback (DoButton, SetDRO,
// GetDRO, GetLED, Code, the status and message-box sinks) any of them again.
//
// Invariants checked besides the sanitizers:
// - every command line the host receives is complete and well formed;
// - once StopPlug or InitControl was called from inside a callback, the host hears nothing more
//   from that window until the outermost call returns;
// - with no window (never made, stopped, or reset) no virtual handle is open and a timer tick
//   reaches nothing; with one, at most its three handles are open.
//
// Input: a stream of operations, one byte each plus their arguments. Inside a callback one byte
// decides whether (high bit set) and what to call.
#include <dlfcn.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

#include "settings/config_dialog.h"
#include "support/sim_library.h"

namespace {

SimLibrary* api = nullptr;

[[noreturn]] void Fail(const char* what, const char* detail = "") {
  std::fprintf(stderr, "invariant broken: %s %s\n", what, detail);
  std::abort();
}

// The library the build made ($PENDANT_SIM_LIB), else the one beside this program.
void LoadLibrary() {
  std::string path;
  if (const char* env = std::getenv("PENDANT_SIM_LIB"); env != nullptr && *env != '\0') {
    path = env;
  } else {
    char self[4096] = {};
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    path = n > 0 ? std::string(self, static_cast<std::size_t>(n)) : std::string();
    path = path.substr(0, path.find_last_of('/') + 1) + "libpendant_sim.so";
  }
  api = new SimLibrary(path);
  if (api->handle == nullptr) Fail("cannot load", dlerror());
  if (!api->missing.empty()) Fail("missing exports:", api->missing.c_str());
}

// ---- The input stream ----------------------------------------------------------------------

const std::uint8_t* cursor = nullptr;
const std::uint8_t* end = nullptr;

std::uint8_t Byte() {
  return cursor < end ? *cursor++ : 0;
}
std::uint16_t Word() {
  return static_cast<std::uint16_t>(Byte() | (Byte() << 8));
}
bool Done() {
  return cursor >= end;
}

// ---- The host --------------------------------------------------------------------------------

struct Blocks {
  std::uint8_t state[PENDANT_SIM_HOST_STATE_SIZE];
  std::uint8_t config[PENDANT_SIM_HOST_CONFIG_SIZE];
  std::uint8_t motion[PENDANT_SIM_HOST_MOTION_SIZE];
};
Blocks* blocks = nullptr;

enum class Block { State, Config, Motion };
struct Field {
  Block block;
  std::size_t offset;
  std::size_t size;
};
// Every field the plug-in reads or writes, axis records included (axis 0 and 5).
constexpr Field kFields[] = {
    {Block::State, PENDANT_SIM_COMMAND_QUEUE_IN, 4},
    {Block::State, PENDANT_SIM_COMMAND_QUEUE_OUT, 4},
    {Block::State, PENDANT_SIM_JOG_INHIBIT, 1},
    {Block::State, PENDANT_SIM_AXIS_JOG + PENDANT_SIM_AXIS_JOG_SPEED, 4},
    {Block::State, PENDANT_SIM_AXIS_JOG + PENDANT_SIM_AXIS_JOG_ACTIVE, 1},
    {Block::State, PENDANT_SIM_AXIS_JOG + 5 * PENDANT_SIM_AXIS_JOG_STRIDE, 4},
    {Block::Config, PENDANT_SIM_INCREMENTAL_MODE, 4},
    {Block::Config, PENDANT_SIM_XY_ROTATION_DEGREES, 8},
    {Block::Motion, PENDANT_SIM_MOTION_QUEUE_IN, 4},
    {Block::Motion, PENDANT_SIM_MOTION_QUEUE_OUT, 4},
    {Block::Motion, PENDANT_SIM_AXIS_VELOCITY, 8},
    {Block::Motion, PENDANT_SIM_AXIS_VELOCITY + 8, 8},
    {Block::Motion, PENDANT_SIM_AXIS_JOG_SPEED_MAX_IN, 4},
    {Block::Motion, PENDANT_SIM_JOG_INCREMENT, 8},
    {Block::Motion, PENDANT_SIM_MOTION_BUSY, 4},
};

std::uint8_t* BlockBytes(Block block) {
  switch (block) {
    case Block::State:
      return blocks->state;
    case Block::Config:
      return blocks->config;
    case Block::Motion:
      return blocks->motion;
  }
  return blocks->state;
}

std::uint64_t ledMask = 0;
double dros[8] = {};
std::string profilePath;

// The window as the host's calls made it.
bool windowAlive = false;
enum class Pending { None, Stop, Init };
Pending pending = Pending::None;
int callDepth = 0;  // the library's frames below the current point: 0 at the top level
bool silenced = false;
int budget = 0;

constexpr int kMaxNesting = 3;
constexpr int kBudget = 96;
// A dialog run costs as much as dozens of polls; a few per input reach every path.
constexpr int kDialogRuns = 2;
int dialogRuns = 0;

bool Digits(std::string_view& text) {
  std::size_t n = 0;
  while (n < text.size() && text[n] >= '0' && text[n] <= '9') ++n;
  text.remove_prefix(n);
  return n > 0;
}

// -?digits or -?digits.digits, consumed from the front.
bool Number(std::string_view& text, bool allowFraction = true) {
  if (!text.empty() && text.front() == '-') text.remove_prefix(1);
  if (!Digits(text)) return false;
  if (allowFraction && !text.empty() && text.front() == '.') {
    text.remove_prefix(1);
    return Digits(text);
  }
  return true;
}

bool AxisLetter(char c) {
  return std::strchr("XYZABC", c) != nullptr && c != '\0';
}

// "G90", "DOJOG", "ENDJOG", "M<int16>", or a relative move "G91G1 [F<n>] <axis> <n>" or
// "G91G1 X<n> Y<n> ".
bool WellFormed(const char* line) {
  const std::size_t length = strnlen(line, 4096);
  if (length == 4096) return false;
  std::string_view text(line, length);
  if (text == "G90" || text == "DOJOG" || text == "ENDJOG") return true;
  if (text.starts_with("M")) {
    text.remove_prefix(1);
    if (!Number(text, false) || !text.empty()) return false;
    const long value = std::strtol(line + 1, nullptr, 10);
    return value >= -32768 && value <= 32767;
  }
  if (!text.starts_with("G91G1 ")) return false;
  text.remove_prefix(6);
  if (text.starts_with("X") && text.find(" Y") != std::string_view::npos && text.size() > 1 &&
      text[1] != ' ') {
    text.remove_prefix(1);
    if (!Number(text) || !text.starts_with(" Y")) return false;
    text.remove_prefix(2);
    return Number(text) && text == " ";
  }
  if (text.starts_with("F")) {
    text.remove_prefix(1);
    if (!Number(text) || !text.starts_with(" ")) return false;
    text.remove_prefix(1);
  }
  if (text.size() < 2 || !AxisLetter(text[0]) || text[1] != ' ') return false;
  text.remove_prefix(2);
  return Number(text) && text.empty();
}

void Operation();

// Every host callback: a call after the window was stopped from inside is a fault; then maybe
// call the library again from here.
void Callback(bool throughBridge) {
  if (throughBridge && silenced) Fail("the host was called after StopPlug or InitControl");
  if (callDepth > kMaxNesting || budget <= 0) return;
  const std::uint8_t choice = Byte();
  if ((choice & 0x80) == 0) return;
  --cursor;  // the operation reads its own code
  Operation();
}

struct Frame {
  Frame() { ++callDepth; }
  ~Frame() {
    if (--callDepth == 0) {
      // The outermost call returned: deferred lifecycle work is done now.
      if (pending == Pending::Stop) windowAlive = false;
      if (pending == Pending::Init) windowAlive = true;
      pending = Pending::None;
      silenced = false;
    }
  }
};

void HostDoButton(short) {
  Callback(true);
}
void HostSetDRO(int dro, double value) {
  dros[static_cast<unsigned>(dro) % 8] = value;
  Callback(true);
}
double HostGetDRO(int dro) {
  Callback(true);
  return dros[static_cast<unsigned>(dro) % 8];
}
unsigned char HostGetLED(int led) {
  Callback(true);
  return static_cast<unsigned char>((ledMask >> (static_cast<unsigned>(led) % 64)) & 1u);
}
void HostSetLED(void) {
  Fail("SetLED is never called");
}
void HostCode(const char* line) {
  if (line == nullptr || !WellFormed(line)) Fail("malformed command line", line ? line : "(null)");
  Callback(true);
}
void HostStatus(const char* text) {
  if (text == nullptr) Fail("a null status text");
  Callback(true);
}
void HostMessageBox(const char* text) {
  if (text == nullptr) Fail("a null message box text");
  Callback(false);
}

void InstallSinks() {
  api->SimSetStatusSink(HostStatus);
  api->SimSetMessageBoxSink(HostMessageBox);
}

void CheckWindowState() {
  const int handles = api->SimOpenHandleCount();
  if (handles > 3) Fail("more handles open than the pendant's three");
  if (windowAlive) return;
  if (handles != 0) Fail("a handle is open without a window");
  if (api->SimTimerTick() != 0) Fail("a timer tick reached a window that is gone");
}

void ResetHost() {
  for (const Field& field : kFields)
    std::memset(BlockBytes(field.block) + field.offset, 0, field.size);
  ledMask = 0;
  for (double& d : dros) d = 0.0;
  windowAlive = false;
  pending = Pending::None;
  silenced = false;
}

const char* ChoosePath() {
  switch (Byte() % 4) {
    case 0:
      return nullptr;
    case 1:
      return "";
    case 2:
      return "/nonexistent-folder/profile.xml";
    default:
      return profilePath.c_str();
  }
}

std::string ChooseText() {
  const std::size_t length = Byte() % 12;
  std::string text;
  for (std::size_t i = 0; i < length; ++i) text += static_cast<char>(Byte());
  return text;
}

void Operation() {
  if (--budget < 0) return;
  Frame frame;
  const bool nested = callDepth > 1;
  // The high bit only tells a callback to call in; it is not part of the operation.
  switch ((Byte() & 0x7F) % 24) {
    case 0: {
      const char* name = api->SetProName(ChoosePath());
      if (name == nullptr) Fail("SetProName returned null");
      break;
    }
    case 1: {
      const std::uint8_t mask = Byte();
      api->SetDoButton((mask & 1) != 0 ? HostDoButton : nullptr);
      api->SetSetDRO((mask & 2) != 0 ? HostSetDRO : nullptr);
      api->SetGetDRO((mask & 4) != 0 ? HostGetDRO : nullptr);
      api->SetGetLED((mask & 8) != 0 ? HostGetLED : nullptr);
      api->SetSetLED((mask & 16) != 0 ? HostSetLED : nullptr);
      api->SetCode((mask & 32) != 0 ? HostCode : nullptr);
      break;
    }
    case 2:
    case 3: {
      const std::uint8_t mask = Byte();
      static std::uint8_t parent = 0;
      const unsigned char ok = api->InitControl(
          (mask & 1) != 0 ? blocks->state : nullptr, (mask & 2) != 0 ? blocks->config : nullptr,
          (mask & 4) != 0 ? blocks->motion : nullptr, (mask & 8) != 0 ? &parent : nullptr);
      if (ok == 0) Fail("InitControl failed with the simulation's window");
      if (nested) {
        pending = Pending::Init;
        silenced = true;
      } else {
        windowAlive = true;
      }
      break;
    }
    case 4:
      api->PostInitControl();
      break;
    case 5:
      if (++dialogRuns <= kDialogRuns) api->Config();
      break;
    case 6:
      for (int n = Byte() % 4; n >= 0; --n) api->Update();
      break;
    case 7:
    case 8:
      api->StopPlug();
      if (nested) {
        pending = Pending::Stop;
        silenced = true;
      } else {
        windowAlive = false;
      }
      break;
    case 9:
      api->SimReset();
      if (!nested) {
        InstallSinks();
        ResetHost();
      }
      break;
    case 10: {
      const std::uint8_t kind = Byte();
      const std::uint16_t vendor = (kind & 1) != 0 ? 0x04D8 : Word();
      const std::uint16_t product = (kind & 2) != 0 ? 0xFCE4 : Word();
      api->SimAddDevice(vendor, product);
      break;
    }
    case 11:
      api->SimSetDevicePresent(Byte() % 4, Byte() & 1);
      break;
    case 12:
      api->SimSetOpenFails(Byte() % 4, Byte() & 1);
      break;
    case 13: {
      const std::uint8_t kind = Byte();
      const unsigned event = (kind & 3) == 0   ? 0x8000u
                             : (kind & 3) == 1 ? 0x8004u
                             : (kind & 3) == 2 ? 0x8001u
                                               : Word();
      std::string path;
      const char* pathArg = nullptr;
      switch ((kind >> 2) & 3) {
        case 0:
          break;
        case 1:
          path = api->SimDevicePath(Byte() % 4);
          pathArg = path.c_str();
          break;
        case 2: {
          // The pendant's path in other letter case.
          path = api->SimDevicePath(Byte() % 4);
          for (char& c : path)
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
          pathArg = path.c_str();
          break;
        }
        default:
          path = ChooseText();
          pathArg = path.c_str();
          break;
      }
      api->SimDeviceChange(event, pathArg);
      break;
    }
    case 14:
    case 15:
    case 16: {
      unsigned char report[8];
      for (unsigned char& b : report) b = Byte();
      api->SimQueueInputReport(report);
      break;
    }
    case 17:
    case 18:
    case 19:
      for (int n = Byte() % 8; n >= 0; --n) api->SimTimerTick();
      break;
    case 20: {
      const std::span<const int> ids = ConfigDialog::ControlIds();
      const std::uint8_t kind = Byte();
      const int id = ids.empty() ? 0 : ids[Byte() % ids.size()];
      switch (kind % 6) {
        case 0:
          api->SimDialogSetText(id, ChooseText().c_str());
          break;
        case 1:
          api->SimDialogSelect(id, static_cast<int>(Byte() % 40) - 2);
          break;
        case 2:
          api->SimDialogSetCheck(id, Byte() & 1);
          break;
        case 3:
          api->SimDialogPress(1 + (Byte() & 1));
          break;
        case 4:
          api->SimDialogClear();
          break;
        default:
          api->SimDialogSetText(static_cast<int>(Word()), ChooseText().c_str());
          break;
      }
      break;
    }
    case 21: {
      const Field& field = kFields[Byte() % std::size(kFields)];
      std::uint8_t* target = BlockBytes(field.block) + field.offset;
      for (std::size_t i = 0; i < field.size; ++i) target[i] = Byte();
      break;
    }
    case 22:
      ledMask = 0;
      for (int i = 0; i < 8; ++i) ledMask = (ledMask << 8) | Byte();
      break;
    default: {
      const std::uint8_t slot = Byte() % 8;
      std::int64_t raw = static_cast<std::int16_t>(Word());
      dros[slot] = static_cast<double>(raw) / 4.0;
      api->DoDwell();
      break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  LoadLibrary();
  blocks = new Blocks{};
  // A memory file system where there is one: every profile save flushes its file.
  const char* folder = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  profilePath = std::string(folder) + "/pendant-call-sequence-" + std::to_string(getpid()) + ".xml";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  cursor = data;
  end = data + size;
  api->SimReset();
  InstallSinks();
  ResetHost();
  budget = kBudget;
  dialogRuns = 0;
  while (!Done() && budget > 0) {
    Operation();
    if (callDepth != 0) Fail("unbalanced frames");
    CheckWindowState();
  }
  // A host that stops at the end: nothing is left open.
  api->StopPlug();
  windowAlive = false;
  CheckWindowState();
  std::remove(profilePath.c_str());
  return 0;
}
