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
#include "throughput.h"

namespace {

using quenfold::test::Bytes;

struct Fixture {
  quenfold::test::ConiksDirectory dir{"example.org", 42};
  Bytes identity = quenfold::test::bytes_of("user17@example.org");
  Bytes value = quenfold::test::bytes_of("a 32-byte public key goes here!!");
  Bytes proof, root, alpha, vrf_proof;
  Fixture() {
    for (int i = 0; i < 200; ++i)
      dir.insert(quenfold::test::bytes_of("user" + std::to_string(i) + "@example.org"), value);
    const auto parts = dir.lookup_parts(identity);
    proof = parts.serialize();
    vrf_proof = parts.vrf_proof;
    const auto r = dir.root();
    root.assign(r.begin(), r.end());
    const std::string& ns = dir.namespace_name();
    alpha = {0, 0, 0, static_cast<std::uint8_t>(ns.size())};
    alpha.insert(alpha.end(), ns.begin(), ns.end());
    alpha.insert(alpha.end(), identity.begin(), identity.end());
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
// and a reused context.
void BM_Floor_ConiksLookup(benchmark::State& state) {
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
    hash(commit_len);
    hash(leaf_len);
    for (int i = 0; i < 256; ++i) hash(node_len);
    benchmark::DoNotOptimize(out);
    benchmark::DoNotOptimize(v);
  }
  EVP_MD_CTX_free(ctx);
  EVP_MD_free(md);
}
BENCHMARK(BM_Floor_ConiksLookup);

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

}  // namespace
