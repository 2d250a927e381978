// Signature tokens of the six versions, the profile tables and the two
// Ed25519 forms. Every fixture is signed here, from fixed seeds, by the test
// signers (OpenSSL signs every scheme).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crypto/base64.h"
#include "crypto/sign.h"
#include "support/signers.h"
#include "support/testdata.h"

namespace quenfold::crypto {
namespace {

using test::Bytes;
using test::bytes_of;
using test::Ed25519Signer;
using test::TokenSigner;
using V = SignatureVersion;

constexpr V kAllVersions[] = {V::MlDsa44Ed25519, V::MlDsa65Ed25519, V::MlDsa87Ed25519,
                              V::MlDsa87,        V::MlDsa65Ed448,   V::MlDsa87EcdsaP521};

std::string b64(const Bytes& b) { return base64::encode(b); }

// Where the classical and the ML-DSA signatures sit inside a signature token.
struct Layout {
  std::size_t classical_sig_len;  // 0 for ML-DSA-87 alone
  std::size_t classical_key_len;
};
Layout layout_of(V v) {
  switch (v) {
    case V::MlDsa44Ed25519:
    case V::MlDsa65Ed25519:
    case V::MlDsa87Ed25519: return {64, 32};
    case V::MlDsa87: return {0, 0};
    case V::MlDsa65Ed448: return {114, 57};
    case V::MlDsa87EcdsaP521: return {132, 133};
  }
  return {0, 0};
}

// --- the tables ---------------------------------------------------------------

TEST(TokenShape, TableIsTotalOverTheSixTagsAndEmptyElsewhere) {
  using F = TokenFamily;
  struct Row {
    std::uint8_t tag;
    TokenFamily family;
    SecurityCategory category;
    std::size_t key_len;
    std::size_t sig_len;
  };
  const Row rows[] = {
      {0x01, F::Ed25519Hybrid, SecurityCategory::Cat2, 1345, 2485},
      {0x02, F::Ed25519Hybrid, SecurityCategory::Cat3, 1985, 3374},
      {0x03, F::Ed25519Hybrid, SecurityCategory::Cat5, 2625, 4692},
      {0x10, F::MlDsaAlone, SecurityCategory::Cat5, 2593, 4628},
      {0x13, F::MatchedHybrid, SecurityCategory::Cat3, 2010, 3424},
      {0x14, F::MatchedHybrid, SecurityCategory::Cat5, 2726, 4760},
  };
  for (int t = 0; t < 256; ++t) {
    const auto tag = static_cast<std::uint8_t>(t);
    const Row* row = nullptr;
    for (const auto& r : rows)
      if (r.tag == tag) row = &r;
    const auto shape = token_shape(tag);
    if (row == nullptr) {
      EXPECT_FALSE(shape.has_value()) << t;
      EXPECT_FALSE(expected_public_key_len(tag).has_value()) << t;
      EXPECT_FALSE(expected_signature_len(tag).has_value()) << t;
      continue;
    }
    ASSERT_TRUE(shape.has_value()) << t;
    EXPECT_EQ(shape->family, row->family) << t;
    EXPECT_EQ(shape->category, row->category) << t;
    EXPECT_EQ(shape->public_key_len, row->key_len) << t;
    EXPECT_EQ(shape->signature_len, row->sig_len) << t;
    EXPECT_EQ(expected_public_key_len(tag), row->key_len) << t;
    EXPECT_EQ(expected_signature_len(tag), row->sig_len) << t;
  }
  EXPECT_STREQ(name_of(SecurityCategory::Cat2), "Cat2");
  EXPECT_STREQ(name_of(SecurityCategory::Cat3), "Cat3");
  EXPECT_STREQ(name_of(SecurityCategory::Cat5), "Cat5");
}

TEST(TokenShape, ParseVersionTagAcceptsOnlyTheClassicHybridTags) {
  EXPECT_EQ(parse_version_tag(Bytes{0x01, 0xAA}), V::MlDsa44Ed25519);
  EXPECT_EQ(parse_version_tag(Bytes{0x02}), V::MlDsa65Ed25519);
  EXPECT_EQ(parse_version_tag(Bytes{0x03}), V::MlDsa87Ed25519);
  for (const Bytes& bad : {Bytes{}, Bytes{0x00}, Bytes{0x04}, Bytes{0x10}, Bytes{0x13}, Bytes{0x14}, Bytes{0xFF}}) {
    const auto r = parse_version_tag(bad);
    ASSERT_FALSE(r.has_value()) << test::to_hex(bad);
    EXPECT_EQ(r.error().kind(), CryptoError::Kind::Signature);
    EXPECT_EQ(r.error().message(), "signature: unknown or missing signature version tag");
  }
}

TEST(TokenShape, ContextMessageIsLengthContextMessage) {
  EXPECT_EQ(test::to_hex(context_message(bytes_of("a/b/v1"), bytes_of("abc"))),
            "0000000000000006" "612f622f7631" "616263");
  EXPECT_EQ(test::to_hex(context_message({}, {})), "0000000000000000");
  const Bytes long_ctx(300, 0x41);
  const auto cm = context_message(long_ctx, bytes_of("m"));
  EXPECT_EQ(test::to_hex(Bytes(cm.begin(), cm.begin() + 8)), "000000000000012c");
  EXPECT_EQ(cm.size(), 8u + 300u + 1u);
}

// --- tokens of every version ------------------------------------------------------

class TokenVersion : public ::testing::TestWithParam<V> {
 protected:
  static constexpr std::string_view kContext = "quenfold-log.io/test-context/v1";
  const Bytes message = bytes_of("tree head 42\n");
  const Bytes context = bytes_of(kContext);

  std::expected<bool, CryptoError> check(const Bytes& sig, const Bytes& key) const {
    return verify_token(message, context, b64(sig), b64(key));
  }
};

TEST_P(TokenVersion, SignerProducesTheTableLengths) {
  const auto signer = TokenSigner::generate(GetParam(), 1);
  const auto tag = static_cast<std::uint8_t>(GetParam());
  EXPECT_EQ(signer.public_key_token_bytes().size(), expected_public_key_len(tag));
  EXPECT_EQ(signer.sign_bytes(message, context).size(), expected_signature_len(tag));
  EXPECT_EQ(signer.public_key_token_bytes()[0], tag);
  EXPECT_EQ(signer.public_key_token(), b64(signer.public_key_token_bytes()));
}

TEST_P(TokenVersion, ValidPairVerifies) {
  const auto signer = TokenSigner::generate(GetParam(), 1);
  const auto r = verify_token(message, context, signer.sign(message, context), signer.public_key_token());
  ASSERT_TRUE(r.has_value()) << r.error().message();
  EXPECT_TRUE(*r);
}

TEST_P(TokenVersion, MessageAndContextAreBothBound) {
  const auto signer = TokenSigner::generate(GetParam(), 1);
  const Bytes sig = signer.sign_bytes(message, context);
  const Bytes key = signer.public_key_token_bytes();
  EXPECT_EQ(verify_token(bytes_of("tree head 43\n"), context, b64(sig), b64(key)), false);
  EXPECT_EQ(verify_token(message, bytes_of("quenfold-log.io/other-context/v1"), b64(sig), b64(key)), false);
  // The context length is part of what is signed: moving a byte from the
  // end of the context to the front of the message changes the signed bytes.
  Bytes shorter_ctx(context.begin(), context.end() - 1);
  Bytes longer_msg{context.back()};
  longer_msg.insert(longer_msg.end(), message.begin(), message.end());
  EXPECT_EQ(verify_token(longer_msg, shorter_ctx, b64(sig), b64(key)), false);
}

TEST_P(TokenVersion, TamperedClassicalPartDoesNotVerify) {
  const auto layout = layout_of(GetParam());
  if (layout.classical_sig_len == 0) GTEST_SKIP() << "ML-DSA-87 alone has no classical part";
  const auto signer = TokenSigner::generate(GetParam(), 2);
  const Bytes key = signer.public_key_token_bytes();
  Bytes sig = signer.sign_bytes(message, context);
  for (const std::size_t pos : {std::size_t{1}, layout.classical_sig_len / 2, layout.classical_sig_len}) {
    Bytes t = sig;
    t[pos] ^= 0x01;
    EXPECT_EQ(check(t, key), false) << "byte " << pos;
  }
  // A classical key from another seed: the ML-DSA half still verifies.
  const auto other = TokenSigner::generate(GetParam(), 3);
  Bytes mixed = key;
  const Bytes other_key = other.public_key_token_bytes();
  std::copy(other_key.begin() + 1, other_key.begin() + 1 + static_cast<long>(layout.classical_key_len), mixed.begin() + 1);
  EXPECT_EQ(check(sig, mixed), false);
}

TEST_P(TokenVersion, TamperedMlDsaPartDoesNotVerify) {
  const auto layout = layout_of(GetParam());
  const auto signer = TokenSigner::generate(GetParam(), 4);
  const Bytes key = signer.public_key_token_bytes();
  const Bytes sig = signer.sign_bytes(message, context);
  const std::size_t start = 1 + layout.classical_sig_len;
  for (const std::size_t pos : {start, start + 1000, sig.size() - 1}) {
    Bytes t = sig;
    t[pos] ^= 0x80;
    EXPECT_EQ(check(t, key), false) << "byte " << pos;
  }
  // The ML-DSA half of a signature by another key of the same version, with
  // this key's classical half intact.
  const auto other = TokenSigner::generate(GetParam(), 5);
  Bytes spliced = sig;
  const Bytes other_sig = other.sign_bytes(message, context);
  std::copy(other_sig.begin() + static_cast<long>(start), other_sig.end(), spliced.begin() + static_cast<long>(start));
  EXPECT_EQ(check(spliced, key), false);
  Bytes key_spliced = key;
  const Bytes other_key = other.public_key_token_bytes();
  const std::size_t key_start = 1 + layout.classical_key_len;
  std::copy(other_key.begin() + static_cast<long>(key_start), other_key.end(), key_spliced.begin() + static_cast<long>(key_start));
  EXPECT_EQ(check(sig, key_spliced), false);
}

TEST_P(TokenVersion, WrongLengthsDoNotVerify) {
  const auto signer = TokenSigner::generate(GetParam(), 6);
  const Bytes key = signer.public_key_token_bytes();
  const Bytes sig = signer.sign_bytes(message, context);
  Bytes longer_sig = sig;
  longer_sig.push_back(0);
  Bytes shorter_sig(sig.begin(), sig.end() - 1);
  Bytes longer_key = key;
  longer_key.push_back(0);
  Bytes shorter_key(key.begin(), key.end() - 1);
  EXPECT_EQ(check(longer_sig, key), false);
  EXPECT_EQ(check(shorter_sig, key), false);
  EXPECT_EQ(check(sig, longer_key), false);
  EXPECT_EQ(check(sig, shorter_key), false);
  EXPECT_EQ(check(Bytes{sig[0]}, key), false);
  EXPECT_EQ(check(sig, Bytes{key[0]}), false);
}

TEST_P(TokenVersion, CrossedTagsDoNotVerify) {
  const auto signer = TokenSigner::generate(GetParam(), 7);
  const Bytes sig = signer.sign_bytes(message, context);
  for (const V other : kAllVersions) {
    if (other == GetParam()) continue;
    const auto other_signer = TokenSigner::generate(other, 7);
    const auto r = check(sig, other_signer.public_key_token_bytes());
    ASSERT_TRUE(r.has_value()) << r.error().message();
    EXPECT_FALSE(*r) << "signature " << int(GetParam()) << " key " << int(other);
  }
  // Same bytes, only the key's tag rewritten: the pairing rule alone fails it.
  for (const V other : kAllVersions) {
    if (other == GetParam()) continue;
    Bytes key = signer.public_key_token_bytes();
    key[0] = static_cast<std::uint8_t>(other);
    EXPECT_EQ(check(sig, key), false) << int(other);
  }
}

TEST_P(TokenVersion, UnknownTagsAreErrorsOrFalseByClass) {
  const auto signer = TokenSigner::generate(GetParam(), 8);
  const Bytes key = signer.public_key_token_bytes();
  Bytes sig = signer.sign_bytes(message, context);
  const bool cnsa = GetParam() == V::MlDsa87 || GetParam() == V::MlDsa65Ed448 || GetParam() == V::MlDsa87EcdsaP521;
  // An unknown tag on the key: a CNSA-class signature compares the tags and
  // answers false; a classic-hybrid one fails reading the key's version.
  Bytes bad_key = key;
  bad_key[0] = 0x05;
  const auto r = check(sig, bad_key);
  if (cnsa) {
    EXPECT_EQ(r, false);
  } else {
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().message(), "signature: unknown or missing signature version tag");
  }
  // An unknown tag on the signature: a CNSA-class key answers false, any
  // other key lets the signature's version be read, which fails.
  sig[0] = 0x05;
  const auto s = check(sig, key);
  if (cnsa) {
    EXPECT_EQ(s, false);
  } else {
    ASSERT_FALSE(s.has_value());
    EXPECT_EQ(s.error().message(), "signature: unknown or missing signature version tag");
  }
}

INSTANTIATE_TEST_SUITE_P(AllVersions, TokenVersion, ::testing::ValuesIn(kAllVersions),
                         [](const auto& param_info) { return "Tag" + std::to_string(static_cast<int>(param_info.param)); });

// --- decoding failures and class rules ---------------------------------------

TEST(Token, UndecodableTokensAreBase64ErrorsSignatureFirst) {
  const auto signer = TokenSigner::generate(V::MlDsa65Ed25519, 9);
  const std::string key = signer.public_key_token();
  const std::string sig = signer.sign(bytes_of("m"), bytes_of("c"));
  ASSERT_EQ(sig.back(), '=');  // 3374 bytes: one pad character
  struct Case {
    std::string sig;
    std::string key;
    std::string message;
  };
  const Case cases[] = {
      {"AB-C", key, "base64 decode: Invalid symbol 45, offset 2."},
      // An extra '=' turns the old last quad into a complete inner one.
      {sig + "=", key, "base64 decode: Invalid symbol 61, offset " + std::to_string(sig.size() - 1) + "."},
      {sig.substr(0, sig.size() - 1), key, "base64 decode: Invalid padding"},
      {sig + "\n", key, "base64 decode: Invalid symbol 10, offset " + std::to_string(sig.size()) + "."},
      {sig, "Zh==", "base64 decode: Invalid last symbol 104, offset 1."},
      {sig, "A", "base64 decode: Invalid input length: 1"},
      // The signature token is decoded first.
      {"A", "AB-C", "base64 decode: Invalid input length: 1"},
  };
  for (const auto& c : cases) {
    const auto r = verify_token(bytes_of("m"), bytes_of("c"), c.sig, c.key);
    ASSERT_FALSE(r.has_value()) << c.message;
    EXPECT_EQ(r.error().kind(), CryptoError::Kind::Base64);
    EXPECT_EQ(r.error().message(), c.message);
  }
}

TEST(Token, SpecificTagPairs) {
  const Bytes m = bytes_of("m");
  const Bytes c = bytes_of("c");
  const auto s02 = TokenSigner::generate(V::MlDsa65Ed25519, 10).sign_bytes(m, c);
  const auto k03 = TokenSigner::generate(V::MlDsa87Ed25519, 10).public_key_token_bytes();
  const auto s10 = TokenSigner::generate(V::MlDsa87, 10).sign_bytes(m, c);
  const auto k13 = TokenSigner::generate(V::MlDsa65Ed448, 10).public_key_token_bytes();
  EXPECT_EQ(verify_token(m, c, b64(s02), b64(k03)), false);
  EXPECT_EQ(verify_token(m, c, b64(s10), b64(k13)), false);
  // A classic-hybrid signature against a CNSA-class key is false, before
  // any version tag is read.
  EXPECT_EQ(verify_token(m, c, b64(s02), b64(k13)), false);
  // Empty tokens: an empty signature cannot be CNSA-class; an empty key
  // carries no version tag.
  const auto empty_sig = verify_token(m, c, "", b64(k03));
  ASSERT_FALSE(empty_sig.has_value());
  EXPECT_EQ(empty_sig.error().message(), "signature: unknown or missing signature version tag");
  const auto empty_key = verify_token(m, c, b64(s02), "");
  ASSERT_FALSE(empty_key.has_value());
  EXPECT_EQ(empty_key.error().message(), "signature: unknown or missing signature version tag");
  EXPECT_EQ(verify_token(m, c, b64(s10), ""), false);
  // Signature tag 0x05 against a classic-hybrid key.
  Bytes s05 = s02;
  s05[0] = 0x05;
  const auto r = verify_token(m, c, b64(s05), b64(k03));
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().kind(), CryptoError::Kind::Signature);
  EXPECT_EQ(r.error().message(), "signature: unknown or missing signature version tag");
}

TEST(Token, MlDsa87Ed25519WithOnlyTheEd25519PartValidIsFalse) {
  const Bytes m = bytes_of("m");
  const Bytes c = bytes_of("c");
  const auto signer = TokenSigner::generate(V::MlDsa87Ed25519, 11);
  Bytes sig = signer.sign_bytes(m, c);
  const Bytes key = signer.public_key_token_bytes();
  // Ed25519 half intact and valid on its own.
  EXPECT_TRUE(verify_ed25519(ByteView(key).subspan(1, 32), context_message(c, m), ByteView(sig).subspan(1, 64)));
  sig.back() ^= 0x01;
  EXPECT_EQ(verify_token(m, c, b64(sig), b64(key)), false);
}

TEST(Token, P521KeyMustBeAnUncompressedCurvePoint) {
  const Bytes m = bytes_of("m");
  const Bytes c = bytes_of("c");
  const auto signer = TokenSigner::generate(V::MlDsa87EcdsaP521, 12);
  const Bytes sig = signer.sign_bytes(m, c);
  Bytes key = signer.public_key_token_bytes();
  ASSERT_EQ(verify_token(m, c, b64(sig), b64(key)), true);
  Bytes hybrid_form = key;
  hybrid_form[1] = static_cast<std::uint8_t>(0x06 | (key[133] & 1));  // SEC1 hybrid form of the same point
  EXPECT_EQ(verify_token(m, c, b64(sig), b64(hybrid_form)), false);
  Bytes off_curve = key;
  off_curve[133] ^= 0x01;  // last byte of Y
  EXPECT_EQ(verify_token(m, c, b64(sig), b64(off_curve)), false);
}

TEST(Token, Ed448KeyMustDecode) {
  const Bytes m = bytes_of("m");
  const Bytes c = bytes_of("c");
  const auto signer = TokenSigner::generate(V::MlDsa65Ed448, 13);
  const Bytes sig = signer.sign_bytes(m, c);
  Bytes key = signer.public_key_token_bytes();
  // All 0xFF is not a valid Ed448 point encoding (y >= p).
  std::fill(key.begin() + 1, key.begin() + 58, 0xFF);
  EXPECT_EQ(verify_token(m, c, b64(sig), b64(key)), false);
}

// --- the two Ed25519 forms -------------------------------------------------------

TEST(Ed25519, StrictAndPlainAgreeOnOrdinarySignatures) {
  const auto signer = Ed25519Signer::generate(1);
  const Bytes m = bytes_of("hello\n");
  const Bytes sig = signer.sign(m);
  EXPECT_TRUE(verify_ed25519_strict(signer.public_key(), m, sig));
  EXPECT_TRUE(verify_ed25519(signer.public_key(), m, sig));
  Bytes bad = sig;
  bad[10] ^= 1;
  EXPECT_FALSE(verify_ed25519_strict(signer.public_key(), m, bad));
  EXPECT_FALSE(verify_ed25519(signer.public_key(), m, bad));
  EXPECT_FALSE(verify_ed25519_strict(signer.public_key(), bytes_of("hello"), sig));
  // Lengths.
  EXPECT_FALSE(verify_ed25519_strict(signer.public_key(), m, Bytes(sig.begin(), sig.end() - 1)));
  EXPECT_FALSE(verify_ed25519(signer.public_key(), m, Bytes(sig.begin(), sig.end() - 1)));
  Bytes long_sig = sig;
  long_sig.push_back(0);
  EXPECT_FALSE(verify_ed25519_strict(signer.public_key(), m, long_sig));
  EXPECT_FALSE(verify_ed25519_strict(Bytes(31, 1), m, sig));
}

TEST(Ed25519, SmallOrderRSatisfyingTheEquationIsRejectedOnlyByTheStrictForm) {
  const auto signer = Ed25519Signer::generate(2);
  const Bytes m = bytes_of("small order R\n");
  const Bytes sig = signer.sign_with_small_order_r(m);
  EXPECT_TRUE(verify_ed25519(signer.public_key(), m, sig)) << "the forged signature must satisfy the equation";
  EXPECT_FALSE(verify_ed25519_strict(signer.public_key(), m, sig));
  EXPECT_FALSE(verify_ed25519(signer.public_key(), bytes_of("other"), sig));
}

TEST(Ed25519, SmallOrderKeyIsRejectedOnlyByTheStrictForm) {
  // A = identity, R = identity, S = 0: [0]B - [k]A = identity = R for
  // every message.
  Bytes identity(32, 0);
  identity[0] = 1;
  Bytes sig(64, 0);
  sig[0] = 1;
  const Bytes m = bytes_of("any message");
  EXPECT_TRUE(verify_ed25519(identity, m, sig));
  EXPECT_FALSE(verify_ed25519_strict(identity, m, sig));
}

TEST(Ed25519, NonCanonicalSIsRejectedByBothForms) {
  const auto signer = Ed25519Signer::generate(3);
  const Bytes m = bytes_of("s + L");
  Bytes sig = signer.sign(m);
  // S + L, little-endian, L = 2^252 + 27742317777372353535851937790883648493.
  const Bytes l = test::from_hex("edd3f55c1a631258d69cf7a2def9de1400000000000000000000000000000010");
  unsigned carry = 0;
  for (std::size_t i = 0; i < 32; ++i) {
    const unsigned v = sig[32 + i] + l[i] + carry;
    sig[32 + i] = static_cast<std::uint8_t>(v);
    carry = v >> 8;
  }
  ASSERT_EQ(carry, 0u);
  EXPECT_FALSE(verify_ed25519(signer.public_key(), m, sig));
  EXPECT_FALSE(verify_ed25519_strict(signer.public_key(), m, sig));
}

// Inside tokens the Ed25519 part uses the plain form: a small-order R that
// satisfies the equation does not stop a classic-hybrid token from verifying.
TEST(Token, Ed25519PartUsesThePlainForm) {
  const Bytes m = bytes_of("token message");
  const Bytes c = bytes_of("c");
  const auto signer = TokenSigner::generate(V::MlDsa65Ed25519, 14);
  const auto ed = Ed25519Signer::generate(14);
  Bytes key = signer.public_key_token_bytes();
  Bytes sig = signer.sign_bytes(m, c);
  std::copy(ed.public_key().begin(), ed.public_key().end(), key.begin() + 1);
  const Bytes forged = ed.sign_with_small_order_r(context_message(c, m));
  std::copy(forged.begin(), forged.end(), sig.begin() + 1);
  EXPECT_EQ(verify_token(m, c, b64(sig), b64(key)), true);
  EXPECT_FALSE(verify_ed25519_strict(ed.public_key(), context_message(c, m), forged));
}

}  // namespace
}  // namespace quenfold::crypto

namespace quenfold::crypto {
namespace {

// verify_token_bytes answers as verify_token on the encodings, with token
// errors as false, for every pairing of valid, tampered and foreign tokens.
TEST(Token, BytesEntryAgreesWithTheTokenEntry) {
  const Bytes m = bytes_of("m");
  const Bytes c = bytes_of("c");
  std::vector<Bytes> sigs;
  std::vector<Bytes> keys;
  for (const V v : kAllVersions) {
    const auto s = TokenSigner::generate(v, 15);
    Bytes sig = s.sign_bytes(m, c);
    sigs.push_back(sig);
    sig.back() ^= 1;
    sigs.push_back(sig);
    keys.push_back(s.public_key_token_bytes());
  }
  sigs.push_back({});
  sigs.push_back({0x05, 0x00});
  keys.push_back({});
  keys.push_back({0x05});
  int verified = 0;
  for (const auto& s : sigs) {
    for (const auto& k : keys) {
      const auto by_token = verify_token(m, c, b64(s), b64(k));
      const bool want = by_token.has_value() && *by_token;
      EXPECT_EQ(verify_token_bytes(m, c, s, k), want);
      verified += want ? 1 : 0;
    }
  }
  EXPECT_EQ(verified, 6);
}

}  // namespace
}  // namespace quenfold::crypto

namespace quenfold::crypto {
namespace {

// The component wrappers answer false, never fail, on inputs of the wrong
// shape; each is exercised with a valid signature first so that the false
// answers come from the shape alone.
TEST(Primitives, WrongShapesAreNotVerified) {
  const Bytes m = bytes_of("shape");
  const Bytes c = bytes_of("c");
  const auto cm = context_message(c, m);

  const auto s448 = TokenSigner::generate(V::MlDsa65Ed448, 16);
  const Bytes k448 = s448.public_key_token_bytes();
  const Bytes g448 = s448.sign_bytes(m, c);
  const ByteView ed448_key = ByteView(k448).subspan(1, 57);
  const ByteView ed448_sig = ByteView(g448).subspan(1, 114);
  const ByteView ml65_key = ByteView(k448).subspan(58);
  const ByteView ml65_sig = ByteView(g448).subspan(115);
  ASSERT_TRUE(verify_ed448(ed448_key, cm, ed448_sig));
  EXPECT_FALSE(verify_ed448(ed448_key.first(56), cm, ed448_sig));
  EXPECT_FALSE(verify_ed448(ed448_key, cm, ed448_sig.first(113)));
  ASSERT_TRUE(verify_ml_dsa(MlDsaParameterSet::MlDsa65, ml65_key, cm, ml65_sig));
  EXPECT_FALSE(verify_ml_dsa(MlDsaParameterSet::MlDsa65, ml65_key.first(1951), cm, ml65_sig));
  EXPECT_FALSE(verify_ml_dsa(MlDsaParameterSet::MlDsa65, ml65_key, cm, ml65_sig.first(3308)));
  EXPECT_FALSE(verify_ml_dsa(MlDsaParameterSet::MlDsa87, ml65_key, cm, ml65_sig));
  EXPECT_FALSE(verify_ml_dsa(MlDsaParameterSet::MlDsa44, ml65_key, cm, ml65_sig));
  // Tokens sign with the empty ML-DSA context string: any other fails.
  EXPECT_FALSE(verify_ml_dsa(MlDsaParameterSet::MlDsa65, ml65_key, cm, ml65_sig, bytes_of("ctx")));
  EXPECT_FALSE(verify_ml_dsa(MlDsaParameterSet::MlDsa65, ml65_key, cm, ml65_sig, Bytes(256, 0)));

  const auto sp = TokenSigner::generate(V::MlDsa87EcdsaP521, 16);
  const Bytes kp = sp.public_key_token_bytes();
  const Bytes gp = sp.sign_bytes(m, c);
  const ByteView p521_key = ByteView(kp).subspan(1, 133);
  const ByteView p521_sig = ByteView(gp).subspan(1, 132);
  ASSERT_TRUE(verify_ecdsa_p521_sha512(p521_key, cm, p521_sig));
  EXPECT_FALSE(verify_ecdsa_p521_sha512(p521_key.first(132), cm, p521_sig));
  EXPECT_FALSE(verify_ecdsa_p521_sha512(p521_key, cm, p521_sig.first(131)));
  EXPECT_FALSE(verify_ecdsa_p521_sha512(p521_key, m, p521_sig));
  // r and s swapped.
  Bytes swapped(p521_sig.begin() + 66, p521_sig.end());
  swapped.insert(swapped.end(), p521_sig.begin(), p521_sig.begin() + 66);
  EXPECT_FALSE(verify_ecdsa_p521_sha512(p521_key, cm, swapped));
  // r = 0.
  Bytes zero_r(p521_sig.begin(), p521_sig.end());
  std::fill(zero_r.begin(), zero_r.begin() + 66, 0);
  EXPECT_FALSE(verify_ecdsa_p521_sha512(p521_key, cm, zero_r));
}

}  // namespace
}  // namespace quenfold::crypto
