// Resource bounds: work is linear in the input for hostile sizes. Each
// benchmark reports bytes processed per second; a quadratic step would show
// as a throughput that collapses with size (compare the /N rows).
#include <benchmark/benchmark.h>

#include "ffi/buffer.h"
#include "quenfold_log.h"
#include "support/serialize.h"

namespace {

// A proof list of N 32-byte elements lifted through the real export: the
// wrong-size check answers, after the whole list was lifted once.
void BM_Bounds_InclusionProofList(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  std::vector<std::vector<std::uint8_t>> items(n, std::vector<std::uint8_t>(32, 1));
  const auto proof = quenfold::test::Ser().bytes_list(items).out;
  const auto hash = quenfold::test::Ser().bytes(std::vector<std::uint8_t>(32, 2)).out;
  for (auto _ : state) {
    RustCallStatus st{};
    uniffi_quenfold_log_fn_func_verify_inclusion(3, 8, quenfold::ffi::buffer_from(hash),
                                                 quenfold::ffi::buffer_from(proof),
                                                 quenfold::ffi::buffer_from(hash), &st);
    if (st.code != 1) state.SkipWithError("expected a rejection");
    quenfold::ffi::release(st.error_buf);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(proof.size()));
}
BENCHMARK(BM_Bounds_InclusionProofList)->Arg(1 << 10)->Arg(1 << 20);

// A count that claims far more elements than the buffer holds: rejected
// without reserving storage for the claimed count.
void BM_Bounds_LyingListCount(benchmark::State& state) {
  std::vector<std::uint8_t> proof = {0x7f, 0xff, 0xff, 0xff};
  proof.resize(4 + static_cast<std::size_t>(state.range(0)), 0);
  const auto hash = quenfold::test::Ser().bytes(std::vector<std::uint8_t>(32, 2)).out;
  for (auto _ : state) {
    RustCallStatus st{};
    uniffi_quenfold_log_fn_func_verify_inclusion(3, 8, quenfold::ffi::buffer_from(hash),
                                                 quenfold::ffi::buffer_from(proof),
                                                 quenfold::ffi::buffer_from(hash), &st);
    if (st.code != 2) state.SkipWithError("expected a lifting failure");
    quenfold::ffi::release(st.error_buf);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(proof.size()));
}
BENCHMARK(BM_Bounds_LyingListCount)->Arg(1 << 10)->Arg(1 << 20);

}  // namespace
