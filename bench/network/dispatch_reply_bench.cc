// DispatchReply as the receiving thread runs it, per reply kind, with the
// wire trace off. Every global allocation is counted: the receive loop
// must not allocate, so allocs_per_reply must read 0.
//
// Run: build/release/bench/network/network_bench
//        --benchmark_repetitions=10 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>

#include "bench/counting_allocator.h"
#include "network/reply_decoder.h"
#include "network/vexlink_session.h"
#include "network/wire_trace.h"
#include "platform/vexlink/vexlink.h"

namespace {

struct Reply {
  alignas(4) BYTE bytes[LC_REPLY_BUFFER_SIZE] = {};
  void Put32(std::size_t offset, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[offset + static_cast<std::size_t>(i)] = static_cast<BYTE>(value >> (8 * i));
  }
};

void RunDispatch(benchmark::State& state, int kind, WORD sender, const Reply& reply) {
  SetWireTrace(nullptr);
  const std::uint64_t before = g_allocations.load();
  for (auto _ : state) {
    DispatchReply(kind, reply.bytes, sender);
    benchmark::ClobberMemory();
  }
  const std::uint64_t after = g_allocations.load();
  state.counters["allocs_per_reply"] =
      benchmark::Counter(static_cast<double>(after - before), benchmark::Counter::kAvgIterations);
}

void BM_StatusNode(benchmark::State& state) {
  Reply r;
  r.Put32(16, 3);
  r.Put32(24, 123456);
  r.Put32(60, 0x0FA01770);  // comp 6000 / 4000
  RunDispatch(state, 115, 0x0000, r);
}
BENCHMARK(BM_StatusNode);

void BM_StatusPump(benchmark::State& state) {
  Reply r;
  r.Put32(20, (1500u << 16) | 196u);
  RunDispatch(state, 115, 0x0101, r);
}
BENCHMARK(BM_StatusPump);

void BM_StatusUV(benchmark::State& state) {
  Reply r;
  r.Put32(16, 0x4000);
  RunDispatch(state, 115, 0x0401, r);
}
BENCHMARK(BM_StatusUV);

void BM_EventTestUnitReady(benchmark::State& state) {
  Reply r;
  r.Put32(16, 0x0501040A);
  RunDispatch(state, 113, 0x0501, r);
}
BENCHMARK(BM_EventTestUnitReady);

void BM_EventWarning(benchmark::State& state) {
  Reply r;
  r.Put32(16, 0xC4010033);
  RunDispatch(state, 113, 0x0401, r);
}
BENCHMARK(BM_EventWarning);

void BM_OtherKind(benchmark::State& state) {
  Reply r;
  RunDispatch(state, 139, 0x0101, r);
}
BENCHMARK(BM_OtherKind);

}  // namespace

BENCHMARK_MAIN();
