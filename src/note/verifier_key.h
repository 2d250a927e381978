// Verifier keys of the signed-note format: "<name>+<8 hex key id>+<base64
// key data>", with the key id bound to the name and the key data by SHA-256.
#pragma once

#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/sign.h"
#include "quenfold/error.h"
#include "quenfold/types.h"
#include "quenfold/verifier.h"

namespace quenfold::note {

// The time a verified line claims, in its type's unit.
struct SignedTime {
  std::optional<std::uint64_t> seconds;  // cosignature/v1, subtree/v1 (not 0)
  std::optional<std::uint64_t> millis;   // rfc6962
  friend bool operator==(const SignedTime&, const SignedTime&) = default;
};

// Key data of a composite key starts with 0xFF and this label; what follows
// is a public-key token (tag byte, then the component keys).
inline constexpr std::string_view kCompositeKeyLabel = "quenfold-log.io/composite-mldsa-ed25519/v1";
static_assert(kCompositeKeyLabel.size() == 42);

inline constexpr std::uint8_t kEd25519KeyType = 0x01;
inline constexpr std::uint8_t kCompositeKeyType = 0xFF;
// C2SP tlog-cosignature: a witness's Ed25519 key signing "cosignature/v1"
// statements about checkpoints (not note bodies).
inline constexpr std::uint8_t kCosignatureV1KeyType = 0x04;
// C2SP static-ct-api: an RFC 6962 log's key (a DER SubjectPublicKeyInfo,
// ECDSA P-256) signing its tree heads.
inline constexpr std::uint8_t kRfc6962KeyType = 0x05;
// C2SP tlog-cosignature: an ML-DSA-44 key signing "subtree/v1" messages,
// by witnesses and by logs alike.
inline constexpr std::uint8_t kSubtreeV1KeyType = 0x06;
inline constexpr std::size_t kMlDsa44PublicKeyLength = 1312;

enum class KeyKind : std::uint8_t { Ed25519, Composite, CosignatureV1, Rfc6962, SubtreeV1 };

// Whether lines under keys of this kind sign statements about a checkpoint
// (its size and root) rather than the note body, so that checking them
// needs the parsed checkpoint.
bool signs_checkpoint(KeyKind kind) noexcept;


struct VerifierKey {
  std::string name;
  std::uint32_t key_id = 0;
  KeyKind kind = KeyKind::Ed25519;
  // Ed25519, CosignatureV1: the 32 key bytes; Composite: the public-key
  // token bytes; Rfc6962: the SubjectPublicKeyInfo DER; SubtreeV1: the
  // 1312-byte ML-DSA-44 key.
  Bytes public_key;
  // Rfc6962: the key decoded once, for every tree head it verifies.
  std::shared_ptr<const crypto::EcdsaP256Key> ecdsa;

  // Every failure is a MalformedSignedNote error; the checks run in a fixed
  // order so that one text always reports the same failure. Only the two
  // note-signing types are accepted.
  static std::expected<VerifierKey, Error> parse(std::string_view text);
  // As parse, and the key types of the C++ API are accepted too:
  // cosignature/v1 (0x04, a 32-byte Ed25519 key), rfc6962 (0x05, whose key
  // id is computed over the log ID) and subtree/v1 (0x06, ML-DSA-44).
  static std::expected<VerifierKey, Error> parse_any(std::string_view text);

  // Keys are equal when their texts say the same; the decoded form follows.
  friend bool operator==(const VerifierKey& a, const VerifierKey& b) {
    return a.name == b.name && a.key_id == b.key_id && a.kind == b.kind && a.public_key == b.public_key;
  }
};

// Parses every text in order, stopping at the first that fails.
std::expected<std::vector<VerifierKey>, Error> parse_verifier_keys(std::span<const std::string_view> texts);

// SHA-256(name || 0x0A || key data), first four bytes, big-endian.
std::uint32_t compute_key_id(std::string_view name, ByteView key_data);
// An RFC 6962 log's key id: SHA-256(name || 0x0A || 0x05 || log ID)[:4],
// the log ID being SHA-256 of the SubjectPublicKeyInfo DER.
std::uint32_t rfc6962_key_id(std::string_view name, ByteView spki_der);

// A name as both verifier keys and signature lines allow it: non-empty, no
// '+', no Unicode white space.
bool is_valid_key_name(std::string_view name) noexcept;

// The public name of a key's type, as verified notes report their signers.
KeyType key_type_of(KeyKind kind) noexcept;

// A key as callers see it: name, key id, type, and for a line that
// verified under a cosignature key the time the cosigner signed.
Signer signer_of(const VerifierKey& key, const SignedTime& time = {});

// Why a key text failed to parse, without the note-level prefix that the
// exported operations put before it: what key lists and witness policies
// quote beside the key's position.
std::string key_failure_reason(const Error& e);

}  // namespace quenfold::note
