#include "note/verifier_key.h"

#include <algorithm>

#include "base/try.h"
#include "crypto/hash.h"
#include "crypto/sign.h"
#include "encoding/base64.h"
#include "encoding/context.h"
#include "base/reader.h"
#include "encoding/text.h"

namespace quenfold::note {
namespace {

Error malformed_key(std::string_view text) {
  return Error::malformed_signed_note("malformed verifier key: " + encoding::echoed(text));
}

bool has_white_space(std::string_view text) noexcept {
  std::size_t pos = 0;
  while (pos < text.size()) {
    const auto c = encoding::decode_utf8_at(text, pos);
    if (!c) {
      ++pos;  // not UTF-8: cannot be a white-space character
      continue;
    }
    if (encoding::is_unicode_white_space(*c)) return true;
  }
  return false;
}

std::expected<VerifierKey, Error> parse_key(std::string_view text, bool accept_extended);

}  // namespace

std::expected<VerifierKey, Error> VerifierKey::parse(std::string_view text) { return parse_key(text, false); }
std::expected<VerifierKey, Error> VerifierKey::parse_any(std::string_view text) { return parse_key(text, true); }

bool is_valid_key_name(std::string_view name) noexcept {
  return !name.empty() && name.find('+') == std::string_view::npos && !has_white_space(name);
}

std::uint32_t compute_key_id(std::string_view name, ByteView key_data) {
  static constexpr std::uint8_t kNewline[1] = {0x0A};
  const auto digest = crypto::sha256({encoding::bytes_of(name), kNewline, key_data});
  return static_cast<std::uint32_t>(encoding::Reader::big_endian(ByteView(digest).first(4)));
}

namespace {

std::expected<VerifierKey, Error> parse_key(std::string_view text, bool accept_extended) {
  const std::size_t first = text.find('+');
  if (first == std::string_view::npos) return std::unexpected(malformed_key(text));
  const std::size_t second = text.find('+', first + 1);
  if (second == std::string_view::npos || second - first - 1 != 8) return std::unexpected(malformed_key(text));
  const std::string_view name = text.substr(0, first);
  const std::string_view id_text = text.substr(first + 1, 8);
  const std::string_view data_text = text.substr(second + 1);

  QUENFOLD_TRY(const auto id_bytes, encoding::hex_decode(id_text));
  QUENFOLD_TRY(const Bytes data, encoding::base64_decode(data_text));
  if (data.empty() || name.empty() || has_white_space(name)) return std::unexpected(malformed_key(text));

  const auto declared = static_cast<std::uint32_t>(encoding::Reader::big_endian(id_bytes));
  // An RFC 6962 log's key id commits to its log ID, not to the key data.
  const bool rfc6962 = accept_extended && data[0] == kRfc6962KeyType;
  const std::uint32_t computed =
      rfc6962 ? rfc6962_key_id(name, ByteView(data).subspan(1)) : compute_key_id(name, data);
  if (declared != computed)
    return std::unexpected(Error::malformed_signed_note("verifier key id mismatch: declared " +
                                                        encoding::hex_fixed(declared, 8) + ", computed " +
                                                        encoding::hex_fixed(computed, 8)));

  const ByteView d(data);
  std::optional<crypto::EcdsaP256Key> ecdsa;
  constexpr std::size_t kPrefix = 1 + kCompositeKeyLabel.size();
  KeyKind kind;
  if (d[0] == kEd25519KeyType) {
    kind = KeyKind::Ed25519;
  } else if (accept_extended && d[0] == kCosignatureV1KeyType) {
    kind = KeyKind::CosignatureV1;
  } else if (rfc6962) {
    ecdsa = crypto::EcdsaP256Key::from_spki(d.subspan(1));
    if (!ecdsa)
      return std::unexpected(
          Error::malformed_signed_note("rfc6962 key is not an ECDSA P-256 SubjectPublicKeyInfo"));
    kind = KeyKind::Rfc6962;
  } else if (accept_extended && d[0] == kSubtreeV1KeyType) {
    if (d.size() != 1 + kMlDsa44PublicKeyLength)
      return std::unexpected(Error::malformed_signed_note("subtree/v1 key is " + std::to_string(d.size() - 1) +
                                                          " bytes, want " + std::to_string(kMlDsa44PublicKeyLength)));
    kind = KeyKind::SubtreeV1;
  } else if (d.size() >= kPrefix && d[0] == kCompositeKeyType &&
             encoding::text_of(d.subspan(1, kCompositeKeyLabel.size())) == kCompositeKeyLabel) {
    kind = KeyKind::Composite;
  } else {
    return std::unexpected(Error::malformed_signed_note("unsupported signature type (leading byte 0x" +
                                                        encoding::hex_fixed(d[0], 2) + ")"));
  }
  const bool composite = kind == KeyKind::Composite;
  const bool sized = kind == KeyKind::Ed25519 || kind == KeyKind::CosignatureV1;
  const bool length_ok = composite ? d.size() > kPrefix : !sized || d.size() == 33;
  if (!length_ok) return std::unexpected(malformed_key(text));

  const ByteView key = composite ? d.subspan(kPrefix) : d.subspan(1);
  VerifierKey out{std::string(name), declared, kind, Bytes(key.begin(), key.end()), nullptr};
  if (ecdsa) out.ecdsa = std::make_shared<const crypto::EcdsaP256Key>(std::move(*ecdsa));
  return out;
}

}  // namespace

std::uint32_t rfc6962_key_id(std::string_view name, ByteView spki_der) {
  static constexpr std::uint8_t kPrefix[2] = {0x0A, kRfc6962KeyType};
  const auto log_id = crypto::sha256({spki_der});
  const auto digest = crypto::sha256({encoding::bytes_of(name), kPrefix, log_id});
  return static_cast<std::uint32_t>(encoding::Reader::big_endian(ByteView(digest).first(4)));
}

bool signs_checkpoint(KeyKind kind) noexcept { return kind == KeyKind::Rfc6962 || kind == KeyKind::SubtreeV1; }

std::expected<std::vector<VerifierKey>, Error> parse_verifier_keys(std::span<const std::string_view> texts) {
  // Grows as keys parse: a long list of texts that fail early costs
  // nothing beyond the texts themselves.
  std::vector<VerifierKey> keys;
  for (const std::string_view t : texts) {
    QUENFOLD_TRY(VerifierKey k, VerifierKey::parse(t));
    keys.push_back(std::move(k));
  }
  return keys;
}

KeyType key_type_of(KeyKind kind) noexcept {
  switch (kind) {
    case KeyKind::Ed25519:
      return KeyType::Ed25519;
    case KeyKind::Composite:
      return KeyType::Composite;
    case KeyKind::CosignatureV1:
      return KeyType::CosignatureV1;
    case KeyKind::Rfc6962:
      return KeyType::Rfc6962;
    case KeyKind::SubtreeV1:
      return KeyType::SubtreeV1;
  }
  return KeyType::Ed25519;
}

Signer signer_of(const VerifierKey& key, const SignedTime& time) {
  return Signer{key.name, key.key_id, key_type_of(key.kind), time.seconds, time.millis,
                key.kind != KeyKind::Rfc6962};
}

std::string key_failure_reason(const Error& e) {
  return e.kind() == ErrorKind::MalformedSignedNote ? e.detail() : e.message();
}

}  // namespace quenfold::note
