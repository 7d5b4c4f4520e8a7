// The pendant as a LinuxCNC component: the Core the behaviours work on, LinuxCNC's rendering of
// them into pin values, the latches, and the one link. The program's loop drives the bus; each
// tick, each wake for waiting reports and each device event is wrapped so that the pins are read
// just before it and written just after it.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "core/core.h"
#include "host_linuxcnc/linuxcnc_machine.h"
#include "link/device_bus.h"
#include "link/pendant_link.h"
#include "settings/pendant_settings.h"

// Moves the pin values between HAL and PendantPins.
class PinExchange {
 public:
  // The inputs into `pins`.
  virtual void Read(PendantPins& pins) = 0;
  // The outputs from `pins`.
  virtual void Write(const PendantPins& pins) = 0;

 protected:
  ~PinExchange() = default;
};

struct LinuxcncPendant final : Core, BusListener {
  // `settings` and `config` are taken as they are now; `exchange` may be null (tests).
  LinuxcncPendant(Platform& platformServices, const PendantSettings& pendantSettings,
                  const LinuxcncConfig& linuxcncConfig, std::unique_ptr<DeviceBus> bus,
                  PinExchange* exchange);
  ~LinuxcncPendant();
  LinuxcncPendant(const LinuxcncPendant&) = delete;
  LinuxcncPendant& operator=(const LinuxcncPendant&) = delete;

  // Looks for the pendant and starts the poll timer; the pins are written once either way.
  void Start();
  // Ends the link; the pins say: no pendant, E-stop, nothing jogging.
  void Stop();

  void OnTick() override;
  void OnReportsWaiting() override;
  void OnInterfaceArrived(std::string_view path) override;
  void OnInterfaceGone(std::string_view path) override;

  LinuxcncConfig config;
  PendantPins pins;
  LinuxcncMachine linuxcncHost{pins, config, settings};
  PendantLatches latches;
  std::unique_ptr<PendantLink> link;

 private:
  void Before();
  void After();

  DeviceBus* bus_;
  PinExchange* exchange_;
};
