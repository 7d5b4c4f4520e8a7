// The pendant's end of the named pipe that PendantPipe.dll opens in place of the HID pendant, for
// the Wine test hosts.
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// The pendant's end of the pipe. The plug-in opens the pendant's path three times (attributes,
// reads, writes); each open takes one listening instance, so enough instances are kept listening
// before every call that may open. Since the test cannot tell which instance is the reading one,
// each input report goes to every connected instance: the others never read.

class PipeServer {
 public:
  explicit PipeServer(std::string name) : name_(std::move(name)) {}
  ~PipeServer() {
    for (auto& instance : instances_) Drop(*instance);
  }

  const std::string& Name() const { return name_; }

  bool KeepListening(int count) {
    int listening = 0;
    for (auto& instance : instances_) listening += instance->state == State::Listening ? 1 : 0;
    for (; listening < count; ++listening) {
      if (!AddInstance()) return false;
    }
    return true;
  }

  // Notices new connections, finished reads (output reports) and closed clients.
  void Service() {
    for (auto& instance : instances_) {
      if (instance->state == State::Listening &&
          WaitForSingleObject(instance->connect.hEvent, 0) == WAIT_OBJECT_0) {
        DWORD ignored = 0;
        if (GetOverlappedResult(instance->pipe, &instance->connect, &ignored, FALSE)) {
          instance->state = State::Connected;
          StartRead(*instance);
        }
      }
      while (instance->state == State::Connected && instance->readPending &&
             WaitForSingleObject(instance->read.hEvent, 0) == WAIT_OBJECT_0) {
        DWORD count = 0;
        instance->readPending = false;
        if (GetOverlappedResult(instance->pipe, &instance->read, &count, FALSE)) {
          outputs_.emplace_back(instance->buffer, instance->buffer + count);
          StartRead(*instance);
        } else if (GetLastError() == ERROR_MORE_DATA) {
          outputs_.emplace_back(instance->buffer, instance->buffer + count);
          StartRead(*instance);
        } else {
          Drop(*instance);
        }
      }
    }
  }

  int Connected() const {
    int count = 0;
    for (auto& instance : instances_) count += instance->state == State::Connected ? 1 : 0;
    return count;
  }

  // Sends one input report to every connected client end.
  void SendReport(const std::array<std::uint8_t, 8>& report) {
    for (auto& instance : instances_) {
      if (instance->state != State::Connected) continue;
      OVERLAPPED write{};
      write.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
      DWORD count = 0;
      if (!WriteFile(instance->pipe, report.data(), report.size(), &count, &write) &&
          GetLastError() == ERROR_IO_PENDING) {
        if (WaitForSingleObject(write.hEvent, 200) != WAIT_OBJECT_0) {
          CancelIoEx(instance->pipe, &write);
        }
        GetOverlappedResult(instance->pipe, &write, &count, TRUE);
      }
      CloseHandle(write.hEvent);
    }
  }

  std::vector<std::vector<std::uint8_t>>& Outputs() { return outputs_; }

 private:
  enum class State { Listening, Connected, Closed };
  struct Instance {
    HANDLE pipe = INVALID_HANDLE_VALUE;
    OVERLAPPED connect{};
    OVERLAPPED read{};
    bool readPending = false;
    State state = State::Listening;
    std::uint8_t buffer[64] = {};
  };

  bool AddInstance() {
    auto instance = std::make_unique<Instance>();
    instance->pipe = CreateNamedPipeA(name_.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                      PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                                      PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0, nullptr);
    if (instance->pipe == INVALID_HANDLE_VALUE) return false;
    instance->connect.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    instance->read.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!ConnectNamedPipe(instance->pipe, &instance->connect)) {
      const DWORD error = GetLastError();
      if (error == ERROR_PIPE_CONNECTED) {
        SetEvent(instance->connect.hEvent);
      } else if (error != ERROR_IO_PENDING) {
        Drop(*instance);
        return false;
      }
    }
    instances_.push_back(std::move(instance));
    return true;
  }

  void StartRead(Instance& instance) {
    instance.read.Internal = 0;
    instance.read.InternalHigh = 0;
    ResetEvent(instance.read.hEvent);
    DWORD count = 0;
    if (ReadFile(instance.pipe, instance.buffer, sizeof(instance.buffer), &count, &instance.read) ||
        GetLastError() == ERROR_IO_PENDING || GetLastError() == ERROR_MORE_DATA) {
      instance.readPending = true;  // a finished read signals the event as well
    } else {
      Drop(instance);
    }
  }

  void Drop(Instance& instance) {
    if (instance.pipe != INVALID_HANDLE_VALUE) {
      if (instance.readPending || instance.state == State::Listening) {
        CancelIoEx(instance.pipe, nullptr);
        DWORD ignored = 0;
        GetOverlappedResult(instance.pipe,
                            instance.readPending ? &instance.read : &instance.connect, &ignored,
                            TRUE);
      }
      DisconnectNamedPipe(instance.pipe);
      CloseHandle(instance.pipe);
    }
    if (instance.connect.hEvent != nullptr) CloseHandle(instance.connect.hEvent);
    if (instance.read.hEvent != nullptr) CloseHandle(instance.read.hEvent);
    instance.connect.hEvent = nullptr;
    instance.read.hEvent = nullptr;
    instance.pipe = INVALID_HANDLE_VALUE;
    instance.readPending = false;
    instance.state = State::Closed;
  }

  std::string name_;
  std::vector<std::unique_ptr<Instance>> instances_;
  std::vector<std::vector<std::uint8_t>> outputs_;
};
