// The wall time of a whole sample run in virtual time, on each transport:
// the host's pump, autosampler and UV fronts open, load a 30-minute binary
// gradient, start the sample and poll once a second of clock time until the
// method ends, then stop and close, as the host does. The goal: a 30-minute
// run in at most half a second of wall time, in a debug build.
//
// Run: build/release/bench/run/sample_run_bench --benchmark_repetitions=5
// The debug figure, built beside the debug tests:
//   cmake --preset debug -B build/debug-bench -DQUARN_BUILD_BENCH=ON
//   cmake --build build/debug-bench --target sample_run_bench
//   build/debug-bench/bench/run/sample_run_bench
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "front/quarn_control_autosampler.h"
#include "front/quarn_control_detectors.h"
#include "front/quarn_control_pump.h"
#include "platform/clock/clock.h"
#include "platform/inlet/inlet.h"
#include "platform/tavix/tavix.h"
#include "platform/win/registry.h"
#include "sim/simulated_network.h"
#include "sim/simulated_server.h"

namespace {

// The world of every run of the process, made once: the simulators' time
// must never go back, so the clock is chosen only here.
struct World {
  World() : dir(std::filesystem::temp_directory_path() / "quarn-sample-run-bench") {
    std::filesystem::create_directories(dir / "methods");
    std::filesystem::copy_file(std::filesystem::path(QUARN_SOURCE_DIR) / "tests/transport/end-to-end.quarn900.toml",
                               dir / "methods" / "Bench.quarn900.toml",
                               std::filesystem::copy_options::overwrite_existing);
    setenv("QUARN_METHODS_DIR", (dir / "methods").c_str(), 1);
    platform::Registry::UseFileForTesting(dir / "registry.reg");
    platform::Clock::Get().UseVirtual();
    // The simulators' test logs would grow with every poll.
    sim::SimulatedNetwork::Get().SetKeepLogs(false);
    sim::SimulatedServer::Register();
    sim::SimulatedServer::Get().SetKeepLogs(false);
    // The server counts as registered: its registration program is not run.
    WriteRegistryFullPath(kTavixServerAppIdPath, "{00000000-0000-0000-0000-000000000000}", HKEY_LOCAL_MACHINE);
  }
  ~World() {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }
  std::filesystem::path dir;
};

// One sample run from the open to the close: the minutes the method ran,
// or a negative number when a step failed.
double SampleRun() {
  CQuarnControlAutoSampler sampler;
  CQuarnControlUVDetector uv(0, 1);
  CQuarnControlPump pump;
  if (!pump.InitialiseComms() || !sampler.InitialiseComms() || !uv.InitialiseComms()) return -1;
  pump.Initialise(), sampler.Initialise(), uv.Initialise();
  if (!pump.LoadMethod("Bench") || !sampler.LoadMethod("Bench") || !uv.LoadMethod("Bench")) return -1;
  if (!sampler.StartMethod("Bench", CString("1"), 5.0f)) return -1;
  platform::Clock& clock = platform::Clock::Get();
  const std::int64_t startMs = clock.NowMs();
  // Polls once a second of clock time, reads included, until the method
  // has run and ended (the server reports the start a moment late).
  bool started = false;
  for (std::int64_t nextPollMs = startMs; clock.NowMs() - startMs < 40 * 60000;) {
    if (nextPollMs > clock.NowMs()) clock.SleepMs(nextPollMs - clock.NowMs());
    nextPollMs = clock.NowMs() + 1000;
    CInletSystemStatus status;
    pump.ReadStatus(status), sampler.ReadStatus(status), uv.ReadStatus(status);
    const bool running = pump.MethodRunning() != 0;
    if (started && !running) break;
    started = started || running;
  }
  pump.StopMethod();
  return static_cast<double>(clock.NowMs() - startMs) / 60000.0;
}

void BM_SampleRun30Minutes(benchmark::State& state) {
  static World world;
  const bool viaServer = state.range(0) != 0;
  state.SetLabel(viaServer ? "server" : "direct");
  // The transport flag, as the host's settings hold it.
  WriteRegistryPath(CString(kQuarnInletKey) + "\\" + kTransportFlagName, viaServer ? 1 : 0, HKEY_LOCAL_MACHINE);
  double minutes = 0;
  for (auto _ : state) {
    minutes = SampleRun();
    if (minutes < 30.0 || minutes > 31.0) {
      state.SkipWithError("the sample run failed or did not run its 30 minutes");
      break;
    }
  }
  state.counters["clock_minutes"] = minutes;
}
BENCHMARK(BM_SampleRun30Minutes)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
