// The policy exports, called through the built shared library exactly as a
// foreign caller does: the lowered PolicyPosture, code-1 messages, lifting
// failures and the scalars passed by value.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crypto/base64.h"
#include "crypto/hash.h"
#include "support/boundary.h"
#include "support/policy_builder.h"
#include "support/signers.h"
#include "support/testdata.h"

namespace quenfold::test {
namespace {

using VerifyFn = RustBuffer(RustBuffer, RustCallStatus*);
using TokenFn = void(RustBuffer, RustBuffer, RustCallStatus*);
using VrfFn = void(RustBuffer, uint8_t, RustCallStatus*);
using HashFn = void(RustBuffer, RustBuffer, RustCallStatus*);
using BackendFn = void(RustBuffer, uint16_t, RustCallStatus*);

// Reads a serialized PolicyPosture field by field.
struct PostureReader {
  std::vector<std::uint8_t> b;
  std::size_t at = 0;
  std::uint64_t be(int n) {
    if (at + static_cast<std::size_t>(n) > b.size()) throw std::runtime_error("short posture");
    std::uint64_t v = 0;
    for (int i = 0; i < n; ++i) v = v << 8 | b[at++];
    return v;
  }
  std::vector<std::uint8_t> bytes() {
    const auto n = static_cast<std::size_t>(be(4));
    if (at + n > b.size()) throw std::runtime_error("short posture");
    std::vector<std::uint8_t> out(b.begin() + static_cast<std::ptrdiff_t>(at),
                                  b.begin() + static_cast<std::ptrdiff_t>(at + n));
    at += n;
    return out;
  }
};

struct PolicyExports : ::testing::Test {
  const Library& lib = Library::instance();
  VerifyFn* verify = lib.fn<VerifyFn>("uniffi_quenfold_log_fn_func_signed_policy_verify");
  TokenFn* signing_key = lib.fn<TokenFn>("uniffi_quenfold_log_fn_func_policy_enforce_checkpoint_signing_key");
  TokenFn* signature = lib.fn<TokenFn>("uniffi_quenfold_log_fn_func_policy_enforce_checkpoint_signature");
  VrfFn* vrf = lib.fn<VrfFn>("uniffi_quenfold_log_fn_func_policy_enforce_vrf_suite_id");
  HashFn* hash = lib.fn<HashFn>("uniffi_quenfold_log_fn_func_policy_enforce_commitment_hash");
  BackendFn* backend = lib.fn<BackendFn>("uniffi_quenfold_log_fn_func_policy_enforce_directory_backend");

  RustBuffer envelope(const Bytes& e) const { return lib.buffer(Ser().bytes(e).out); }
  RustBuffer commitment(std::int32_t v) const { return lib.buffer(Ser().i32(v).out); }

  template <class F>
  Outcome run(F&& f) const {
    RustCallStatus st{};
    f(&st);
    return outcome_of(lib, st);
  }
};

// A malformed envelope: every export reports the same code-1 message.
TEST_F(PolicyExports, MalformedEnvelopeEverywhere) {
  PolicyRecord r;
  r.security_level = 4;
  Envelope e;
  e.record = r.encode();
  e.public_key = {0x02};
  e.signature = {0x02};
  const Bytes env = e.encode();
  const std::string want = "malformed namespace policy: unknown security_level tag 0x04";

  RustCallStatus st{};
  RustBuffer out = verify(envelope(env), &st);
  EXPECT_EQ(out.data, nullptr);
  EXPECT_EQ(out.len, 0u);
  EXPECT_EQ(out.capacity, 0u);
  Outcome o = outcome_of(lib, st);
  EXPECT_EQ(o.code, 1);
  EXPECT_EQ(o.message, want);

  for (const Outcome& x : {
           run([&](RustCallStatus* s) { signing_key(envelope(env), lib.buffer("AgA="), s); }),
           run([&](RustCallStatus* s) { signature(envelope(env), lib.buffer("AgA="), s); }),
           run([&](RustCallStatus* s) { vrf(envelope(env), 0x03, s); }),
           run([&](RustCallStatus* s) { hash(envelope(env), commitment(1), s); }),
           run([&](RustCallStatus* s) { backend(envelope(env), 0x0001, s); }),
       }) {
    EXPECT_EQ(x.code, 1);
    EXPECT_EQ(x.message, want);
  }
  // The empty envelope.
  o = run([&](RustCallStatus* s) { lib.take(verify(envelope({}), s)); });
  EXPECT_EQ(o.code, 1);
  EXPECT_EQ(o.message, "malformed namespace policy: field of 4 bytes overruns the 0-byte buffer at offset 0");
}

// Lifting failures come before the envelope is looked at, and name the
// first bad argument.
TEST_F(PolicyExports, LiftingFailures) {
  const Bytes junk = Ser().bytes({1, 2}).u8(0).out;  // a byte string and one extra byte
  struct Case {
    const char* name;
    Outcome outcome;
    std::string want;
  };
  const std::vector<Case> cases = {
      {"invalid commitment hash 3", run([&](RustCallStatus* s) { hash(envelope({}), commitment(3), s); }),
       "Failed to convert arg 'observed':\nInvalid CommitmentHash enum value: 3"},
      {"invalid commitment hash 0", run([&](RustCallStatus* s) { hash(envelope({}), commitment(0), s); }),
       "Failed to convert arg 'observed':\nInvalid CommitmentHash enum value: 0"},
      {"invalid commitment hash -1", run([&](RustCallStatus* s) { hash(envelope({}), commitment(-1), s); }),
       "Failed to convert arg 'observed':\nInvalid CommitmentHash enum value: -1"},
      {"junk after the commitment hash",
       run([&](RustCallStatus* s) { hash(envelope({}), lib.buffer(Ser().i32(1).u8(0).out), s); }),
       "Failed to convert arg 'observed':\njunk data left in buffer after lifting (count: 1)"},
      {"envelope named before the hash",
       run([&](RustCallStatus* s) { hash(lib.buffer(junk), commitment(3), s); }),
       "Failed to convert arg 'envelope':\njunk data left in buffer after lifting (count: 1)"},
      {"envelope of verify", run([&](RustCallStatus* s) { lib.take(verify(lib.buffer(junk), s)); }),
       "Failed to convert arg 'envelope':\njunk data left in buffer after lifting (count: 1)"},
      {"envelope of the vrf check", run([&](RustCallStatus* s) { vrf(lib.buffer(Bytes{0, 0}), 3, s); }),
       "Failed to convert arg 'envelope':\nnot enough bytes remaining in buffer (2 < 4)"},
      {"envelope of the key check",
       run([&](RustCallStatus* s) { signing_key(lib.buffer(junk), lib.buffer("x"), s); }),
       "Failed to convert arg 'envelope':\njunk data left in buffer after lifting (count: 1)"},
      {"envelope of the backend check", run([&](RustCallStatus* s) { backend(lib.buffer(junk), 1, s); }),
       "Failed to convert arg 'envelope':\njunk data left in buffer after lifting (count: 1)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.outcome.code, 2);
    EXPECT_EQ(c.outcome.message, c.want);
  }
}

struct SignedPolicyExports : PolicyExports {
  const TokenSigner& signer = default_policy_signer();  // tag 0x02
};

TEST_F(SignedPolicyExports, PostureIsLoweredFieldByField) {
  PolicyRecord r = PolicyRecord::keytrans("example.org", 0x0001);
  r.security_level = 5;
  r.commitment_hash = 2;
  r.checkpoint_suite = 2;
  r.policy_schema_version = 7;
  r.effective_from = 0x0102030405060708;
  r.created_at = 1765000000123;
  r.prev_policy_hash = Bytes(64, 0xab);
  const Envelope e = signed_envelope(r, signer);

  RustCallStatus st{};
  RustBuffer out = verify(envelope(e.encode()), &st);
  ASSERT_EQ(st.code, 0) << outcome_of(lib, st).message;
  PostureReader p{lib.take(out)};
  const Bytes ns = p.bytes();
  EXPECT_EQ(std::string(ns.begin(), ns.end()), "example.org");
  EXPECT_EQ(p.be(4), 7u);
  EXPECT_EQ(p.be(4), 2u);  // Cat5
  EXPECT_EQ(p.be(4), 2u);  // HybridMatched
  EXPECT_EQ(p.be(4), 2u);  // Sha3_512
  EXPECT_EQ(p.be(4), 1u);  // Classical
  EXPECT_EQ(p.be(4), 2u);  // Keytrans
  EXPECT_EQ(p.be(4), 3u);  // Kt128Sha256P256
  EXPECT_EQ(p.be(8), 0x0102030405060708u);
  EXPECT_EQ(p.be(8), 1765000000123u);
  const std::string label = "example.org/namespace-policy/v2";
  const Bytes len = {0, 0, 0, 0, 0, 0, 0, static_cast<std::uint8_t>(label.size())};
  const Bytes zero = {0};
  EXPECT_EQ(to_hex(p.bytes()), to_hex(crypto::sha3_512({len, bytes_of(label), e.record})));
  EXPECT_EQ(to_hex(p.bytes()), to_hex(crypto::sha256({zero, e.record})));
  EXPECT_EQ(p.at, p.b.size());
}

TEST_F(SignedPolicyExports, WorkedRecordPostureBytes) {
  RustCallStatus st{};
  RustBuffer out = verify(envelope(sign_policy(PolicyRecord{}, signer)), &st);
  ASSERT_EQ(st.code, 0) << outcome_of(lib, st).message;
  const Bytes b = lib.take(out);
  // "acme", schema 1, six enums at index 1, two zero u64s, then the two
  // hashes with their count prefixes.
  EXPECT_EQ(to_hex(b),
            std::string("0000000461636d6500000001") + "000000010000000100000001000000010000000100000001" +
                "00000000000000000000000000000000" + "00000040" +
                "5f3d6a8be9add9be035a51cb506a203844676a0c4f1c2eede1d53a49eb7add5d"
                "b29a713fc189dd677be39796a8c259d3d318e46dd8000bf08261853d92102884" +
                "00000020" + "0716bd753ce23bbad6f626df67375f32d022facc862f4b388cc074ad04c992ad");
}

TEST_F(SignedPolicyExports, EveryPostureCheckMatchesAndMismatches) {
  const Bytes hybrid3 = sign_policy(PolicyRecord{}, signer);
  const Bytes keytrans = sign_policy(PolicyRecord::keytrans("ns"), signer);
  const std::string key = signer.public_key_token();
  const std::string sig = signer.sign(bytes_of("body"), bytes_of("ns/checkpoint/v1"));
  const TokenSigner cat5 = TokenSigner::generate(crypto::SignatureVersion::MlDsa87Ed25519, 5);
  const std::string p = "posture mismatch: declared ";
  struct Case {
    const char* name;
    Outcome outcome;
    std::string want;  // empty: success
  };
  const std::vector<Case> cases = {
      {"key match", run([&](RustCallStatus* s) { signing_key(envelope(hybrid3), lib.buffer(key), s); }), ""},
      {"signature match", run([&](RustCallStatus* s) { signature(envelope(hybrid3), lib.buffer(sig), s); }), ""},
      {"key of cat5", run([&](RustCallStatus* s) {
         signing_key(envelope(hybrid3), lib.buffer(cat5.public_key_token()), s);
       }),
       p + "Hybrid/Cat3, observed Hybrid/Cat5"},
      {"key passed as signature",
       run([&](RustCallStatus* s) { signature(envelope(hybrid3), lib.buffer(key), s); }),
       p + "Hybrid/Cat3, observed undecodable checkpoint signature (invalid length: expected 3374 bytes, got 1985)"},
      {"empty key", run([&](RustCallStatus* s) { signing_key(envelope(hybrid3), lib.buffer(""), s); }),
       p + "Hybrid/Cat3, observed undecodable checkpoint key (signature: unknown or missing signature version tag)"},
      {"key not base64", run([&](RustCallStatus* s) { signing_key(envelope(hybrid3), lib.buffer("AB-C"), s); }),
       p + "Hybrid/Cat3, observed undecodable checkpoint key (base64 decode: " +
           crypto::base64::decode("AB-C").error() + ")"},
      {"vrf 0x03", run([&](RustCallStatus* s) { vrf(envelope(hybrid3), 0x03, s); }), ""},
      {"vrf 0x04", run([&](RustCallStatus* s) { vrf(envelope(hybrid3), 0x04, s); }),
       p + "vrf_mode Classical (suite_id 0x03), observed vrf suite_id 0x04"},
      {"vrf 0xff", run([&](RustCallStatus* s) { vrf(envelope(keytrans), 0xff, s); }),
       p + "vrf_mode Classical (suite_id 0x03), observed vrf suite_id 0xff"},
      {"hash match", run([&](RustCallStatus* s) { hash(envelope(hybrid3), commitment(1), s); }), ""},
      {"hash mismatch", run([&](RustCallStatus* s) { hash(envelope(hybrid3), commitment(2), s); }),
       p + "commitment_hash Sha3_256, observed commitment_hash Sha3_512"},
      {"coniks backend", run([&](RustCallStatus* s) { backend(envelope(hybrid3), 0x0001, s); }), ""},
      {"coniks vs keytrans backend", run([&](RustCallStatus* s) { backend(envelope(hybrid3), 0xF004, s); }),
       p + "directory_mode Coniks (backend 0x0001), observed directory backend 0xf004"},
      {"keytrans backend", run([&](RustCallStatus* s) { backend(envelope(keytrans), 0xF004, s); }), ""},
      {"keytrans vs coniks backend", run([&](RustCallStatus* s) { backend(envelope(keytrans), 0x0001, s); }),
       p + "directory_mode Keytrans (backend 0xf004), observed directory backend 0x0001"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.want.empty()) {
      EXPECT_EQ(c.outcome.code, 0) << c.outcome.message;
      EXPECT_TRUE(c.outcome.error_buf_zero);
    } else {
      EXPECT_EQ(c.outcome.code, 1);
      EXPECT_EQ(c.outcome.message, c.want);
    }
  }
}

TEST_F(SignedPolicyExports, BadSignatureWinsOverAnyObservation) {
  Bytes env = sign_policy(PolicyRecord{}, signer);
  env[env.size() - 100] ^= 0x20;
  const std::string want = "invalid signature for known key \"acme/namespace-policy\" (key id 00000000)";
  for (const Outcome& o : {
           run([&](RustCallStatus* s) { lib.take(verify(envelope(env), s)); }),
           run([&](RustCallStatus* s) { signing_key(envelope(env), lib.buffer(signer.public_key_token()), s); }),
           run([&](RustCallStatus* s) { signature(envelope(env), lib.buffer("!!"), s); }),
           run([&](RustCallStatus* s) { vrf(envelope(env), 0x03, s); }),
           run([&](RustCallStatus* s) { hash(envelope(env), commitment(2), s); }),
           run([&](RustCallStatus* s) { backend(envelope(env), 0xF004, s); }),
       }) {
    EXPECT_EQ(o.code, 1);
    EXPECT_EQ(o.message, want);
  }
}

}  // namespace
}  // namespace quenfold::test
