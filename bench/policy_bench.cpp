// Signed namespace policies: the envelope parse with its legality rules
// alone, and the full verification per token version, beside its floor (the
// token verification itself over the same canonical bytes and label).
#include <benchmark/benchmark.h>

#include "crypto/base64.h"
#include "crypto/sign.h"
#include "policy/policy.h"
#include "quenfold/policy.h"
#include "support/policy_builder.h"
#include "support/testdata.h"
#include "throughput.h"

namespace {

using quenfold::crypto::SignatureVersion;
using quenfold::test::PolicyRecord;

void BM_SignedPolicyParse(benchmark::State& state) {
  quenfold::test::Envelope e;
  e.record = PolicyRecord::keytrans("example.org").encode();
  e.public_key = quenfold::test::Bytes(1985, 0x02);
  e.signature = quenfold::test::Bytes(3374, 0x02);
  const auto env = e.encode();
  for (auto _ : state) {
    auto r = quenfold::policy::SignedPolicy::parse(env);
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_SignedPolicyParse);

struct Signed {
  quenfold::test::Bytes envelope, canonical, label;
  std::string key, sig;
  explicit Signed(SignatureVersion v) {
    const auto signer = quenfold::test::TokenSigner::generate(v, 42);
    const PolicyRecord r;
    const auto e = quenfold::test::signed_envelope(r, signer);
    envelope = e.encode();
    canonical = r.canonical();
    label = quenfold::test::bytes_of(r.context_label());
    key = quenfold::crypto::base64::encode(e.public_key);
    sig = quenfold::crypto::base64::encode(e.signature);
  }
};

void BM_SignedPolicyVerify(benchmark::State& state) {
  const Signed s(static_cast<SignatureVersion>(state.range(0)));
  for (auto _ : state) {
    auto r = quenfold::signed_policy_verify(s.envelope);
    if (!r) state.SkipWithError("did not verify");
    benchmark::DoNotOptimize(r);
  }
}

void BM_SignedPolicyVerifyFloor(benchmark::State& state) {
  const Signed s(static_cast<SignatureVersion>(state.range(0)));
  for (auto _ : state) {
    auto r = quenfold::crypto::verify_token(s.canonical, s.label, s.sig, s.key);
    if (!r || !*r) state.SkipWithError("did not verify");
    benchmark::DoNotOptimize(r);
  }
}

// Every token version, by tag.
void versions(benchmark::internal::Benchmark* b) {
  for (int tag : {0x01, 0x02, 0x03, 0x10, 0x13, 0x14}) b->Arg(tag);
}
BENCHMARK(BM_SignedPolicyVerify)->Apply(versions);
BENCHMARK(BM_SignedPolicyVerifyFloor)->Apply(versions);

void BM_SignedPolicyVerifyThroughput(benchmark::State& state) {
  static const Signed s(SignatureVersion::MlDsa65Ed25519);
  quenfold::bench::throughput(state, [&] { return quenfold::signed_policy_verify(s.envelope).has_value(); });
}
BENCHMARK(BM_SignedPolicyVerifyThroughput)->Apply(quenfold::bench::one_and_two_threads);

}  // namespace
