// A virtual pendant served through FUSE, for kernels without uhid. Mounted at MOUNT it serves:
//   MOUNT/dev/hidraw0        the pendant's node, while plugged: hidraw's semantics for a device
//                            without numbered reports (a read takes one queued 7-byte report,
//                            EAGAIN with O_NONBLOCK when none is queued, else it waits; poll(2);
//                            a write is one output report, its first byte the report id 0)
//   MOUNT/sys/class/hidraw/hidraw0/device/uevent   its sysfs entry, while plugged
//   MOUNT/control            write one command per write: plug | unplug | push HEX16 | period MS
//                            | raw HEX (one report of these bytes as they are, 1 to 64 of them,
//                            e.g. with a report id in front) | deny on|off (opening the node
//                            fails with EACCES, as without the udev rule's permissions)
//   MOUNT/outputs            reading it takes the output reports written since the last read, one
//                            a line in hex as written (the id byte first)
//   MOUNT/status             counters; inputs_peak is the longest the input queue has been
//                            since the last read of status
// `push` takes the 8 bytes as the application reads them, the id byte 00 first (as vpendant.exe
// does on Windows). Unplugging removes both entries and fails reads and writes on descriptors
// still open (ENODEV); each plug gives the entries new inodes, as a real replug does.
//   vpendant-fuse [--unplugged] MOUNT     runs in the foreground until unmounted or signalled
#define FUSE_USE_VERSION 31
#include <fuse.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

constexpr std::size_t kInputData = 7;   // without the id byte
constexpr std::size_t kOutputData = 4;  // likewise
constexpr std::size_t kInputQueue = 64;
constexpr std::uint32_t kMaxPeriodMs = 1000;
constexpr const char* kUevent =
    "DRIVER=hid-generic\nHID_ID=0003:000004D8:0000FCE4\nHID_NAME=Virtual pendant\n"
    "HID_PHYS=usb-vpendant-1/input0\nMODALIAS=hid:b0003g0001v000004D8p0000FCE4\n";

constexpr std::size_t kMaxRaw = 64;

using Input = std::array<std::uint8_t, kInputData>;
using Queued = std::vector<std::uint8_t>;

struct Pendant {
  std::mutex mutex;
  std::condition_variable changed;
  bool plugged = true;
  std::uint64_t generation = 1;  // of the current plug; open files remember theirs
  std::deque<Queued> inputs;
  Input state{};  // what a streaming pendant sends
  std::uint32_t periodMs = 0;
  std::vector<std::vector<std::uint8_t>> outputs;
  std::vector<fuse_pollhandle*> pollers;
  bool stopping = false;
  bool deny = false;
  unsigned reportsSent = 0, writes = 0, pushes = 0, inputsDropped = 0;
  std::size_t inputsPeak = 0;  // how far a reader fell behind since status was last read

  // With the lock held.
  void Queue(const std::uint8_t* report, std::size_t size) {
    if (inputs.size() == kInputQueue) {
      inputs.pop_front();
      ++inputsDropped;
    }
    inputs.emplace_back(report, report + size);
    inputsPeak = std::max(inputsPeak, inputs.size());
    Wake();
  }
  void Wake() {
    changed.notify_all();
    for (fuse_pollhandle* handle : pollers) {
      fuse_notify_poll(handle);
      fuse_pollhandle_destroy(handle);
    }
    pollers.clear();
  }
};

Pendant pendant;
std::thread streamer;

enum class Node { None, Root, Dir, Device, Uevent, Control, Outputs, Status };

// Which node a path names, and its inode; the plugged ones change inode with each plug.
Node Lookup(std::string_view path, ino_t& ino) {
  struct Entry {
    std::string_view path;
    Node node;
    bool pluggedOnly;
  };
  static constexpr Entry kEntries[] = {
      {"/", Node::Root, false},
      {"/dev", Node::Dir, false},
      {"/sys", Node::Dir, false},
      {"/sys/class", Node::Dir, false},
      {"/sys/class/hidraw", Node::Dir, false},
      {"/control", Node::Control, false},
      {"/outputs", Node::Outputs, false},
      {"/status", Node::Status, false},
      {"/dev/hidraw0", Node::Device, true},
      {"/sys/class/hidraw/hidraw0", Node::Dir, true},
      {"/sys/class/hidraw/hidraw0/device", Node::Dir, true},
      {"/sys/class/hidraw/hidraw0/device/uevent", Node::Uevent, true},
  };
  for (std::size_t i = 0; i < std::size(kEntries); ++i) {
    if (kEntries[i].path != path) continue;
    if (!kEntries[i].pluggedOnly) {
      ino = i + 1;
      return kEntries[i].node;
    }
    if (!pendant.plugged) return Node::None;
    ino = 100 + pendant.generation * 16 + i;
    return kEntries[i].node;
  }
  return Node::None;
}

int GetAttr(const char* path, struct stat* st, fuse_file_info*) {
  std::lock_guard lock(pendant.mutex);
  ino_t ino = 0;
  const Node node = Lookup(path, ino);
  if (node == Node::None) return -ENOENT;
  *st = {};
  st->st_ino = ino;
  st->st_uid = getuid();
  st->st_gid = getgid();
  if (node == Node::Root || node == Node::Dir) {
    st->st_mode = S_IFDIR | 0755;
    st->st_nlink = 2;
  } else {
    st->st_mode =
        S_IFREG |
        (node == Node::Outputs || node == Node::Status || node == Node::Uevent ? 0444 : 0666);
    st->st_nlink = 1;
    if (node == Node::Uevent) st->st_size = static_cast<off_t>(std::strlen(kUevent));
  }
  return 0;
}

int ReadDir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info*,
            fuse_readdir_flags) {
  std::lock_guard lock(pendant.mutex);
  const std::string_view dir(path);
  std::vector<const char*> names;
  if (dir == "/") names = {"dev", "sys", "control", "outputs", "status"};
  if (dir == "/sys") names = {"class"};
  if (dir == "/sys/class") names = {"hidraw"};
  if (pendant.plugged) {
    if (dir == "/dev" || dir == "/sys/class/hidraw") names = {"hidraw0"};
    if (dir == "/sys/class/hidraw/hidraw0") names = {"device"};
    if (dir == "/sys/class/hidraw/hidraw0/device") names = {"uevent"};
  }
  ino_t ino = 0;
  if (Lookup(path, ino) == Node::None) return -ENOENT;
  fill(buffer, ".", nullptr, 0, FUSE_FILL_DIR_PLUS);
  fill(buffer, "..", nullptr, 0, FUSE_FILL_DIR_PLUS);
  for (const char* name : names) fill(buffer, name, nullptr, 0, FUSE_FILL_DIR_PLUS);
  return 0;
}

std::string Hex(const std::uint8_t* bytes, std::size_t size) {
  std::string text;
  char digits[4];
  for (std::size_t i = 0; i < size; ++i) {
    std::snprintf(digits, sizeof digits, i == 0 ? "%02x" : " %02x", bytes[i]);
    text += digits;
  }
  return text;
}

// Outputs and status are taken when opened; the file handle keeps the text.
std::string Snapshot(Node node) {
  std::string text;
  if (node == Node::Outputs) {
    for (const auto& report : pendant.outputs) text += Hex(report.data(), report.size()) + "\n";
    pendant.outputs.clear();
  } else {
    char line[256];
    std::snprintf(line, sizeof line,
                  "plugged %d generation %llu period_ms %u queued_inputs %zu queued_outputs %zu\n"
                  "reports_sent %u writes %u pushes %u inputs_dropped %u inputs_peak %zu\n",
                  pendant.plugged ? 1 : 0, static_cast<unsigned long long>(pendant.generation),
                  pendant.periodMs, pendant.inputs.size(), pendant.outputs.size(),
                  pendant.reportsSent, pendant.writes, pendant.pushes, pendant.inputsDropped,
                  pendant.inputsPeak);
    text = line;
    pendant.inputsPeak = pendant.inputs.size();
  }
  return text;
}

int Open(const char* path, fuse_file_info* fi) {
  std::lock_guard lock(pendant.mutex);
  ino_t ino = 0;
  const Node node = Lookup(path, ino);
  if (node == Node::None) return -ENOENT;
  fi->direct_io = 1;
  fi->nonseekable = node == Node::Device ? 1 : 0;
  fi->fh = 0;
  if (node == Node::Device && pendant.deny) return -EACCES;
  if (node == Node::Device) fi->fh = pendant.generation;
  if (node == Node::Outputs || node == Node::Status)
    fi->fh = reinterpret_cast<std::uint64_t>(new std::string(Snapshot(node)));
  return 0;
}

int Release(const char* path, fuse_file_info* fi) {
  if ((std::string_view(path) == "/outputs" || std::string_view(path) == "/status") && fi->fh != 0)
    delete reinterpret_cast<std::string*>(fi->fh);
  return 0;
}

int ReadText(const std::string& text, char* buffer, std::size_t size, off_t offset) {
  if (offset < 0 || static_cast<std::size_t>(offset) >= text.size()) return 0;
  const std::size_t count = std::min(size, text.size() - static_cast<std::size_t>(offset));
  std::memcpy(buffer, text.data() + offset, count);
  return static_cast<int>(count);
}

int ReadDevice(char* buffer, std::size_t size, fuse_file_info* fi) {
  std::unique_lock lock(pendant.mutex);
  for (;;) {
    if (!pendant.plugged || fi->fh != pendant.generation) return -ENODEV;
    if (!pendant.inputs.empty()) break;
    if ((fi->flags & O_NONBLOCK) != 0) return -EAGAIN;
    // A reader that gives up (a signal) is told by FUSE; look now and then.
    pendant.changed.wait_for(lock, std::chrono::milliseconds(100));
    if (fuse_interrupted() != 0) return -EINTR;
  }
  const Queued report = pendant.inputs.front();
  pendant.inputs.pop_front();
  ++pendant.reportsSent;
  const std::size_t count = std::min(size, report.size());  // hidraw cuts a short read
  std::memcpy(buffer, report.data(), count);
  return static_cast<int>(count);
}

int Read(const char* path, char* buffer, std::size_t size, off_t offset, fuse_file_info* fi) {
  const std::string_view name(path);
  if (name == "/dev/hidraw0") return ReadDevice(buffer, size, fi);
  if (name == "/outputs" || name == "/status")
    return ReadText(*reinterpret_cast<std::string*>(fi->fh), buffer, size, offset);
  if (name == "/sys/class/hidraw/hidraw0/device/uevent") {
    std::lock_guard lock(pendant.mutex);
    if (!pendant.plugged) return -ENODEV;
    return ReadText(kUevent, buffer, size, offset);
  }
  return -EINVAL;
}

bool ParseHex(std::string_view text, std::uint8_t* bytes, std::size_t size) {
  if (text.size() != 2 * size) return false;
  for (std::size_t i = 0; i < size; ++i) {
    unsigned value = 0;
    for (char c : text.substr(2 * i, 2)) {
      const int digit = c >= '0' && c <= '9'   ? c - '0'
                        : c >= 'a' && c <= 'f' ? c - 'a' + 10
                        : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                               : -1;
      if (digit < 0) return false;
      value = value * 16 + static_cast<unsigned>(digit);
    }
    bytes[i] = static_cast<std::uint8_t>(value);
  }
  return true;
}

// One command; false when it is not one.
bool Command(std::string_view line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == ' ')) line.remove_suffix(1);
  const std::size_t space = line.find(' ');
  const std::string_view verb = line.substr(0, space);
  const std::string_view argument = space == std::string_view::npos ? "" : line.substr(space + 1);
  std::lock_guard lock(pendant.mutex);
  if (verb == "plug" && argument.empty()) {
    if (pendant.plugged) return true;
    pendant.plugged = true;
    ++pendant.generation;
    pendant.inputs.clear();
    return true;
  }
  if (verb == "unplug" && argument.empty()) {
    pendant.plugged = false;
    pendant.inputs.clear();
    pendant.Wake();
    return true;
  }
  if (verb == "push") {
    std::uint8_t report[kInputData + 1];
    if (!ParseHex(argument, report, sizeof report) || report[0] != 0) return false;
    ++pendant.pushes;
    std::memcpy(pendant.state.data(), report + 1, kInputData);
    // A streaming pendant sends its state on its period; otherwise each change once.
    if (pendant.periodMs == 0 && pendant.plugged)
      pendant.Queue(pendant.state.data(), pendant.state.size());
    return true;
  }
  if (verb == "raw") {
    std::uint8_t report[kMaxRaw];
    const std::size_t size = argument.size() / 2;
    if (size == 0 || size > kMaxRaw || !ParseHex(argument, report, size)) return false;
    if (pendant.plugged) pendant.Queue(report, size);
    return true;
  }
  if (verb == "deny") {
    if (argument != "on" && argument != "off") return false;
    pendant.deny = argument == "on";
    return true;
  }
  if (verb == "period") {
    unsigned long ms = 0;
    if (argument.empty() || std::sscanf(std::string(argument).c_str(), "%lu", &ms) != 1 ||
        ms > kMaxPeriodMs)
      return false;
    pendant.periodMs = static_cast<std::uint32_t>(ms);
    pendant.changed.notify_all();
    return true;
  }
  return false;
}

int Write(const char* path, const char* data, std::size_t size, off_t, fuse_file_info* fi) {
  const std::string_view name(path);
  if (name == "/control")
    return Command(std::string_view(data, size)) ? static_cast<int>(size) : -EINVAL;
  if (name != "/dev/hidraw0") return -EACCES;
  std::lock_guard lock(pendant.mutex);
  if (!pendant.plugged || fi->fh != pendant.generation) return -ENODEV;
  // The first byte is the report id; a device without numbered reports has only id 0.
  if (size == 0 || size > 1 + kOutputData || data[0] != 0) return -EINVAL;
  pendant.outputs.emplace_back(data, data + size);
  ++pendant.writes;
  return static_cast<int>(size);
}

int Truncate(const char*, off_t, fuse_file_info*) {
  return 0;  // a shell's `>` truncates the control file first
}

int Poll(const char* path, fuse_file_info* fi, fuse_pollhandle* handle, unsigned* revents) {
  if (std::string_view(path) != "/dev/hidraw0") {
    if (handle != nullptr) fuse_pollhandle_destroy(handle);
    *revents = POLLIN | POLLOUT;
    return 0;
  }
  std::lock_guard lock(pendant.mutex);
  *revents = POLLOUT | POLLWRNORM;
  if (!pendant.plugged || fi->fh != pendant.generation) {
    *revents |= POLLERR | POLLHUP;
  } else if (!pendant.inputs.empty()) {
    *revents |= POLLIN | POLLRDNORM;
  }
  if (handle != nullptr) pendant.pollers.push_back(handle);
  return 0;
}

void Stream() {
  std::unique_lock lock(pendant.mutex);
  auto next = std::chrono::steady_clock::now();
  while (!pendant.stopping) {
    if (pendant.periodMs == 0) {
      pendant.changed.wait_for(lock, std::chrono::milliseconds(100));
      next = std::chrono::steady_clock::now();
      continue;
    }
    next += std::chrono::milliseconds(pendant.periodMs);
    pendant.changed.wait_until(lock, next);
    if (pendant.periodMs != 0 && pendant.plugged && std::chrono::steady_clock::now() >= next)
      pendant.Queue(pendant.state.data(), pendant.state.size());
  }
}

void* Init(fuse_conn_info*, fuse_config* config) {
  // Nothing cached: plug and unplug must show at once.
  config->use_ino = 1;
  config->entry_timeout = 0;
  config->attr_timeout = 0;
  config->negative_timeout = 0;
  config->direct_io = 1;
  streamer = std::thread(Stream);
  return nullptr;
}

void Destroy(void*) {
  {
    std::lock_guard lock(pendant.mutex);
    pendant.stopping = true;
    pendant.plugged = false;
    pendant.Wake();
  }
  if (streamer.joinable()) streamer.join();
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> mount;
  for (int i = 1; i < argc; ++i) {
    if (std::string_view(argv[i]) == "--unplugged") {
      pendant.plugged = false;
    } else {
      mount.emplace_back(argv[i]);
    }
  }
  if (mount.size() != 1) {
    std::fprintf(stderr, "usage: vpendant-fuse [--unplugged] MOUNT\n");
    return 2;
  }
  fuse_operations operations{};
  operations.getattr = GetAttr;
  operations.readdir = ReadDir;
  operations.open = Open;
  operations.release = Release;
  operations.read = Read;
  operations.write = Write;
  operations.truncate = Truncate;
  operations.poll = Poll;
  operations.init = Init;
  operations.destroy = Destroy;
  // Other users (LinuxCNC refuses to run as root) open the node too: allow_other, which a mount
  // by root may always use and anyone else only with user_allow_other in /etc/fuse.conf.
  std::vector<std::string> arguments = {argv[0], "-f", "-o", "fsname=vpendant", mount[0]};
  if (geteuid() == 0) arguments.insert(arguments.end(), {"-o", "allow_other"});
  std::vector<char*> raw;
  for (std::string& argument : arguments) raw.push_back(argument.data());
  return fuse_main(static_cast<int>(raw.size()), raw.data(), &operations, nullptr);
}
