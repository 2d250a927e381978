// The exports the area benchmarks leave out, on realistic inputs, each beside
// the floor of the primitives it must run (same run, interleaved CPU time,
// "ratio" counter), and the throughput of a representative export through
// the C ABI with 1 and 2 threads.
//
//   build/bench/quenfold_bench --benchmark_filter='Exports'
#include <benchmark/benchmark.h>

#include <array>
#include <ctime>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/hash.h"
#include "crypto/sign.h"
#include "ffi/buffer.h"
#include "quenfold/checkpoint.h"
#include "quenfold/commitment.h"
#include "quenfold/key_history.h"
#include "quenfold/merkle.h"
#include "key_history/key_history.h"
#include "quenfold_log.h"
#include "support/merkle_tree.h"
#include "support/notes.h"
#include "support/serialize.h"
#include "measure.h"

namespace {

using quenfold::ByteView;
using quenfold::test::Bytes;
using quenfold::test::NoteSigner;

using quenfold::bench::ratio;

Bytes to_bytes(std::string_view s) { return {s.begin(), s.end()}; }

// A log of 2^20 leaves with a checkpoint signed by an ML-DSA-65 + Ed25519
// composite key, and the proofs of one leaf and of an older size.
struct Log {
  static constexpr std::uint64_t kSize = 1u << 20, kIndex = 654'321, kOlder = 1'000'003;
  quenfold::test::MerkleTree tree;
  NoteSigner signer = NoteSigner::composite("log.example.org/pq", quenfold::crypto::SignatureVersion::MlDsa65Ed25519, 5);
  std::string body, note, older_note;
  std::vector<std::string> keys;
  std::vector<std::string_view> key_views;
  std::vector<quenfold::test::Hash> inclusion, consistency;
  std::vector<ByteView> inclusion_views, consistency_views;
  // Computed once: a root of 2^20 leaves takes a million hashes, which would
  // otherwise run (untimed but loading the machine) at every batch.
  quenfold::test::Hash root, older_root;
  Log() {
    for (std::uint64_t i = 0; i < kSize; ++i) {
      quenfold::test::Hash h{};
      for (int k = 0; k < 8; ++k) h[static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(i >> (8 * k));
      tree.append_hash(h);
    }
    root = tree.root(kSize);
    older_root = tree.root(kOlder);
    body = quenfold::test::checkpoint_body("log.example.org/pq", kSize, Bytes(root.begin(), root.end()), {"entries: key-history"});
    note = quenfold::test::signed_note(body, {&signer});
    older_note = quenfold::test::signed_note(quenfold::test::checkpoint_body("log.example.org/pq", kOlder, Bytes(older_root.begin(), older_root.end())),
                                             {&signer});
    keys = {signer.verifier_key()};
    key_views = {keys[0]};
    inclusion = tree.inclusion_proof(kIndex, kSize);
    consistency = tree.consistency_proof(kOlder, kSize);
    inclusion_views.assign(inclusion.begin(), inclusion.end());
    consistency_views.assign(consistency.begin(), consistency.end());
  }
};

const Log& log_fixture() {
  static const Log l;
  return l;
}

// The primitive floor of one composite checkpoint signature: ML-DSA-65 and
// Ed25519 over the signed-note context message, keys decoded once.
struct SignatureFloor {
  Bytes message, pk, sig;
  explicit SignatureFloor(const Log& l) {
    const Bytes ctx = to_bytes(quenfold::test::kSignedNoteContextText);
    message = quenfold::crypto::context_message(ctx, to_bytes(l.body));
    pk = l.signer.token_signer()->public_key_token_bytes();
    sig = l.signer.token_signer()->sign_bytes(to_bytes(l.body), ctx);
  }
  bool run() const {
    // Token layout: tag || Ed25519 (32-byte key, 64-byte signature) ||
    // ML-DSA-65 (1952-byte key, 3309-byte signature).
    const ByteView k(pk), s(sig);
    return quenfold::crypto::verify_ed25519(k.subspan(1, 32), message, s.subspan(1, 64)) &&
           quenfold::crypto::verify_ml_dsa(quenfold::crypto::MlDsaParameterSet::MlDsa65, k.subspan(33), message,
                                           s.subspan(65));
  }
};

const SignatureFloor& signature_floor() {
  static const SignatureFloor f(log_fixture());
  return f;
}

bool node_hash_floor(std::size_t n) {
  std::uint8_t buf[65] = {1};
  for (std::size_t i = 0; i < n; ++i) {
    const auto h = quenfold::crypto::sha256({ByteView(buf, 65)});
    buf[1 + (i % 32)] = h[0];
  }
  return true;
}

void BM_Exports_CheckpointParse(benchmark::State& state) {
  const auto& l = log_fixture();
  for (auto _ : state) {
    auto r = quenfold::checkpoint_parse(l.body);
    if (!r) state.SkipWithError("did not parse");
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_Exports_CheckpointParse);

void BM_Exports_CheckpointVerify_VsPrimitives(benchmark::State& state) {
  const auto& l = log_fixture();
  const auto& f = signature_floor();
  ratio(state, [&] { return quenfold::checkpoint_verify(l.note, l.key_views).has_value(); }, [&] { return f.run(); });
}
BENCHMARK(BM_Exports_CheckpointVerify_VsPrimitives)->MinTime(1.0);

void BM_Exports_CheckpointInclusion_VsPrimitives(benchmark::State& state) {
  const auto& l = log_fixture();
  const auto& f = signature_floor();
  const auto n = l.inclusion.size();
  ratio(
      state,
      [&] {
        return quenfold::checkpoint_verify_inclusion(l.note, l.key_views, Log::kIndex, l.tree.leaf_hash(Log::kIndex),
                                                     l.inclusion_views)
            .has_value();
      },
      [&] { return f.run() && node_hash_floor(n); });
}
BENCHMARK(BM_Exports_CheckpointInclusion_VsPrimitives)->MinTime(1.0);

void BM_Exports_CheckpointConsistency_VsPrimitives(benchmark::State& state) {
  const auto& l = log_fixture();
  const auto& f = signature_floor();
  const auto n = 2 * l.consistency.size();
  ratio(
      state,
      [&] {
        return quenfold::checkpoint_verify_consistency(l.older_note, l.note, l.key_views, l.consistency_views)
            .has_value();
      },
      [&] { return f.run() && f.run() && node_hash_floor(n); });
}
BENCHMARK(BM_Exports_CheckpointConsistency_VsPrimitives)->MinTime(1.0);

void BM_Exports_VerifyConsistency_2e20_VsPrimitives(benchmark::State& state) {
  const auto& l = log_fixture();
  const auto& r1 = l.older_root;
  const auto& r2 = l.root;
  const auto n = 2 * l.consistency.size();
  ratio(state, [&] { return quenfold::verify_consistency(Log::kOlder, Log::kSize, l.consistency_views, r1, r2).has_value(); },
        [&] { return node_hash_floor(n); });
}
BENCHMARK(BM_Exports_VerifyConsistency_2e20_VsPrimitives);

// Key-history entries with an ML-KEM-768-sized key and an Ed25519 key.
struct Entry {
  Bytes x = Bytes(32, 3), pq = Bytes(1184, 4), sig = Bytes(32, 5), prev = Bytes(64, 6);
};

std::optional<ByteView> prev_of(const Entry& e) { return ByteView(e.prev); }

void BM_Exports_KeyHistoryCanonicalBytes(benchmark::State& state) {
  const Entry e;
  for (auto _ : state) {
    auto r = quenfold::key_history_v1_canonical_bytes(42, 1'700'000'000'000, e.x, e.pq, e.sig, prev_of(e));
    if (!r) state.SkipWithError("rejected");
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_Exports_KeyHistoryCanonicalBytes);

// The entry hashes beside the digest of the canonical bytes they must take
// (SHA3-512 under the label's length and text; SHA-256 under 0x00).
Bytes canonical_of(const Entry& e) {
  return quenfold::key_history_v1_canonical_bytes(42, 1'700'000'000'000, e.x, e.pq, e.sig, prev_of(e)).value();
}

bool sha3_under_label(std::string_view label, const Bytes& canonical) {
  std::array<std::uint8_t, 8> len{};
  len[7] = static_cast<std::uint8_t>(label.size());
  auto digest = quenfold::crypto::sha3_512({len, to_bytes(label), canonical});
  benchmark::DoNotOptimize(digest);
  return true;
}

void BM_Exports_KeyHistoryEntryHash_VsPrimitives(benchmark::State& state) {
  const Entry e;
  const Bytes canonical = canonical_of(e);
  ratio(state,
        [&] { return quenfold::key_history_v1_entry_hash(42, 1'700'000'000'000, e.x, e.pq, e.sig, prev_of(e)).has_value(); },
        [&] { return sha3_under_label(quenfold::key_history::kKeyHistoryLabel, canonical); });
}
BENCHMARK(BM_Exports_KeyHistoryEntryHash_VsPrimitives);

void BM_Exports_KeyHistoryEntryHashWithContext_VsPrimitives(benchmark::State& state) {
  const Entry e;
  const Bytes canonical = canonical_of(e);
  constexpr std::string_view kLabel = "messenger.example/key-history/v2";
  ratio(state,
        [&] {
          return quenfold::key_history_entry_hash_with_context(kLabel, 42, 1'700'000'000'000, e.x, e.pq, e.sig, prev_of(e))
              .has_value();
        },
        [&] { return sha3_under_label(kLabel, canonical); });
}
BENCHMARK(BM_Exports_KeyHistoryEntryHashWithContext_VsPrimitives);

void BM_Exports_KeyHistoryLeafHash_VsPrimitives(benchmark::State& state) {
  const Entry e;
  const Bytes canonical = canonical_of(e);
  const std::uint8_t zero = 0;
  ratio(state,
        [&] {
          return quenfold::key_history_v1_rfc6962_leaf_hash(42, 1'700'000'000'000, e.x, e.pq, e.sig, prev_of(e))
              .has_value();
        },
        [&] {
          auto digest = quenfold::crypto::sha256({ByteView(&zero, 1), canonical});
          benchmark::DoNotOptimize(digest);
          return true;
        });
}
BENCHMARK(BM_Exports_KeyHistoryLeafHash_VsPrimitives);

void BM_Exports_VerifyCommitment_VsPrimitives(benchmark::State& state) {
  const std::string ctx = "quenfold-log.io/commitment/v1";
  const Bytes value(256, 7), opening(32, 8), len = {0, 0, 0, 0, 0, 0, 0, static_cast<std::uint8_t>(ctx.size())};
  const auto c = quenfold::crypto::sha3_512({len, to_bytes(ctx), opening, value});
  ratio(state, [&] { return quenfold::verify_commitment(ctx, c, value, opening).has_value(); },
        [&] { return quenfold::crypto::sha3_512({len, to_bytes(ctx), opening, value})[0] == c[0]; });
}
BENCHMARK(BM_Exports_VerifyCommitment_VsPrimitives);

// Token verification of every version (base64 decoding included).
void BM_Exports_VerifyToken(benchmark::State& state) {
  using V = quenfold::crypto::SignatureVersion;
  constexpr V kVersions[] = {V::MlDsa44Ed25519, V::MlDsa65Ed25519, V::MlDsa87Ed25519,
                             V::MlDsa87,        V::MlDsa65Ed448,   V::MlDsa87EcdsaP521};
  const auto signer = quenfold::test::TokenSigner::generate(kVersions[state.range(0)], 9);
  const Bytes message = to_bytes("token message"), ctx = to_bytes("quenfold-log.io/bench/v1");
  const std::string sig = signer.sign(message, ctx), pk = signer.public_key_token();
  for (auto _ : state) {
    auto r = quenfold::crypto::verify_token(message, ctx, sig, pk);
    if (!r || !*r) state.SkipWithError("did not verify");
    benchmark::DoNotOptimize(r);
  }
  state.SetLabel(std::to_string(static_cast<int>(kVersions[state.range(0)])));
}
BENCHMARK(BM_Exports_VerifyToken)->DenseRange(0, 5);

// One serialized 32-byte string argument.
Bytes serialized(const quenfold::test::Hash& h) {
  Bytes out = {0, 0, 0, 32};
  for (const std::uint8_t b : h) out.push_back(b);
  return out;
}

// Throughput through the C ABI with 1 and 2 threads: an RFC 6962 inclusion
// proof in a log of 2^20 leaves, argument buffers built per call as a
// foreign caller does. Real time: items/s over both threads.
void BM_Exports_InclusionThroughput(benchmark::State& state) {
  const auto& l = log_fixture();
  const auto leaf = serialized(l.tree.leaf_hash(Log::kIndex));
  const auto proof = quenfold::test::Ser().bytes_list(l.inclusion).out;
  const auto r = serialized(l.root);
  quenfold::bench::throughput(state, [&] {
    RustCallStatus st{};
    uniffi_quenfold_log_fn_func_verify_inclusion(Log::kIndex, Log::kSize, quenfold::ffi::buffer_from(leaf),
                                                 quenfold::ffi::buffer_from(proof), quenfold::ffi::buffer_from(r), &st);
    return st.code == 0;
  });
}
BENCHMARK(BM_Exports_InclusionThroughput)->Apply(quenfold::bench::one_and_two_threads);

// The same with a composite checkpoint signature per call (CPU-bound).
void BM_Exports_CheckpointVerifyThroughput(benchmark::State& state) {
  const auto& l = log_fixture();
  const auto keys = quenfold::test::Ser().string_list(l.keys).out;
  quenfold::bench::throughput(state, [&] {
    RustCallStatus st{};
    const RustBuffer head = uniffi_quenfold_log_fn_func_checkpoint_verify(
        quenfold::ffi::buffer_from(std::string_view(l.note)), quenfold::ffi::buffer_from(keys), &st);
    quenfold::ffi::release(head);
    return st.code == 0;
  });
}
BENCHMARK(BM_Exports_CheckpointVerifyThroughput)->Apply(quenfold::bench::one_and_two_threads);

// The core verifiers of the other small operations, each on its own.
void BM_ConsistencyThroughput(benchmark::State& state) {
  const auto& l = log_fixture();
  quenfold::bench::throughput(state, [&] {
    return quenfold::verify_consistency(Log::kOlder, Log::kSize, l.consistency_views, l.older_root, l.root).has_value();
  });
}
BENCHMARK(BM_ConsistencyThroughput)->Apply(quenfold::bench::one_and_two_threads);

void BM_KeyHistoryLeafHashThroughput(benchmark::State& state) {
  static const Entry e;
  quenfold::bench::throughput(state, [&] {
    return quenfold::key_history_v1_rfc6962_leaf_hash(42, 1'700'000'000'000, e.x, e.pq, e.sig, ByteView(e.prev))
        .has_value();
  });
}
BENCHMARK(BM_KeyHistoryLeafHashThroughput)->Apply(quenfold::bench::one_and_two_threads);

}  // namespace
