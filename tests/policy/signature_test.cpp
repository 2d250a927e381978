// Signed policies end to end: every token version signs a policy that
// verifies, every tampered region fails, the signature covers the canonical
// bytes under the canonical label, and the exported operations verify the
// envelope before any posture comparison.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crypto/base64.h"
#include "crypto/hash.h"
#include "policy/policy.h"
#include "quenfold/policy.h"
#include "support/policy_builder.h"
#include "support/signers.h"
#include "support/testdata.h"

namespace quenfold::policy {
namespace {

using crypto::SignatureVersion;
using test::Envelope;
using test::PolicyRecord;
using test::TokenSigner;
using test::to_hex;

constexpr const char* kWorkedPolicyHash =
    "5f3d6a8be9add9be035a51cb506a203844676a0c4f1c2eede1d53a49eb7add5d"
    "b29a713fc189dd677be39796a8c259d3d318e46dd8000bf08261853d92102884";
constexpr const char* kWorkedLeafHash = "0716bd753ce23bbad6f626df67375f32d022facc862f4b388cc074ad04c992ad";
const std::string kAcmeBadSignature = "invalid signature for known key \"acme/namespace-policy\" (key id 00000000)";

const std::vector<SignatureVersion> kAllVersions = {
    SignatureVersion::MlDsa44Ed25519, SignatureVersion::MlDsa65Ed25519, SignatureVersion::MlDsa87Ed25519,
    SignatureVersion::MlDsa87,        SignatureVersion::MlDsa65Ed448,   SignatureVersion::MlDsa87EcdsaP521,
};

std::string verdict(const Bytes& envelope) {
  auto r = signed_policy_verify(envelope);
  return r ? "<verified>" : r.error().message();
}

// Positions to tamper with inside a region: both ends, every component
// boundary the caller names, and an even spread in between.
std::vector<std::size_t> sample(std::size_t begin, std::size_t len, std::vector<std::size_t> boundaries = {}) {
  std::vector<std::size_t> out = {begin, begin + len - 1};
  for (std::size_t b : boundaries)
    if (b < len) {
      out.push_back(begin + b);
      if (b > 0) out.push_back(begin + b - 1);
    }
  const std::size_t step = std::max<std::size_t>(1, len / 24);
  for (std::size_t i = step / 2; i < len; i += step) out.push_back(begin + i);
  return out;
}

// Offsets inside a decoded token where one component ends and the next
// begins (tag, then the classical part, then ML-DSA).
std::vector<std::size_t> key_boundaries(SignatureVersion v) {
  switch (v) {
    case SignatureVersion::MlDsa87: return {1};
    case SignatureVersion::MlDsa65Ed448: return {1, 58};
    case SignatureVersion::MlDsa87EcdsaP521: return {1, 134};
    default: return {1, 33};
  }
}
std::vector<std::size_t> sig_boundaries(SignatureVersion v) {
  switch (v) {
    case SignatureVersion::MlDsa87: return {1};
    case SignatureVersion::MlDsa65Ed448: return {1, 115};
    case SignatureVersion::MlDsa87EcdsaP521: return {1, 67, 133};
    default: return {1, 65};
  }
}

class SignedPolicyVersions : public ::testing::TestWithParam<SignatureVersion> {};

TEST_P(SignedPolicyVersions, VerifiesAndEveryTamperedRegionFails) {
  const TokenSigner signer = TokenSigner::generate(GetParam(), 0x51c0 + static_cast<std::uint64_t>(GetParam()));
  const PolicyRecord record;
  const Envelope env = test::signed_envelope(record, signer);
  const Bytes good = env.encode();

  auto posture = signed_policy_verify(good);
  ASSERT_TRUE(posture) << posture.error().message();
  EXPECT_EQ(to_hex(posture->policy_hash), kWorkedPolicyHash);
  EXPECT_EQ(to_hex(posture->rfc6962_leaf_hash), kWorkedLeafHash);

  const std::size_t record_at = 8;
  const std::size_t key_at = record_at + env.record.size() + 4;
  const std::size_t sig_at = key_at + env.public_key.size() + 4;
  ASSERT_EQ(sig_at + env.signature.size(), good.size());

  struct Region {
    const char* name;
    std::vector<std::size_t> positions;
  };
  std::vector<std::size_t> every_record_byte;
  for (std::size_t i = 0; i < env.record.size(); ++i) every_record_byte.push_back(record_at + i);
  const std::vector<Region> regions = {
      {"record", every_record_byte},
      {"key", sample(key_at, env.public_key.size(), key_boundaries(GetParam()))},
      {"signature", sample(sig_at, env.signature.size(), sig_boundaries(GetParam()))},
  };
  for (const auto& region : regions) {
    for (std::size_t pos : region.positions) {
      SCOPED_TRACE(std::string(region.name) + " byte " + std::to_string(pos));
      Bytes bad = good;
      bad[pos] ^= 0x01;
      auto r = signed_policy_verify(bad);
      ASSERT_FALSE(r);
      // Whatever still parses must fail on the signature; a record byte may
      // also break the parse or a legality rule first.
      if (r.error().kind() != ErrorKind::MalformedPolicy && r.error().kind() != ErrorKind::MalformedNamespace) {
        EXPECT_EQ(r.error().kind(), ErrorKind::InvalidSignature) << r.error().message();
      }
      if (std::string(region.name) != "record") {
        EXPECT_EQ(r.error().message(), kAcmeBadSignature);
      }
    }
  }
}

// The fields a verifier must not be able to change without the signer:
// every field of the record is covered by the signature.
TEST_P(SignedPolicyVersions, EveryRecordFieldIsCovered) {
  const TokenSigner signer = TokenSigner::generate(GetParam(), 0x5eed);
  PolicyRecord signed_record;
  signed_record.prev_policy_hash = Bytes(64, 0x11);
  signed_record.created_at = 1000;
  const Envelope env = test::signed_envelope(signed_record, signer);
  ASSERT_EQ(verdict(env.encode()), "<verified>");

  std::vector<std::pair<const char*, PolicyRecord>> edits;
  auto edit = [&](const char* name, auto f) {
    PolicyRecord r = signed_record;
    f(r);
    edits.emplace_back(name, r);
  };
  edit("namespace", [](PolicyRecord& r) { r.namespace_ = "acmf"; });
  edit("schema", [](PolicyRecord& r) { r.policy_schema_version = 2; });
  edit("suite", [](PolicyRecord& r) { r.checkpoint_suite = 2; });
  edit("level and hash", [](PolicyRecord& r) {
    r.security_level = 5;
    r.commitment_hash = 2;
  });
  edit("effective_from", [](PolicyRecord& r) { r.effective_from = 1; });
  edit("created_at", [](PolicyRecord& r) { r.created_at = 1001; });
  edit("prev hash", [](PolicyRecord& r) { r.prev_policy_hash[63] = 0x12; });
  edit("genesis", [](PolicyRecord& r) { r.prev_policy_hash.clear(); });
  edit("route", [](PolicyRecord& r) {
    r.format_version = 2;
    r.directory_mode = 2;
  });
  for (const auto& [name, r] : edits) {
    SCOPED_TRACE(name);
    Envelope forged = env;
    forged.record = r.encode();
    const std::string ns = r.namespace_;
    EXPECT_EQ(verdict(forged.encode()),
              "invalid signature for known key \"" + ns + "/namespace-policy\" (key id 00000000)");
  }
}

INSTANTIATE_TEST_SUITE_P(AllTokenVersions, SignedPolicyVersions, ::testing::ValuesIn(kAllVersions),
                         [](const ::testing::TestParamInfo<SignatureVersion>& p) {
                           return "tag" + std::to_string(static_cast<int>(p.param));
                         });

// A format-2 record declaring CONIKS is signed and hashed as its format-1
// form under the v1 label.
TEST(SignedPolicy, Format2ConiksIsSignedAsFormat1) {
  const TokenSigner& signer = test::default_policy_signer();
  PolicyRecord f2;
  f2.format_version = 2;
  const Envelope env = test::signed_envelope(f2, signer);
  ASSERT_EQ(env.record.size(), 43u);

  auto posture = signed_policy_verify(env.encode());
  ASSERT_TRUE(posture) << posture.error().message();
  EXPECT_EQ(posture->directory_mode, DirectoryMode::Coniks);
  EXPECT_EQ(posture->keytrans_suite, KeytransSuite::QuenfoldHybridExp);
  EXPECT_EQ(to_hex(posture->policy_hash), kWorkedPolicyHash);
  EXPECT_EQ(to_hex(posture->rfc6962_leaf_hash), kWorkedLeafHash);

  // The very same signature verifies the format-1 encoding of the record.
  Envelope as_f1 = env;
  as_f1.record = PolicyRecord{}.encode();
  EXPECT_EQ(verdict(as_f1.encode()), "<verified>");

  // A signature over the received format-2 bytes, or under the v2 label,
  // does not.
  const Bytes label_v1 = test::bytes_of("acme/namespace-policy/v1");
  const Bytes label_v2 = test::bytes_of("acme/namespace-policy/v2");
  Envelope over_received = env;
  over_received.signature = signer.sign_bytes(f2.encode(), label_v1);
  EXPECT_EQ(verdict(over_received.encode()), kAcmeBadSignature);
  Envelope under_v2 = env;
  under_v2.signature = signer.sign_bytes(f2.canonical(), label_v2);
  EXPECT_EQ(verdict(under_v2.encode()), kAcmeBadSignature);
}

TEST(SignedPolicy, KeytransPolicyUsesTheV2Label) {
  const TokenSigner& signer = test::default_policy_signer();
  const PolicyRecord r = PolicyRecord::keytrans("ns", 0x0001);
  const Envelope env = test::signed_envelope(r, signer);
  auto posture = signed_policy_verify(env.encode());
  ASSERT_TRUE(posture) << posture.error().message();
  EXPECT_EQ(posture->namespace_, "ns");
  EXPECT_EQ(posture->directory_mode, DirectoryMode::Keytrans);
  EXPECT_EQ(posture->keytrans_suite, KeytransSuite::Kt128Sha256P256);
  const std::string label = "ns/namespace-policy/v2";
  const Bytes len = {0, 0, 0, 0, 0, 0, 0, static_cast<std::uint8_t>(label.size())};
  EXPECT_EQ(to_hex(posture->policy_hash), to_hex(crypto::sha3_512({len, test::bytes_of(label), env.record})));
  const Bytes zero = {0};
  EXPECT_EQ(to_hex(posture->rfc6962_leaf_hash), to_hex(crypto::sha256({zero, env.record})));

  Envelope under_v1 = env;
  under_v1.signature = signer.sign_bytes(env.record, test::bytes_of("ns/namespace-policy/v1"));
  EXPECT_EQ(verdict(under_v1.encode()), "invalid signature for known key \"ns/namespace-policy\" (key id 00000000)");
}

// Keys and signatures that are not the signer's, or not of one version,
// never verify, and every such failure reads the same.
TEST(SignedPolicy, ForeignAndMismatchedTokens) {
  const TokenSigner& signer = test::default_policy_signer();
  const TokenSigner other = TokenSigner::generate(SignatureVersion::MlDsa65Ed25519, 77);
  const TokenSigner other_version = TokenSigner::generate(SignatureVersion::MlDsa87Ed25519, 77);
  const PolicyRecord r;
  const Envelope env = test::signed_envelope(r, signer);
  ASSERT_EQ(verdict(env.encode()), "<verified>");

  struct Case {
    const char* name;
    Bytes key, sig;
  };
  Bytes cut_key = env.public_key;
  cut_key.pop_back();
  Bytes unknown_tag_sig = env.signature;
  unknown_tag_sig[0] = 0x05;
  Bytes unknown_tag_key = env.public_key;
  unknown_tag_key[0] = 0x05;
  const std::vector<Case> cases = {
      {"another key of the same version", other.public_key_token_bytes(), env.signature},
      {"another signer's signature", env.public_key, other.sign_bytes(r.canonical(), test::bytes_of(r.context_label()))},
      {"key of another version", other_version.public_key_token_bytes(), env.signature},
      {"key one byte short", cut_key, env.signature},
      {"signature with an unknown tag", env.public_key, unknown_tag_sig},
      {"key with an unknown tag", unknown_tag_key, env.signature},
      {"signature as key", env.signature, env.public_key},
      {"one-byte tokens", {0x02}, {0x02}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Envelope e = env;
    e.public_key = c.key;
    e.signature = c.sig;
    EXPECT_EQ(verdict(e.encode()), kAcmeBadSignature);
  }
}

// The exported posture checks verify the envelope first: its failures win
// whatever is observed, and real tokens classify by their version.
TEST(PolicyEnforce, EnvelopeFirstThenComparison) {
  const TokenSigner& signer = test::default_policy_signer();  // tag 0x02: Hybrid/Cat3
  const Bytes good = test::sign_policy(PolicyRecord{}, signer);
  Bytes bad_sig = good;
  bad_sig.back() ^= 1;
  Bytes malformed = good;
  malformed[16 + 8] = 9;  // security_level byte of the record
  const std::string bad_level = "malformed namespace policy: unknown security_level tag 0x09";

  const std::string key = signer.public_key_token();
  const std::string sig = signer.sign(test::bytes_of("checkpoint body\n"), test::bytes_of("example/checkpoint/v1"));

  EXPECT_TRUE(policy_enforce_checkpoint_signing_key(good, key));
  EXPECT_TRUE(policy_enforce_checkpoint_signature(good, sig));
  EXPECT_TRUE(policy_enforce_vrf_suite_id(good, 0x03));
  EXPECT_TRUE(policy_enforce_commitment_hash(good, CommitmentHash::Sha3_256));
  EXPECT_TRUE(policy_enforce_directory_backend(good, 0x0001));

  for (const auto& [env, want] : {std::pair{bad_sig, kAcmeBadSignature}, std::pair{malformed, bad_level}}) {
    EXPECT_EQ(policy_enforce_checkpoint_signing_key(env, key).error().message(), want);
    EXPECT_EQ(policy_enforce_checkpoint_signing_key(env, "").error().message(), want);
    EXPECT_EQ(policy_enforce_checkpoint_signature(env, "!").error().message(), want);
    EXPECT_EQ(policy_enforce_vrf_suite_id(env, 0x04).error().message(), want);
    EXPECT_EQ(policy_enforce_commitment_hash(env, CommitmentHash::Sha3_512).error().message(), want);
    EXPECT_EQ(policy_enforce_directory_backend(env, 0xF004).error().message(), want);
    EXPECT_EQ(signed_policy_verify(env).error().message(), want);
  }

  // A real key token cut by one byte is undecodable for the posture check.
  Bytes cut = signer.public_key_token_bytes();
  ASSERT_EQ(cut.size(), 1985u);
  cut.pop_back();
  EXPECT_EQ(policy_enforce_checkpoint_signing_key(good, crypto::base64::encode(cut)).error().message(),
            "posture mismatch: declared Hybrid/Cat3, observed undecodable checkpoint key (invalid length: expected "
            "1985 bytes, got 1984)");
  EXPECT_EQ(policy_enforce_vrf_suite_id(good, 0x04).error().message(),
            "posture mismatch: declared vrf_mode Classical (suite_id 0x03), observed vrf suite_id 0x04");
}

TEST(PolicyEnforce, RealTokensOfEveryVersionAgainstACnsaPolicy) {
  const TokenSigner policy_signer = TokenSigner::generate(SignatureVersion::MlDsa87EcdsaP521, 3);
  const Bytes cnsa = test::sign_policy(PolicyRecord::cat5(3), policy_signer);  // PureCnsa2/Cat5
  const Bytes msg = test::bytes_of("tree head");
  const Bytes ctx = test::bytes_of("example.org/checkpoint/v1");
  const std::vector<std::pair<SignatureVersion, const char*>> observed = {
      {SignatureVersion::MlDsa44Ed25519, "Hybrid/Cat2"}, {SignatureVersion::MlDsa65Ed25519, "Hybrid/Cat3"},
      {SignatureVersion::MlDsa87Ed25519, "Hybrid/Cat5"}, {SignatureVersion::MlDsa87, nullptr},
      {SignatureVersion::MlDsa65Ed448, "HybridMatched/Cat3"}, {SignatureVersion::MlDsa87EcdsaP521, "HybridMatched/Cat5"},
  };
  for (const auto& [v, profile] : observed) {
    SCOPED_TRACE(static_cast<int>(v));
    const TokenSigner s = TokenSigner::generate(v, 9);
    auto key = policy_enforce_checkpoint_signing_key(cnsa, s.public_key_token());
    auto sig = policy_enforce_checkpoint_signature(cnsa, s.sign(msg, ctx));
    if (profile == nullptr) {
      EXPECT_TRUE(key) << key.error().message();
      EXPECT_TRUE(sig) << sig.error().message();
    } else {
      const std::string want = std::string("posture mismatch: declared PureCnsa2/Cat5, observed ") + profile;
      ASSERT_FALSE(key);
      EXPECT_EQ(key.error().message(), want);
      ASSERT_FALSE(sig);
      EXPECT_EQ(sig.error().message(), want);
    }
  }
}

}  // namespace
}  // namespace quenfold::policy
