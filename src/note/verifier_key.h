// Verifier keys of the signed-note format: "<name>+<8 hex key id>+<base64
// key data>", with the key id bound to the name and the key data by SHA-256.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "quenfold/error.h"
#include "quenfold/types.h"
#include "quenfold/verifier.h"

namespace quenfold::note {

// Key data of a composite key starts with 0xFF and this label; what follows
// is a public-key token (tag byte, then the component keys).
inline constexpr std::string_view kCompositeKeyLabel = "quenfold-log.io/composite-mldsa-ed25519/v1";
static_assert(kCompositeKeyLabel.size() == 42);

inline constexpr std::uint8_t kEd25519KeyType = 0x01;
inline constexpr std::uint8_t kCompositeKeyType = 0xFF;
// C2SP tlog-cosignature: a witness's Ed25519 key signing "cosignature/v1"
// statements about checkpoints (not note bodies).
inline constexpr std::uint8_t kCosignatureV1KeyType = 0x04;

enum class KeyKind : std::uint8_t { Ed25519, Composite, CosignatureV1 };

struct VerifierKey {
  std::string name;
  std::uint32_t key_id = 0;
  KeyKind kind = KeyKind::Ed25519;
  // Ed25519: the 32 key bytes; Composite: the public-key token bytes.
  Bytes public_key;

  // Every failure is a MalformedSignedNote error; the checks run in a fixed
  // order so that one text always reports the same failure. Only the two
  // note-signing types are accepted.
  static std::expected<VerifierKey, Error> parse(std::string_view text);
  // As parse, and a cosignature/v1 key (type 0x04, 32-byte Ed25519 key) is
  // accepted too.
  static std::expected<VerifierKey, Error> parse_any(std::string_view text);

  friend bool operator==(const VerifierKey&, const VerifierKey&) = default;
};

// Parses every text in order, stopping at the first that fails.
std::expected<std::vector<VerifierKey>, Error> parse_verifier_keys(std::span<const std::string_view> texts);

// SHA-256(name || 0x0A || key data), first four bytes, big-endian.
std::uint32_t compute_key_id(std::string_view name, ByteView key_data);

// A name as both verifier keys and signature lines allow it: non-empty, no
// '+', no Unicode white space.
bool is_valid_key_name(std::string_view name) noexcept;

// The public name of a key's type, as verified notes report their signers.
KeyType key_type_of(KeyKind kind) noexcept;

// A key as callers see it: name, key id, type, and for a line that
// verified under a cosignature key the time the cosigner signed.
Signer signer_of(const VerifierKey& key, std::optional<std::uint64_t> timestamp = std::nullopt);

// Why a key text failed to parse, without the note-level prefix that the
// exported operations put before it: what key lists and witness policies
// quote beside the key's position.
std::string key_failure_reason(const Error& e);

}  // namespace quenfold::note
