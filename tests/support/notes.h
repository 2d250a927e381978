// Builders for signed notes, verifier keys and checkpoint bodies. They are
// written from the text formats alone (base64 and SHA-256 from libsodium),
// so that a fault in the library's own codecs or key-id computation cannot
// hide itself by being shared with the fixtures.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "support/signers.h"

namespace quenfold::test {

// The two fixed vendor labels, spelled out here independently.
inline constexpr std::string_view kCompositeKeyLabelText = "quenfold-log.io/composite-mldsa-ed25519/v1";
inline constexpr std::string_view kSignedNoteContextText = "quenfold-log.io/signed-note/v1";

std::string base64_of(const Bytes& data);
// First four bytes of SHA-256(name || 0x0A || key data), big-endian.
std::uint32_t key_id_of(std::string_view name, const Bytes& key_data);
// "<name>+<8 hex>+<base64 key data>" with the correct key id.
std::string verifier_key_text(std::string_view name, const Bytes& key_data);
// "<name>+<8 hex>+<base64 key data>" with a chosen key id.
std::string verifier_key_text(std::string_view name, std::uint32_t key_id, const Bytes& key_data);
// "— <name> <base64(key id || signature)>\n".
std::string signature_line(std::string_view name, std::uint32_t key_id, const Bytes& signature);

// A note-signing key: Ed25519 (key type 0x01) or composite (0xFF, label,
// public-key token of one version, signing under the signed-note context).
class NoteSigner {
 public:
  static NoteSigner ed25519(std::string name, std::uint64_t seed);
  static NoteSigner composite(std::string name, crypto::SignatureVersion version, std::uint64_t seed);

  const std::string& name() const { return name_; }
  const Bytes& key_data() const { return key_data_; }
  std::uint32_t key_id() const { return key_id_of(name_, key_data_); }
  std::string verifier_key() const { return verifier_key_text(name_, key_data_); }

  Bytes sign(std::string_view body) const;
  std::string signature_line(std::string_view body) const;

  const Ed25519Signer* ed25519_signer() const { return ed_.get(); }
  const TokenSigner* token_signer() const { return token_.get(); }

 private:
  std::string name_;
  Bytes key_data_;
  std::shared_ptr<Ed25519Signer> ed_;
  std::shared_ptr<TokenSigner> token_;
};

// body + "\n" + one signature line per signer, in order.
std::string signed_note(std::string_view body, const std::vector<const NoteSigner*>& signers);

// "<origin>\n<size>\n<base64 root>\n" then one line per extension.
std::string checkpoint_body(std::string_view origin, std::uint64_t size, const Bytes& root,
                            const std::vector<std::string>& extensions = {});

}  // namespace quenfold::test
