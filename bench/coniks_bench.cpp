// CONIKS presence verification beside its floor (one ECVRF verification
// plus the 515 SHA3-512 computations the proof needs, at the same input
// sizes), and the ECVRF verification beside an Ed25519 signature check:
// both are dominated by two scalar multiplications.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <sodium.h>

#include <string>

#include "crypto/vrf.h"
#include "quenfold/coniks.h"
#include "support/coniks_directory.h"
#include "support/testdata.h"
#include "measure.h"

namespace {

using quenfold::test::Bytes;

// Proofs shaped as in a directory of 10^5 identities. The directory holds
// 200 real ones; the siblings on the proven paths are stand-in values for
// the subtrees of the other identities (computing 10^5 leaves up 256 levels
// would take minutes), at the depths where such a directory has them: a
// sibling at depth d is non-empty with probability 1 - (1 - 2^-d)^(n - 1),
// so depths 1 to 18 for n = 10^5. The verifier's work is the same 513
// hashes at any size; the size shows only in the explicit siblings.
constexpr std::size_t kExplicitSiblings = 18;

struct Fixture {
  quenfold::test::ConiksDirectory dir{"example.org", 42};
  Bytes identity = quenfold::test::bytes_of("user17@example.org");
  Bytes absent = quenfold::test::bytes_of("nobody@example.org");
  Bytes value = quenfold::test::bytes_of("a 32-byte public key goes here!!");
  Bytes proof, root, absence_proof, absence_root, alpha, vrf_proof;
  Fixture() {
    for (int i = 0; i < 200; ++i)
      dir.insert(quenfold::test::bytes_of("user" + std::to_string(i) + "@example.org"), value);
    auto parts = with_stand_in_siblings(dir.lookup_parts(identity));
    proof = parts.serialize();
    vrf_proof = parts.vrf_proof;
    const auto r = dir.root_of(identity, parts);
    root.assign(r.begin(), r.end());
    auto absence = with_stand_in_siblings(dir.absence_parts(absent));
    absence_proof = absence.serialize();
    const auto ar = dir.root_of(absent, absence);
    absence_root.assign(ar.begin(), ar.end());
    const std::string& ns = dir.namespace_name();
    alpha = {0, 0, 0, static_cast<std::uint8_t>(ns.size())};
    alpha.insert(alpha.end(), ns.begin(), ns.end());
    alpha.insert(alpha.end(), identity.begin(), identity.end());
  }

  static quenfold::test::ConiksProofParts with_stand_in_siblings(quenfold::test::ConiksProofParts parts) {
    parts.bitmap = {};
    parts.siblings.clear();
    for (std::size_t i = 0; i < kExplicitSiblings; ++i) {
      parts.bitmap[i / 8] = static_cast<std::uint8_t>(parts.bitmap[i / 8] | (0x80 >> (i % 8)));
      quenfold::test::ConiksNode stand_in{};
      for (std::size_t b = 0; b < stand_in.size(); ++b) stand_in[b] = static_cast<std::uint8_t>(i * 64 + b);
      parts.siblings.push_back(stand_in);
    }
    return parts;
  }
};

const Fixture& fixture() {
  static const Fixture f;
  return f;
}

void BM_ConiksVerifyLookup(benchmark::State& state) {
  const auto& f = fixture();
  for (auto _ : state) {
    auto r = quenfold::coniks_verify_lookup(f.dir.namespace_name(), f.dir.vrf_public(), f.root, f.identity, f.proof);
    if (!r) state.SkipWithError("did not verify");
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_ConiksVerifyLookup);

void BM_ConiksVerifyAbsence(benchmark::State& state) {
  const auto& f = fixture();
  for (auto _ : state) {
    auto r = quenfold::coniks_verify_absence(f.dir.namespace_name(), f.dir.vrf_public(), f.absence_root, f.absent,
                                             f.absence_proof);
    if (!r) state.SkipWithError("did not verify");
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_ConiksVerifyAbsence);

void BM_ConiksVerifyLookupThroughput(benchmark::State& state) {
  const auto& f = fixture();
  quenfold::bench::throughput(state, [&] {
    return quenfold::coniks_verify_lookup(f.dir.namespace_name(), f.dir.vrf_public(), f.root, f.identity, f.proof)
        .has_value();
  });
}
BENCHMARK(BM_ConiksVerifyLookupThroughput)->Apply(quenfold::bench::one_and_two_threads);

// The floor: the VRF verification, then 257 + 256 node-sized hashes, the
// commitment and the leaf, each one SHA3-512 over an input of the size the
// verifier hashes (8-byte length, label, data), with a pre-fetched digest
// and a reused context. An absence proof needs neither commitment nor leaf.
void coniks_floor(benchmark::State& state, bool presence) {
  const auto& f = fixture();
  const std::string& ns = f.dir.namespace_name();
  const std::size_t node_len = 8 + (ns + "/coniks-node/v1").size() + 128;
  const std::size_t empty_len = 8 + (ns + "/coniks-empty/v1").size();
  const std::size_t commit_len = 8 + (ns + "/coniks-commitment/v1").size() + 32 + f.value.size();
  const std::size_t leaf_len = 8 + (ns + "/coniks-leaf/v1").size() + 97;
  EVP_MD* md = EVP_MD_fetch(nullptr, "SHA3-512", nullptr);
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  std::vector<std::uint8_t> buf(node_len + commit_len, 1);
  std::uint8_t out[64];
  auto hash = [&](std::size_t n) {
    EVP_DigestInit_ex2(ctx, md, nullptr);
    EVP_DigestUpdate(ctx, buf.data(), n);
    unsigned int len = 0;
    EVP_DigestFinal_ex(ctx, out, &len);
    buf[n % 64] = out[0];
  };
  const auto& vrf = quenfold::crypto::ecvrf_edwards25519();
  for (auto _ : state) {
    auto v = vrf.verify(f.dir.vrf_public(), f.alpha, f.vrf_proof);
    if (!v || !v->valid) state.SkipWithError("vrf did not verify");
    hash(empty_len);
    for (int i = 0; i < 256; ++i) hash(node_len);
    if (presence) {
      hash(commit_len);
      hash(leaf_len);
    }
    for (int i = 0; i < 256; ++i) hash(node_len);
    benchmark::DoNotOptimize(out);
    benchmark::DoNotOptimize(v);
  }
  EVP_MD_CTX_free(ctx);
  EVP_MD_free(md);
}
void BM_Floor_ConiksLookup(benchmark::State& state) { coniks_floor(state, true); }
void BM_Floor_ConiksAbsence(benchmark::State& state) { coniks_floor(state, false); }
BENCHMARK(BM_Floor_ConiksLookup);
BENCHMARK(BM_Floor_ConiksAbsence);

void BM_EcvrfEdwards25519Verify(benchmark::State& state) {
  const auto& f = fixture();
  const auto& vrf = quenfold::crypto::ecvrf_edwards25519();
  for (auto _ : state) {
    auto v = vrf.verify(f.dir.vrf_public(), f.alpha, f.vrf_proof);
    if (!v || !v->valid) state.SkipWithError("vrf did not verify");
    benchmark::DoNotOptimize(v);
  }
}
BENCHMARK(BM_EcvrfEdwards25519Verify);

// The reference: libsodium's Ed25519 signature check over a message of the
// size of a VRF input.
void BM_Ed25519SignatureVerify(benchmark::State& state) {
  if (sodium_init() < 0) state.SkipWithError("libsodium");
  const auto& f = fixture();
  unsigned char seed[32] = {42};
  unsigned char pk[32], sk[64], sig[64];
  crypto_sign_seed_keypair(pk, sk, seed);
  crypto_sign_detached(sig, nullptr, f.alpha.data(), f.alpha.size(), sk);
  for (auto _ : state) {
    const int rc = crypto_sign_verify_detached(sig, f.alpha.data(), f.alpha.size(), pk);
    if (rc != 0) state.SkipWithError("signature did not verify");
    benchmark::DoNotOptimize(rc);
  }
}
BENCHMARK(BM_Ed25519SignatureVerify);

void BM_EcvrfEdwards25519Verify_VsEd25519(benchmark::State& state) {
  if (sodium_init() < 0) state.SkipWithError("libsodium");
  const auto& f = fixture();
  unsigned char seed[32] = {42};
  unsigned char pk[32], sk[64], sig[64];
  crypto_sign_seed_keypair(pk, sk, seed);
  crypto_sign_detached(sig, nullptr, f.alpha.data(), f.alpha.size(), sk);
  const auto& vrf = quenfold::crypto::ecvrf_edwards25519();
  quenfold::bench::ratio(
      state,
      [&] {
        auto v = vrf.verify(f.dir.vrf_public(), f.alpha, f.vrf_proof);
        return v && v->valid;
      },
      [&] { return crypto_sign_verify_detached(sig, f.alpha.data(), f.alpha.size(), pk) == 0; });
}
BENCHMARK(BM_EcvrfEdwards25519Verify_VsEd25519)->MinTime(2.0);

}  // namespace
