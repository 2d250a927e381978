// Witness policies at hostile sizes: parsing is linear in the text, so the
// time per witness of the /100000 rows matches the /10000 rows (a quadratic
// step, such as a linear search for each name or key, would make it ten
// times larger).
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "quenfold/witness.h"
#include "support/witness.h"

namespace {

// The verifier keys of n distinct witnesses, generated once per process.
const std::vector<std::string>& witness_keys(std::size_t n) {
  static const std::vector<std::string> keys = [] {
    std::vector<std::string> out;
    out.reserve(100000);
    for (std::uint64_t i = 0; i < 100000; ++i)
      out.push_back(quenfold::test::Cosigner::generate("w" + std::to_string(i) + ".example", 1000 + i).verifier_key());
    return out;
  }();
  if (n > keys.size()) throw std::out_of_range("too many witnesses");
  return keys;
}

std::string witness_lines(std::size_t n) {
  std::string text;
  const auto& keys = witness_keys(n);
  for (std::size_t i = 0; i < n; ++i) text += "witness w" + std::to_string(i) + " " + keys[i] + "\n";
  return text;
}

void run(benchmark::State& state, const std::string& text, std::size_t n) {
  for (auto _ : state) {
    auto policy = quenfold::WitnessPolicy::parse(text);
    if (!policy) state.SkipWithError(policy.error().message().c_str());
    benchmark::DoNotOptimize(policy);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(n));
}

// n witnesses and a quorum of one of them.
void BM_Bounds_PolicyManyWitnesses(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  run(state, witness_lines(n) + "quorum w0\n", n);
}
BENCHMARK(BM_Bounds_PolicyManyWitnesses)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

// n witnesses, all members of one group.
void BM_Bounds_PolicyOneLargeGroup(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  std::string text = witness_lines(n) + "group g any";
  for (std::size_t i = 0; i < n; ++i) text += " w" + std::to_string(i);
  run(state, text + "\nquorum g\n", n);
}
BENCHMARK(BM_Bounds_PolicyOneLargeGroup)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace
