#include "support/motion_rig.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <memory>
#include <sstream>

#include "host_windows/host_blocks.h"
#include "host_windows/lifecycle.h"
#include "host_windows/module.h"
#include "link/pendant_link.h"
#include "platform/sim/virtual_bus.h"
#include "support/fake_platform.h"
#include "support/recording_host.h"

std::uint32_t ByteChoices::Below(std::uint32_t n) {
  if (n == 0 || pos_ >= size_) return 0;
  std::uint32_t v = data_[pos_++];
  if (n > 256 && pos_ < size_) v = v << 8 | data_[pos_++];
  return v % n;
}

namespace {

constexpr std::uint8_t kKey1 = 0x02, kKey3 = 0x08, kEn = 0x10;
constexpr std::uint8_t kAxisKeys[3] = {0x20, 0x40, 0x80};
// Byte 4 bits of F1..F5.
constexpr std::uint8_t kF[5] = {0x10, 0x20, 0x08, 0x40, 0x80};

constexpr double kIncrements[] = {0.0001, 0.001, 0.01, 0.1, 1.0};
constexpr double kRotations[] = {0.0, 0.0, 30.0, 45.0, 90.0, -60.0, 12.5};
constexpr std::int32_t kStepJogRates[] = {0, 100, 250};

double ParseNumber(std::string_view text) {
  double v = 0.0;
  const auto r = std::from_chars(text.data(), text.data() + text.size(), v);
  return r.ec == std::errc{} && r.ptr == text.data() + text.size() ? v : std::nan("");
}

// A report's move: mostly small, sometimes up to the largest a single report can carry.
std::int32_t Counts(Choices& c) {
  std::int32_t n = 0;
  switch (c.Below(6)) {
    case 0:
      return 0;
    case 1:
    case 2:
      n = 1 + static_cast<std::int32_t>(c.Below(5));
      break;
    case 3:
    case 4:
      n = 6 + static_cast<std::int32_t>(c.Below(35));
      break;
    default:
      n = 41 + static_cast<std::int32_t>(c.Below(87));
      break;
  }
  return c.OneIn(2) ? -n : n;
}

MotionOp Report(std::int32_t counts, std::uint8_t speed, std::uint8_t byte3 = 0,
                std::uint8_t byte4 = 0) {
  MotionOp op{MotionOp::Kind::Report};
  op.counts = counts;
  op.speed = speed;
  op.byte3 = byte3;
  op.byte4 = byte4;
  return op;
}
MotionOp Op(MotionOp::Kind kind, std::int32_t count = 0) {
  MotionOp op{kind};
  op.count = count;
  return op;
}

std::uint8_t SpeedFor(Choices& c, std::int32_t counts) {
  return counts == 0 ? 0 : static_cast<std::uint8_t>(1 + c.Below(255));
}

std::string Describe(const MotionScript& s) {
  std::ostringstream out;
  const MotionSetup& u = s.setup;
  out << "mode " << u.wheelMode << " axis " << u.axis << " reverse " << u.reverse[0] << u.reverse[1]
      << u.reverse[2] << " increment " << u.increment << " rotation " << u.rotationDegrees
      << " rate " << u.stepJogRate << " first " << int{u.firstCounter} << "; " << s.ops.size()
      << " steps";
  return out.str();
}

// The sent distances are the turn within half of the last digit.
std::string Conserved(const MotionScript& script, const std::array<double, 6>& sent,
                      const std::array<double, 6>& turned) {
  for (std::size_t a = 0; a < 6; ++a) {
    if (std::abs(sent[a] - turned[a]) > 5e-5 + 1e-9)
      return Describe(script) + ": axis " + std::to_string(a) + " moved " +
             std::to_string(sent[a]) + " for a turn of " + std::to_string(turned[a]);
  }
  return "";
}

std::vector<std::string> Since(const MotionRig& rig, std::size_t from) {
  const auto& calls = rig.Calls();
  return {calls.begin() + static_cast<std::ptrdiff_t>(std::min(from, calls.size())), calls.end()};
}

// How often the host's button `code` was pressed.
std::ptrdiff_t Presses(const std::vector<std::string>& calls, const char* code) {
  return std::count(calls.begin(), calls.end(), std::string("DoButton ") + code);
}

// The last call that begins with `prefix`, or `none`.
std::string LastCall(const std::vector<std::string>& calls, std::string_view prefix,
                     std::string none) {
  for (auto it = calls.rbegin(); it != calls.rend(); ++it)
    if (it->rfind(prefix, 0) == 0) return *it;
  return none;
}

// "axis N left jogging" for the first jog record running without a stop request, else "".
std::string AxisLeftJogging(const MotionRig& rig) {
  for (int axis = 0; axis < 6; ++axis) {
    if (rig.JogActive(axis) != 0 && rig.JogStopRequest(axis) == 0)
      return "axis " + std::to_string(axis) + " left jogging";
  }
  return "";
}

}  // namespace

bool StepLineDistances(const std::string& line, std::array<double, 6>& d) {
  d.fill(0.0);
  constexpr std::string_view kPrefix = "Code G91G1 ";
  if (line.rfind(kPrefix, 0) != 0) return false;
  std::string_view rest = std::string_view(line).substr(kPrefix.size());
  std::vector<std::string_view> words;
  while (!rest.empty()) {
    const std::size_t space = rest.find(' ');
    if (space != 0) words.push_back(rest.substr(0, space));
    if (space == std::string_view::npos) break;
    rest.remove_prefix(space + 1);
  }
  constexpr std::string_view kLetters = "XYZABC";
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string_view w = words[i];
    if (w[0] == 'F') continue;
    const std::size_t axis = kLetters.find(w[0]);
    if (axis == std::string_view::npos) return false;
    const std::string_view number =
        w.size() > 1 ? w.substr(1) : (i + 1 < words.size() ? words[++i] : std::string_view());
    d[axis] += ParseNumber(number);
  }
  return true;
}

// One host for every rig: its data blocks are over a megabyte, and fresh ones for each of the
// fuzzer's inputs cost more than the sequence itself.
RecordingHost& SharedHost() {
  static RecordingHost host;
  return host;
}

struct MotionRig::Parts {
  FakePlatform platform;
  RecordingHost& host = SharedHost();
  Module module{platform};
  int pendant = -1;
};

MotionRig::MotionRig() {
  VirtualBusReset();
  parts_ = new Parts;
}

MotionRig::~MotionRig() {
  parts_->module.pendantLink.reset();
  delete parts_;
  VirtualBusReset();
}

void MotionRig::Start(const MotionSetup& u) {
  Parts& p = *parts_;
  p.host.calls.clear();
  p.host.traceJogRecords = false;
  p.host.recordReads = false;
  p.host.leds.clear();
  p.host.dros.clear();
  for (auto* block : {&p.host.hostState, &p.host.hostConfig, &p.host.hostMotion})
    std::fill(block->begin(), block->end(), std::uint8_t{0});
  p.host.Install(p.module.host);
  p.host.leds[83] = true;   // jogging enabled
  p.host.leds[800] = true;  // the host shows the safety stop: 1021 goes on edges only
  p.host.leds[15] = u.led15;
  p.host.dros[3] = 50.0;
  p.host.dros[74] = 100.0;
  p.host.dros[818] = 25.0;
  p.host.dros[821] = u.feedOverride;
  std::uint8_t* motion = p.host.hostMotion.data();
  hostblock::Write(motion, hostblock::kJogIncrement, u.increment);
  for (int axis = 0; axis < 6; ++axis) {
    hostblock::Write(motion, hostblock::kAxisVelocity + 8 * axis, 2.5);
    hostblock::Write<std::int32_t>(motion, hostblock::kAxisJogSpeedMax + 4 * axis, 1000);
  }
  hostblock::Write(p.host.hostConfig.data(), hostblock::kXyRotationDegrees, u.rotationDegrees);
  PendantSettings& s = p.module.settings;
  s.Xreverse = u.reverse[0];
  s.Yreverse = u.reverse[1];
  s.Zreverse = u.reverse[2];
  s.StepJogRate = u.stepJogRate;
  s.Vel = static_cast<std::int16_t>(u.vel);
  s.SlowDownRate = static_cast<std::int16_t>(u.slowDownRate);
  s.DelaySteps = u.delaySteps;
  s.SelectAAxis = s.SelectBAxis = s.SelectCAxis = 1;
  // EN actions with codes of their own: the host sees which button's action ran.
  s.BUTTON = {21, 22, 24, 26, 27};  // 113, 114, 178, 1029, 172
  s.S = {"0.001", "0.01", "0.1", "1", "", "", "", "", ""};
  s.C = {10, 50, 100};
  s.Fp = {50, 100, 150};
  s.Sp = {50, 100, 150};
  p.module.wheelMode = WheelMode{u.wheelMode};
  counter_ = u.firstCounter;
  p.pendant = VirtualBusAddDevice(kPendantVendorId, kPendantProductId);
  p.module.pendantLink = MakePendantLink(p.module, CreateVirtualBus());
  p.module.pendantLink->FindPendant();
  p.module.pendantLink->axis.selectedAxis = u.axis;
}

void MotionRig::Play(const MotionOp& op) {
  Parts& p = *parts_;
  switch (op.kind) {
    case MotionOp::Kind::Report: {
      counter_ = static_cast<std::uint8_t>(counter_ + op.counts);
      const std::uint8_t report[8] = {0, counter_, op.speed, op.byte3, op.byte4, 0, 0, 0};
      VirtualBusQueueInputReport(report);
      break;
    }
    case MotionOp::Kind::Poll:
      VirtualBusTimerTick();
      break;
    case MotionOp::Kind::Update:
      for (int i = 0; i < op.count; ++i) p.module.ticks.Update();
      break;
    case MotionOp::Kind::Busy:
      p.host.dros[22] = op.count != 0 ? 20.0 : 0.0;
      break;
    case MotionOp::Kind::Inhibit:
      p.host.hostState[hostblock::kJogInhibit] = static_cast<std::uint8_t>(op.count);
      break;
    case MotionOp::Kind::Replug: {
      const std::string path = VirtualBusDevicePath(p.pendant);
      VirtualBusSetDevicePresent(p.pendant, 0);
      VirtualBusDeviceChange(kDeviceRemoveComplete, path.c_str());
      VirtualBusSetDevicePresent(p.pendant, 1);
      VirtualBusDeviceChange(kDeviceArrival, path.c_str());
      counter_ = static_cast<std::uint8_t>(op.counts);
      break;
    }
    case MotionOp::Kind::Queued:
      hostblock::Write<std::int32_t>(p.host.hostState.data(), hostblock::kCommandQueueIn, op.count);
      break;
    case MotionOp::Kind::Led15:
      p.host.leds[15] = op.count == 1;
      break;
  }
}

void MotionRig::Play(const MotionScript& script) {
  Start(script.setup);
  for (const MotionOp& op : script.ops) Play(op);
}

void MotionRig::StopPlug() {
  Module& module = parts_->module;
  const ModuleCall call(module);
  StopPlugCall(module, call);
}

void MotionRig::TraceJogRecords() {
  parts_->host.traceJogRecords = true;
}

void MotionRig::RecordReads() {
  parts_->host.recordReads = true;
}

void MotionRig::DecodeInFull() {
  parts_->module.pendantLink->skipRestingDecodes = false;
}

const std::vector<std::string>& MotionRig::Calls() const {
  return parts_->host.calls;
}

std::uint8_t MotionRig::JogStopRequest(int axis) const {
  return parts_->host.hostState[hostblock::kAxisJogBase + hostblock::kAxisJogStride * axis +
                                hostblock::kAxisJogRecordStopRequest];
}

std::uint8_t MotionRig::JogActive(int axis) const {
  return parts_->host.hostState[hostblock::kAxisJogBase + hostblock::kAxisJogStride * axis +
                                hostblock::kAxisJogRecordActive];
}

// Step mode, jogging allowed, with and without the host busy: the lines add up to the turn times
// the increment (rotated where the plane is), and each line moves the axis toward where the wheel
// has been turned to, never past it.
std::string CheckConservation(Choices& c) {
  MotionScript script;
  MotionSetup& u = script.setup;
  u.axis = static_cast<std::int32_t>(c.Below(6));
  for (bool& r : u.reverse) r = c.OneIn(2);
  u.increment = c.Pick(kIncrements);
  u.rotationDegrees = c.Pick(kRotations);
  u.stepJogRate = c.Pick(kStepJogRates);
  u.firstCounter = static_cast<std::uint8_t>(c.Below(256));
  const bool rotated = u.rotationDegrees != 0.0 && u.axis <= 1;
  // Rotated steps are dropped, not held, while the host is busy.
  const bool busyAllowed = !rotated;
  script.ops.push_back(Report(0, 0));
  script.ops.push_back(Op(MotionOp::Kind::Poll));
  const std::uint32_t rounds = 5 + c.Below(40);
  for (std::uint32_t r = 0; r < rounds; ++r) {
    const std::uint32_t group = c.Below(kInputQueueDepth + 1);
    for (std::uint32_t i = 0; i < group; ++i) {
      const std::int32_t n = Counts(c);
      script.ops.push_back(Report(n, SpeedFor(c, n)));
    }
    script.ops.push_back(Op(MotionOp::Kind::Poll));
    if (c.OneIn(3)) script.ops.push_back(Op(MotionOp::Kind::Update, c.Below(5)));
    if (busyAllowed && c.OneIn(4)) script.ops.push_back(Op(MotionOp::Kind::Busy, c.Below(2)));
  }
  const bool reversed = u.axis <= 2 && u.reverse[u.axis];
  const double theta = u.rotationDegrees * 0.017453293;
  std::int64_t turned = 0;  // counts since the first report, as the axis sees them
  bool first = true;
  std::array<double, 6> sent{}, expected{};
  MotionRig rig;
  rig.Start(u);
  // One poll; each line it sent must move toward the turn (else `broken` says why). Returns
  // how many step lines it sent.
  std::string broken;
  const auto poll = [&]() {
    const std::size_t before = rig.Calls().size();
    rig.Play(Op(MotionOp::Kind::Poll));
    const double d = static_cast<double>(turned) * u.increment;
    expected.fill(0.0);
    if (rotated) {
      const double x = u.axis == 0 ? d : 0.0, y = u.axis == 1 ? d : 0.0;
      expected[0] = std::cos(theta) * x + std::sin(theta) * y;
      expected[1] = std::cos(theta) * y - std::sin(theta) * x;
    } else {
      expected[static_cast<std::size_t>(u.axis)] = d;
    }
    int lines = 0;
    for (const std::string& call : Since(rig, before)) {
      std::array<double, 6> line{};
      if (!StepLineDistances(call, line)) continue;
      ++lines;
      for (std::size_t a = 0; a < 6; ++a) {
        if (!std::isfinite(line[a])) broken = Describe(script) + ": unreadable line " + call;
        const double held = expected[a] - sent[a];
        const bool toward = line[a] == 0.0 || ((line[a] > 0) == (held > 0) &&
                                               std::abs(line[a]) <= std::abs(held) + 6e-5);
        if (!toward && broken.empty())
          broken = Describe(script) + ": " + call + " moves away from the turn (" +
                   std::to_string(held) + " still to go)";
        sent[a] += line[a];
      }
    }
    // Rotated lines go at once, never held: each poll's sum is the turn so far.
    if (rotated && broken.empty()) broken = Conserved(script, sent, expected);
    return lines;
  };
  for (const MotionOp& op : script.ops) {
    if (op.kind == MotionOp::Kind::Poll) {
      poll();
      if (!broken.empty()) return broken;
      continue;
    }
    rig.Play(op);
    if (op.kind == MotionOp::Kind::Report) {
      if (!first) turned += reversed ? -op.counts : op.counts;
      first = false;
    }
  }
  // The host idle and the wheel still: what was held back goes out, five steps a poll.
  rig.Play(Op(MotionOp::Kind::Busy, 0));
  for (int quiet = 0, polls = 0; quiet < 3 && polls < 5000; ++polls) {
    quiet = poll() == 0 ? quiet + 1 : 0;
    if (!broken.empty()) return broken;
    rig.Play(Op(MotionOp::Kind::Update, 1));
  }
  return Conserved(script, sent, expected);
}

namespace {

// Whether the wheel function of this mode and EN follows the reversed direction.
bool FollowsReverse(std::int32_t mode, bool en) {
  switch (mode) {
    case 1:
      return !en;  // step jogging; the step-size presets follow the raw turn
    case 2:
    case 3:
      return true;  // velocity, C mode, step jogging at the slow rate
    case 6:
      return !en;  // the spindle knob; the spindle presets follow the raw turn
    default:
      return false;
  }
}

}  // namespace

// An axis reversed and turned one way gives the very host calls of the plain axis turned the
// other way, in the functions that follow the reversed direction; in the others the setting
// changes nothing.
std::string CheckMirror(Choices& c) {
  MotionScript script;
  MotionSetup& u = script.setup;
  u.wheelMode = 1 + static_cast<std::int32_t>(c.Below(6));
  const bool en = c.OneIn(2);
  u.axis = static_cast<std::int32_t>(c.Below(3));
  u.increment = c.Pick(kIncrements);
  u.rotationDegrees = c.Pick(kRotations);
  u.stepJogRate = c.Pick(kStepJogRates);
  u.vel = static_cast<std::int32_t>(c.Below(10));
  u.slowDownRate = static_cast<std::int32_t>(c.Below(3));
  u.delaySteps = static_cast<std::int32_t>(c.Below(30));
  u.firstCounter = static_cast<std::uint8_t>(c.Below(256));
  u.led15 = c.OneIn(2);
  const std::uint8_t byte3 = en ? kEn : 0;
  script.ops.push_back(Report(0, 0, byte3));
  script.ops.push_back(Op(MotionOp::Kind::Poll));
  const std::uint32_t rounds = 5 + c.Below(40);
  for (std::uint32_t r = 0; r < rounds; ++r) {
    const std::uint32_t group = c.Below(4);
    for (std::uint32_t i = 0; i < group; ++i) {
      const std::int32_t n = Counts(c);
      script.ops.push_back(Report(n, SpeedFor(c, n), byte3));
    }
    script.ops.push_back(Op(MotionOp::Kind::Poll));
    if (c.OneIn(2)) script.ops.push_back(Op(MotionOp::Kind::Update, c.Below(4)));
    if (c.OneIn(8)) script.ops.push_back(Op(MotionOp::Kind::Busy, c.Below(2)));
  }
  MotionScript plain = script;
  u.reverse[u.axis] = true;
  if (FollowsReverse(u.wheelMode, en)) {
    for (MotionOp& op : plain.ops) op.counts = -op.counts;
  }
  MotionRig reversedRig;
  reversedRig.Play(script);
  const std::vector<std::string> reversedCalls = reversedRig.Calls();
  MotionRig plainRig;
  plainRig.Play(plain);
  const std::vector<std::string>& plainCalls = plainRig.Calls();
  if (reversedCalls == plainCalls) return "";
  std::size_t i = 0;
  while (i < reversedCalls.size() && i < plainCalls.size() && reversedCalls[i] == plainCalls[i])
    ++i;
  return Describe(script) + (en ? " EN" : "") + ": call " + std::to_string(i) + " reversed \"" +
         (i < reversedCalls.size() ? reversedCalls[i] : "") + "\" plain \"" +
         (i < plainCalls.size() ? plainCalls[i] : "") + "\"";
}

// Every key, button and safety edge reaches the host once, in order, however the reports are
// grouped into polls: the same calls as with one report per poll.
std::string CheckEdges(Choices& c) {
  MotionSetup u;
  u.wheelMode = 1 + static_cast<std::int32_t>(c.Below(6));
  u.firstCounter = static_cast<std::uint8_t>(c.Below(256));
  std::vector<std::vector<MotionOp>> groups;
  std::vector<std::uint32_t> updates;
  std::uint8_t byte3 = 0, byte4 = 0;
  const std::uint32_t count = 3 + c.Below(30);
  for (std::uint32_t g = 0; g < count; ++g) {
    std::vector<MotionOp> group;
    const std::uint32_t size = 1 + c.Below(kInputQueueDepth);
    for (std::uint32_t i = 0; i < size; ++i) {
      // One or two keys change from one report to the next.
      for (std::uint32_t k = 1 + c.Below(2); k > 0; --k) {
        const std::uint32_t which = c.Below(13);
        if (which < 8) {
          byte3 ^= static_cast<std::uint8_t>(1u << which);
        } else if (which < 10) {
          byte4 = static_cast<std::uint8_t>((byte4 & ~3u) | c.Below(4));
        } else {
          byte4 ^= kF[c.Below(5)];
        }
      }
      group.push_back(Report(0, 0, byte3, byte4));
    }
    groups.push_back(group);
    updates.push_back(c.OneIn(2) ? c.Below(9) : 0);
  }
  // One rig at a time: the virtual bus and the recording host's callbacks are global.
  const auto play = [&](bool alone) {
    MotionRig rig;
    rig.Start(u);
    for (std::size_t g = 0; g < groups.size(); ++g) {
      for (const MotionOp& report : groups[g]) {
        rig.Play(report);
        if (alone) rig.Play(Op(MotionOp::Kind::Poll));
      }
      if (!alone) rig.Play(Op(MotionOp::Kind::Poll));
      rig.Play(Op(MotionOp::Kind::Update, static_cast<std::int32_t>(updates[g])));
    }
    // Leaving velocity jogging ends the jog at each of the next five polls: that counts polls,
    // not edges.
    std::vector<std::string> edges;
    for (const std::string& call : rig.Calls())
      if (call != "Code ENDJOG") edges.push_back(call);
    return edges;
  };
  const std::vector<std::string> a = play(true);
  const std::vector<std::string> b = play(false);
  if (a == b) return "";
  std::size_t i = 0;
  while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
  return "mode " + std::to_string(u.wheelMode) + ", " + std::to_string(groups.size()) +
         " polls: call " + std::to_string(i) + " alone \"" + (i < a.size() ? a[i] : "") +
         "\" grouped \"" + (i < b.size() ? b[i] : "") + "\"";
}

// With the wheel untouched nothing moves, wherever the counter stands when a pendant first
// reports (also after a re-plug); an EN action runs only for a press begun and ended with EN
// held, and a tap-and-hold begun without EN ends when its button is let go.
std::string CheckNothingWithoutTheOperator(Choices& c) {
  MotionSetup u;
  u.wheelMode = 1 + static_cast<std::int32_t>(c.Below(6));
  u.firstCounter = static_cast<std::uint8_t>(c.Below(256));
  u.increment = c.Pick(kIncrements);
  u.stepJogRate = c.Pick(kStepJogRates);
  MotionRig rig;
  rig.Start(u);
  constexpr std::int32_t kEnAction[5] = {113, 114, 178, 1029, 172};
  bool beganWithEn[5] = {};
  std::uint8_t byte3 = 0, byte4 = 0;
  const std::uint32_t steps = 10 + c.Below(150);
  for (std::uint32_t step = 0; step < steps; ++step) {
    const std::uint8_t before4 = byte4;
    const std::uint32_t which = c.Below(9);
    if (which < 3) {
      byte3 ^= kEn;
    } else if (which < 7) {
      byte4 ^= kF[c.Below(5)];
    } else if (which == 7) {
      byte4 = static_cast<std::uint8_t>((byte4 & ~3u) | c.Below(4));
    } else {  // chords and the screen key; the axis stays X (see below)
      byte3 ^= static_cast<std::uint8_t>(c.OneIn(2) ? kKey1 : kKey3);
    }
    for (int k = 0; k < 5; ++k) {
      if ((byte4 & kF[k]) != 0 && (before4 & kF[k]) == 0) beganWithEn[k] = (byte3 & kEn) != 0;
    }
    const std::size_t from = rig.Calls().size();
    if (c.OneIn(40)) {
      rig.Play(Op(MotionOp::Kind::Replug, static_cast<std::int32_t>(c.Below(256))));
    }
    rig.Play(Report(0, 0, byte3, byte4));
    rig.Play(Op(MotionOp::Kind::Poll));
    if (c.OneIn(2)) rig.Play(Op(MotionOp::Kind::Update, static_cast<std::int32_t>(c.Below(5))));
    for (const std::string& call : Since(rig, from)) {
      if (call.rfind("Code G91G1", 0) == 0 || call == "Code DOJOG" || call.rfind("SetDRO", 0) == 0)
        return "mode " + std::to_string(u.wheelMode) + ": \"" + call +
               "\" with the wheel untouched";
      for (int k = 0; k < 5; ++k) {
        if (call != "DoButton " + std::to_string(kEnAction[k])) continue;
        const bool released = (before4 & kF[k]) != 0 && (byte4 & kF[k]) == 0;
        if (!released || !beganWithEn[k] || (byte3 & kEn) == 0)
          return "F" + std::to_string(k + 1) + "'s EN action ran for a press not wholly with EN";
      }
    }
    // F1's and F2's tap-and-hold (311/336 and 309/335) are over whenever the button is up; the
    // selected axis stays X, so 335 and 336 are not a wheel function's end code.
    const auto n = [&rig](const char* code) { return Presses(rig.Calls(), code); };
    if ((byte4 & kF[0]) == 0 && n("311") != n("336"))
      return "F1's tap-and-hold did not end when F1 was let go";
    if ((byte4 & (kF[1] | kF[4])) == 0 && n("309") + n("310") != n("335"))
      return "F2's or F5's tap-and-hold did not end when it was let go";
  }
  return "";
}

// Whatever is pressed while the wheel turns, once it has been still long enough every jog record
// that was started has its stop requested and the last jog line is ENDJOG.
std::string CheckNoJogLeftRunning(Choices& c) {
  MotionSetup u;
  u.wheelMode = 1 + static_cast<std::int32_t>(c.Below(6));
  u.firstCounter = static_cast<std::uint8_t>(c.Below(256));
  u.delaySteps = static_cast<std::int32_t>(c.Below(30));
  u.vel = static_cast<std::int32_t>(c.Below(10));
  u.led15 = c.OneIn(2);
  MotionRig rig;
  rig.Start(u);
  std::uint8_t byte3 = 0, byte4 = 0;
  const std::uint32_t steps = 10 + c.Below(150);
  for (std::uint32_t step = 0; step < steps; ++step) {
    const std::uint32_t which = c.Below(16);
    if (which == 0) {
      byte3 ^= kEn;
    } else if (which == 1) {
      byte4 = static_cast<std::uint8_t>((byte4 & ~3u) | c.Below(4));
    } else if (which == 2) {
      byte3 ^= kAxisKeys[c.Below(3)];
    } else if (which == 3) {
      rig.Play(Op(MotionOp::Kind::Inhibit, static_cast<std::int32_t>(c.Below(2))));
    } else if (which == 4 && c.OneIn(4)) {
      rig.Play(Op(MotionOp::Kind::Replug, static_cast<std::int32_t>(c.Below(256))));
    } else if (which == 5) {
      rig.Play(Op(MotionOp::Kind::Busy, static_cast<std::int32_t>(c.Below(2))));
    }
    const std::int32_t n = c.OneIn(4) ? 0 : Counts(c);
    rig.Play(Report(n, SpeedFor(c, n), byte3, byte4));
    if (!c.OneIn(3)) rig.Play(Op(MotionOp::Kind::Poll));
    if (c.OneIn(2)) rig.Play(Op(MotionOp::Kind::Update, static_cast<std::int32_t>(c.Below(5))));
  }
  rig.Play(Report(0, 0, byte3 & kEn, 0));
  for (int i = 0; i < 12; ++i) {
    rig.Play(Op(MotionOp::Kind::Poll));
    rig.Play(Op(MotionOp::Kind::Update, 1));
  }
  const auto& calls = rig.Calls();
  for (auto it = calls.rbegin(); it != calls.rend(); ++it) {
    if (*it == "Code DOJOG") return "mode " + std::to_string(u.wheelMode) + ": DOJOG last";
    if (*it == "Code ENDJOG") break;
  }
  const std::string left = AxisLeftJogging(rig);
  return left.empty() ? "" : "mode " + std::to_string(u.wheelMode) + ": " + left;
}

namespace {

// A jog's start, way and end as the host sees them, each change once: consecutive repeats of the
// same "Code DOJOG X+" or "Code ENDJOG" say nothing new.
std::vector<std::string> JogCourse(const std::vector<std::string>& calls) {
  std::vector<std::string> course;
  for (const std::string& call : calls) {
    if (call.rfind("Code DOJOG", 0) != 0 && call != "Code ENDJOG") continue;
    if (course.empty() || course.back() != call) course.push_back(call);
  }
  return course;
}

std::vector<std::string> SetDros(const std::vector<std::string>& calls) {
  std::vector<std::string> out;
  for (const std::string& call : calls)
    if (call.rfind("SetDRO", 0) == 0) out.push_back(call);
  return out;
}

std::string FirstDifference(const std::vector<std::string>& a, const std::vector<std::string>& b,
                            const char* aName, const char* bName) {
  std::size_t i = 0;
  while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
  return "call " + std::to_string(i) + " " + aName + " \"" + (i < a.size() ? a[i] : "") + "\" " +
         bName + " \"" + (i < b.size() ? b[i] : "") + "\"";
}

}  // namespace

// Continuous jogging and presets follow the wheel however its reports are grouped into polls and
// however many host Updates come between polls: a jog starts, runs its way and ends as with one
// report per poll; after every poll no jog runs against the way the wheel was last turned; and
// each flick of the wheel picks one preset, the same ones as when a poll follows every Update.
std::string CheckGrouping(Choices& c) {
  MotionSetup u;
  const bool presets = c.OneIn(2);
  constexpr std::int32_t kPresetModes[] = {1, 4, 5, 6};
  u.wheelMode = presets ? c.Pick(kPresetModes) : 2 + static_cast<std::int32_t>(c.Below(2));
  // EN picks the presets; in velocity jogging it slows the jog down.
  const bool en = presets || (u.wheelMode == 2 && c.OneIn(2));
  u.axis = static_cast<std::int32_t>(c.Below(3));
  for (bool& r : u.reverse) r = c.OneIn(2);
  u.vel = static_cast<std::int32_t>(c.Below(10));
  u.slowDownRate = static_cast<std::int32_t>(c.Below(3));
  u.delaySteps = static_cast<std::int32_t>(c.Below(30));
  u.firstCounter = static_cast<std::uint8_t>(c.Below(256));
  u.led15 = c.OneIn(2);
  const std::uint8_t byte3 = en ? kEn : 0;
  // Flicks: moving reports, now and then turned back, between rests. Only a moving wheel moves
  // its counter.
  std::vector<MotionOp> reports;
  std::uint32_t flicks = 0;
  bool moving = false;
  for (std::uint32_t f = 1 + c.Below(10); f > 0; --f) {
    std::int32_t way = c.OneIn(2) ? 1 : -1;
    for (std::uint32_t k = 1 + c.Below(6); k > 0; --k) {
      if (c.OneIn(4)) way = -way;
      const std::int32_t n = 1 + static_cast<std::int32_t>(c.Below(c.OneIn(4) ? 127 : 8));
      reports.push_back(Report(way * n, static_cast<std::uint8_t>(1 + c.Below(255)), byte3));
      if (!moving) ++flicks;
      moving = true;
    }
    for (std::uint32_t k = c.Below(3); k > 0; --k) {
      reports.push_back(Report(0, 0, byte3));
      moving = false;
    }
  }
  std::vector<std::size_t> groupEnds;  // one past each group's last report
  for (std::size_t end = 0; end < reports.size();) {
    end = std::min(reports.size(), end + 1 + c.Below(kInputQueueDepth));
    groupEnds.push_back(end);
  }
  std::vector<std::int32_t> updates;
  for (std::size_t g = 0; g < groupEnds.size(); ++g)
    updates.push_back(c.OneIn(2) ? static_cast<std::int32_t>(c.Below(9)) : 0);

  enum class Grouping { Alone, AloneRepolled, Grouped };
  const bool reversed = u.reverse[u.axis];
  std::string broken;
  // One run; after each poll, a jog running on the selected axis must run the way of the last
  // turn.
  const auto play = [&](Grouping grouping) {
    MotionRig rig;
    rig.Start(u);
    rig.TraceJogRecords();
    rig.Play(Report(0, 0, byte3));
    rig.Play(Op(MotionOp::Kind::Poll));
    std::int32_t lastWay = 0;
    const auto poll = [&] {
      rig.Play(Op(MotionOp::Kind::Poll));
      if (lastWay == 0 || rig.JogActive(u.axis) == 0 || rig.JogStopRequest(u.axis) != 0) return;
      const char want = (lastWay > 0) != reversed ? '+' : '-';
      const std::string running = std::string(" ") + "XYZ"[u.axis] + want;
      for (auto it = rig.Calls().rbegin(); it != rig.Calls().rend(); ++it) {
        if (it->rfind("Code DOJOG", 0) != 0) continue;
        if (it->find(running) == std::string::npos && broken.empty())
          broken = "\"" + *it + "\" runs against the last turn";
        break;
      }
    };
    std::size_t next = 0;
    for (std::size_t g = 0; g < groupEnds.size(); ++g) {
      for (; next < groupEnds[g]; ++next) {
        rig.Play(reports[next]);
        if (reports[next].counts != 0) lastWay = reports[next].counts > 0 ? 1 : -1;
        if (grouping != Grouping::Grouped) poll();
      }
      if (grouping == Grouping::Grouped) poll();
      if (grouping == Grouping::AloneRepolled) {
        for (std::int32_t k = 0; k < updates[g]; ++k) {
          rig.Play(Op(MotionOp::Kind::Update, 1));
          poll();
        }
      } else {
        rig.Play(Op(MotionOp::Kind::Update, updates[g]));
      }
    }
    return rig.Calls();
  };
  const std::string what = "mode " + std::to_string(u.wheelMode) + (en ? " EN" : "") + " axis " +
                           std::to_string(u.axis) + (reversed ? " reversed" : "") + ", " +
                           std::to_string(reports.size()) + " reports in " +
                           std::to_string(groupEnds.size()) + " polls: ";
  if (presets) {
    const std::vector<std::string> a = SetDros(play(Grouping::AloneRepolled));
    const std::vector<std::string> b = SetDros(play(Grouping::Grouped));
    if (!broken.empty()) return what + broken;
    if (a != b) return what + FirstDifference(a, b, "repolled", "grouped");
    if (b.size() != flicks)
      return what + std::to_string(b.size()) + " presets for " + std::to_string(flicks) + " flicks";
    return "";
  }
  const std::vector<std::string> a = JogCourse(play(Grouping::Alone));
  const std::vector<std::string> b = JogCourse(play(Grouping::Grouped));
  if (!broken.empty()) return what + broken;
  if (a != b) return what + FirstDifference(a, b, "alone", "grouped");
  return "";
}

// Whenever the host stops the plug-in, what the pendant started ends before StopPlug returns: no
// jog record is left running, every tap-and-hold action has its end code, and the feed values a
// step burst saved are back where the operator had them. After it nothing reaches the host.
std::string CheckStopEndsIt(Choices& c) {
  MotionSetup u;
  constexpr std::int32_t kModes[] = {1, 2, 3, 4, 6};  // mode 5's knob is the feed override itself
  u.wheelMode = c.Pick(kModes);
  u.firstCounter = static_cast<std::uint8_t>(c.Below(256));
  u.delaySteps = static_cast<std::int32_t>(c.Below(30));
  u.vel = static_cast<std::int32_t>(c.Below(10));
  u.stepJogRate = c.Pick(kStepJogRates);
  u.led15 = c.OneIn(2);
  constexpr double kFeedOverrides[] = {80.0, 100.0, 125.0};
  u.feedOverride = c.Pick(kFeedOverrides);
  MotionRig rig;
  rig.Start(u);
  std::uint8_t byte3 = 0, byte4 = 0;
  const std::uint32_t steps = 1 + c.Below(120);
  for (std::uint32_t step = 0; step < steps; ++step) {
    const std::uint32_t which = c.Below(12);
    if (which == 0) {
      byte3 ^= kEn;
    } else if (which < 5) {
      byte4 ^= kF[c.Below(5)];
    } else if (which == 5) {
      // Mode buttons 1 and 2 only: button 3 would reach the feed override knob.
      byte4 = static_cast<std::uint8_t>((byte4 & ~3u) | c.Below(3));
    } else if (which == 6) {
      rig.Play(Op(MotionOp::Kind::Busy, static_cast<std::int32_t>(c.Below(2))));
    }
    const std::int32_t n = c.OneIn(3) ? 0 : Counts(c);
    rig.Play(Report(n, SpeedFor(c, n), byte3, byte4));
    if (!c.OneIn(4)) rig.Play(Op(MotionOp::Kind::Poll));
    if (c.OneIn(2)) rig.Play(Op(MotionOp::Kind::Update, static_cast<std::int32_t>(c.Below(5))));
  }
  rig.StopPlug();
  const std::string what = "mode " + std::to_string(u.wheelMode) + ", " + std::to_string(steps) +
                           " steps, then StopPlug: ";
  if (const std::string left = AxisLeftJogging(rig); !left.empty()) return what + left;
  // F1's and F2's/F5's hold codes; the axis stays X, so 335 and 336 are no wheel function's code.
  const auto& calls = rig.Calls();
  const auto n = [&calls](const char* code) { return Presses(calls, code); };
  if (n("311") != n("336")) return what + "F1's held action did not end";
  if (n("309") + n("310") != n("335")) return what + "F2's or F5's held action did not end";
  const std::string feed = "SetDRO 821 " + FormatDouble(u.feedOverride);
  const std::string lastFeed = LastCall(calls, "SetDRO 821 ", feed);
  if (lastFeed != feed) return what + "the feed override is left at \"" + lastFeed + "\"";
  const std::string lastRate = LastCall(calls, "SetDRO 818 ", "SetDRO 818 25");
  if (lastRate != "SetDRO 818 25") return what + "the feed rate is left at \"" + lastRate + "\"";
  const std::size_t stopped = calls.size();
  rig.Play(Report(5, 40, byte3, byte4));
  rig.Play(Op(MotionOp::Kind::Poll));
  rig.Play(Op(MotionOp::Kind::Update, 20));
  rig.Play(Op(MotionOp::Kind::Replug, 0));
  rig.Play(Op(MotionOp::Kind::Poll));
  if (rig.Calls().size() != stopped) return what + "\"" + rig.Calls()[stopped] + "\" after it";
  return "";
}

// The decodes cut short for an idle pendant change nothing: the same host calls, reads among them,
// and jog records as with the whole input chain at every decode, through presses, taps, bursts,
// held steps, a busy command queue, an inhibited wheel, the host's jog mode changing, half-turn
// jumps and long still stretches of host ticks, up to StopPlug.
std::string CheckRestingDecodes(Choices& c) {
  MotionScript script;
  MotionSetup& u = script.setup;
  u.wheelMode = 1 + static_cast<std::int32_t>(c.Below(6));
  u.axis = static_cast<std::int32_t>(c.Below(6));
  u.stepJogRate = c.Pick(kStepJogRates);
  u.vel = static_cast<std::int32_t>(c.Below(10));
  u.delaySteps = static_cast<std::int32_t>(c.Below(30));
  u.firstCounter = static_cast<std::uint8_t>(c.Below(256));
  u.led15 = c.OneIn(2);
  std::uint8_t byte3 = 0, byte4 = 0;
  const std::uint32_t steps = 10 + c.Below(200);
  for (std::uint32_t step = 0; step < steps; ++step) {
    const std::uint32_t which = c.Below(26);
    if (which < 4) {
      byte3 ^= static_cast<std::uint8_t>(1u << c.Below(8));
    } else if (which < 7) {
      byte4 ^= kF[c.Below(5)];
    } else if (which == 7) {
      byte4 = static_cast<std::uint8_t>((byte4 & ~3u) | c.Below(4));
    } else if (which == 8) {
      script.ops.push_back(Op(MotionOp::Kind::Busy, static_cast<std::int32_t>(c.Below(2))));
    } else if (which == 9) {
      script.ops.push_back(Op(MotionOp::Kind::Inhibit, static_cast<std::int32_t>(c.Below(2))));
    } else if (which == 10 && c.OneIn(4)) {
      script.ops.push_back(Op(MotionOp::Kind::Replug, static_cast<std::int32_t>(c.Below(256))));
    } else if (which == 11) {
      script.ops.push_back(Op(MotionOp::Kind::Queued, static_cast<std::int32_t>(c.Below(2))));
    } else if (which == 12) {
      script.ops.push_back(Op(MotionOp::Kind::Led15, static_cast<std::int32_t>(c.Below(2))));
    } else if (which < 16) {
      byte3 = 0;
      byte4 = 0;
    }
    // Mostly a still wheel, now and then a turn or a jump of half a turn.
    const std::int32_t n = c.OneIn(3) ? (c.OneIn(8) ? 128 : Counts(c)) : 0;
    if (!c.OneIn(3)) script.ops.push_back(Report(n, SpeedFor(c, n), byte3, byte4));
    // Several polls with no report between them, across the ticks' windows and countdowns.
    for (std::uint32_t k = c.OneIn(2) ? 1 : 1 + c.Below(6); k > 0; --k) {
      script.ops.push_back(Op(MotionOp::Kind::Poll));
      if (!c.OneIn(3))
        script.ops.push_back(Op(MotionOp::Kind::Update, c.Below(c.OneIn(4) ? 20 : 3)));
    }
  }
  const auto play = [&script](bool inFull) {
    MotionRig rig;
    rig.Start(script.setup);
    rig.TraceJogRecords();
    rig.RecordReads();
    if (inFull) rig.DecodeInFull();
    for (const MotionOp& op : script.ops) rig.Play(op);
    rig.StopPlug();
    std::vector<std::string> calls = rig.Calls();
    for (int axis = 0; axis < 6; ++axis)
      calls.push_back("record " + std::to_string(axis) + " " + std::to_string(rig.JogActive(axis)) +
                      std::to_string(rig.JogStopRequest(axis)));
    return calls;
  };
  const std::vector<std::string> full = play(true);
  const std::vector<std::string> cut = play(false);
  if (full == cut) return "";
  return Describe(script) + ": " + FirstDifference(full, cut, "in full", "cut short");
}
