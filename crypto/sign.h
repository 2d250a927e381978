// The signature component: public-key and signature tokens of six versions,
// strict Ed25519, and the shape of each token version.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "crypto/crypto_error.h"
#include "crypto/hash.h"

namespace quenfold::crypto {

// The version tag: first byte of every decoded token.
enum class SignatureVersion : std::uint8_t {
  MlDsa44Ed25519 = 0x01,
  MlDsa65Ed25519 = 0x02,
  MlDsa87Ed25519 = 0x03,
  MlDsa87 = 0x10,
  MlDsa65Ed448 = 0x13,
  MlDsa87EcdsaP521 = 0x14,
};

enum class SecurityCategory : std::uint8_t { Cat2, Cat3, Cat5 };
const char* name_of(SecurityCategory c) noexcept;  // "Cat2", "Cat3", "Cat5"

// The three families of versions: Ed25519 with ML-DSA of each category
// (0x01..0x03), ML-DSA-87 alone (0x10), and ML-DSA with a classical scheme of
// the matching category (0x13, 0x14).
enum class TokenFamily : std::uint8_t { Ed25519Hybrid, MlDsaAlone, MatchedHybrid };

// What a version tag fixes about its tokens.
struct TokenShape {
  TokenFamily family;
  SecurityCategory category;
  std::size_t public_key_len;  // decoded bytes, tag included
  std::size_t signature_len;
};

// Read from the one table of token kinds; nullopt for any tag but the six.
std::optional<TokenShape> token_shape(std::uint8_t tag) noexcept;
std::optional<std::size_t> expected_public_key_len(std::uint8_t tag) noexcept;
std::optional<std::size_t> expected_signature_len(std::uint8_t tag) noexcept;

// First byte of a decoded classic-hybrid token (0x01..0x03); otherwise the
// Signature error "unknown or missing signature version tag".
std::expected<SignatureVersion, CryptoError> parse_version_tag(ByteView token);

// len(context) as u64 big-endian || context || message: what every component
// signature signs.
std::vector<std::uint8_t> context_message(ByteView context, ByteView message);

// true: every component signature verified; false: the tokens decoded but do
// not verify; error: an undecodable token (Base64, Signature).
std::expected<bool, CryptoError> verify_token(ByteView message, ByteView context,
                                              std::string_view signature_token,
                                              std::string_view public_key_token);

// verify_token on tokens already decoded: the same answer for the bytes the
// two tokens decode to. Callers holding raw bytes (signed-note composite
// lines) skip a base64 round trip that cannot change them.
bool verify_token_bytes(ByteView message, ByteView context, ByteView signature, ByteView public_key);

// RFC 8032 Ed25519 with the strict checks: canonical S, R and A decode and
// neither has small order.
bool verify_ed25519_strict(ByteView public_key, ByteView message, ByteView signature);

// The component verifiers a token combines. Each answers false for any input
// it cannot use (wrong length, undecodable key or signature), never fails.
//
// RFC 8032 Ed25519 in its plain (cofactorless) form: A must decode, S must be
// canonical, [S]B - [k]A must encode to R; small-order R or A are accepted.
bool verify_ed25519(ByteView public_key, ByteView message, ByteView signature);
// RFC 8032 pure Ed448 (flag 0, empty context): 57-byte key, 114-byte signature.
bool verify_ed448(ByteView public_key, ByteView message, ByteView signature);
// FIPS 186-5 ECDSA over P-521 with SHA-512: a 133-byte SEC1 uncompressed key
// and a 132-byte raw r || s signature (66 bytes each, big-endian).
bool verify_ecdsa_p521_sha512(ByteView public_key, ByteView message, ByteView signature);

// Whether `spki_der` is exactly one DER SubjectPublicKeyInfo holding an
// ECDSA key on P-256, the key RFC 6962 logs sign their tree heads with.
bool is_ecdsa_p256_spki(ByteView spki_der);
// ECDSA over P-256 with SHA-256 (RFC 5246 digitally-signed, hash 4,
// signature 3): a DER SubjectPublicKeyInfo key and a DER ECDSA-Sig-Value.
// false for any other key type or an encoding that is not exact DER.
bool verify_ecdsa_p256_sha256(ByteView spki_der, ByteView message, ByteView der_signature);

// An ECDSA P-256 public key decoded once from its SubjectPublicKeyInfo, for
// a key that verifies many signatures (an RFC 6962 log's): decoding the key
// and checking its point costs a sizeable part of one verification.
// Immutable; copies share the decoded key, which any number of threads may
// verify with at once.
class EcdsaP256Key {
 public:
  // nullopt unless is_ecdsa_p256_spki(spki_der).
  static std::optional<EcdsaP256Key> from_spki(ByteView spki_der);
  // As verify_ecdsa_p256_sha256 under this key.
  bool verify_sha256(ByteView message, ByteView der_signature) const;

  struct Decoded;  // defined by crypto/

 private:
  explicit EcdsaP256Key(std::shared_ptr<const Decoded> decoded) : decoded_(std::move(decoded)) {}
  std::shared_ptr<const Decoded> decoded_;
};

enum class MlDsaParameterSet : std::uint8_t { MlDsa44, MlDsa65, MlDsa87 };
// FIPS 204 ML-DSA.Verify (pure) with the given context string (at most 255
// bytes; tokens always use the empty one).
bool verify_ml_dsa(MlDsaParameterSet set, ByteView public_key, ByteView message, ByteView signature,
                   ByteView context = {});

}  // namespace quenfold::crypto
