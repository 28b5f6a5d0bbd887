// Every fault the host program can inject, at every step of a sample run,
// on each transport that has it: the devices are opened, loaded, started,
// polled through the run, stopped and destroyed, the fault arriving just
// before one of those steps (mid-run: half-way through the run). Each cell
// records the first answer of the contract that was not a success, and
// whether a fresh set of devices then opens and completes a run. Nothing
// may crash, hang (every wait is bounded) or leak (the sanitizer builds
// check at exit); the table is docs/fault-matrix.md, a test per transport
// and step asserting its column's cells, renewed with QUARN_UPDATE_GOLDEN=1.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>

#include "front/quarn_control_autosampler.h"
#include "front/quarn_control_detectors.h"
#include "front/quarn_control_pump.h"
#include "host/harness/faults.h"
#include "host/running/device_set.h"
#include "host/text/display_text.h"
#include "platform/clock/clock.h"
#include "tests/transport/transport_world.h"

namespace {

using testing_support::Transport;

constexpr double kRunMinutes = 2.0;
constexpr const char* kSteps[] = {"open", "load", "start", "mid-run", "stop", "close"};

using Devices = host::DeviceSet;

host::Transport HostTransport(Transport t) {
  return t == Transport::kServer ? host::Transport::kServer : host::Transport::kDirect;
}

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
      if (fault && step == at) host::InjectFault(*fault, HostTransport(transport));
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

// The page's cells by transport, fault and step: the answer, then whether
// the next sample recovers.
using Cells = std::map<std::tuple<std::string, std::string, int>, std::pair<std::string, std::string>>;
const char* Title(Transport transport) { return transport == Transport::kServer ? "Server" : "Direct"; }
std::string PagePath() { return std::string(QUARN_SOURCE_DIR) + "/docs/fault-matrix.md"; }

std::string ReadPage() {
  std::ifstream page(PagePath(), std::ios::binary);
  return {std::istreambuf_iterator<char>(page), std::istreambuf_iterator<char>()};
}

Cells ReadCells(const std::string& page) {
  Cells cells;
  std::istringstream lines(page);
  std::string title;
  for (std::string line; std::getline(lines, line);) {
    if (line.starts_with("## ")) title = line.substr(3, line.find(' ', 3) - 3);
    if (!line.starts_with("| `")) continue;
    const std::string fault = line.substr(3, line.find('`', 3) - 3);
    std::size_t at = line.find(" | ");
    for (int step = 0; step < 6 && at != std::string::npos; ++step) {
      const std::size_t end = line.find(" |", at + 3);
      if (end == std::string::npos) break;  // a row still being filled in
      const std::string cell = line.substr(at + 3, end - at - 3);
      cells[{title, fault, step}] = {cell.substr(0, cell.find("; ")), cell.substr(cell.find("; ") + 2)};
      at = end;
    }
  }
  return cells;
}

// The page as generated: its opening prose (the docs' own), then a table
// per transport, a row per fault in the catalogue's order.
std::string RenderPage(const std::string& page, const Cells& cells) {
  std::string text = page.substr(0, std::min(page.size(), page.find("\n## ")));
  for (Transport transport : {Transport::kDirect, Transport::kServer}) {
    text += std::string("\n## ") + Title(transport) + " transport\n\n| fault |";
    for (const char* step : kSteps) text += std::string(" ") + step + " |";
    text += "\n|---|---|---|---|---|---|---|\n";
    for (const host::FaultKind& kind : host::FaultCatalogue()) {
      if (!host::HasTransport(kind, HostTransport(transport))) continue;
      text += std::string("| `") + kind.example + "` |";
      for (int at = 0; at < 6; ++at) {
        const auto found = cells.find({Title(transport), kind.example, at});
        if (found != cells.end()) text += " " + found->second.first + "; " + found->second.second + " |";
      }
      text += "\n";
    }
  }
  return text;
}

// With QUARN_UPDATE_GOLDEN=1: writes this column's cells into the page,
// one test program at a time (ctest runs the columns in parallel).
void UpdatePage(const Cells& column) {
  const std::filesystem::path lock = PagePath() + ".lock";
  while (!std::filesystem::create_directory(lock)) std::this_thread::yield();
  const std::string page = ReadPage();
  Cells cells = ReadCells(page);
  for (const auto& [key, cell] : column) cells[key] = cell;
  std::ofstream(PagePath(), std::ios::binary) << RenderPage(page, cells);
  std::filesystem::remove(lock);
}

class FaultMatrixColumn : public FaultMatrixTest, public testing::WithParamInterface<std::tuple<Transport, int>> {};

// Every fault of the transport arriving before one step: each cell as the
// page says, and none arriving after the run changes how the run ended.
TEST_P(FaultMatrixColumn, EachFaultBeforeTheStepAnswersAsThePageSays) {
  const auto [transport, at] = GetParam();
  Cells column;
  for (const host::FaultKind& kind : host::FaultCatalogue()) {
    if (!host::HasTransport(kind, HostTransport(transport))) continue;
    const host::FaultRead read = host::ReadFault(kind.example);
    ASSERT_TRUE(read.fault) << read.error;
    Fresh(transport);
    const std::string first = SampleRun(&*read.fault, at, transport);
    const std::string again = SampleRun(nullptr, -1, transport);
    column[{Title(transport), kind.example, at}] = {first.empty() ? "completed" : first,
                                                    again.empty() ? "recovers" : "next sample: " + again};
    // A fault after the run may fail its own step (a server gone refuses
    // the stop), never the run.
    EXPECT_TRUE(at < 4 || first.empty() || first.starts_with(std::string(kSteps[at]) + ":"))
        << kind.example << ": the run's end changed by a fault after it";
  }
  if (std::getenv("QUARN_UPDATE_GOLDEN")) UpdatePage(column);
  const Cells page = ReadCells(ReadPage());
  for (const auto& [key, cell] : column) {
    const auto found = page.find(key);
    ASSERT_NE(found, page.end()) << std::get<1>(key) << ": no cell on the page";
    EXPECT_EQ(cell.first, found->second.first) << std::get<1>(key) << ": the answer";
    EXPECT_EQ(cell.second, found->second.second) << std::get<1>(key) << ": the next sample";
  }
}

INSTANTIATE_TEST_SUITE_P(Matrix, FaultMatrixColumn,
                         testing::Combine(testing::Values(Transport::kDirect, Transport::kServer), testing::Range(0, 6)),
                         [](const auto& p) {
                           std::string step = kSteps[std::get<1>(p.param)];
                           std::erase(step, '-');
                           return Title(std::get<0>(p.param)) + ("_" + step);
                         });

}  // namespace
