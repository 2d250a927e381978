// Posture checks against a parsed policy: every mismatch text of the five
// checks, and the classification of key and signature tokens. Tokens are only
// classified, so their material here is filler of the exact version length.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crypto/base64.h"
#include "policy/policy.h"
#include "policy/posture.h"
#include "support/policy_builder.h"

namespace quenfold::policy {
namespace {

using test::PolicyRecord;

// The token layouts: tag, total key length, total signature length, and the
// profile each version stands for.
struct Version {
  std::uint8_t tag;
  std::size_t key_len;
  std::size_t sig_len;
  const char* profile;
};
const std::vector<Version> kVersions = {
    {0x01, 1 + 32 + 1312, 1 + 64 + 2420, "Hybrid/Cat2"},
    {0x02, 1 + 32 + 1952, 1 + 64 + 3309, "Hybrid/Cat3"},
    {0x03, 1 + 32 + 2592, 1 + 64 + 4627, "Hybrid/Cat5"},
    {0x10, 1 + 2592, 1 + 4627, "PureCnsa2/Cat5"},
    {0x13, 1 + 57 + 1952, 1 + 114 + 3309, "HybridMatched/Cat3"},
    {0x14, 1 + 133 + 2592, 1 + 132 + 4627, "HybridMatched/Cat5"},
};

std::string token(std::uint8_t tag, std::size_t len) {
  Bytes b(len, 0x5c);
  if (!b.empty()) b[0] = tag;
  return crypto::base64::encode(b);
}

NamespacePolicy policy(const PolicyRecord& r) {
  auto p = NamespacePolicy::parse(r.encode());
  if (!p) throw std::runtime_error(p.error().message());
  return *p;
}

std::string message(const std::expected<void, Error>& r) {
  if (r) return "<match>";
  EXPECT_EQ(r.error().kind(), ErrorKind::PostureMismatch);
  return r.error().message();
}

// The five (suite, level) postures a legal policy can declare.
struct Posture {
  const char* name;
  PolicyRecord record;
  std::uint8_t accepted_tag;
};
std::vector<Posture> postures() {
  PolicyRecord matched3;
  matched3.checkpoint_suite = 2;
  return {
      {"Hybrid/Cat3", PolicyRecord{}, 0x02},
      {"Hybrid/Cat5", PolicyRecord::cat5(1), 0x03},
      {"HybridMatched/Cat3", matched3, 0x13},
      {"HybridMatched/Cat5", PolicyRecord::cat5(2), 0x14},
      {"PureCnsa2/Cat5", PolicyRecord::cat5(3), 0x10},
  };
}

// Each posture accepts exactly one version, as key and as signature; every
// other version is named by its own profile.
TEST(PostureTokens, EveryPostureAgainstEveryVersion) {
  for (const auto& pos : postures()) {
    const NamespacePolicy p = policy(pos.record);
    for (const auto& v : kVersions) {
      SCOPED_TRACE(std::string(pos.name) + " vs tag " + std::to_string(v.tag));
      const std::string want = v.tag == pos.accepted_tag ? "<match>"
                                                         : std::string("posture mismatch: declared ") + pos.name +
                                                               ", observed " + v.profile;
      EXPECT_EQ(message(enforce_checkpoint_signing_key(p, token(v.tag, v.key_len))), want);
      EXPECT_EQ(message(enforce_checkpoint_signature(p, token(v.tag, v.sig_len))), want);
    }
  }
}

TEST(PostureTokens, ClassifiesByTagAndExactLength) {
  for (const auto& v : kVersions) {
    SCOPED_TRACE(v.tag);
    auto key = classify_token(token(v.tag, v.key_len), TokenRole::PublicKey);
    ASSERT_TRUE(key) << key.error().message();
    EXPECT_EQ(std::string(name_of(key->suite)) + "/" + crypto::name_of(key->category), v.profile);
    auto sig = classify_token(token(v.tag, v.sig_len), TokenRole::Signature);
    ASSERT_TRUE(sig) << sig.error().message();
    EXPECT_EQ(std::string(name_of(sig->suite)) + "/" + crypto::name_of(sig->category), v.profile);
    // A key is not a signature and the other way round; one byte more or
    // less is not the version either.
    for (auto [role, len, want] : {std::tuple{TokenRole::Signature, v.key_len, v.sig_len},
                                   std::tuple{TokenRole::PublicKey, v.sig_len, v.key_len},
                                   std::tuple{TokenRole::PublicKey, v.key_len - 1, v.key_len},
                                   std::tuple{TokenRole::PublicKey, v.key_len + 1, v.key_len},
                                   std::tuple{TokenRole::Signature, v.sig_len - 1, v.sig_len},
                                   std::tuple{TokenRole::Signature, v.sig_len + 1, v.sig_len},
                                   std::tuple{TokenRole::Signature, std::size_t{1}, v.sig_len}}) {
      auto r = classify_token(token(v.tag, len), role);
      ASSERT_FALSE(r);
      EXPECT_EQ(r.error().message(),
                "invalid length: expected " + std::to_string(want) + " bytes, got " + std::to_string(len));
    }
  }
}

// The undecodable-token texts of both token checks.
TEST(PostureTokens, UndecodableTokenTexts) {
  const NamespacePolicy p = policy(PolicyRecord{});
  const std::string declared = "posture mismatch: declared Hybrid/Cat3, observed ";
  struct Case {
    const char* name;
    std::string token;
    std::string key_detail, sig_detail;
  };
  const std::string unknown = "signature: unknown or missing signature version tag";
  auto base64_detail = [](const std::string& t) -> std::string {
    const auto d = crypto::base64::decode(t);
    if (d) return "<decodes>";
    return "base64 decode: " + d.error();
  };
  const std::vector<Case> cases = {
      {"empty token", "", unknown, unknown},
      {"tag 0x00", token(0x00, 1985), unknown, unknown},
      {"tag 0x05", token(0x05, 3374), unknown, unknown},
      {"tag 0x11", token(0x11, 2593), unknown, unknown},
      {"tag 0xff alone", token(0xff, 1), unknown, unknown},
      {"key cut to 1984 bytes", token(0x02, 1984), "invalid length: expected 1985 bytes, got 1984",
       "invalid length: expected 3374 bytes, got 1984"},
      {"tag byte alone", token(0x02, 1), "invalid length: expected 1985 bytes, got 1",
       "invalid length: expected 3374 bytes, got 1"},
      {"not base64", "not base64!", base64_detail("not base64!"), base64_detail("not base64!")},
      {"url-safe alphabet", "AB-C", base64_detail("AB-C"), base64_detail("AB-C")},
      {"missing padding", "AgA", base64_detail("AgA"), base64_detail("AgA")},
      {"trailing newline", token(0x02, 1985) + "\n", base64_detail(token(0x02, 1985) + "\n"),
       base64_detail(token(0x02, 1985) + "\n")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(message(enforce_checkpoint_signing_key(p, c.token)),
              declared + "undecodable checkpoint key (" + c.key_detail + ")");
    EXPECT_EQ(message(enforce_checkpoint_signature(p, c.token)),
              declared + "undecodable checkpoint signature (" + c.sig_detail + ")");
  }
  // The base64 failures are the dependency codec's own texts.
  for (const char* bad : {"not base64!", "AB-C", "AgA"}) {
    const std::string d = base64_detail(bad);
    EXPECT_TRUE(d.rfind("base64 decode: Invalid ", 0) == 0) << d;
  }
}

TEST(PostureVrf, OnlyTheEdwards25519SuiteMatches) {
  for (const auto& pos : postures()) {
    const NamespacePolicy p = policy(pos.record);
    for (int id = 0; id <= 0xff; ++id) {
      const auto observed = static_cast<std::uint8_t>(id);
      char hex[3];
      std::snprintf(hex, sizeof hex, "%02x", id);
      const std::string want = id == 0x03 ? "<match>"
                                          : std::string("posture mismatch: declared vrf_mode Classical (suite_id "
                                                        "0x03), observed vrf suite_id 0x") +
                                                hex;
      ASSERT_EQ(message(enforce_vrf_suite_id(p, observed)), want) << pos.name;
    }
  }
  EXPECT_EQ(message(enforce_vrf_suite_id(policy(PolicyRecord::keytrans("ns")), 0x04)),
            "posture mismatch: declared vrf_mode Classical (suite_id 0x03), observed vrf suite_id 0x04");
}

TEST(PostureCommitmentHash, DeclaredAgainstObserved) {
  struct Case {
    PolicyRecord record;
    CommitmentHash observed;
    std::string want;
  };
  const std::vector<Case> cases = {
      {PolicyRecord{}, CommitmentHash::Sha3_256, "<match>"},
      {PolicyRecord{}, CommitmentHash::Sha3_512,
       "posture mismatch: declared commitment_hash Sha3_256, observed commitment_hash Sha3_512"},
      {PolicyRecord::cat5(3), CommitmentHash::Sha3_512, "<match>"},
      {PolicyRecord::cat5(3), CommitmentHash::Sha3_256,
       "posture mismatch: declared commitment_hash Sha3_512, observed commitment_hash Sha3_256"},
      {PolicyRecord::keytrans("ns"), CommitmentHash::Sha3_512,
       "posture mismatch: declared commitment_hash Sha3_256, observed commitment_hash Sha3_512"},
  };
  for (const auto& c : cases) EXPECT_EQ(message(enforce_commitment_hash(policy(c.record), c.observed)), c.want);
}

TEST(PostureDirectoryBackend, CodesOfBothRoutes) {
  const NamespacePolicy coniks = policy(PolicyRecord{});
  PolicyRecord coniks_f2;
  coniks_f2.format_version = 2;
  const NamespacePolicy coniks2 = policy(coniks_f2);
  const NamespacePolicy keytrans = policy(PolicyRecord::keytrans("ns", 0x0001));
  const std::string c = "posture mismatch: declared directory_mode Coniks (backend 0x0001), observed directory backend 0x";
  const std::string k = "posture mismatch: declared directory_mode Keytrans (backend 0xf004), observed directory backend 0x";
  struct Case {
    const NamespacePolicy* p;
    std::uint16_t observed;
    std::string want;
  };
  const std::vector<Case> cases = {
      {&coniks, 0x0001, "<match>"},    {&coniks2, 0x0001, "<match>"},   {&keytrans, 0xF004, "<match>"},
      {&coniks, 0xF004, c + "f004"},   {&coniks2, 0xF004, c + "f004"},  {&coniks, 0x0000, c + "0000"},
      {&coniks, 0x0100, c + "0100"},   {&coniks, 0xFFFF, c + "ffff"},   {&keytrans, 0x0001, k + "0001"},
      {&keytrans, 0xF040, k + "f040"}, {&keytrans, 0x0004, k + "0004"}, {&keytrans, 0x04F0, k + "04f0"},
  };
  for (const auto& cs : cases) {
    SCOPED_TRACE(cs.observed);
    EXPECT_EQ(message(enforce_directory_backend(*cs.p, cs.observed)), cs.want);
  }
}

}  // namespace
}  // namespace quenfold::policy
