// Properties of the wheel and the buttons over random sequences, through the whole poll as the
// Windows build runs it: a pendant on the virtual bus, a module and a recording host. A sequence
// is a script of pendant reports, polls, host ticks and host changes, made from a source of
// choices: seeded random numbers in the unit tests, the fuzzer's bytes in motion_properties.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

// Where a script's decisions come from.
class Choices {
 public:
  virtual ~Choices() = default;
  // 0..n-1 (0 when n is 0).
  virtual std::uint32_t Below(std::uint32_t n) = 0;
  bool OneIn(std::uint32_t n) { return Below(n) == 0; }
  template <typename T, std::size_t N>
  const T& Pick(const T (&pool)[N]) {
    return pool[Below(N)];
  }
};

class SeededChoices final : public Choices {
 public:
  explicit SeededChoices(std::uint32_t seed) : rng_(seed) {}
  std::uint32_t Below(std::uint32_t n) override { return n == 0 ? 0 : rng_() % n; }

 private:
  std::mt19937 rng_;
};

// The bytes of a fuzz input, two at a time; 0 once they run out.
class ByteChoices final : public Choices {
 public:
  ByteChoices(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint32_t Below(std::uint32_t n) override;
  bool Exhausted() const { return pos_ >= size_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// One step of a script.
struct MotionOp {
  enum class Kind : std::uint8_t {
    Report,   // the pendant reports: counter moved by `counts`, `speed`, keys `byte3`, `byte4`
    Poll,     // one timer message
    Update,   // `count` host Update calls
    Busy,     // host read-out 22: 20 (busy) when `count` is 1, else 0
    Inhibit,  // HostState jogInhibit = `count`
    Replug,   // the pendant is unplugged, and plugged in again with its counter at `counts`
    Queued,   // `count` commands wait in the host's command queue
    Led15,    // the host's LED 15 lit when `count` is 1
  };
  Kind kind;
  std::int32_t counts = 0;
  std::uint8_t speed = 0;
  std::uint8_t byte3 = 0;
  std::uint8_t byte4 = 0;
  std::int32_t count = 0;
};

// What a script starts with.
struct MotionSetup {
  std::int32_t wheelMode = 1;
  std::int32_t axis = 0;
  bool reverse[3] = {false, false, false};  // Xreverse, Yreverse, Zreverse
  double increment = 0.001;
  double rotationDegrees = 0.0;
  std::int32_t stepJogRate = 100;
  std::int32_t vel = 0;
  std::int32_t slowDownRate = 0;
  std::int32_t delaySteps = 0;
  std::uint8_t firstCounter = 0;
  bool led15 = false;           // the host's jog mode that a continuous jog switches away from
  double feedOverride = 100.0;  // host read-out 821, as the operator set it
};

struct MotionScript {
  MotionSetup setup;
  std::vector<MotionOp> ops;
};

// Distances of one step line by axis X..C; false for a line that is not a relative move.
bool StepLineDistances(const std::string& line, std::array<double, 6>& distances);

// Plays a script through a fresh module, window and virtual bus; every host call is recorded.
class MotionRig {
 public:
  MotionRig();
  ~MotionRig();
  MotionRig(const MotionRig&) = delete;
  MotionRig& operator=(const MotionRig&) = delete;

  void Start(const MotionSetup& setup);
  void Play(const MotionOp& op);
  void Play(const MotionScript& script);
  // The host stops the plug-in (StopPlug, not from inside a callback).
  void StopPlug();
  // From now on each "Code DOJOG" names the jog records then running (RecordingHost).
  void TraceJogRecords();
  // From now on every GetLED and GetDRO is recorded too.
  void RecordReads();
  // From now on every decode runs the whole input chain, also on a report that changes nothing.
  void DecodeInFull();

  // Every host call so far ("Code G90", "DoButton 1021", "SetDRO 821 100", ...).
  const std::vector<std::string>& Calls() const;
  std::uint8_t JogStopRequest(int axis) const;
  std::uint8_t JogActive(int axis) const;

 private:
  struct Parts;
  Parts* parts_;
  std::uint8_t counter_ = 0;
};

// The properties. Each makes its sequences from `choices`, plays them and returns "" when the
// property holds, else what broke it.
std::string CheckConservation(Choices& choices);
std::string CheckMirror(Choices& choices);
std::string CheckEdges(Choices& choices);
std::string CheckNothingWithoutTheOperator(Choices& choices);
std::string CheckNoJogLeftRunning(Choices& choices);
std::string CheckGrouping(Choices& choices);
std::string CheckStopEndsIt(Choices& choices);
std::string CheckRestingDecodes(Choices& choices);
