#include "session.h"

#include <stdlib.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <system_error>

#include "pendant_sim.h"

namespace pendant_sim {

namespace {

namespace fs = std::filesystem;

struct SessionError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

constexpr const char* kTimerNotRunning = "(timer not running)";

bool EqualsIgnoringCase(const std::string& a, const char* b) {
  const std::size_t n = std::strlen(b);
  if (a.size() != n) return false;
  for (std::size_t i = 0; i < n; ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

// Splits at blanks; "double quoted" words may hold blanks and \" or \\ escapes.
std::vector<std::string> Tokenize(const std::string& line) {
  std::vector<std::string> words;
  std::size_t i = 0;
  while (i < line.size()) {
    if (std::isspace(static_cast<unsigned char>(line[i]))) {
      ++i;
      continue;
    }
    std::string word;
    if (line[i] == '"') {
      ++i;
      bool closed = false;
      while (i < line.size()) {
        const char c = line[i++];
        if (c == '"') {
          closed = true;
          break;
        }
        if (c == '\\' && i < line.size()) {
          word += line[i++];
        } else {
          word += c;
        }
      }
      if (!closed) throw SessionError("unterminated quoted text");
    } else {
      while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i])))
        word += line[i++];
    }
    words.push_back(std::move(word));
  }
  return words;
}

long ParseInteger(const std::string& text, long min, long max, const char* what) {
  const char* first = text.data();
  const char* last = text.data() + text.size();
  bool negative = false;
  if (first != last && (*first == '-' || *first == '+')) {
    negative = *first == '-';
    ++first;
  }
  int base = 10;
  if (last - first > 2 && first[0] == '0' && (first[1] == 'x' || first[1] == 'X')) {
    base = 16;
    first += 2;
  }
  long value = 0;
  const auto result = std::from_chars(first, last, value, base);
  if (result.ec != std::errc() || result.ptr != last || first == last)
    throw SessionError(std::string("bad ") + what + " '" + text + "'");
  if (negative) value = -value;
  if (value < min || value > max)
    throw SessionError(std::string(what) + " '" + text + "' out of range " + std::to_string(min) +
                       ".." + std::to_string(max));
  return value;
}

double ParseDouble(const std::string& text, const char* what) {
  double value = 0.0;
  const char* first = text.data();
  const char* last = text.data() + text.size();
  if (first != last && *first == '+') ++first;
  const auto result = std::from_chars(first, last, value);
  if (result.ec != std::errc() || result.ptr != last || first == last)
    throw SessionError(std::string("bad ") + what + " '" + text + "'");
  return value;
}

std::uint8_t ParseHexByte(const std::string& text) {
  unsigned value = 0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value, 16);
  if (text.empty() || text.size() > 2 || result.ec != std::errc() ||
      result.ptr != text.data() + text.size())
    throw SessionError("bad hex byte '" + text + "'");
  return static_cast<std::uint8_t>(value);
}

std::string HexBytes(const std::uint8_t* bytes, std::size_t count) {
  std::string out;
  static constexpr char kDigits[] = "0123456789abcdef";
  for (std::size_t i = 0; i < count; ++i) {
    if (i != 0) out += ' ';
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 0x0F];
  }
  return out;
}

long Repeat(const Session::Args& args, long maxRepeat) {
  if (args.size() > 2) throw SessionError("expected at most one count");
  return args.size() == 2 ? ParseInteger(args[1], 0, maxRepeat, "count") : 1;
}

void ExpectArgs(const Session::Args& args, std::size_t min, std::size_t max, const char* usage) {
  if (args.size() < min || args.size() > max) throw SessionError(std::string("usage: ") + usage);
}

bool ParseOnOff(const std::string& text) {
  if (text == "on" || text == "1") return true;
  if (text == "off" || text == "0") return false;
  throw SessionError("expected on or off, got '" + text + "'");
}

// Pendant keys by name: their byte and bit in the input report.
struct KeyBit {
  const char* name;
  int byte;
  std::uint8_t mask;
};
constexpr KeyBit kKeys[] = {
    {"safety", 3, 0x01}, {"key1", 3, 0x02}, {"key2", 3, 0x04}, {"key3", 3, 0x08}, {"EN", 3, 0x10},
    {"X", 3, 0x20},      {"Y", 3, 0x40},    {"Z", 3, 0x80},    {"F3", 4, 0x08},   {"F1", 4, 0x10},
    {"F2", 4, 0x20},     {"F4", 4, 0x40},   {"F5", 4, 0x80},
};
// The mode buttons share a two-bit number in byte 4.
constexpr const char* kModeButtons[] = {"mode1", "mode2", "mode3"};

// Host data-block fields by role name.
enum class FieldType { Int32, UInt8, Double };
enum class Block { State, Config, Motion };
struct FieldInfo {
  Block block;
  const char* name;
  std::size_t offset;
  std::size_t axisStride;  // 0: not per axis
  FieldType type;
};
constexpr FieldInfo kFields[] = {
    {Block::State, "commandQueueIn", PENDANT_SIM_COMMAND_QUEUE_IN, 0, FieldType::Int32},
    {Block::State, "commandQueueOut", PENDANT_SIM_COMMAND_QUEUE_OUT, 0, FieldType::Int32},
    {Block::State, "jogInhibit", PENDANT_SIM_JOG_INHIBIT, 0, FieldType::UInt8},
    {Block::State, "axisJogSpeed", PENDANT_SIM_AXIS_JOG + PENDANT_SIM_AXIS_JOG_SPEED,
     PENDANT_SIM_AXIS_JOG_STRIDE, FieldType::Int32},
    {Block::State, "axisJogSpeedMax", PENDANT_SIM_AXIS_JOG + PENDANT_SIM_AXIS_JOG_SPEED_MAX,
     PENDANT_SIM_AXIS_JOG_STRIDE, FieldType::Int32},
    {Block::State, "axisJogAux", PENDANT_SIM_AXIS_JOG + PENDANT_SIM_AXIS_JOG_AUX,
     PENDANT_SIM_AXIS_JOG_STRIDE, FieldType::Int32},
    {Block::State, "axisJogStopRequest", PENDANT_SIM_AXIS_JOG + PENDANT_SIM_AXIS_JOG_STOP_REQUEST,
     PENDANT_SIM_AXIS_JOG_STRIDE, FieldType::UInt8},
    {Block::State, "axisJogActive", PENDANT_SIM_AXIS_JOG + PENDANT_SIM_AXIS_JOG_ACTIVE,
     PENDANT_SIM_AXIS_JOG_STRIDE, FieldType::UInt8},
    {Block::State, "axisJogDirection", PENDANT_SIM_AXIS_JOG + PENDANT_SIM_AXIS_JOG_DIRECTION,
     PENDANT_SIM_AXIS_JOG_STRIDE, FieldType::Int32},
    {Block::Config, "incrementalMode", PENDANT_SIM_INCREMENTAL_MODE, 0, FieldType::Int32},
    {Block::Config, "xyRotationDegrees", PENDANT_SIM_XY_ROTATION_DEGREES, 0, FieldType::Double},
    {Block::Motion, "motionQueueIn", PENDANT_SIM_MOTION_QUEUE_IN, 0, FieldType::Int32},
    {Block::Motion, "motionQueueOut", PENDANT_SIM_MOTION_QUEUE_OUT, 0, FieldType::Int32},
    {Block::Motion, "axisVelocity", PENDANT_SIM_AXIS_VELOCITY, 8, FieldType::Double},
    {Block::Motion, "axisJogSpeedMax", PENDANT_SIM_AXIS_JOG_SPEED_MAX_IN, 4, FieldType::Int32},
    {Block::Motion, "axisJogAux", PENDANT_SIM_AXIS_JOG_AUX_IN, 4, FieldType::Int32},
    {Block::Motion, "jogIncrement", PENDANT_SIM_JOG_INCREMENT, 0, FieldType::Double},
    {Block::Motion, "motionBusy", PENDANT_SIM_MOTION_BUSY, 0, FieldType::Int32},
};

struct BlockName {
  Block block;
  const char* name;
};
constexpr BlockName kBlockNames[] = {
    {Block::State, "state"}, {Block::Config, "config"}, {Block::Motion, "motion"}};

Block BlockByName(const std::string& name) {
  for (const auto& b : kBlockNames)
    if (name == b.name) return b.block;
  throw SessionError("unknown block '" + name + "' (state, config, motion)");
}

const FieldInfo& FieldByName(Block block, const std::string& name) {
  for (const auto& f : kFields)
    if (f.block == block && name == f.name) return f;
  throw SessionError("unknown field '" + name + "'");
}

constexpr const char* kAxisLetters[] = {"X", "Y", "Z", "A", "B", "C"};

int ParseAxis(const std::string& text) {
  for (int i = 0; i < PENDANT_SIM_AXIS_COUNT; ++i)
    if (EqualsIgnoringCase(text, kAxisLetters[i])) return i;
  return static_cast<int>(ParseInteger(text, 0, PENDANT_SIM_AXIS_COUNT - 1, "axis"));
}

std::vector<unsigned char>& BlockBytes(TraceHost& host, Block block) {
  switch (block) {
    case Block::State:
      return host.hostState;
    case Block::Config:
      return host.hostConfig;
    case Block::Motion:
      return host.hostMotion;
  }
  return host.hostState;
}

// Resolves "<field> [axis]" starting at args[at]; returns the byte offset and the next index.
std::size_t FieldOffset(const FieldInfo& field, const Session::Args& args, std::size_t& at,
                        std::string& axisText) {
  std::size_t offset = field.offset;
  if (field.axisStride != 0) {
    if (at >= args.size()) throw SessionError(std::string(field.name) + " needs an axis");
    const int axis = ParseAxis(args[at]);
    axisText = kAxisLetters[axis];
    offset += field.axisStride * static_cast<std::size_t>(axis);
    ++at;
  }
  return offset;
}

const char* EventName(unsigned eventType) {
  switch (eventType) {
    case PENDANT_SIM_DEVICE_ARRIVAL:
      return "arrival";
    case PENDANT_SIM_DEVICE_REMOVE_COMPLETE:
      return "removal";
    default:
      return nullptr;
  }
}

}  // namespace

Session::Session(Plugin& plugin, TraceHost& host, fs::path sessionFile, SessionOptions options)
    : plugin_(plugin), host_(host), sessionFile_(std::move(sessionFile)), options_(options) {
  RegisterSinks();
}

Session::~Session() {
  if (!tempDir_.empty()) {
    std::error_code ignored;
    fs::remove_all(tempDir_, ignored);
  }
}

void Session::RegisterSinks() {
  plugin_.SimSetStatusSink(&HostStatus);
  plugin_.SimSetMessageBoxSink(&HostMessageBox);
  if (plugin_.SimSetTrailSink != nullptr) plugin_.SimSetTrailSink(&HostTrail);
  if (plugin_.SimSetDialogViewSink != nullptr) plugin_.SimSetDialogViewSink(&HostDialogView);
}

const fs::path& Session::TempDir() {
  if (tempDir_.empty()) {
    std::string pattern = (fs::temp_directory_path() / "pendant-sim-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw SessionError("cannot create a temporary folder");
    tempDir_ = pattern;
  }
  return tempDir_;
}

bool Session::Run(std::istream& in, std::string& error) {
  using Handler = void (Session::*)(const Args&);
  struct Command {
    const char* name;
    Handler handler;
  };
  static constexpr Command kCommands[] = {
      {"load", &Session::Load},
      {"proname", &Session::ProName},
      {"callbacks", &Session::Callbacks},
      {"init", &Session::Init},
      {"postinit", &Session::PostInit},
      {"config", &Session::ConfigCommand},
      {"stop", &Session::Stop},
      {"reset", &Session::ResetCommand},
      {"device", &Session::Device},
      {"plug", &Session::Plug},
      {"unplug", &Session::Unplug},
      {"notify", &Session::Notify},
      {"handles", &Session::Handles},
      {"outputs", &Session::Outputs},
      {"led", &Session::Led},
      {"dro", &Session::Dro},
      {"state", &Session::StateField},
      {"motion", &Session::MotionField},
      {"show", &Session::Show},
      {"report", &Session::Report},
      {"tick", &Session::Tick},
      {"update", &Session::UpdateCommand},
      {"poll", &Session::Poll},
      {"dialog", &Session::Dialog},
      {"expect-output", &Session::ExpectOutput},
      {"reads", &Session::Reads},
      {"trail", &Session::Trail},
  };

  std::string line;
  int lineNumber = 0;
  while (std::getline(in, line)) {
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const auto start = line.find_first_not_of(" \t");
    if (start == std::string::npos) continue;
    if (line[start] == '#') {
      // Comments tell the story of the trace, so they go into it.
      host_.Add(line.substr(start));
      continue;
    }
    try {
      Args args = Tokenize(line);
      // Blanks other than space and tab leave nothing to run.
      if (args.empty()) continue;
      // "config" alone opens the dialog; "config <field> ..." sets a HostConfig field.
      Handler handler = nullptr;
      if (args[0] == "config" && args.size() > 1) {
        handler = &Session::ConfigField;
      } else {
        for (const auto& c : kCommands)
          if (args[0] == c.name) handler = c.handler;
      }
      if (handler == nullptr) throw SessionError("unknown command '" + args[0] + "'");
      (this->*handler)(args);
    } catch (const std::exception& e) {
      error = sessionFile_.string() + ":" + std::to_string(lineNumber) + ": " + e.what();
      return false;
    }
  }
  return true;
}

void Session::Load(const Args& args) {
  ExpectArgs(args, 1, 2, "load [profile]");
  ProName(args);
  Callbacks({"callbacks"});
  Init({"init"});
  PostInit({"postinit"});
}

void Session::ProName(const Args& args) {
  ExpectArgs(args, 1, 2, "proname [profile]");
  // The plug-in writes the profile back, so it only ever sees a copy.
  if (args.size() == 2) {
    fs::path source = args[1];
    if (source.is_relative()) source = sessionFile_.parent_path() / source;
    profileCopy_ = TempDir() / source.filename();
    std::error_code ec;
    fs::copy_file(source, profileCopy_, fs::copy_options::overwrite_existing, ec);
    if (ec) throw SessionError("cannot copy profile " + source.string() + ": " + ec.message());
  } else {
    profileCopy_ = TempDir() / "profile.xml";
    std::error_code ignored;
    fs::remove(profileCopy_, ignored);
  }
  const char* name = plugin_.SetProName(profileCopy_.c_str());
  host_.Add("Name " + Quote(name));
}

void Session::Callbacks(const Args& args) {
  ExpectArgs(args, 1, 1, "callbacks");
  plugin_.SetDoButton(&HostDoButton);
  plugin_.SetSetDRO(&HostSetDRO);
  plugin_.SetGetDRO(&HostGetDRO);
  plugin_.SetGetLED(&HostGetLED);
  plugin_.SetSetLED(&HostSetLED);
  plugin_.SetCode(&HostCode);
}

void Session::Init(const Args& args) {
  ExpectArgs(args, 1, 1, "init");
  const unsigned result = plugin_.InitControl(host_.hostState.data(), host_.hostConfig.data(),
                                              host_.hostMotion.data(), &host_.parentWindow);
  host_.Add("InitControl " + std::to_string(result));
}

void Session::PostInit(const Args& args) {
  ExpectArgs(args, 1, 1, "postinit");
  plugin_.PostInitControl();
}

void Session::ConfigCommand(const Args& args) {
  ExpectArgs(args, 1, 1, "config");
  plugin_.Config();
}

void Session::Stop(const Args& args) {
  ExpectArgs(args, 1, 1, "stop");
  plugin_.StopPlug();
}

void Session::ResetCommand(const Args& args) {
  ExpectArgs(args, 1, 1, "reset");
  plugin_.SimReset();
  RegisterSinks();
  wheelCounter_ = 0;
  lastOutput_.clear();
}

void Session::Device(const Args& args) {
  if (args.size() == 4 && args[1] == "add") {
    const auto vid = static_cast<unsigned short>(ParseInteger(
        args[2].rfind("0x", 0) == 0 ? args[2] : "0x" + args[2], 0, 0xFFFF, "vendor id"));
    const auto pid = static_cast<unsigned short>(ParseInteger(
        args[3].rfind("0x", 0) == 0 ? args[3] : "0x" + args[3], 0, 0xFFFF, "product id"));
    const int index = plugin_.SimAddDevice(vid, pid);
    host_.Add("Device " + std::to_string(index) + " " + plugin_.SimDevicePath(index));
  } else if (args.size() == 4 && args[1] == "present") {
    plugin_.SimSetDevicePresent(DeviceIndex(args, 2), ParseOnOff(args[3]) ? 1 : 0);
  } else if (args.size() == 4 && args[1] == "open-fails") {
    plugin_.SimSetOpenFails(DeviceIndex(args, 2), ParseOnOff(args[3]) ? 1 : 0);
  } else {
    throw SessionError(
        "usage: device add <vid> <pid> | device present <index> 0|1 | device open-fails <index> "
        "0|1");
  }
}

int Session::DeviceIndex(const Args& args, std::size_t at) {
  const int index =
      at < args.size() ? static_cast<int>(ParseInteger(args[at], 0, 1000, "device index")) : 0;
  if (*plugin_.SimDevicePath(index) == '\0')
    throw SessionError("no device " + std::to_string(index) + " (add it first)");
  return index;
}

void Session::Plug(const Args& args) {
  ExpectArgs(args, 1, 2, "plug [device index]");
  const int index = DeviceIndex(args, 1);
  plugin_.SimSetDevicePresent(index, 1);
  host_.Add("Plugged " + std::to_string(index));
  Deliver(PENDANT_SIM_DEVICE_ARRIVAL, plugin_.SimDevicePath(index));
}

void Session::Unplug(const Args& args) {
  ExpectArgs(args, 1, 2, "unplug [device index]");
  const int index = DeviceIndex(args, 1);
  plugin_.SimSetDevicePresent(index, 0);
  host_.Add("Unplugged " + std::to_string(index));
  Deliver(PENDANT_SIM_DEVICE_REMOVE_COMPLETE, plugin_.SimDevicePath(index));
}

void Session::Deliver(unsigned eventType, const char* path) {
  // The event is traced first, so the calls it causes follow it.
  if (plugin_.SimDeviceChange(eventType, path) == 0) host_.Add("(window not notified)");
}

void Session::Notify(const Args& args) {
  ExpectArgs(args, 3, 3, "notify arrival|removal|<type> <device index>|other|<path>");
  unsigned eventType = 0;
  if (args[1] == "arrival") {
    eventType = PENDANT_SIM_DEVICE_ARRIVAL;
  } else if (args[1] == "removal") {
    eventType = PENDANT_SIM_DEVICE_REMOVE_COMPLETE;
  } else {
    eventType = static_cast<unsigned>(ParseInteger(args[1], 0, 0xFFFFFFFFL, "event type"));
  }
  std::string path;
  const char* pathArg = nullptr;
  if (args[2] != "other") {
    const bool isIndex =
        !args[2].empty() && std::all_of(args[2].begin(), args[2].end(), [](char c) {
          return std::isdigit(static_cast<unsigned char>(c));
        });
    path = isIndex ? std::string(plugin_.SimDevicePath(DeviceIndex(args, 2))) : args[2];
    pathArg = path.c_str();
  }
  const char* name = EventName(eventType);
  char type[16];
  std::snprintf(type, sizeof type, "0x%04x", eventType);
  host_.Add("Notify " + std::string(name != nullptr ? name : type) + " " +
            (pathArg != nullptr ? path : std::string("other")));
  Deliver(eventType, pathArg);
}

void Session::Handles(const Args& args) {
  ExpectArgs(args, 1, 1, "handles");
  host_.Add("Handles " + std::to_string(plugin_.SimOpenHandleCount()));
}

void Session::Outputs(const Args& args) {
  ExpectArgs(args, 1, 1, "outputs");
  host_.Add("Outputs " + std::to_string(plugin_.SimOutputReportCount()));
}

void Session::Led(const Args& args) {
  ExpectArgs(args, 3, 3, "led <number> on|off");
  host_.leds[static_cast<int>(ParseInteger(args[1], -2147483647L - 1, 2147483647L, "LED"))] =
      ParseOnOff(args[2]);
}

void Session::Dro(const Args& args) {
  ExpectArgs(args, 3, 3, "dro <number> <value>");
  host_.dros[static_cast<int>(ParseInteger(args[1], -2147483647L - 1, 2147483647L, "DRO"))] =
      ParseDouble(args[2], "value");
}

void Session::StateField(const Args& args) {
  SetField("state", args);
}
void Session::ConfigField(const Args& args) {
  SetField("config", args);
}
void Session::MotionField(const Args& args) {
  SetField("motion", args);
}

void Session::SetField(const char* block, const Args& args) {
  if (args.size() < 3)
    throw SessionError(std::string("usage: ") + args[0] + " <field> [axis] <value>");
  const FieldInfo& field = FieldByName(BlockByName(block), args[1]);
  std::size_t at = 2;
  std::string axis;
  const std::size_t offset = FieldOffset(field, args, at, axis);
  if (at + 1 != args.size())
    throw SessionError(std::string("expected one value for ") + field.name);
  auto& bytes = BlockBytes(host_, field.block);
  unsigned char* target = bytes.data() + offset;
  switch (field.type) {
    case FieldType::Int32: {
      const auto v = static_cast<std::int32_t>(
          ParseInteger(args[at], -2147483647L - 1, 2147483647L, field.name));
      std::memcpy(target, &v, sizeof v);
      break;
    }
    case FieldType::UInt8: {
      const auto v = static_cast<std::uint8_t>(ParseInteger(args[at], 0, 255, field.name));
      std::memcpy(target, &v, sizeof v);
      break;
    }
    case FieldType::Double: {
      const double v = ParseDouble(args[at], field.name);
      std::memcpy(target, &v, sizeof v);
      break;
    }
  }
}

void Session::Show(const Args& args) {
  if ((args.size() == 2 || args.size() == 3) && args[1] == "profile") {
    // An optional word keeps only the lines that contain it.
    const std::string filter = args.size() == 3 ? args[2] : std::string();
    std::ifstream file(profileCopy_);
    if (profileCopy_.empty() || !file) {
      host_.Add("Profile (none)");
      return;
    }
    std::string line;
    while (std::getline(file, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.find(filter) != std::string::npos) host_.Add("Profile " + line);
    }
    return;
  }
  if (args.size() < 3)
    throw SessionError("usage: show profile [word] | show <block> <field> [axis]");
  const Block block = BlockByName(args[1]);
  const FieldInfo& field = FieldByName(block, args[2]);
  std::size_t at = 3;
  std::string axis;
  const std::size_t offset = FieldOffset(field, args, at, axis);
  if (at != args.size()) throw SessionError("too many arguments");
  const unsigned char* source = BlockBytes(host_, block).data() + offset;
  std::string value;
  switch (field.type) {
    case FieldType::Int32: {
      std::int32_t v = 0;
      std::memcpy(&v, source, sizeof v);
      value = std::to_string(v);
      break;
    }
    case FieldType::UInt8:
      value = std::to_string(static_cast<unsigned>(*source));
      break;
    case FieldType::Double: {
      double v = 0;
      std::memcpy(&v, source, sizeof v);
      value = FormatDouble(v);
      break;
    }
  }
  host_.Add(args[1] + " " + field.name + (axis.empty() ? "" : " " + axis) + " = " + value);
}

void Session::Report(const Args& args) {
  std::uint8_t report[8] = {};
  if (args.size() >= 2 && args[1] == "raw") {
    if (args.size() != 10) throw SessionError("usage: report raw <8 hex bytes>");
    for (int i = 0; i < 8; ++i) report[i] = ParseHexByte(args[2 + i]);
    wheelCounter_ = report[1];
  } else {
    int mode = 0;
    for (std::size_t i = 1; i < args.size(); ++i) {
      const std::string& word = args[i];
      if (word.rfind("wheel=", 0) == 0) {
        const std::string value = word.substr(6);
        // A sign turns the wheel by that many counts; the counter wraps like the pendant's.
        if (!value.empty() && (value[0] == '+' || value[0] == '-')) {
          const long delta = ParseInteger(value, -255, 255, "wheel turn");
          wheelCounter_ = static_cast<std::uint8_t>((wheelCounter_ + delta + 256) & 0xFF);
        } else {
          wheelCounter_ = static_cast<std::uint8_t>(ParseInteger(value, 0, 255, "wheel counter"));
        }
        continue;
      }
      if (word.rfind("speed=", 0) == 0) {
        report[2] = static_cast<std::uint8_t>(ParseInteger(word.substr(6), 0, 255, "wheel speed"));
        continue;
      }
      bool known = false;
      for (const auto& key : kKeys) {
        if (EqualsIgnoringCase(word, key.name)) {
          report[key.byte] |= key.mask;
          known = true;
        }
      }
      for (int m = 0; m < 3; ++m) {
        if (EqualsIgnoringCase(word, kModeButtons[m])) {
          if (mode != 0) throw SessionError("one mode button at a time");
          mode = m + 1;
          known = true;
        }
      }
      if (!known) throw SessionError("unknown key '" + word + "'");
    }
    report[4] |= static_cast<std::uint8_t>(mode);
    report[1] = wheelCounter_;
  }
  plugin_.SimQueueInputReport(report);
}

bool Session::TickOnce() {
  const int before = plugin_.SimOutputReportCount();
  if (plugin_.SimTimerTick() == 0) return false;
  if (plugin_.SimOutputReportCount() <= before) return true;
  std::uint8_t output[5] = {};
  plugin_.SimLastOutputReport(output);
  std::string text = HexBytes(output, sizeof output);
  // A steady pendant gets the same report every 25 ms; only changes tell anything.
  if (options_.allOutputs || text != lastOutput_) host_.Add("Output " + text);
  lastOutput_ = std::move(text);
  return true;
}

void Session::Tick(const Args& args) {
  bool allRan = true;
  for (long i = Repeat(args, options_.maxRepeat); i > 0; --i) allRan &= TickOnce();
  if (!allRan) host_.Add(kTimerNotRunning);
}

void Session::UpdateCommand(const Args& args) {
  for (long i = Repeat(args, options_.maxRepeat); i > 0; --i) plugin_.Update();
}

void Session::Poll(const Args& args) {
  bool allRan = true;
  for (long i = Repeat(args, options_.maxRepeat); i > 0; --i) {
    plugin_.Update();
    allRan &= TickOnce();
  }
  if (!allRan) host_.Add(kTimerNotRunning);
}

void Session::Dialog(const Args& args) {
  if (plugin_.SimDialogSetText == nullptr || plugin_.SimDialogSelect == nullptr ||
      plugin_.SimDialogSetCheck == nullptr || plugin_.SimDialogPress == nullptr ||
      plugin_.SimDialogClear == nullptr)
    throw SessionError("the library has no dialog script");
  const auto id = [&] { return static_cast<int>(ParseInteger(args[2], 0, 65535, "control id")); };
  if (args.size() == 4 && args[1] == "text") {
    plugin_.SimDialogSetText(id(), args[3].c_str());
  } else if (args.size() == 4 && args[1] == "select") {
    plugin_.SimDialogSelect(id(), static_cast<int>(ParseInteger(args[3], -1, 1000, "index")));
  } else if (args.size() == 4 && args[1] == "check") {
    plugin_.SimDialogSetCheck(id(), ParseOnOff(args[3]) ? 1 : 0);
  } else if (args.size() == 3 && args[1] == "press") {
    plugin_.SimDialogPress(static_cast<int>(ParseInteger(args[2], 1, 2, "button")));
  } else if (args.size() == 2 && args[1] == "clear") {
    plugin_.SimDialogClear();
  } else if ((args.size() == 2 || args.size() == 3) && args[1] == "tick") {
    if (plugin_.SimDialogTick == nullptr) throw SessionError("the library has no dialog tick");
    plugin_.SimDialogTick(
        args.size() == 3 ? static_cast<int>(ParseInteger(args[2], 1, 100000, "count")) : 1);
  } else {
    throw SessionError(
        "usage: dialog text <id> <text> | dialog select <id> <index> | dialog check <id> 0|1 | "
        "dialog press 1|2 | dialog tick [n] | dialog clear");
  }
}

void Session::ExpectOutput(const Args& args) {
  if (args.size() != 6) throw SessionError("usage: expect-output <5 hex bytes>");
  std::uint8_t want[5];
  for (int i = 0; i < 5; ++i) want[i] = ParseHexByte(args[1 + i]);
  std::uint8_t got[5] = {};
  plugin_.SimLastOutputReport(got);
  if (std::memcmp(want, got, sizeof want) != 0)
    failedExpectations.push_back("expected output " + HexBytes(want, 5) + ", last written " +
                                 HexBytes(got, 5) + " (after trace line " +
                                 std::to_string(host_.trace.size()) + ")");
}

void Session::Reads(const Args& args) {
  ExpectArgs(args, 2, 2, "reads on|off");
  host_.traceReads = ParseOnOff(args[1]);
}

void Session::Trail(const Args& args) {
  ExpectArgs(args, 2, 2, "trail on|off");
  if (plugin_.SimSetTrailSink == nullptr) throw SessionError("the library has no trail");
  host_.traceTrail = ParseOnOff(args[1]);
}

}  // namespace pendant_sim
