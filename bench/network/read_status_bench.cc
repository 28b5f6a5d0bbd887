// The host thread's cost of the direct pump's status poll (ReadStatus),
// which the contract makes sleep one second while the replies arrive.
//
// In virtual time that sleep costs no second, but it still carries the
// simulated network's work: producing the replies and waiting until the
// receiving thread has dispatched them. So the poll is measured three ways:
//  - BM_ReadStatusLive: a whole poll against the live simulated network,
//    replies and dispatch included (what one poll of a virtual-time run
//    costs in wall time);
//  - BM_ReadStatusWithoutTheSleep: the poll with nothing for the sleep to
//    do: the session is marked open on a handle no simulated node serves,
//    so the five status requests go to the driver and come to nothing, the
//    snapshot holds a running pump's values, and the clock has no
//    simulator to advance;
//  - BM_SleepAlone and BM_StatusRequestsAlone: the two parts of the latter
//    that are not the poll's own work, to subtract from it.
//
// Run: build/release/bench/network/read_status_bench
//        --benchmark_repetitions=10 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include "contract/inlet_system_status.h"
#include "network/download_state.h"
#include "network/quarn_pump.h"
#include "network/reply_decoder.h"
#include "network/vexlink_session.h"
#include "network/wire_trace.h"
#include "platform/clock/clock.h"
#include "platform/vexlink/reply_formats.h"
#include "platform/vexlink/vexlink.h"
#include "platform/win/windows.h"
#include "sim/simulated_network.h"

namespace {

using platform::Clock;

// The driver's call log grows with every request; it is emptied (outside
// the timing) this often.
constexpr std::int64_t kLogResetEvery = 8192;

// Back to load state: virtual time at 0, a fresh network, the direct
// path's process-wide state reset. With `withNetwork` false the network
// is taken off the clock, so a sleep has nothing to advance.
void FreshWorld(bool withNetwork) {
  SetWireTrace(nullptr);
  Clock::Get().ResetForTesting();
  sim::SimulatedNetwork& net = sim::SimulatedNetwork::Get();
  net.ResetForTesting();
  if (!withNetwork) Clock::Get().RemoveDriver(&net);
  g_vexlinkSession.ResetForTesting();
  g_unitStatusSnapshot.ResetForTesting();
  g_downloadRecords.ResetForTesting();
  g_directRunSettings.ResetForTesting();
  g_directPumpState.ResetForTesting();
  g_directRunFlags.ResetForTesting();
}

// A pump in a run at 1 ml/min, the oven in use and short of its target,
// as the receiving thread would have left the snapshot.
void RunningSnapshot() {
  UnitStatusSnapshot& s = g_unitStatusSnapshot;
  s.m_dwNodeState.Store(3);
  s.m_fElapsedMinutes.Store(12.5f);
  s.m_fPercentA.Store(55.0f);
  s.m_fPercentB.Store(45.0f);
  s.m_fPumpFlow.Store(1.0f);
  s.m_fPumpPressure.Store(151.0f);
  s.m_dwSamplerStatus.Store(0x00010124);
  s.m_nOvenTemperature.Store(36);
  s.m_nLamp.Store(1);
  g_directPumpState.m_nOvenInUse = 1;
  g_directPumpState.m_fOvenTarget = 40.0f;
}

template <class Body>
void WithLogResets(benchmark::State& state, Body body) {
  std::int64_t n = 0;
  for (auto _ : state) {
    body();
    if (++n % kLogResetEvery == 0) {
      state.PauseTiming();
      sim::SimulatedNetwork::Get().ResetForTesting();
      Clock::Get().RemoveDriver(&sim::SimulatedNetwork::Get());
      state.ResumeTiming();
    }
  }
}

void BM_ReadStatusLive(benchmark::State& state) {
  FreshWorld(true);
  g_vexlinkSession.m_nSamplerPresent.Store(1);
  {
    CQuarnPump pump;
    pump.InitialiseComms();
    pump.SwitchPump(On);
    CInletSystemStatus status;
    for (auto _ : state) {
      pump.ReadStatus(status);
      benchmark::DoNotOptimize(status);
    }
    state.counters["flow"] = status.GetFlow();
  }
  FreshWorld(false);
}
BENCHMARK(BM_ReadStatusLive)->UseRealTime();

void BM_ReadStatusWithoutTheSleep(benchmark::State& state) {
  FreshWorld(false);
  g_vexlinkSession.m_hNode.Store(7);
  g_vexlinkSession.m_nNotOpen.Store(0);
  RunningSnapshot();
  CQuarnPump pump;
  CInletSystemStatus status;
  WithLogResets(state, [&] {
    pump.ReadStatus(status);
    benchmark::DoNotOptimize(status);
  });
  state.counters["not_ready"] = status.GetNotReady();
  g_vexlinkSession.m_hNode.Store(0);
}
BENCHMARK(BM_ReadStatusWithoutTheSleep);

void BM_SleepAlone(benchmark::State& state) {
  FreshWorld(false);
  for (auto _ : state) Sleep(1000);
}
BENCHMARK(BM_SleepAlone);

void BM_StatusRequestsAlone(benchmark::State& state) {
  FreshWorld(false);
  WithLogResets(state, [] {
    for (WORD unit : {kUnitPump1, kUnitAutosampler, kUnitUV, kUnitOven, kUnitNode}) LC_UnitStatus(7, unit);
  });
}
BENCHMARK(BM_StatusRequestsAlone);

}  // namespace

BENCHMARK_MAIN();
