// Signed notes (the C2SP signed-note text format): a body ending in a line
// feed, a blank line, and one or more "— <name> <base64 blob>" lines.
#pragma once

#include <cstdint>
#include <expected>
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

class SignedNote {
 public:
  // Syntax only; no key is consulted. Failures are MalformedSignedNote.
  static std::expected<SignedNote, Error> parse(std::string_view text);

  // The signature lines that verified, in line order. A line from a trusted
  // key that does not verify rejects the note (InvalidSignature); no
  // verified line at all is NoTrustedSignature. A line that repeats an
  // earlier (key, signature) pair is listed again but checked only once.
  std::expected<std::vector<NoteSignature>, Error> verify(std::span<const VerifierKey> keys) const;

  const std::string& body() const noexcept { return body_; }
  const std::vector<NoteSignature>& signatures() const noexcept { return signatures_; }

 private:
  SignedNote(std::string body, std::vector<NoteSignature> signatures)
      : body_(std::move(body)), signatures_(std::move(signatures)) {}
  std::string body_;
  std::vector<NoteSignature> signatures_;
};

}  // namespace quenfold::note
