// The component verifiers against Project Wycheproof's verification vectors:
// every vector's expected result must hold, for the plain and the strict
// Ed25519 forms alike (see the note above the strict test).
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "crypto/sign.h"
#include "support/testdata.h"

namespace quenfold::crypto {
namespace {

using nlohmann::json;
using test::Bytes;
using test::from_hex;

json load(const std::string& name) { return json::parse(test::read_file(test::testdata_path("wycheproof/" + name))); }

struct Counts {
  int valid = 0;
  int invalid = 0;
};

// Runs `verify` over every test of every group and checks each result;
// returns how many valid and invalid vectors ran.
template <class Verify>
Counts run_file(const std::string& file, Verify verify) {
  const json doc = load(file);
  Counts counts;
  for (const auto& group : doc.at("testGroups")) {
    for (const auto& t : group.at("tests")) {
      const std::string result = t.at("result");
      EXPECT_NE(result, "acceptable") << file << " has an acceptable vector " << t.at("tcId");
      const bool want = result == "valid";
      const bool got = verify(group, t);
      EXPECT_EQ(got, want) << file << " tcId " << t.at("tcId") << ": " << t.at("comment").get<std::string>();
      (want ? counts.valid : counts.invalid)++;
    }
  }
  return counts;
}

Bytes hex_field(const json& j, const char* name) { return from_hex(j.at(name).get<std::string>()); }

TEST(Wycheproof, Ed25519PlainMatchesEveryVector) {
  const auto c = run_file("ed25519_test.json", [](const json& g, const json& t) {
    return verify_ed25519(hex_field(g.at("publicKey"), "pk"), hex_field(t, "msg"), hex_field(t, "sig"));
  });
  EXPECT_GT(c.valid, 50);
  EXPECT_GT(c.invalid, 50);
}

// The strict rules go beyond the plain equation only for small-order keys
// and R values. None of the file's valid vectors uses one (its non-canonical
// S and malformed-point cases are invalid for both forms), so the strict
// check must agree with every vector; the departures are exercised with
// constructed signatures in sign_test.cpp.
TEST(Wycheproof, Ed25519StrictMatchesEveryVector) {
  const auto c = run_file("ed25519_test.json", [](const json& g, const json& t) {
    return verify_ed25519_strict(hex_field(g.at("publicKey"), "pk"), hex_field(t, "msg"), hex_field(t, "sig"));
  });
  EXPECT_GT(c.valid, 50);
  EXPECT_GT(c.invalid, 50);
}

TEST(Wycheproof, Ed448MatchesEveryVector) {
  const auto c = run_file("ed448_test.json", [](const json& g, const json& t) {
    return verify_ed448(hex_field(g.at("publicKey"), "pk"), hex_field(t, "msg"), hex_field(t, "sig"));
  });
  EXPECT_GT(c.valid, 10);
  EXPECT_GT(c.invalid, 50);
}

TEST(Wycheproof, EcdsaP521Sha512P1363MatchesEveryVector) {
  const auto c = run_file("ecdsa_secp521r1_sha512_p1363_test.json", [](const json& g, const json& t) {
    return verify_ecdsa_p521_sha512(hex_field(g.at("publicKey"), "uncompressed"), hex_field(t, "msg"),
                                    hex_field(t, "sig"));
  });
  EXPECT_GT(c.valid, 200);
  EXPECT_GT(c.invalid, 50);
}

class WycheproofMlDsa : public ::testing::TestWithParam<std::pair<const char*, MlDsaParameterSet>> {};

TEST_P(WycheproofMlDsa, MatchesEveryVector) {
  const auto [file, set] = GetParam();
  const auto c = run_file(file, [set](const json& g, const json& t) {
    const Bytes ctx = t.contains("ctx") ? hex_field(t, "ctx") : Bytes{};
    return verify_ml_dsa(set, hex_field(g, "publicKey"), hex_field(t, "msg"), hex_field(t, "sig"), ctx);
  });
  EXPECT_GT(c.valid, 60);
  EXPECT_GT(c.invalid, 100);
}

INSTANTIATE_TEST_SUITE_P(AllParameterSets, WycheproofMlDsa,
                         ::testing::Values(std::pair{"mldsa_44_verify_test.json", MlDsaParameterSet::MlDsa44},
                                           std::pair{"mldsa_65_verify_test.json", MlDsaParameterSet::MlDsa65},
                                           std::pair{"mldsa_87_verify_test.json", MlDsaParameterSet::MlDsa87}));

}  // namespace
}  // namespace quenfold::crypto
