// RFC 6962 inclusion and consistency in a log of 2^20 leaves, beside their
// floor: the SHA-256 node hashes the proof requires, computed directly.
#include <benchmark/benchmark.h>
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/sha.h>

#include "quenfold/merkle.h"
#include "support/merkle_tree.h"

namespace {

using quenfold::ByteView;

struct BigTree {
  quenfold::test::MerkleTree tree;
  std::vector<quenfold::test::Hash> proof;
  std::vector<ByteView> views;
  quenfold::test::Hash root;
  static constexpr std::uint64_t kSize = 1u << 20;
  static constexpr std::uint64_t kIndex = 777'777;
  BigTree() {
    for (std::uint64_t i = 0; i < kSize; ++i) {
      quenfold::test::Hash h{};
      for (int b = 0; b < 8; ++b) h[static_cast<std::size_t>(b)] = static_cast<std::uint8_t>(i >> (8 * b));
      tree.append_hash(h);
    }
    proof = tree.inclusion_proof(kIndex, kSize);
    views.assign(proof.begin(), proof.end());
    root = tree.root();
  }
};

const BigTree& big() {
  static const BigTree t;
  return t;
}

void BM_VerifyInclusion_2e20(benchmark::State& state) {
  const auto& t = big();
  for (auto _ : state) {
    auto r = quenfold::verify_inclusion(BigTree::kIndex, BigTree::kSize, t.tree.leaf_hash(BigTree::kIndex), t.views, t.root);
    if (!r) state.SkipWithError("did not verify");
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_VerifyInclusion_2e20);

// The floor: 20 node hashes of 65 bytes through OpenSSL's cheapest SHA-256
// entry point, the low-level one with its state on the stack.
void BM_Floor_20NodeHashes(benchmark::State& state) {
  std::uint8_t buf[65] = {1};
  std::uint8_t out[32];
  for (auto _ : state) {
    for (int i = 0; i < 20; ++i) {
      SHA256_CTX ctx;
      SHA256_Init(&ctx);
      SHA256_Update(&ctx, buf, sizeof buf);
      SHA256_Final(out, &ctx);
      buf[1 + (i % 32)] = out[0];
    }
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(BM_Floor_20NodeHashes);

}  // namespace
