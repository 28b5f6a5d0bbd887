// The host-side cost of the server's events and of the elapsed-time poll:
// one Invoke on the event sink (arguments copied and converted, the record
// updated under its lock) for HplcMessage and for ErrorEvent, and one
// ElapsedAnalysisTime against the simulated server in virtual time.
// Every operator new is counted: allocs_per_event counts heap blocks other
// than BSTRs (which come from SysAllocString's own allocator).
//
// Run: build/release/bench/server/server_bench
//        --benchmark_repetitions=10 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <new>

#include "bench/counting_allocator.h"
#include "platform/clock/clock.h"
#include "platform/win/registry.h"
#include "server/com_setup.h"
#include "sim/simulated_server.h"
#include "tests/support/variants.h"

namespace {

using testing_support::I2;
using testing_support::I4;
using testing_support::Text;


void RunInvoke(benchmark::State& state, DISPID id, VARIANT* args, UINT count) {
  CEventSink sink(1);
  DISPPARAMS params{args, nullptr, count, 0};
  const std::uint64_t before = g_allocations.load();
  for (auto _ : state) {
    benchmark::DoNotOptimize(sink.Invoke(id, IID_NULL, 0x409, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr));
    benchmark::DoNotOptimize(sink.MethodRunning());
  }
  state.counters["allocs_per_event"] =
      benchmark::Counter(static_cast<double>(g_allocations.load() - before), benchmark::Counter::kAvgIterations);
  for (UINT i = 0; i < count; ++i) VariantClear(&args[i]);
}

void BM_InvokeHplcMessage(benchmark::State& state) {
  VARIANT args[5] = {Text(OLESTR("")), Text(OLESTR("Method running")), I4(1025), I2(0), I2(0)};
  RunInvoke(state, DISPID_HplcMessage, args, 5);
}
BENCHMARK(BM_InvokeHplcMessage);

void BM_InvokeErrorEvent(benchmark::State& state) {
  VARIANT args[4] = {Text(OLESTR("Pump over pressure")), I2(2), I2(1), I2(1)};
  RunInvoke(state, DISPID_ErrorEvent, args, 4);
}
BENCHMARK(BM_InvokeErrorEvent);

// The poll a status read makes while a run goes on: the network box's
// elapsed time and the sink's method-running state. The simulated server
// logs every call; the log is emptied outside the timed part.
void BM_ElapsedAnalysisTime(benchmark::State& state) {
  platform::Clock::Get().ResetForTesting();
  const auto registry = std::filesystem::temp_directory_path() / "quarn-server-bench.reg";
  platform::Registry::UseFileForTesting(registry);
  sim::SimulatedServer& server = sim::SimulatedServer::Get();
  server.ResetForTesting();
  {
    CComSetup unit(1, 1);
    if (!unit.InitialiseComms()) state.SkipWithError("no session");
    unit.SetAcquistionLength(30.0);
    unit.Run();
    platform::Clock::Get().SleepMs(60000);
    std::int64_t n = 0;
    for (auto _ : state) {
      benchmark::DoNotOptimize(unit.ElapsedAnalysisTime());
      if (++n % 4096 == 0) {
        state.PauseTiming();
        server.ClearCallsForTesting();
        state.ResumeTiming();
      }
    }
  }
  CCommon::ResetForTesting();
  std::filesystem::remove(registry);
}
BENCHMARK(BM_ElapsedAnalysisTime);

}  // namespace

BENCHMARK_MAIN();
