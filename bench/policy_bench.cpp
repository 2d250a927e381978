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
#include "measure.h"

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

// The full verification and the five posture checks on the policy signed
// with token 0x02 (Hybrid, Cat3), each given an observation that conforms,
// interleaved with their floor (the envelope's token verification). The key
// and signature checks also decode the observed token.
struct Observed {
  Signed policy{SignatureVersion::MlDsa65Ed25519};
  std::string key, sig;
  Observed() {
    const auto signer = quenfold::test::TokenSigner::generate(SignatureVersion::MlDsa65Ed25519, 7);
    key = signer.public_key_token();
    sig = signer.sign(quenfold::test::bytes_of("checkpoint body\n"), quenfold::test::bytes_of("example/checkpoint/v1"));
  }
};

const Observed& observed() {
  static const Observed o;
  return o;
}

template <class Check>
void beside_floor(benchmark::State& state, const Check& check) {
  const auto& o = observed();
  quenfold::bench::ratio(
      state, [&] { return check(o); },
      [&] {
        auto r = quenfold::crypto::verify_token(o.policy.canonical, o.policy.label, o.policy.sig, o.policy.key);
        return r && *r;
      });
}

void BM_SignedPolicyVerify_VsPrimitives(benchmark::State& state) {
  beside_floor(state, [](const Observed& o) { return quenfold::signed_policy_verify(o.policy.envelope).has_value(); });
}
void BM_PolicyEnforceCheckpointSigningKey_VsPrimitives(benchmark::State& state) {
  beside_floor(state, [](const Observed& o) {
    return quenfold::policy_enforce_checkpoint_signing_key(o.policy.envelope, o.key).has_value();
  });
}
void BM_PolicyEnforceCheckpointSignature_VsPrimitives(benchmark::State& state) {
  beside_floor(state, [](const Observed& o) {
    return quenfold::policy_enforce_checkpoint_signature(o.policy.envelope, o.sig).has_value();
  });
}
void BM_PolicyEnforceVrfSuiteId_VsPrimitives(benchmark::State& state) {
  beside_floor(state,
               [](const Observed& o) { return quenfold::policy_enforce_vrf_suite_id(o.policy.envelope, 0x03).has_value(); });
}
void BM_PolicyEnforceCommitmentHash_VsPrimitives(benchmark::State& state) {
  beside_floor(state, [](const Observed& o) {
    return quenfold::policy_enforce_commitment_hash(o.policy.envelope, quenfold::CommitmentHash::Sha3_256).has_value();
  });
}
void BM_PolicyEnforceDirectoryBackend_VsPrimitives(benchmark::State& state) {
  beside_floor(state, [](const Observed& o) {
    return quenfold::policy_enforce_directory_backend(o.policy.envelope, 0x0001).has_value();
  });
}
BENCHMARK(BM_SignedPolicyVerify_VsPrimitives)->MinTime(1.0);
BENCHMARK(BM_PolicyEnforceCheckpointSigningKey_VsPrimitives)->MinTime(1.0);
BENCHMARK(BM_PolicyEnforceCheckpointSignature_VsPrimitives)->MinTime(1.0);
BENCHMARK(BM_PolicyEnforceVrfSuiteId_VsPrimitives)->MinTime(1.0);
BENCHMARK(BM_PolicyEnforceCommitmentHash_VsPrimitives)->MinTime(1.0);
BENCHMARK(BM_PolicyEnforceDirectoryBackend_VsPrimitives)->MinTime(1.0);

void BM_SignedPolicyVerifyThroughput(benchmark::State& state) {
  static const Signed s(SignatureVersion::MlDsa65Ed25519);
  quenfold::bench::throughput(state, [&] { return quenfold::signed_policy_verify(s.envelope).has_value(); });
}
BENCHMARK(BM_SignedPolicyVerifyThroughput)->Apply(quenfold::bench::one_and_two_threads);

}  // namespace
