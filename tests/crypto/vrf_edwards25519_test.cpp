// ECVRF-EDWARDS25519-SHA512-TAI: the RFC 9381 vectors, proofs from the
// prover, and the answers "not valid" versus length errors.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sodium.h>

#include <set>

#include "crypto/edwards25519.h"
#include "crypto/vrf.h"
#include "support/edwards25519_cases.h"
#include "support/testdata.h"
#include "support/vrf_reference.h"

namespace quenfold::test {
namespace {

const crypto::Vrf& vrf() { return crypto::ecvrf_edwards25519(); }
const VrfProver& prover() { return ecvrf_edwards25519_prover(); }

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

namespace ed = ed25519;
using ed::non_canonical_twin;
using ed::scalar_of;
using ed::small_order_encodings;
using ed::torsion_proof;
using ed::undecodable_point;

ed::Point order8_point() { return ed::torsion_points()[1]; }

const Vector& first_vector() {
  static const Vector v = rfc_vectors().at(1);
  return v;
}

// The answer for a proof, asserting that it is an answer and not an error.
bool is_valid(const Bytes& pk, const Bytes& alpha, const Bytes& pi) {
  auto r = vrf().verify(pk, alpha, pi);
  EXPECT_TRUE(r) << (r ? "" : r.error().message());
  return r && r->valid;
}

TEST(EcvrfEdwards25519, SuiteString) { EXPECT_EQ(vrf().suite_string(), 0x03); }

TEST(EcvrfEdwards25519, Rfc9381Vectors) {
  const auto vectors = rfc_vectors();
  ASSERT_EQ(vectors.size(), 3u);
  for (const auto& v : vectors) {
    SCOPED_TRACE(to_hex(v.alpha));
    auto pk = prover().public_key_from_secret(v.sk);
    ASSERT_TRUE(pk);
    EXPECT_EQ(to_hex(*pk), to_hex(v.pk));
    auto pi = prover().prove(v.sk, v.alpha);
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

TEST(EcvrfEdwards25519, HashToCurveHelperMatchesTheRfcPoints) {
  // Guards the hand-built proofs below: their hash to curve is the RFC's.
  const auto doc = nlohmann::json::parse(read_file(testdata_path("ecvrf_rfc9381.json")));
  for (const auto& v : doc.at("ECVRF-EDWARDS25519-SHA512-TAI")) {
    const Bytes pk = from_hex(v.at("PK").get<std::string>());
    ed::Point pk_point{};
    std::copy(pk.begin(), pk.end(), pk_point.begin());
    EXPECT_EQ(to_hex(ed::hash_to_curve(pk_point, from_hex(v.at("alpha").get<std::string>()))),
              v.at("H").get<std::string>());
  }
}

TEST(EcvrfEdwards25519, ProveVerifyRoundTripsWithGeneratedKeys) {
  const auto [sk, pk] = prover().generate_keypair();
  const auto [sk2, pk2] = prover().generate_keypair();
  EXPECT_NE(sk, sk2);
  ASSERT_EQ(sk.size(), 32u);
  EXPECT_EQ(pk, *prover().public_key_from_secret(sk));
  for (const Bytes& alpha : {Bytes{}, bytes_of("alice"), Bytes(1000, 0xAB)}) {
    const auto pi = prover().prove(sk, alpha);
    ASSERT_TRUE(pi);
    ASSERT_EQ(pi->size(), 80u);
    const auto verdict = vrf().verify(pk, alpha, *pi);
    ASSERT_TRUE(verdict);
    EXPECT_TRUE(verdict->valid);
    EXPECT_EQ(verdict->output, *vrf().proof_to_hash(*pi));
    EXPECT_FALSE(is_valid(pk2, alpha, *pi));
  }
}

TEST(EcvrfEdwards25519, EveryFlippedProofBitIsNotValid) {
  for (const auto& v : rfc_vectors()) {
    for (std::size_t i = 0; i < v.pi.size(); ++i) {
      for (const std::size_t bit : {i % 8, 7 - i % 8}) {
        Bytes pi = v.pi;
        pi[i] ^= static_cast<std::uint8_t>(1u << bit);
        EXPECT_FALSE(is_valid(v.pk, v.alpha, pi)) << "byte " << i << " bit " << bit;
      }
    }
  }
}

TEST(EcvrfEdwards25519, FlippedKeyOrAlphaIsNotValid) {
  const auto& v = first_vector();
  for (std::size_t i = 0; i < v.pk.size(); ++i) {
    Bytes pk = v.pk;
    pk[i] ^= static_cast<std::uint8_t>(1u << (i % 8));
    EXPECT_FALSE(is_valid(pk, v.alpha, v.pi)) << "byte " << i;
  }
  EXPECT_FALSE(is_valid(v.pk, Bytes{}, v.pi));
  EXPECT_FALSE(is_valid(v.pk, bytes_of("rr"), v.pi));
  EXPECT_FALSE(is_valid(v.pk, bytes_of("s"), v.pi));
}

TEST(EcvrfEdwards25519, NonCanonicalSIsNotValid) {
  const ed::Scalar l = {0xed, 0xd3, 0xf5, 0x5c, 0x1a, 0x63, 0x12, 0x58, 0xd6, 0x9c, 0xf7,
                        0xa2, 0xde, 0xf9, 0xde, 0x14, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x10};
  ASSERT_TRUE(sodium_is_zero(ed::reduce([&] {
                               std::array<std::uint8_t, 64> w{};
                               std::copy(l.begin(), l.end(), w.begin());
                               return w;
                             }()).data(), 32));
  for (const auto& v : rfc_vectors()) {
    Bytes pi = v.pi;
    unsigned carry = 0;
    for (std::size_t i = 0; i < 32; ++i) {
      const unsigned sum = pi[48 + i] + l[i] + carry;
      pi[48 + i] = static_cast<std::uint8_t>(sum);
      carry = sum >> 8;
    }
    ASSERT_EQ(carry, 0u);
    // The same scalar modulo L: a verifier that reduced s would accept it.
    std::array<std::uint8_t, 64> wide{};
    std::copy_n(pi.begin() + 48, 32, wide.begin());
    ASSERT_EQ(to_hex(ed::reduce(wide)), to_hex(Bytes(v.pi.begin() + 48, v.pi.end())));
    EXPECT_FALSE(is_valid(v.pk, v.alpha, pi));
  }
}

TEST(EcvrfEdwards25519, SmallOrderPublicKeysAreNotValid) {
  const auto keys = small_order_encodings();
  // Eight points, each canonical spelling and its sign-flipped twin where
  // that decodes, plus the non-canonical spellings of y = 0 and y = 1.
  ASSERT_GE(keys.size(), 14u);
  std::set<ed::Point> points;
  for (const auto& k : keys) {
    ASSERT_EQ(ed::mul_cofactor(k), ed::kIdentity) << to_hex(k);
    points.insert(*ed::canonical(k));
  }
  EXPECT_EQ(points.size(), 8u);
  EXPECT_TRUE(points.count(ed::kIdentity));
  const auto& v = first_vector();
  for (const auto& k : keys) {
    const Bytes pk(k.begin(), k.end());
    EXPECT_FALSE(is_valid(pk, v.alpha, v.pi)) << to_hex(pk);
    // A proof made for that key by someone who knows nothing: still an
    // answer, not an error.
    EXPECT_FALSE(is_valid(pk, Bytes{}, Bytes(80, 0))) << to_hex(pk);
  }
}

TEST(EcvrfEdwards25519, UndecodablePointsAreNotValid) {
  const ed::Point bad = undecodable_point();
  const auto& v = first_vector();
  EXPECT_FALSE(is_valid(Bytes(bad.begin(), bad.end()), v.alpha, v.pi));
  Bytes pi = v.pi;
  std::copy(bad.begin(), bad.end(), pi.begin());
  EXPECT_FALSE(is_valid(v.pk, v.alpha, pi));
  const auto beta = vrf().proof_to_hash(pi);
  ASSERT_FALSE(beta);
  EXPECT_EQ(beta.error().message(), "vrf: proof Gamma is not a valid curve point");
}

TEST(EcvrfEdwards25519, LengthErrors) {
  const auto& v = first_vector();
  struct Case {
    const char* name;
    std::expected<crypto::VrfVerdict, crypto::CryptoError> got;
    const char* want;
  };
  const Case cases[] = {
      {"short key beats short proof", vrf().verify(Bytes(31, 1), v.alpha, Bytes(79, 0)),
       "invalid length: expected 32 bytes, got 31"},
      {"long key", vrf().verify(Bytes(33, 1), v.alpha, v.pi), "invalid length: expected 32 bytes, got 33"},
      {"empty key", vrf().verify(Bytes{}, v.alpha, v.pi), "invalid length: expected 32 bytes, got 0"},
      {"short proof", vrf().verify(v.pk, v.alpha, Bytes(79, 0)), "invalid length: expected 80 bytes, got 79"},
      {"long proof", vrf().verify(v.pk, v.alpha, Bytes(81, 0)), "invalid length: expected 80 bytes, got 81"},
  };
  for (const auto& c : cases) {
    ASSERT_FALSE(c.got) << c.name;
    EXPECT_EQ(c.got.error().message(), c.want) << c.name;
    EXPECT_EQ(c.got.error().kind(), crypto::CryptoError::Kind::InvalidLength) << c.name;
  }
  EXPECT_EQ(prover().prove(Bytes(31, 1), v.alpha).error().message(), "invalid length: expected 32 bytes, got 31");
  EXPECT_EQ(prover().public_key_from_secret(Bytes(33, 1)).error().message(),
            "invalid length: expected 32 bytes, got 33");
  EXPECT_EQ(vrf().proof_to_hash(Bytes(79, 1)).error().message(), "invalid length: expected 80 bytes, got 79");
}

TEST(EcvrfEdwards25519, MultiplicationOfAnyDecodablePointMatchesDoubleAndAdd) {
  const ed::Point t = order8_point();
  const ed::Point m = ed::mul_base(scalar_of(123456789));
  const ed::Point mixed = *ed::add(m, t);
  const ed::Point twice_t = *ed::add(t, t);
  // Scalars with every residue mod 8 that matters, including 0 and one
  // above 2^128 (the s of a proof).
  const Bytes big = from_hex("f3141cd382dc42909d19ec5110469e4feae18300e94f304590abdced48aed503");
  ed::Scalar k_big{};
  std::copy(big.begin(), big.end(), k_big.begin());
  for (const ed::Scalar& k : {scalar_of(0), scalar_of(1), scalar_of(5), scalar_of(0xdeadbeef7), k_big}) {
    for (const ed::Point& p : {mixed, t, twice_t, ed::kIdentity, m}) {
      EXPECT_EQ(to_hex(*ed::mul(k, p)), to_hex(ed::double_and_add(k, p))) << to_hex(k) << " " << to_hex(p);
    }
  }
  // libsodium's own multiplication refuses the mixed point; ours does not.
  EXPECT_FALSE(ed::mul_subgroup(scalar_of(5), mixed));
  EXPECT_FALSE(ed::mul(scalar_of(5), undecodable_point()));
}

TEST(EcvrfEdwards25519, NonCanonicalEncodingsDecode) {
  // y = 1 + p spells the identity; the sign bit on an x = 0 point is
  // accepted (an x exists for that y).
  const auto identity_twin = non_canonical_twin(ed::kIdentity);
  ASSERT_TRUE(identity_twin);
  EXPECT_EQ(ed::canonical(*identity_twin), ed::kIdentity);
  ed::Point signed_identity = ed::kIdentity;
  signed_identity[31] |= 0x80;
  EXPECT_EQ(ed::canonical(signed_identity), ed::kIdentity);
  // A non-canonical public key of small order is not valid, not an error.
  const auto& v = first_vector();
  EXPECT_FALSE(is_valid(Bytes(identity_twin->begin(), identity_twin->end()), v.alpha, v.pi));
}

TEST(EcvrfEdwards25519, ReceivedEncodingIsHashedExactlyWhenItIsCanonical) {
  // The verifier hashes a received point encoding as it is when that equals
  // the re-encoding of the decoded point, and re-encodes it otherwise.
  std::vector<ed::Point> encodings = ed::non_canonical_encodings();
  const auto& small = small_order_encodings();
  encodings.insert(encodings.end(), small.begin(), small.end());
  for (std::uint64_t i = 0; i < 64; ++i) {
    ed::Point p = ed::mul_base(scalar_of(i * 7919 + 1));
    encodings.push_back(p);
    p[31] ^= 0x80;
    encodings.push_back(p);
  }
  std::size_t decoded = 0, non_canonical = 0;
  for (const auto& e : encodings) {
    const auto point = crypto::ed25519::decode(e);
    ASSERT_EQ(point.has_value(), ed::decodes(e)) << to_hex(e);
    if (!point) continue;
    ++decoded;
    const bool canonical = crypto::ed25519::encode(*point) == e;
    non_canonical += canonical ? 0 : 1;
    EXPECT_EQ(crypto::ed25519::is_canonical_encoding(e), canonical) << to_hex(e);
  }
  EXPECT_GT(non_canonical, 8u);
  EXPECT_GT(decoded - non_canonical, 64u);
}

TEST(EcvrfEdwards25519, GammaWithATorsionComponentIsDecodedAsIs) {
  // RFC 9381 makes no subgroup test on Gamma: the proof verifies, and the
  // cofactor clears the torsion from the output.
  const auto& v = first_vector();
  const ed::Point t = order8_point();
  const auto proof = torsion_proof(v.sk, v.alpha, t, ed::kIdentity);
  ASSERT_EQ(to_hex(proof.pk), to_hex(v.pk));
  const auto verdict = vrf().verify(proof.pk, v.alpha, proof.pi);
  ASSERT_TRUE(verdict);
  EXPECT_TRUE(verdict->valid);
  EXPECT_EQ(to_hex(output_of(*verdict)), to_hex(v.beta));
  EXPECT_EQ(to_hex(*vrf().proof_to_hash(proof.pi)), to_hex(v.beta));
  // Ignoring the torsion (taking c·Gamma as c·(Gamma - t)) would break it:
  // the torsion proof is not the honest one.
  EXPECT_NE(to_hex(proof.pi), to_hex(v.pi));
}

TEST(EcvrfEdwards25519, PublicKeyWithATorsionComponentIsAccepted) {
  // Only small-order keys are refused; a key with a torsion component is
  // multiplied exactly.
  const auto& v = first_vector();
  const ed::Point t = order8_point();
  const auto proof = torsion_proof(v.sk, v.alpha, ed::kIdentity, t);
  EXPECT_TRUE(is_valid(proof.pk, v.alpha, proof.pi));
  EXPECT_FALSE(is_valid(v.pk, v.alpha, proof.pi));
  const auto both = torsion_proof(v.sk, bytes_of("both"), *ed::add(t, t), t);
  EXPECT_TRUE(is_valid(both.pk, bytes_of("both"), both.pi));
  EXPECT_FALSE(is_valid(both.pk, bytes_of("bot"), both.pi));
}

}  // namespace
}  // namespace quenfold::test
