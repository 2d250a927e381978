// CONIKS presence and absence verification beside their floor (one Ed25519
// signature verification standing for the ECVRF, plus the 515 SHA3-512
// computations the proof needs, at the same input sizes), and the ECVRF
// verification beside an Ed25519 signature check.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <sodium.h>

#include <stdexcept>
#include <string>
#include <vector>

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

// An Ed25519 signature check over a message of the size of a VRF input, by
// libsodium: the price at which a floor counts one ECVRF-EDWARDS25519
// verification, so that no floor contains this library's own VRF.
struct Ed25519Floor {
  unsigned char pk[32], sk[64], sig[64];
  Bytes message;
  explicit Ed25519Floor(Bytes m) : message(std::move(m)) {
    if (sodium_init() < 0) throw std::runtime_error("libsodium");
    const unsigned char seed[32] = {42};
    crypto_sign_seed_keypair(pk, sk, seed);
    crypto_sign_detached(sig, nullptr, message.data(), message.size(), sk);
  }
  bool verify() const { return crypto_sign_verify_detached(sig, message.data(), message.size(), pk) == 0; }
};

const Ed25519Floor& ed25519_floor() {
  static const Ed25519Floor f(fixture().alpha);
  return f;
}

// The floor of a CONIKS verification: one Ed25519 verification for the VRF,
// then 257 + 256 node-sized hashes, the commitment and the leaf, each one
// SHA3-512 over an input of the size the verifier hashes (8-byte length,
// label, data), with a pre-fetched digest and a reused context. An absence
// proof needs neither commitment nor leaf.
class ConiksFloor {
 public:
  explicit ConiksFloor(bool presence) : presence_(presence) {
    const auto& f = fixture();
    const std::string& ns = f.dir.namespace_name();
    node_len_ = 8 + (ns + "/coniks-node/v1").size() + 128;
    empty_len_ = 8 + (ns + "/coniks-empty/v1").size();
    commit_len_ = 8 + (ns + "/coniks-commitment/v1").size() + 32 + f.value.size();
    leaf_len_ = 8 + (ns + "/coniks-leaf/v1").size() + 97;
    buf_.assign(node_len_ + commit_len_, 1);
  }
  ~ConiksFloor() {
    EVP_MD_CTX_free(ctx_);
    EVP_MD_free(md_);
  }
  ConiksFloor(const ConiksFloor&) = delete;
  ConiksFloor& operator=(const ConiksFloor&) = delete;

  bool run() {
    if (!ed25519_floor().verify()) return false;
    hash(empty_len_);
    for (int i = 0; i < 256; ++i) hash(node_len_);
    if (presence_) {
      hash(commit_len_);
      hash(leaf_len_);
    }
    for (int i = 0; i < 256; ++i) hash(node_len_);
    benchmark::DoNotOptimize(out_);
    return true;
  }

 private:
  void hash(std::size_t n) {
    EVP_DigestInit_ex2(ctx_, md_, nullptr);
    EVP_DigestUpdate(ctx_, buf_.data(), n);
    unsigned int len = 0;
    EVP_DigestFinal_ex(ctx_, out_, &len);
    buf_[n % 64] = out_[0];
  }
  bool presence_;
  std::size_t node_len_, empty_len_, commit_len_, leaf_len_;
  EVP_MD* md_ = EVP_MD_fetch(nullptr, "SHA3-512", nullptr);
  EVP_MD_CTX* ctx_ = EVP_MD_CTX_new();
  std::vector<std::uint8_t> buf_;
  std::uint8_t out_[64] = {};
};

void BM_ConiksLookup_VsPrimitives(benchmark::State& state) {
  const auto& f = fixture();
  ConiksFloor floor(true);
  quenfold::bench::ratio(
      state,
      [&] {
        return quenfold::coniks_verify_lookup(f.dir.namespace_name(), f.dir.vrf_public(), f.root, f.identity, f.proof)
            .has_value();
      },
      [&] { return floor.run(); });
}
BENCHMARK(BM_ConiksLookup_VsPrimitives)->MinTime(2.0);

void BM_ConiksAbsence_VsPrimitives(benchmark::State& state) {
  const auto& f = fixture();
  ConiksFloor floor(false);
  quenfold::bench::ratio(
      state,
      [&] {
        return quenfold::coniks_verify_absence(f.dir.namespace_name(), f.dir.vrf_public(), f.absence_root, f.absent,
                                               f.absence_proof)
            .has_value();
      },
      [&] { return floor.run(); });
}
BENCHMARK(BM_ConiksAbsence_VsPrimitives)->MinTime(2.0);

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
  const auto& e = ed25519_floor();
  for (auto _ : state) {
    if (!e.verify()) state.SkipWithError("signature did not verify");
  }
}
BENCHMARK(BM_Ed25519SignatureVerify);

// The target of the ECVRF: at most 2.5 times an Ed25519 verification.
void BM_EcvrfEdwards25519Verify_VsEd25519(benchmark::State& state) {
  const auto& f = fixture();
  const auto& e = ed25519_floor();
  const auto& vrf = quenfold::crypto::ecvrf_edwards25519();
  quenfold::bench::ratio(
      state,
      [&] {
        auto v = vrf.verify(f.dir.vrf_public(), f.alpha, f.vrf_proof);
        return v && v->valid;
      },
      [&] { return e.verify(); });
}
BENCHMARK(BM_EcvrfEdwards25519Verify_VsEd25519)->MinTime(2.0);

}  // namespace
