#include "host_linuxcnc/linuxcnc_pendant.h"

#include <utility>

LinuxcncPendant::LinuxcncPendant(Platform& platformServices, const PendantSettings& pendantSettings,
                                 const LinuxcncConfig& linuxcncConfig,
                                 std::unique_ptr<DeviceBus> bus, PinExchange* exchange)
    : Core(platformServices, linuxcncHost),
      config(linuxcncConfig),
      bus_(bus.get()),
      exchange_(exchange) {
  watch = &linuxcncHost;
  settings = pendantSettings;
  linuxcncHost.Start();
  linuxcncHost.NewWindow();
  link = std::make_unique<PendantLink>(*this, latches, std::move(bus));
}

LinuxcncPendant::~LinuxcncPendant() = default;

void LinuxcncPendant::Before() {
  if (exchange_ != nullptr) exchange_->Read(pins);
  linuxcncHost.SetTime(bus_ != nullptr ? bus_->NowMicroseconds() : 0);
}

void LinuxcncPendant::After() {
  linuxcncHost.Publish();
  if (exchange_ != nullptr) exchange_->Write(pins);
}

void LinuxcncPendant::Start() {
  Before();
  link->FindPendant();
  // Nothing is acted on before the pendant's first report, as after a plug; that report only sets
  // the wheel's counter, which may stand anywhere.
  link->AwaitReport();
  // The link listens to the bus by itself; the component's wrapper goes in between.
  if (bus_ != nullptr) bus_->SetListener(this);
  After();
}

void LinuxcncPendant::Stop() {
  Before();
  link->WindDown();
  link->Shutdown();
  After();
}

void LinuxcncPendant::OnTick() {
  Before();
  ticks.Update();
  link->OnTick();
  pins.watchdog = !pins.watchdog;
  After();
}

void LinuxcncPendant::OnReportsWaiting() {
  Before();
  link->OnReportsWaiting();
  After();
}

void LinuxcncPendant::OnInterfaceArrived(std::string_view path) {
  Before();
  link->OnInterfaceArrived(path);
  After();
}

void LinuxcncPendant::OnInterfaceGone(std::string_view path) {
  Before();
  link->OnInterfaceGone(path);
  After();
}
