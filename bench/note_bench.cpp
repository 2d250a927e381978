// verify_signed_note beside the bare cost of the primitive verifications it
// performs, measured in the same run and interleaved, so that the reported
// ratio does not depend on the machine's momentary speed.
//
//   build/bench/quenfold_bench --benchmark_filter='Note'
//
// The "ratio" counter of the *_VsPrimitives benchmarks is the time of the
// library call divided by the time of the bare primitive calls (target:
// at most 1.15). The floor is as low as it can be: keys already imported,
// algorithms fetched once, the signed bytes already assembled.
#include <benchmark/benchmark.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <sodium.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "crypto/sign.h"
#include "quenfold/note.h"
#include "support/notes.h"
#include "measure.h"

namespace {

using quenfold::test::Bytes;
using quenfold::test::NoteSigner;

const std::string kBody =
    "log.example.org/quenfold/v1\n123456789\nTszzRgjTG6xce+z2AG31kAXYKBgQVtCSCE40HmuwBb0=\nkey-history entries: 42\n";

Bytes to_bytes(std::string_view s) { return {s.begin(), s.end()}; }

struct Fixture {
  NoteSigner signer;
  std::string note;
  std::vector<std::string> keys;
  std::vector<std::string_view> views;
  explicit Fixture(NoteSigner s) : signer(std::move(s)) {
    note = quenfold::test::signed_note(kBody, {&signer});
    keys = {signer.verifier_key()};
    views = {keys[0]};
    const auto r = quenfold::verify_signed_note(note, views);
    if (!r || *r != 1) throw std::runtime_error("fixture note does not verify");
  }
  void verify_note(benchmark::State& state) const {
    const auto r = quenfold::verify_signed_note(note, views);
    if (!r) state.SkipWithError("note did not verify");
    benchmark::DoNotOptimize(r);
  }
};

const Fixture& ed_fixture() {
  static const Fixture f(NoteSigner::ed25519("log.example.org", 7));
  return f;
}
const Fixture& composite_fixture() {
  static const Fixture f(
      NoteSigner::composite("log.example.org/pq", quenfold::crypto::SignatureVersion::MlDsa65Ed25519, 7));
  return f;
}

// --- the floors ---------------------------------------------------------------

// Ed25519 note line: one strict Ed25519 verification of the body.
struct Ed25519Floor {
  Bytes pk, sig, body;
  Ed25519Floor() {
    const auto& f = ed_fixture();
    pk.assign(f.signer.key_data().begin() + 1, f.signer.key_data().end());
    sig = f.signer.sign(kBody);
    body = to_bytes(kBody);
    if (sodium_init() < 0) throw std::runtime_error("libsodium");
  }
  bool run() const { return crypto_sign_verify_detached(sig.data(), body.data(), body.size(), pk.data()) == 0; }
};

// Composite ML-DSA-65+Ed25519 line: one Ed25519 and one ML-DSA-65
// verification of the context message, straight through OpenSSL with the
// keys imported beforehand.
struct CompositeFloor {
  EVP_PKEY* ed = nullptr;
  EVP_PKEY* ml = nullptr;
  EVP_SIGNATURE* ed_alg = nullptr;
  EVP_SIGNATURE* ml_alg = nullptr;
  Bytes ed_sig, ml_sig, cm;
  CompositeFloor() {
    const auto& f = composite_fixture();
    const Bytes key = f.signer.token_signer()->public_key_token_bytes();
    const Bytes sig = f.signer.sign(kBody);
    ed = EVP_PKEY_new_raw_public_key_ex(nullptr, "ED25519", nullptr, key.data() + 1, 32);
    ml = EVP_PKEY_new_raw_public_key_ex(nullptr, "ML-DSA-65", nullptr, key.data() + 33, key.size() - 33);
    ed_alg = EVP_SIGNATURE_fetch(nullptr, "ED25519", nullptr);
    ml_alg = EVP_SIGNATURE_fetch(nullptr, "ML-DSA-65", nullptr);
    if (!ed || !ml || !ed_alg || !ml_alg) throw std::runtime_error("floor setup");
    ed_sig.assign(sig.begin() + 1, sig.begin() + 65);
    ml_sig.assign(sig.begin() + 65, sig.end());
    const auto ctx = to_bytes(quenfold::test::kSignedNoteContextText);
    cm = quenfold::crypto::context_message(ctx, to_bytes(kBody));
  }
  ~CompositeFloor() {
    EVP_PKEY_free(ed);
    EVP_PKEY_free(ml);
    EVP_SIGNATURE_free(ed_alg);
    EVP_SIGNATURE_free(ml_alg);
  }
  static bool verify(EVP_PKEY* key, EVP_SIGNATURE* alg, const Bytes& sig, const Bytes& msg) {
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr);
    const bool ok = EVP_PKEY_verify_message_init(ctx, alg, nullptr) == 1 &&
                    EVP_PKEY_verify(ctx, sig.data(), sig.size(), msg.data(), msg.size()) == 1;
    EVP_PKEY_CTX_free(ctx);
    return ok;
  }
  bool run() const {
    const bool a = verify(ed, ed_alg, ed_sig, cm);
    const bool b = verify(ml, ml_alg, ml_sig, cm);
    return a && b;
  }
};

const Ed25519Floor& ed_floor() {
  static const Ed25519Floor f;
  return f;
}
const CompositeFloor& composite_floor() {
  static const CompositeFloor f;
  return f;
}

// --- absolute costs --------------------------------------------------------------

void BM_Note_Ed25519Line(benchmark::State& state) {
  const auto& f = ed_fixture();
  for (auto _ : state) f.verify_note(state);
}
BENCHMARK(BM_Note_Ed25519Line);

void BM_Note_Ed25519Line_Primitive(benchmark::State& state) {
  const auto& f = ed_floor();
  for (auto _ : state) {
    if (!f.run()) state.SkipWithError("did not verify");
  }
}
BENCHMARK(BM_Note_Ed25519Line_Primitive);

void BM_Note_CompositeMlDsa65Ed25519Line(benchmark::State& state) {
  const auto& f = composite_fixture();
  for (auto _ : state) f.verify_note(state);
}
BENCHMARK(BM_Note_CompositeMlDsa65Ed25519Line);

void BM_Note_CompositeMlDsa65Ed25519Line_Primitives(benchmark::State& state) {
  const auto& f = composite_floor();
  for (auto _ : state) {
    if (!f.run()) state.SkipWithError("did not verify");
  }
}
BENCHMARK(BM_Note_CompositeMlDsa65Ed25519Line_Primitives);

// --- interleaved ratios ------------------------------------------------------------

// CPU time of the calling thread: on a shared machine wall time mostly
// measures the other processes.
template <class Floor>
void ratio(benchmark::State& state, const Fixture& f, const Floor& floor) {
  quenfold::bench::ratio(
      state, [&] { return quenfold::verify_signed_note(f.note, f.views).has_value(); }, [&] { return floor.run(); });
}

void BM_Note_Ed25519Line_VsPrimitives(benchmark::State& state) { ratio(state, ed_fixture(), ed_floor()); }
BENCHMARK(BM_Note_Ed25519Line_VsPrimitives)->MinTime(2.0);

void BM_Note_CompositeLine_VsPrimitives(benchmark::State& state) {
  ratio(state, composite_fixture(), composite_floor());
}
BENCHMARK(BM_Note_CompositeLine_VsPrimitives)->MinTime(2.0);

}  // namespace
