// Checkpoints bound to the origin a caller expects, and the batch checks of
// monitors and auditors: many inclusion proofs under one checkpoint whose
// signatures were checked once, and a chain of consistency proofs across a
// sequence of checkpoints.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
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

class CheckpointVerifier {
 public:
  // Checkpoints of `origin` signed by at least one note-signing key of
  // `keys`. Cosignature keys in the list are checked like every listed key
  // (a line that does not verify rejects the note) and reported as
  // cosigners, but never stand in for the log's signature.
  CheckpointVerifier(std::string origin, VerifierList keys);
  // Checkpoints of `origin` that meet `policy`: a log signature (when the
  // policy lists logs) and the witness quorum.
  CheckpointVerifier(std::string origin, WitnessPolicy policy);

  const std::string& origin() const noexcept { return origin_; }

  // Signatures first, then the body, then the origin (OriginMismatch).
  std::expected<VerifiedCheckpoint, Error> verify(std::string_view note_text) const;

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

 private:
  std::string origin_;
  VerifierList keys_;
  std::optional<WitnessPolicy> policy_;
};

// Every proof against one head already verified (for instance by
// CheckpointVerifier::verify): no signature is checked again. The results
// are in the order of `proofs`.
std::vector<std::expected<void, Error>> verify_inclusions(const CheckpointHead& head,
                                                          std::span<const InclusionProof> proofs);

}  // namespace quenfold
