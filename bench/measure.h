// Measuring helpers shared by the benchmark files.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <ctime>

namespace quenfold::bench {

inline std::int64_t thread_cpu_ns() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return std::int64_t{ts.tv_sec} * 1'000'000'000 + ts.tv_nsec;
}

// Runs `op` and `floor` alternately and reports their CPU times on the
// calling thread and their ratio. Interleaving keeps the two under the same
// conditions: on a shared machine, runs taken minutes apart can differ by
// more than the overhead being measured.
template <class Op, class Floor>
void ratio(benchmark::State& state, const Op& op, const Floor& floor) {
  std::int64_t a = 0, b = 0;
  for (auto _ : state) {
    const auto t0 = thread_cpu_ns();
    if (!op()) state.SkipWithError("operation gave the wrong answer");
    const auto t1 = thread_cpu_ns();
    if (!floor()) state.SkipWithError("floor gave the wrong answer");
    const auto t2 = thread_cpu_ns();
    a += t1 - t0;
    b += t2 - t1;
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["op_us"] = static_cast<double>(a) / n / 1000.0;
  state.counters["floor_us"] = static_cast<double>(b) / n / 1000.0;
  state.counters["ratio"] = b > 0 ? static_cast<double>(a) / static_cast<double>(b) : 0.0;
}

// Throughput with 1 and 2 threads: every thread runs the same operation on
// shared, read-only fixtures, as concurrent callers of the library do. Real
// time; items/s is summed over the threads, so perfect scaling doubles it.

template <class Op>
void throughput(benchmark::State& state, const Op& op) {
  for (auto _ : state) {
    if (!op()) {
      state.SkipWithError("did not verify");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
}

inline void one_and_two_threads(benchmark::internal::Benchmark* b) {
  b->Threads(1)->Threads(2)->UseRealTime()->MinTime(2.0);
}

}  // namespace quenfold::bench
