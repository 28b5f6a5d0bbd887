// Every fault the host program can inject, at every step of a sample run,
// on each transport that has it: the devices are opened, loaded, started,
// polled through the run, stopped and destroyed, the fault arriving just
// before one of those steps (mid-run: half-way through the run). Each cell
// records the first answer of the contract that was not a success, and
// whether a fresh set of devices then opens and completes a run. Nothing
// may crash, hang (every wait is bounded) or leak (the sanitizer builds
// check at exit); the table is docs/fault-matrix.md, renewed with
// QUARN_UPDATE_GOLDEN=1.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "front/quarn_control_autosampler.h"
#include "front/quarn_control_detectors.h"
#include "front/quarn_control_pump.h"
#include "host/harness/faults.h"
#include "host/running/device_set.h"
#include "host/text/display_text.h"
#include "platform/clock/clock.h"
#include "tests/support/golden.h"
#include "tests/transport/transport_world.h"

namespace {

using testing_support::Transport;

constexpr double kRunMinutes = 2.0;
constexpr const char* kSteps[] = {"open", "load", "start", "mid-run", "stop", "close"};

using Devices = host::DeviceSet;

class FaultMatrixTest : public testing_support::TransportWorld {
 protected:
  // A world of its own for each cell.
  void Fresh(Transport transport) {
    TearDown();
    SetUp();
    UseTransport(transport);
    WriteMethod("Matrix", "fault-matrix.quarn900.toml");
  }

  // What went wrong first in one sample run with `fault` arriving before
  // step `at` (kSteps; -1: none), or "" when the run completed.
  static std::string SampleRun(const host::Fault* fault, int at, Transport transport) {
    auto inject = [&](int step) {
      if (fault && step == at) host::InjectFault(*fault, transport == Transport::kServer ? host::Transport::kServer
                                                                                          : host::Transport::kDirect);
    };
    std::string step = kSteps[0];
    auto reach = [&](int i) {
      step = kSteps[i];
      inject(i);
    };
    try {
      auto d = std::make_unique<Devices>();
      inject(0);
      bool stopped = false;
      const auto never = [] { return false; };
      if (!d->Open(never, stopped).empty()) return "open: 0";
      reach(1);
      if (!d->Load("Matrix", never, stopped).empty()) return "load: 0";
      reach(2);
      if (!d->StartSample("Matrix", 1, 5.0)) return "start: 0";
      step = "run";
      std::string ending = RunToTheEnd(*d, [&] { inject(3); });
      if (!ending.empty()) return ending;
      reach(4);
      if (!d->pump.StopMethod() || !d->sampler.StopMethod() || !d->uv.StopMethod()) return "stop: 0";
      reach(5);
      d.reset();
    } catch (const CCommunicationsException& e) {
      return step + ": \"" + host::OneLineText(e.GetErrorMessage().str()) + "\"";
    }
    return "";
  }

  // Polls once a second until the run is over; `midRun` runs half-way.
  template <class MidRun>
  static std::string RunToTheEnd(Devices& d, MidRun midRun) {
    platform::Clock& clock = platform::Clock::Get();
    const std::int64_t startMs = clock.NowMs();
    bool started = false, midRunDone = false, injected = false;
    float runTime = 0.0f;
    std::string error;
    for (int poll = 0; poll < 60 * 10; ++poll) {
      clock.SleepMs(1000);
      const double minutes = static_cast<double>(clock.NowMs() - startMs) / 60000.0;
      if (!midRunDone && minutes >= kRunMinutes / 2) {
        midRunDone = true;
        midRun();
      }
      CInletSystemStatus pump, merged;
      int running = 0;
      d.Poll(pump, merged, running);
      injected = injected || merged.GetInjecting() == 1;
      if (merged.GetError() == 1 && error.empty()) error = host::OneLineText(merged.GetErrorInfo().str());
      if (merged.GetRunning()) runTime = std::max(runTime, merged.GetTime());
      started = started || running;
      if (started && !running) break;
    }
    if (!started) return "run: did not start";
    char text[128];
    if (runTime < kRunMinutes - 0.05) {
      std::snprintf(text, sizeof text, "run: ended at %.1f of %.1f min", runTime, kRunMinutes);
      return text + (error.empty() ? "" : ", error \"" + error + "\"");
    }
    if (!error.empty()) return "run: error \"" + error + "\"";
    return injected ? "" : "run: no injection";
  }
};

TEST_F(FaultMatrixTest, EveryFaultAtEveryStepOnBothTransports) {
  // The page's opening prose is the docs' own; the tables come from here.
  std::ifstream page(std::string(QUARN_SOURCE_DIR) + "/docs/fault-matrix.md");
  std::string table((std::istreambuf_iterator<char>(page)), std::istreambuf_iterator<char>());
  table.erase(std::min(table.size(), table.find("\n## ")));
  for (Transport transport : {Transport::kDirect, Transport::kServer}) {
    const host::Transport hostTransport =
        transport == Transport::kServer ? host::Transport::kServer : host::Transport::kDirect;
    table += std::string("\n## ") + (transport == Transport::kServer ? "Server" : "Direct") + " transport\n\n| fault |";
    for (const char* step : kSteps) table += std::string(" ") + step + " |";
    table += "\n|---|---|---|---|---|---|---|\n";
    for (const host::FaultKind& kind : host::FaultCatalogue()) {
      if (!host::HasTransport(kind, hostTransport)) continue;
      const host::FaultRead read = host::ReadFault(kind.example);
      ASSERT_TRUE(read.fault) << read.error;
      table += std::string("| `") + kind.example + "` |";
      for (int at = 0; at < 6; ++at) {
        Fresh(transport);
        const std::string first = SampleRun(&*read.fault, at, transport);
        const std::string again = SampleRun(nullptr, -1, transport);
        table += " " + (first.empty() ? std::string("completed") : first) + "; " +
                 (again.empty() ? std::string("recovers") : "next sample: " + again) + " |";
      }
      table += "\n";
    }
  }
  testing_support::ExpectMatchesGolden(table, "../docs/fault-matrix.md");
}

}  // namespace
