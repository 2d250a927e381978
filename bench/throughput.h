// Throughput with 1 and 2 threads: every thread runs the same operation on
// shared, read-only fixtures, as concurrent callers of the library do. Real
// time; items/s is summed over the threads, so perfect scaling doubles it.
#pragma once

#include <benchmark/benchmark.h>

namespace quenfold::bench {

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
