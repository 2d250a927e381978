// Signed notes (the C2SP signed-note text format): a body ending in a line
// feed, a blank line, and one or more "— <name> <base64 blob>" lines.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "note/verifier_key.h"
#include "quenfold/error.h"
#include "quenfold/types.h"

namespace quenfold::note {

// The context under which composite keys sign note bodies. Ed25519 keys
// sign the body itself.
inline constexpr std::string_view kSignedNoteContext = "quenfold-log.io/signed-note/v1";
static_assert(kSignedNoteContext.size() == 30);

// At most this many signature lines per note; it bounds the work per call.
inline constexpr std::size_t kMaxSignatures = 100;

struct NoteSignature {
  std::string name;
  std::uint32_t key_id = 0;
  Bytes signature;  // the blob after its 4-byte key id (at least 1 byte)
  friend bool operator==(const NoteSignature&, const NoteSignature&) = default;
};

// C2SP tlog-cosignature, cosignature/v1: the signature bytes of a line are
// a timestamped_signature (u64 big-endian POSIX time, at most 2^63 - 1, then
// a 64-byte Ed25519 signature) over "cosignature/v1\ntime <decimal>\n"
// followed by the note body.
inline constexpr std::string_view kCosignatureV1Header = "cosignature/v1\n";
inline constexpr std::size_t kCosignatureV1Length = 8 + 64;
inline constexpr std::uint64_t kMaxCosignatureTimestamp = (std::uint64_t{1} << 63) - 1;

// The message a cosignature/v1 signature covers.
std::string cosignature_v1_message(std::uint64_t timestamp, std::string_view body);

// C2SP tlog-cosignature, subtree/v1: the signature bytes of a line are a
// timestamped_signature (u64 big-endian POSIX time, then a 2420-byte
// ML-DSA-44 signature) over this binary message; a checkpoint is the subtree
// [0, size) with the checkpoint's root.
inline constexpr std::string_view kSubtreeV1Label{"subtree/v1\n\0", 12};
inline constexpr std::size_t kMlDsa44SignatureLength = 2420;
std::optional<Bytes> subtree_v1_message(std::string_view cosigner, std::uint64_t timestamp, std::string_view origin,
                                        std::uint64_t start, std::uint64_t end, ByteView hash);

// C2SP static-ct-api: the signature bytes of an rfc6962 line are the tree
// head's u64 timestamp (milliseconds) and an RFC 5246 digitally-signed
// value (hash 4, signature 3, u16 length, DER ECDSA signature) over the
// RFC 6962 TreeHeadSignature: version v1 (0), signature type tree_hash (1),
// timestamp, tree size and root.
Bytes rfc6962_tree_head_message(std::uint64_t timestamp, std::uint64_t size, ByteView root);

// The first key whose name and key id both equal the line's, or nullptr.
const VerifierKey* find_key(std::span<const VerifierKey> keys, const NoteSignature& sig) noexcept;

// Whether one signature line verifies over `body` under its key, by the
// rules of the key's type; `time` receives the time the line claims. Keys
// that sign checkpoint statements (signs_checkpoint) need `checkpoint`, the
// parsed body: without it their lines do not verify.
bool verify_line(const VerifierKey& key, std::string_view body, const NoteSignature& sig, SignedTime& time,
                 const CheckpointHead* checkpoint = nullptr);

// A signature line that verified, and the key it verified under. Both
// pointers are into the note and the key list it was verified against.
struct VerifiedLine {
  const NoteSignature* signature;
  const VerifierKey* key;
  SignedTime time;
};

class SignedNote {
 public:
  // Syntax only; no key is consulted. Failures are MalformedSignedNote.
  static std::expected<SignedNote, Error> parse(std::string_view text);

  // The signature lines that verified, in line order. A line from a trusted
  // key that does not verify rejects the note (InvalidSignature); no
  // verified line at all is NoTrustedSignature. A line that repeats an
  // earlier (key, signature) pair is listed again but checked only once.
  std::expected<std::vector<VerifiedLine>, Error> verify(std::span<const VerifierKey> keys) const;

  // As verify, with the trusted key of each line found by `find` (a
  // const VerifierKey* for a NoteSignature, nullptr for an unknown key),
  // and no verified line at all is not an error: the caller decides which
  // lines it needs.
  // `checkpoint` is the parsed body, for keys that sign checkpoints.
  template <class Find>
  std::expected<std::vector<VerifiedLine>, Error> verify_known(const Find& find,
                                                              const CheckpointHead* checkpoint = nullptr) const;

  const std::string& body() const noexcept { return body_; }
  const std::vector<NoteSignature>& signatures() const noexcept { return signatures_; }

 private:
  SignedNote(std::string body, std::vector<NoteSignature> signatures)
      : body_(std::move(body)), signatures_(std::move(signatures)) {}
  std::string body_;
  std::vector<NoteSignature> signatures_;
};

template <class Find>
std::expected<std::vector<VerifiedLine>, Error> SignedNote::verify_known(const Find& find,
                                                                        const CheckpointHead* checkpoint) const {
  std::vector<VerifiedLine> verified;
  // Where each distinct (key, signature) pair checked so far stands in
  // `verified`; all of them verified (the first that does not ends the
  // call). A line that repeats one of them verifies and counts again
  // without a second check, so a repeated line costs a comparison, not a
  // signature verification.
  std::vector<std::size_t> checked;
  for (const NoteSignature& sig : signatures_) {
    const VerifierKey* key = find(sig);
    if (key == nullptr) continue;  // lines from keys the caller does not trust are ignored
    bool repeated = false;
    for (const std::size_t i : checked) {
      if (verified[i].key == key && verified[i].signature->signature == sig.signature) {
        verified.push_back({&sig, key, verified[i].time});
        repeated = true;
        break;
      }
    }
    if (repeated) continue;
    SignedTime time;
    if (!verify_line(*key, body_, sig, time, checkpoint))
      return std::unexpected(Error::invalid_signature(sig.name, sig.key_id));
    checked.push_back(verified.size());
    verified.push_back({&sig, key, time});
  }
  return verified;
}

}  // namespace quenfold::note
