// Checkpoints bound to the origin a caller expects, and the batch checks of
// monitors and auditors: many inclusion proofs under one checkpoint whose
// signatures were checked once, and a chain of consistency proofs across a
// sequence of checkpoints.
#pragma once

#include <cstdint>
#include <memory>
#include <expected>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "quenfold/error.h"
#include "quenfold/types.h"
#include "quenfold/verifier.h"
#include "quenfold/witness.h"

namespace quenfold {

// A checkpoint whose signatures verified and whose origin is the expected
// one: its head, the log keys that signed it and the witnesses whose
// cosignatures verified (with their timestamps), in line order.
struct VerifiedCheckpoint {
  CheckpointHead head;
  std::vector<Signer> log_signers;
  std::vector<Signer> cosigners;
};

// One inclusion proof: the leaf hash at `index` and its audit path.
struct InclusionProof {
  std::uint64_t index = 0;
  ByteView leaf_hash;
  std::span<const ByteView> proof;
};

// Which keys a checkpoint of one origin must carry: the log's own signature
// (always), and when a witness policy is given, its quorum of cosignatures.
// Every known key's line is checked: a log or witness line that does not
// verify rejects the note (InvalidSignature), so a broken witness is seen
// rather than silently not counted. Immutable; copies share their keys, and
// one verifier may be used from any number of threads at once.
class CheckpointVerifier {
 public:
  // Checkpoints of `origin` signed by at least one log key of `keys`. The
  // caller ties these keys to `origin` by naming both, so their names need
  // not equal it (a log may sign its origin under a key of another name).
  // Cosigners' keys in the list (cosignature/v1, and subtree/v1 keys not
  // named `origin`) are checked and reported as cosigners, but never stand
  // in for the log's signature.
  CheckpointVerifier(std::string origin, VerifierList keys);
  // Checkpoints of `origin` that meet `policy`: signed by one of the
  // policy's log keys named `origin` (C2SP tlog-policy: a log key's name is
  // its origin), and cosigned by the policy's quorum. A policy with no log
  // key for `origin` accepts nothing (log_keys() is empty).
  CheckpointVerifier(std::string origin, WitnessPolicy policy);
  // As above, and every log key of `log_keys` (as in the first form;
  // cosigners' keys are left out) signs for `origin` too, whatever its name:
  // a policy that lists only witnesses, or a log whose key name is not its
  // origin.
  CheckpointVerifier(std::string origin, VerifierList log_keys, WitnessPolicy policy);

  // A copy that also requires at least `n` distinct log keys to have
  // signed (LogSignaturesNotMet otherwise): a log that signs with several
  // keys at once (Ed25519 and ML-DSA-44, RFC 6962 and Ed25519), and a
  // client that wants more than one of them. 1 is the default; n above the
  // number of log keys accepts nothing.
  CheckpointVerifier require_log_signatures(std::size_t n) const;

  const std::string& origin() const noexcept;
  // The keys whose signature makes a note the log's statement about
  // origin(). A verifier without any rejects every note.
  std::vector<Signer> log_keys() const;

  // The log's signature, the body, the origin (OriginMismatch), then the
  // witness quorum (WitnessQuorumNotMet).
  std::expected<VerifiedCheckpoint, Error> verify(std::string_view note_text) const;

  // Only what makes a note the log's own statement about origin(): its
  // signature under log_keys() (a log line that does not verify rejects the
  // note), the body and the origin; cosignatures are neither checked nor
  // reported. Two checkpoints that pass this and are not consistent with
  // each other prove that the log forked, whatever the witnesses said.
  std::expected<VerifiedCheckpoint, Error> verify_log_signature(std::string_view note_text) const;

  // verify, then the RFC 6962 inclusion proof under the verified head.
  std::expected<VerifiedCheckpoint, Error> verify_inclusion(std::string_view note_text, std::uint64_t leaf_index,
                                                            ByteView leaf_hash,
                                                            std::span<const ByteView> proof) const;

  // Both notes (older first), then the consistency proof between them.
  std::expected<std::pair<VerifiedCheckpoint, VerifiedCheckpoint>, Error> verify_consistency(
      std::string_view older_note, std::string_view newer_note, std::span<const ByteView> proof) const;

  // A sequence of checkpoints, each verified once, and proofs[i] from
  // notes[i] to notes[i + 1]. Another number of proofs than one fewer than
  // notes is WrongProofSize (counting proofs); a failure of a note is
  // reported as is; a failed proof is BrokenChain naming its link.
  std::expected<std::vector<VerifiedCheckpoint>, Error> verify_chain(
      std::span<const std::string_view> notes, std::span<const std::span<const ByteView>> proofs) const;

  struct Impl;  // opaque: defined by the library

 private:
  std::shared_ptr<const Impl> impl_;
};

// Every proof against one head already verified (for instance by
// CheckpointVerifier::verify): no signature is checked again. The results
// are in the order of `proofs`.
std::vector<std::expected<void, Error>> verify_inclusions(const CheckpointHead& head,
                                                          std::span<const InclusionProof> proofs);

}  // namespace quenfold
