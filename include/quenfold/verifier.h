// Trusted verifier keys parsed once and reused across calls, and the signed
// notes they open: which keys signed, not only how many.
#pragma once

#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "quenfold/error.h"
#include "quenfold/types.h"

namespace quenfold {

namespace note {
struct VerifierKey;
}

// The signature type of a verifier key (the first byte of its key data).
enum class KeyType : std::uint8_t {
  Ed25519,        // 0x01: Ed25519 over the note body
  Composite,      // 0xFF and the composite label: a post-quantum or hybrid token
  CosignatureV1,  // 0x04: a witness's timestamped Ed25519 checkpoint cosignature
  Rfc6962,        // 0x05: a log's RFC 6962 tree head signature (C2SP static-ct-api)
  SubtreeV1,      // 0x06: an ML-DSA-44 subtree/v1 signature (C2SP tlog-cosignature)
};
// "ed25519", "composite", "cosignature/v1", "rfc6962", "subtree/v1"
const char* name_of(KeyType t) noexcept;

// A key that verified a signature line: its name and key id, its type, and
// the time the line claims, in the unit its type uses.
struct Signer {
  std::string name;
  std::uint32_t key_id = 0;
  KeyType type = KeyType::Ed25519;
  // cosignature/v1 and subtree/v1: the POSIX time in seconds at which the
  // cosigner signed (a subtree/v1 time of 0 claims no time: none).
  std::optional<std::uint64_t> timestamp_seconds;
  // rfc6962: the tree head's timestamp in milliseconds since the POSIX epoch.
  std::optional<std::uint64_t> timestamp_millis;
  // An rfc6962 signature covers the tree size and root but not the origin
  // line (RFC 6962 tree heads do not name their log): false for those.
  bool covers_origin = true;
  friend bool operator==(const Signer&, const Signer&) = default;
};

// A note whose signatures verified: its body (ending in a line feed) and
// the signers of the lines that verified, in line order.
struct OpenedNote {
  std::string body;
  std::vector<Signer> signers;
};

// A set of trusted verifier keys, parsed once. Copies share the parsed keys;
// a list is immutable and may be used from any number of threads at once.
class VerifierList {
 public:
  // Parses every key text in order and stops at the first that fails, with
  // a MalformedVerifierKey error naming its position (from 1), its name and
  // the reason. Accepts every KeyType. An rfc6962 key is written
  // "<name>+<key id>+base64(0x05 || SubjectPublicKeyInfo DER)" whose key id
  // is SHA-256(name || 0x0A || 0x05 || log ID)[:4], the log ID being
  // SHA-256 of the DER (C2SP static-ct-api fixes the key id, no C2SP text
  // fixes this key encoding); rfc6962_verifier_key writes one.
  static std::expected<VerifierList, Error> parse(std::span<const std::string_view> vkeys);
  static std::expected<VerifierList, Error> parse(std::span<const std::string> vkeys);

  VerifierList();  // the empty list: opens no note

  // Opens a signed note under the C2SP signed-note rules: lines from keys
  // outside the list are ignored, a line from a listed key that does not
  // verify rejects the note (InvalidSignature), and at least one line must
  // verify (NoTrustedSignature). rfc6962 and subtree/v1 keys sign
  // checkpoints, not note bodies: open checkpoints with CheckpointVerifier or
  // WitnessPolicy, where their lines are checked against the parsed body.
  std::expected<OpenedNote, Error> open(std::string_view note_text) const;

  std::size_t size() const noexcept;
  bool empty() const noexcept { return size() == 0; }
  // Name, key id and type of every key, in list order (no timestamps).
  std::vector<Signer> keys() const;

  // The parsed keys, for the library's own verifiers, and a list of keys
  // the library parsed itself.
  std::span<const note::VerifierKey> parsed() const noexcept;
  static VerifierList of(std::vector<note::VerifierKey> keys);

 private:
  explicit VerifierList(std::shared_ptr<const std::vector<note::VerifierKey>> keys);
  std::shared_ptr<const std::vector<note::VerifierKey>> keys_;
};

// The verifier key of an RFC 6962 log whose checkpoints carry `origin`
// (static-ct-api names the key after the origin), from its public key as CT
// log lists publish it: base64 of the SubjectPublicKeyInfo DER. The key must
// be ECDSA on P-256; failures are MalformedVerifierKey errors.
std::expected<std::string, Error> rfc6962_verifier_key(std::string_view origin, std::string_view spki_base64);

}  // namespace quenfold
