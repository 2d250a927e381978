// A C2SP tlog-proof verified under a witness policy beside the floor of the
// primitives it must run: the log's Ed25519 signature, the two witnesses'
// cosignature/v1 signatures and the audit path's node hashes (same run,
// interleaved CPU time, "ratio" counter).
//
//   build/bench/quenfold_bench --benchmark_filter='TlogProof'
#include <benchmark/benchmark.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "crypto/hash.h"
#include "crypto/sign.h"
#include "quenfold/tlog_proof.h"
#include "support/merkle_tree.h"
#include "support/notes.h"
#include "support/witness.h"
#include "measure.h"

namespace {

using quenfold::ByteView;
using quenfold::test::Bytes;

constexpr std::string_view kOrigin = "log.example.org/bench/v1";

// A log of 2^20 leaves, its checkpoint signed by the log and cosigned by
// two witnesses, the tlog proof of one leaf, and the policy "the log and
// both witnesses".
struct Fixture {
  static constexpr std::uint64_t kSize = 1u << 20, kIndex = 654'321;
  static constexpr std::uint64_t kTime1 = 1767225600, kTime2 = 1767225601;
  quenfold::test::NoteSigner log = quenfold::test::NoteSigner::ed25519(std::string(kOrigin), 11);
  quenfold::test::Cosigner w1 = quenfold::test::Cosigner::generate("witness.example/w1", 12);
  quenfold::test::Cosigner w2 = quenfold::test::Cosigner::generate("witness.example/w2", 13);
  quenfold::test::Hash leaf{};
  std::string body, text;
  std::size_t path_length = 0;
  std::optional<quenfold::CheckpointVerifier> verifier;

  Fixture() {
    quenfold::test::MerkleTree tree;
    for (std::uint64_t i = 0; i < kSize; ++i) {
      quenfold::test::Hash h{};
      for (int k = 0; k < 8; ++k) h[static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(i >> (8 * k));
      tree.append_hash(h);
    }
    const auto root = tree.root(kSize);
    leaf = tree.leaf_hash(kIndex);
    body = quenfold::test::checkpoint_body(kOrigin, kSize, Bytes(root.begin(), root.end()));
    const std::string note = quenfold::test::signed_note(body, {&log}) + w1.cosignature_line(body, kTime1) +
                             w2.cosignature_line(body, kTime2);
    const auto path = tree.inclusion_proof(kIndex, kSize);
    path_length = path.size();
    text = quenfold::test::tlog_proof_text(Bytes{'b', 'e', 'n', 'c', 'h'}, kIndex, path, note);
    auto policy =
        quenfold::WitnessPolicy::threshold(quenfold::test::verifier_list({log.verifier_key()}),
                                           quenfold::test::verifier_list({w1.verifier_key(), w2.verifier_key()}), 2);
    if (!policy) throw std::runtime_error(policy.error().message());
    verifier.emplace(std::string(kOrigin), *policy);
  }
};

const Fixture& fixture() {
  static const Fixture f;
  return f;
}

// Three Ed25519 verifications over the messages the note's lines sign, keys
// and signatures decoded once, then the node hashes of the audit path.
struct Floor {
  struct Check {
    Bytes key, message, signature;
  };
  std::vector<Check> checks;
  std::size_t hashes = 0;

  explicit Floor(const Fixture& f) : hashes(f.path_length) {
    const Bytes body(f.body.begin(), f.body.end());
    checks.push_back({Bytes(f.log.key_data().begin() + 1, f.log.key_data().end()), body, f.log.sign(f.body)});
    for (const auto* w : {&f.w1, &f.w2}) {
      const std::uint64_t t = w == &f.w1 ? Fixture::kTime1 : Fixture::kTime2;
      const std::string m = "cosignature/v1\ntime " + std::to_string(t) + "\n" + f.body;
      const Bytes cosig = w->cosign(f.body, t);
      checks.push_back({Bytes(w->key_data().begin() + 1, w->key_data().end()), Bytes(m.begin(), m.end()),
                        Bytes(cosig.begin() + 8, cosig.end())});
    }
  }
  bool run() const {
    for (const auto& c : checks)
      if (!quenfold::crypto::verify_ed25519_strict(c.key, c.message, c.signature)) return false;
    std::uint8_t buf[65] = {1};
    for (std::size_t i = 0; i < hashes; ++i) {
      const auto h = quenfold::crypto::sha256({ByteView(buf, 65)});
      buf[1 + (i % 32)] = h[0];
    }
    return true;
  }
};

void BM_TlogProof_Verify_VsPrimitives(benchmark::State& state) {
  const auto& f = fixture();
  static const Floor floor(f);
  quenfold::bench::ratio(
      state, [&] { return quenfold::verify_tlog_proof(f.text, *f.verifier, f.leaf).has_value(); },
      [&] { return floor.run(); });
}
BENCHMARK(BM_TlogProof_Verify_VsPrimitives)->MinTime(1.0);

}  // namespace
