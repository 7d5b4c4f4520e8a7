// One complete poll in the simulation build: read, the whole input chain, the output report and
// its write, with the wheel turning in step mode and a host whose callbacks do no work.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "host_windows/host_blocks.h"
#include "host_windows/module.h"
#include "input/input_report.h"
#include "link/pendant_link.h"
#include "platform/sim/virtual_bus.h"
#include "support/fake_platform.h"
#include "support/idle_host.h"
#include "support/recording_host.h"

namespace {

void BM_PollStepModeWheelTurning(benchmark::State& state) {
  VirtualBusReset();
  VirtualBusAddDevice(kPendantVendorId, kPendantProductId);
  FakePlatform platform;
  RecordingHost blocks;  // only for its zeroed data blocks
  Module module{platform};
  blocks.Install(module.host);
  module.host.callbacks = idle_host::Callbacks();
  module.settings.StepJogRate = 100;
  module.wheelMode = WheelMode::StepJog;
  hostblock::Write(module.host.HostMotion, hostblock::kJogIncrement, 0.001);
  module.pendantLink = MakePendantLink(module, CreateVirtualBus());
  if (!module.pendantLink->FindPendant()) {
    state.SkipWithError("pendant not found on the virtual bus");
    return;
  }

  std::uint8_t report[8] = {};
  std::uint8_t wheel = 0;
  for (auto _ : state) {
    report[1] = ++wheel;
    VirtualBusQueueInputReport(report);
    VirtualBusTimerTick();
    if ((wheel & 3) == 0) module.ticks.Update();  // lets the step bursts end and restart
  }
  benchmark::DoNotOptimize(VirtualBusOutputReportCount());
  module.pendantLink.reset();
  VirtualBusReset();
}
BENCHMARK(BM_PollStepModeWheelTurning);

}  // namespace

BENCHMARK_MAIN();
