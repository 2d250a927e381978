// KEYTRANS search for a label whose greatest version is 100 (a 14-rung
// ladder) in a log of 2^20 entries, and fixed-version and monitoring proofs
// at version 50, beside their floor: one signature verification standing for
// each rung's VRF (Ed25519 or ECDSA P-256, the primitive each VRF is held
// to), plus the SHA-256 hashing of the log path and the prefix climbs and the
// one commitment, called directly. And the P-256 VRF verify beside OpenSSL's
// ECDSA P-256 verify.
#include <benchmark/benchmark.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/core_names.h>
#include <openssl/obj_mac.h>
#include <openssl/param_build.h>
#include <sodium.h>

#include <array>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "crypto/hash.h"
#include "crypto/vrf.h"
#include "keytrans/tls.h"
#include "quenfold/keytrans.h"
#include "support/keytrans_directory.h"
#include "support/vrf_reference.h"
#include "measure.h"

namespace {

using quenfold::Bytes;
using quenfold::KeytransSuite;
using quenfold::keytrans::Node;
namespace test = quenfold::test;

constexpr std::uint64_t kLogSize = std::uint64_t{1} << 20;
// The newest leaf: a greatest-version search must be about it.
constexpr std::uint64_t kEntry = kLogSize - 1;
constexpr std::uint32_t kVersions = 101;

Bytes bytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

// The three proof kinds for one label with versions 0..100, in a log of
// 2^20 entries: a real directory snapshot at entry kEntry, every other log
// leaf a cheap stand-in value. The fixed-version and monitoring proofs are
// for version kVersion.
enum Kind { kSearch, kFixed, kMonitor };
constexpr std::uint32_t kVersion = 50;

struct Big {
  KeytransSuite suite;
  test::KeytransDirectory dir;
  Bytes label = bytes("benchmark@example.org");
  Bytes root;
  Bytes proof[3];
  std::vector<quenfold::keytrans::LadderStep> ladder[3];  // the rungs each kind verifies
  std::vector<Bytes> alphas[3];                           // the VRF input of every rung

  explicit Big(KeytransSuite s) : suite(s), dir(s, 2026) {
    for (std::uint32_t v = 0; v < kVersions; ++v) dir.add_version(label, bytes("key " + std::to_string(v)));
    dir.add_noise(1000);
    dir.publish(1'767'225'600'000);
    auto search = dir.search(label);
    auto fixed = dir.fixed_version(label, kVersion);
    auto monitor = dir.monitor(label, kVersion);
    test::LogTree log;
    for (std::uint64_t i = 0; i < kLogSize; ++i) {
      Node n{};
      for (int b = 0; b < 8; ++b) n[static_cast<std::size_t>(b)] = static_cast<std::uint8_t>(i >> (8 * b));
      log.append(n);
    }
    log.set(kEntry, test::kt_log_leaf(search.header.timestamp, search.header.prefix_root));
    search.header.entry_index = kEntry;
    search.header.tree_size = kLogSize;
    search.header.log_inclusion = log.proof(kEntry, kLogSize);
    fixed.header = monitor.header = search.header;
    const Node r = log.root();
    root.assign(r.begin(), r.end());
    proof[kSearch] = test::kt_encode(search);
    proof[kFixed] = test::kt_encode(fixed);
    proof[kMonitor] = test::kt_encode(monitor);
    ladder[kSearch] = search.ladder;
    ladder[kFixed] = {fixed.step};
    ladder[kMonitor] = monitor.ladder;
    for (int k : {kSearch, kFixed, kMonitor}) {
      for (const auto& step : ladder[k]) {
        Bytes a{static_cast<std::uint8_t>(label.size())};
        a.insert(a.end(), label.begin(), label.end());
        for (int i = 3; i >= 0; --i) a.push_back(static_cast<std::uint8_t>(step.version >> (8 * i)));
        alphas[k].push_back(std::move(a));
      }
    }
  }
};

const Big& big(KeytransSuite suite) {
  switch (suite) {
    case KeytransSuite::QuenfoldHybridExp: {
      static const Big exp(suite);
      return exp;
    }
    case KeytransSuite::Kt128Sha256Ed25519: {
      static const Big ed(suite);
      return ed;
    }
    case KeytransSuite::Kt128Sha256P256: break;
  }
  static const Big p256(KeytransSuite::Kt128Sha256P256);
  return p256;
}

// One verification of `kind` through the suite-less export (the experimental
// suite) or the suite-taking one.
bool verify(const Big& b, Kind kind) {
  const bool exp = b.suite == KeytransSuite::QuenfoldHybridExp;
  const std::uint16_t id = test::kt_suite_id(b.suite);
  switch (kind) {
    case kSearch: {
      auto r = exp ? quenfold::keytrans_verify_search(b.dir.context(), b.dir.vrf_public(), b.root, b.label, b.proof[kind])
                   : quenfold::keytrans_verify_search_suite(id, b.dir.context(), b.dir.vrf_public(), b.root, b.label,
                                                            b.proof[kind]);
      return r && r->present;
    }
    case kFixed: {
      auto r = exp ? quenfold::keytrans_verify_fixed_version(b.dir.context(), b.dir.vrf_public(), b.root, b.label,
                                                             b.proof[kind])
                   : quenfold::keytrans_verify_fixed_version_suite(id, b.dir.context(), b.dir.vrf_public(), b.root,
                                                                   b.label, b.proof[kind]);
      return r && r->present;
    }
    case kMonitor:
      return (exp ? quenfold::keytrans_verify_monitor(b.dir.context(), b.dir.vrf_public(), b.root, b.label, b.proof[kind])
                  : quenfold::keytrans_verify_monitor_suite(id, b.dir.context(), b.dir.vrf_public(), b.root, b.label,
                                                            b.proof[kind]))
          .has_value();
  }
  return false;
}

void run(benchmark::State& state, KeytransSuite suite, Kind kind) {
  const auto& b = big(suite);
  for (auto _ : state) {
    if (!verify(b, kind)) state.SkipWithError("did not verify");
  }
  state.counters["rungs"] = static_cast<double>(b.ladder[kind].size());
}

// ECDSA P-256 verification with a parsed key, over a 32-byte digest: the
// floor of a P-256 VRF verification.
struct EcdsaCase {
  EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256");
  EVP_PKEY_CTX* vctx = nullptr;
  std::array<std::uint8_t, 32> digest{};
  std::array<std::uint8_t, 80> sig{};
  std::size_t sig_len = sig.size();
  EcdsaCase() {
    digest.fill(0x5a);
    EVP_PKEY_CTX* sctx = EVP_PKEY_CTX_new(key, nullptr);
    EVP_PKEY_sign_init(sctx);
    EVP_PKEY_sign(sctx, sig.data(), &sig_len, digest.data(), digest.size());
    EVP_PKEY_CTX_free(sctx);
    vctx = EVP_PKEY_CTX_new(key, nullptr);
  }
  ~EcdsaCase() {
    EVP_PKEY_CTX_free(vctx);
    EVP_PKEY_free(key);
  }
  EcdsaCase(const EcdsaCase&) = delete;
  EcdsaCase& operator=(const EcdsaCase&) = delete;
  bool verify() const {
    EVP_PKEY_verify_init(vctx);
    return EVP_PKEY_verify(vctx, sig.data(), sig_len, digest.data(), digest.size()) == 1;
  }
};

// The floor: one verification of the primitive each rung's VRF is compared
// with (an Ed25519 signature over the rung's VRF input for the Edwards25519
// suites, ECDSA P-256 with a parsed key for Kt128Sha256P256), then one
// SHA-256 per node the verifier must hash (log leaf and path, each rung's
// leaf and climb) and, where a value is revealed, the commitment, each over
// an input of the verifier's size. No floor contains this library's VRF.
class KeytransFloor {
 public:
  KeytransFloor(KeytransSuite suite, Kind kind) : b_(big(suite)), suite_(suite), kind_(kind) {
    if (sodium_init() < 0) throw std::runtime_error("libsodium");
    const unsigned char seed[32] = {42};
    crypto_sign_seed_keypair(ed_pk_, ed_sk_, seed);
    for (const auto& alpha : b_.alphas[kind]) {
      std::array<unsigned char, 64> sig{};
      crypto_sign_detached(sig.data(), nullptr, alpha.data(), alpha.size(), ed_sk_);
      ed_sigs_.push_back(sig);
    }
    for (const auto& step : b_.ladder[kind]) {
      node_hashes_ += step.prefix_proof.elements.size();
      if (step.prefix_proof.result.type != quenfold::keytrans::PrefixSearchResultType::NonInclusionParent)
        ++leaf_hashes_;
    }
    leaf_.assign(1 + 32 + test::kt_commitment_len(suite), 3);
    opening_.assign(test::kt_opening_len(suite), 1);
  }

  bool run() {
    const auto& alphas = b_.alphas[kind_];
    for (std::size_t i = 0; i < alphas.size(); ++i) {
      const bool ok = suite_ == KeytransSuite::Kt128Sha256P256
                          ? ecdsa_.verify()
                          : crypto_sign_verify_detached(ed_sigs_[i].data(), alphas[i].data(), alphas[i].size(),
                                                        ed_pk_) == 0;
      if (!ok) return false;
    }
    for (std::size_t i = 0; i < node_hashes_; ++i) {
      const auto d = quenfold::crypto::sha256({node_});
      node_[2] = d[0];
    }
    for (std::size_t i = 0; i < leaf_hashes_; ++i) {
      const auto d = quenfold::crypto::sha256({leaf_});
      leaf_[2] = d[0];
    }
    if (kind_ != kMonitor && suite_ == KeytransSuite::QuenfoldHybridExp) {
      benchmark::DoNotOptimize(quenfold::crypto::sha3_512({node_, opening_, b_.label}));
    } else if (kind_ != kMonitor) {
      benchmark::DoNotOptimize(quenfold::crypto::hmac_sha256(opening_, {opening_, b_.label}));
    }
    benchmark::DoNotOptimize(node_);
    return true;
  }

 private:
  const Big& b_;
  KeytransSuite suite_;
  Kind kind_;
  unsigned char ed_pk_[32] = {}, ed_sk_[64] = {};
  std::vector<std::array<unsigned char, 64>> ed_sigs_;
  EcdsaCase ecdsa_;
  std::size_t node_hashes_ = 1 + 20;  // log leaf and the path of a 2^20 log
  std::size_t leaf_hashes_ = 0;
  std::array<std::uint8_t, 66> node_{};
  Bytes leaf_, opening_;
};

void vs_primitives(benchmark::State& state, KeytransSuite suite, Kind kind) {
  const auto& b = big(suite);
  KeytransFloor floor(suite, kind);
  quenfold::bench::ratio(state, [&] { return verify(b, kind); }, [&] { return floor.run(); });
  state.counters["rungs"] = static_cast<double>(b.ladder[kind].size());
}

void BM_KeytransVerifySearch_v100_log2e20(benchmark::State& s) { run(s, KeytransSuite::QuenfoldHybridExp, kSearch); }
void BM_KeytransVerifySearchEd25519_v100_log2e20(benchmark::State& s) {
  run(s, KeytransSuite::Kt128Sha256Ed25519, kSearch);
}
void BM_KeytransVerifySearchP256_v100_log2e20(benchmark::State& s) { run(s, KeytransSuite::Kt128Sha256P256, kSearch); }
void BM_KeytransVerifyFixedVersion_v50(benchmark::State& s) { run(s, KeytransSuite::QuenfoldHybridExp, kFixed); }
void BM_KeytransVerifyFixedVersionP256_v50(benchmark::State& s) { run(s, KeytransSuite::Kt128Sha256P256, kFixed); }
void BM_KeytransVerifyMonitor_v50(benchmark::State& s) { run(s, KeytransSuite::QuenfoldHybridExp, kMonitor); }
void BM_KeytransVerifyMonitorP256_v50(benchmark::State& s) { run(s, KeytransSuite::Kt128Sha256P256, kMonitor); }
BENCHMARK(BM_KeytransVerifySearch_v100_log2e20)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_KeytransVerifySearchEd25519_v100_log2e20)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_KeytransVerifySearchP256_v100_log2e20)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_KeytransVerifyFixedVersion_v50)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_KeytransVerifyFixedVersionP256_v50)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_KeytransVerifyMonitor_v50)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_KeytransVerifyMonitorP256_v50)->Unit(benchmark::kMicrosecond);

// Each verification beside its floor, interleaved: search at greatest version
// 100, fixed-version and monitoring at version 50, under each suite.
void BM_KeytransSearch_VsPrimitives(benchmark::State& s) { vs_primitives(s, KeytransSuite::QuenfoldHybridExp, kSearch); }
void BM_KeytransSearchEd25519_VsPrimitives(benchmark::State& s) {
  vs_primitives(s, KeytransSuite::Kt128Sha256Ed25519, kSearch);
}
void BM_KeytransSearchP256_VsPrimitives(benchmark::State& s) { vs_primitives(s, KeytransSuite::Kt128Sha256P256, kSearch); }
void BM_KeytransFixedVersion_VsPrimitives(benchmark::State& s) {
  vs_primitives(s, KeytransSuite::QuenfoldHybridExp, kFixed);
}
void BM_KeytransFixedVersionEd25519_VsPrimitives(benchmark::State& s) {
  vs_primitives(s, KeytransSuite::Kt128Sha256Ed25519, kFixed);
}
void BM_KeytransFixedVersionP256_VsPrimitives(benchmark::State& s) {
  vs_primitives(s, KeytransSuite::Kt128Sha256P256, kFixed);
}
void BM_KeytransMonitor_VsPrimitives(benchmark::State& s) { vs_primitives(s, KeytransSuite::QuenfoldHybridExp, kMonitor); }
void BM_KeytransMonitorEd25519_VsPrimitives(benchmark::State& s) {
  vs_primitives(s, KeytransSuite::Kt128Sha256Ed25519, kMonitor);
}
void BM_KeytransMonitorP256_VsPrimitives(benchmark::State& s) {
  vs_primitives(s, KeytransSuite::Kt128Sha256P256, kMonitor);
}
BENCHMARK(BM_KeytransSearch_VsPrimitives)->MinTime(1.0);
BENCHMARK(BM_KeytransSearchEd25519_VsPrimitives)->MinTime(1.0);
BENCHMARK(BM_KeytransSearchP256_VsPrimitives)->MinTime(1.0);
BENCHMARK(BM_KeytransFixedVersion_VsPrimitives)->MinTime(1.0);
BENCHMARK(BM_KeytransFixedVersionEd25519_VsPrimitives)->MinTime(1.0);
BENCHMARK(BM_KeytransFixedVersionP256_VsPrimitives)->MinTime(1.0);
BENCHMARK(BM_KeytransMonitor_VsPrimitives)->MinTime(1.0);
BENCHMARK(BM_KeytransMonitorEd25519_VsPrimitives)->MinTime(1.0);
BENCHMARK(BM_KeytransMonitorP256_VsPrimitives)->MinTime(1.0);

void BM_KeytransVerifySearchThroughput(benchmark::State& state) {
  const auto& b = big(KeytransSuite::QuenfoldHybridExp);
  quenfold::bench::throughput(state, [&] { return verify(b, kSearch); });
}
BENCHMARK(BM_KeytransVerifySearchThroughput)->Apply(quenfold::bench::one_and_two_threads);

// --- P-256 VRF verify beside ECDSA P-256 verify ------------------------------

struct VrfCase {
  Bytes pk, alpha, pi;
  VrfCase() {
    const auto& vrf = test::ecvrf_p256_prover();
    const Bytes sk(32, 0x2a);
    pk = vrf.public_key_from_secret(sk).value();
    alpha = bytes("benchmark alpha");
    pi = vrf.prove(sk, alpha).value();
  }
};

void BM_VrfP256Verify(benchmark::State& state) {
  static const VrfCase c;
  for (auto _ : state) {
    auto r = quenfold::crypto::ecvrf_p256().verify(c.pk, c.alpha, c.pi);
    if (!r || !r->valid) state.SkipWithError("did not verify");
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_VrfP256Verify)->Unit(benchmark::kMicrosecond);

void BM_EcdsaP256Verify(benchmark::State& state) {
  const EcdsaCase e;
  for (auto _ : state) {
    if (!e.verify()) state.SkipWithError("did not verify");
  }
}
BENCHMARK(BM_EcdsaP256Verify)->Unit(benchmark::kMicrosecond);

void BM_VrfP256Verify_VsEcdsa(benchmark::State& state) {
  static const VrfCase c;
  const EcdsaCase e;
  quenfold::bench::ratio(
      state,
      [&] {
        auto r = quenfold::crypto::ecvrf_p256().verify(c.pk, c.alpha, c.pi);
        return r && r->valid;
      },
      [&] { return e.verify(); });
}
BENCHMARK(BM_VrfP256Verify_VsEcdsa)->MinTime(2.0);

// Both sides with their key parsed once, as a KEYTRANS call verifies every
// ladder rung under one decoded VRF key: the like-for-like comparison.
void BM_VrfP256VerifyDecodedKey_VsEcdsa(benchmark::State& state) {
  static const VrfCase c;
  const EcdsaCase e;
  const auto key = quenfold::crypto::ecvrf_p256().decode_public_key(c.pk);
  quenfold::bench::ratio(
      state,
      [&] {
        auto r = quenfold::crypto::ecvrf_p256().verify(*key, c.alpha, c.pi);
        return r && r->valid;
      },
      [&] { return e.verify(); });
}
BENCHMARK(BM_VrfP256VerifyDecodedKey_VsEcdsa)->MinTime(2.0);

// The same verification as a stateless verifier meets it: the public key
// arrives as 33 compressed bytes and is decoded on every call, as the VRF
// decodes its key on every call.
void BM_EcdsaP256VerifyCompressedKey(benchmark::State& state) {
  EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256");
  std::array<std::uint8_t, 32> digest{};
  digest.fill(0x5a);
  EVP_PKEY_CTX* sctx = EVP_PKEY_CTX_new(key, nullptr);
  std::array<std::uint8_t, 80> sig{};
  std::size_t sig_len = sig.size();
  EVP_PKEY_sign_init(sctx);
  EVP_PKEY_sign(sctx, sig.data(), &sig_len, digest.data(), digest.size());
  EVP_PKEY_set_utf8_string_param(key, OSSL_PKEY_PARAM_EC_POINT_CONVERSION_FORMAT, "compressed");
  std::array<std::uint8_t, 33> pub{};
  std::size_t pub_len = 0;
  EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_PUB_KEY, pub.data(), pub.size(), &pub_len);
  EVP_PKEY_CTX* from = EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr);
  char group[] = "P-256";
  for (auto _ : state) {
    OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, group, 0),
                           OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY, pub.data(), pub_len),
                           OSSL_PARAM_construct_end()};
    EVP_PKEY* k = nullptr;
    EVP_PKEY_fromdata_init(from);
    if (EVP_PKEY_fromdata(from, &k, EVP_PKEY_PUBLIC_KEY, params) != 1) state.SkipWithError("key did not decode");
    EVP_PKEY_CTX* vctx = EVP_PKEY_CTX_new(k, nullptr);
    EVP_PKEY_verify_init(vctx);
    if (EVP_PKEY_verify(vctx, sig.data(), sig_len, digest.data(), digest.size()) != 1)
      state.SkipWithError("did not verify");
    EVP_PKEY_CTX_free(vctx);
    EVP_PKEY_free(k);
  }
  EVP_PKEY_CTX_free(from);
  EVP_PKEY_CTX_free(sctx);
  EVP_PKEY_free(key);
}
BENCHMARK(BM_EcdsaP256VerifyCompressedKey)->Unit(benchmark::kMicrosecond);

}  // namespace
