// Typed accessors of the host data-block fields, by byte offset. Each access copies with memcpy, so
// nothing depends on how a compiler lays out a struct; a block the host never set reads 0 and
// ignores writes, and an axis outside 0..5 never reaches past the six-entry arrays.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/axes.h"
#include "host_windows/host_bridge.h"

namespace hostblock {

// HostState
inline constexpr std::size_t kCommandQueueIn = 0x28000;
inline constexpr std::size_t kCommandQueueOut = 0x28004;
inline constexpr std::size_t kAxisJogBase = 0x28064;  // axisJog record of axis 0, `speed` field
inline constexpr std::size_t kAxisJogStride = 96;
inline constexpr std::size_t kAxisJogRecordSpeed = 0x00;
inline constexpr std::size_t kAxisJogRecordSpeedMax = 0x04;
inline constexpr std::size_t kAxisJogRecordAux = 0x08;
inline constexpr std::size_t kAxisJogRecordStopRequest = 0x0E;
inline constexpr std::size_t kAxisJogRecordActive = 0x10;
inline constexpr std::size_t kAxisJogRecordDirection = 0x14;
inline constexpr std::size_t kJogInhibit = 0x289DF;
inline constexpr std::size_t kHostStateSize = 0x289E0;

// HostConfig
inline constexpr std::size_t kIncrementalMode = 0x4A8;
inline constexpr std::size_t kXyRotationDegrees = 0x20A28;
inline constexpr std::size_t kHostConfigSize = 0x20A30;

// HostMotion
inline constexpr std::size_t kMotionQueueIn = 0xC355C;
inline constexpr std::size_t kMotionQueueOut = 0xC3560;
inline constexpr std::size_t kAxisVelocity = 0xC3680;     // + 8 * axis, double
inline constexpr std::size_t kAxisJogSpeedMax = 0xC3B48;  // + 4 * axis, int32
inline constexpr std::size_t kAxisJogAuxIn = 0xC3B60;     // + 4 * axis, int32
inline constexpr std::size_t kJogIncrement = 0xC3C50;
inline constexpr std::size_t kMotionBusy = 0xC3CB0;
inline constexpr std::size_t kStatusMessage = 0x11BB0C;  // host framework string object
inline constexpr std::size_t kHostMotionSize = 0x11BB20;

template <class T>
T Read(const void* block, std::size_t offset) {
  T value{};
  if (block != nullptr)
    std::memcpy(&value, static_cast<const std::uint8_t*>(block) + offset, sizeof value);
  return value;
}

template <class T>
void Write(void* block, std::size_t offset, T value) {
  if (block != nullptr)
    std::memcpy(static_cast<std::uint8_t*>(block) + offset, &value, sizeof value);
}

}  // namespace hostblock

namespace host_state {
inline std::int32_t commandQueueIn(const HostBridge& h) {
  return hostblock::Read<std::int32_t>(h.HostState, hostblock::kCommandQueueIn);
}
inline std::int32_t commandQueueOut(const HostBridge& h) {
  return hostblock::Read<std::int32_t>(h.HostState, hostblock::kCommandQueueOut);
}
inline bool CommandQueueEmpty(const HostBridge& h) {
  return commandQueueIn(h) == commandQueueOut(h);
}
inline std::uint8_t jogInhibit(const HostBridge& h) {
  return hostblock::Read<std::uint8_t>(h.HostState, hostblock::kJogInhibit);
}
inline std::size_t AxisJogField(int axis, std::size_t field) {
  return hostblock::kAxisJogBase + hostblock::kAxisJogStride * static_cast<std::size_t>(axis) +
         field;
}
template <class T>
void WriteAxisJog(const HostBridge& h, int axis, std::size_t field, T value) {
  if (ValidAxis(axis)) hostblock::Write<T>(h.HostState, AxisJogField(axis, field), value);
}
template <class T>
T ReadAxisJog(const HostBridge& h, int axis, std::size_t field) {
  return ValidAxis(axis) ? hostblock::Read<T>(h.HostState, AxisJogField(axis, field)) : T{};
}
inline void SetAxisJogSpeed(const HostBridge& h, int axis, std::int32_t v) {
  WriteAxisJog<std::int32_t>(h, axis, hostblock::kAxisJogRecordSpeed, v);
}
inline void SetAxisJogSpeedMax(const HostBridge& h, int axis, std::int32_t v) {
  WriteAxisJog<std::int32_t>(h, axis, hostblock::kAxisJogRecordSpeedMax, v);
}
inline void SetAxisJogAux(const HostBridge& h, int axis, std::int32_t v) {
  WriteAxisJog<std::int32_t>(h, axis, hostblock::kAxisJogRecordAux, v);
}
inline void SetAxisJogStopRequest(const HostBridge& h, int axis, std::uint8_t v) {
  WriteAxisJog<std::uint8_t>(h, axis, hostblock::kAxisJogRecordStopRequest, v);
}
inline void SetAxisJogActive(const HostBridge& h, int axis, std::uint8_t v) {
  WriteAxisJog<std::uint8_t>(h, axis, hostblock::kAxisJogRecordActive, v);
}
inline void SetAxisJogDirection(const HostBridge& h, int axis, std::int32_t v) {
  WriteAxisJog<std::int32_t>(h, axis, hostblock::kAxisJogRecordDirection, v);
}
}  // namespace host_state

namespace host_config {
inline std::int32_t incrementalMode(const HostBridge& h) {
  return hostblock::Read<std::int32_t>(h.HostConfig, hostblock::kIncrementalMode);
}
inline double xyRotationDegrees(const HostBridge& h) {
  return hostblock::Read<double>(h.HostConfig, hostblock::kXyRotationDegrees);
}
}  // namespace host_config

namespace host_motion {
inline std::int32_t motionQueueIn(const HostBridge& h) {
  return hostblock::Read<std::int32_t>(h.HostMotion, hostblock::kMotionQueueIn);
}
inline std::int32_t motionQueueOut(const HostBridge& h) {
  return hostblock::Read<std::int32_t>(h.HostMotion, hostblock::kMotionQueueOut);
}
inline std::int32_t motionBusy(const HostBridge& h) {
  return hostblock::Read<std::int32_t>(h.HostMotion, hostblock::kMotionBusy);
}
inline double jogIncrement(const HostBridge& h) {
  return hostblock::Read<double>(h.HostMotion, hostblock::kJogIncrement);
}
inline double axisVelocity(const HostBridge& h, int axis) {
  return ValidAxis(axis)
             ? hostblock::Read<double>(
                   h.HostMotion, hostblock::kAxisVelocity + 8 * static_cast<std::size_t>(axis))
             : 0.0;
}
inline std::int32_t axisJogSpeedMax(const HostBridge& h, int axis) {
  return ValidAxis(axis)
             ? hostblock::Read<std::int32_t>(
                   h.HostMotion, hostblock::kAxisJogSpeedMax + 4 * static_cast<std::size_t>(axis))
             : 0;
}
inline std::int32_t axisJogAux(const HostBridge& h, int axis) {
  return ValidAxis(axis)
             ? hostblock::Read<std::int32_t>(
                   h.HostMotion, hostblock::kAxisJogAuxIn + 4 * static_cast<std::size_t>(axis))
             : 0;
}
}  // namespace host_motion
