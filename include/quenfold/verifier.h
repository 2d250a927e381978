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
};
const char* name_of(KeyType t) noexcept;  // "ed25519", "composite", "cosignature/v1"

// A key that verified a signature line: its name and key id, its type, and
// for a cosignature the POSIX time at which the witness signed.
struct Signer {
  std::string name;
  std::uint32_t key_id = 0;
  KeyType type = KeyType::Ed25519;
  std::optional<std::uint64_t> timestamp;
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
  // the reason. Accepts Ed25519, composite and cosignature/v1 keys.
  static std::expected<VerifierList, Error> parse(std::span<const std::string_view> vkeys);
  static std::expected<VerifierList, Error> parse(std::span<const std::string> vkeys);

  VerifierList();  // the empty list: opens no note

  // Opens a signed note under the C2SP signed-note rules: lines from keys
  // outside the list are ignored, a line from a listed key that does not
  // verify rejects the note (InvalidSignature), and at least one line must
  // verify (NoTrustedSignature).
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

}  // namespace quenfold
