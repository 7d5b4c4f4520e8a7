// One module, one window over a NullBus, and a recording host, fresh for each test.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>

#include "host_windows/module.h"
#include "input/input_report.h"
#include "jog/wheel.h"
#include "link/pendant_link.h"
#include "support/fake_platform.h"
#include "support/recording_host.h"

struct PendantFixture {
  FakePlatform platform;
  RecordingHost host;
  Module module{platform};
  PendantLink* win = nullptr;

  PendantFixture() {
    host.Install(module.host);
    module.pendantLink = MakePendantLink(module, std::make_unique<NullBus>());
    win = module.pendantLink.get();
    // As after a first report with the counter at 0, which only sets the counter.
    win->wheel.lastWheelCount = 0;
  }

  // The report the wheel and the single steps below read; Decode makes it the decoded one.
  std::array<std::uint8_t, 8> report{};

  // Decodes one input report as a poll would, without the link.
  void Decode(const std::array<std::uint8_t, 8>& next) {
    report = next;
    win->DecodeInput(report.data());
  }
  input_report::Words Words() const { return input_report::Words::Of(report.data()); }

  // The wheel step of the input chain alone, on `report`.
  void Wheel() {
    ProcessWheel(module, win->wheel, WheelTargets{win->continuousJog, win->presets},
                 win->wheelFunction, win->axis, Words());
  }

  void Update(int times = 1) {
    for (int i = 0; i < times; ++i) module.ticks.Update();
  }
};
