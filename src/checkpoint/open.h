// The one route by which every caller verifies a checkpoint note: the C
// ABI's checkpoint_* operations, CheckpointVerifier, WitnessPolicy and the
// command-line tool differ only in the Trust they hand it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "note/signed_note.h"
#include "note/verifier_key.h"
#include "quenfold/error.h"
#include "quenfold/types.h"
#include "quenfold/verifier.h"

namespace quenfold::checkpoint {

// Keys found by the (name, key id) of a signature line in constant time, so
// that a policy of a hundred thousand witnesses costs no more per line than
// one of three. Among keys with equal name and id the first counts, as in
// a plain key list.
class KeyIndex {
 public:
  KeyIndex() = default;
  explicit KeyIndex(std::span<const note::VerifierKey> keys);
  // The position of the line's key in the indexed list.
  std::optional<std::size_t> find(const note::NoteSignature& sig) const;

 private:
  std::unordered_map<std::string, std::size_t> by_id_;  // name, 0x0A, 4 key-id bytes
};

// A witness quorum (C2SP tlog-policy): every witness and group is a node,
// numbered in definition order. A group refers only to earlier nodes, so
// one pass in node order evaluates them all.
struct Quorum {
  struct Node {
    std::optional<std::size_t> witness;  // its position among the witness keys; a group otherwise
    std::size_t k = 0;                   // group: at least k of
    std::vector<std::size_t> members;    // these earlier nodes
  };
  std::vector<Node> nodes;
  std::size_t root = 0;  // the node that must hold

  // Whether the root holds when exactly the witnesses marked in `cosigned`
  // (by position) cosigned.
  bool holds(const std::vector<bool>& cosigned) const;
};

// What a checkpoint must carry to be accepted.
struct Trust {
  // Keys whose signature makes the note the log's statement.
  std::span<const note::VerifierKey> log_keys;
  const KeyIndex* log_index = nullptr;  // optional index over log_keys
  // Keys whose lines are checked and reported as cosigners.
  std::span<const note::VerifierKey> witness_keys;
  const KeyIndex* witness_index = nullptr;  // optional index over witness_keys
  // The cosignatures required; none when null.
  const Quorum* quorum = nullptr;
  // At least one log line must verify (NoTrustedSignature otherwise).
  bool require_log = true;
  // At least this many distinct log keys must have signed (a log that signs
  // with several keys at once, say Ed25519 and ML-DSA-44, and a client that
  // wants all of them): LogSignaturesNotMet otherwise.
  std::size_t min_log_keys = 1;
  // A log line counts only when its key's name is the checkpoint's origin
  // (the C2SP tlog-policy binding of log keys to origins).
  bool log_named_by_origin = false;
  // The origin every accepted checkpoint carries; any when absent.
  std::optional<std::string_view> origin;
};

struct OpenedCheckpoint {
  std::string body;
  CheckpointHead head;
  std::vector<Signer> log_signers;  // in line order, one entry per verified line
  std::vector<Signer> cosigners;    // in line order, each witness once
};

// Opens a checkpoint note, failing at the first of:
// 1. the note's syntax (MalformedSignedNote);
// 2. in line order, a line from a log or witness key that does not verify
//    (InvalidSignature);
// 3. no verified log line, when one is required (NoTrustedSignature);
// 4. the body (MalformedCheckpoint);
// 5. no verified log line whose key is named as the origin, when log keys
//    are bound to origins by name (NoTrustedSignature);
// 6. another origin than the expected one (OriginMismatch);
// 7. fewer distinct log keys than required (LogSignaturesNotMet);
// 8. the quorum (WitnessQuorumNotMet).
// A note without a trusted signature thus reports that even when its body
// is malformed.
std::expected<OpenedCheckpoint, Error> open_checkpoint(std::string_view note_text, const Trust& trust);

}  // namespace quenfold::checkpoint
