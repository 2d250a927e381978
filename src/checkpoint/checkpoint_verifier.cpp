#include "checkpoint/checkpoint.h"
#include "base/try.h"
#include "quenfold/merkle.h"
#include "quenfold/checkpoint_verifier.h"

namespace quenfold {

CheckpointVerifier::CheckpointVerifier(std::string origin, VerifierList keys)
    : origin_(std::move(origin)), keys_(std::move(keys)) {}

CheckpointVerifier::CheckpointVerifier(std::string origin, WitnessPolicy policy)
    : origin_(std::move(origin)), policy_(std::move(policy)) {}

std::expected<VerifiedCheckpoint, Error> CheckpointVerifier::verify(std::string_view note_text) const {
  VerifiedCheckpoint out;
  std::string body;
  if (policy_) {
    QUENFOLD_TRY(auto opened, policy_->open(note_text));
    body = std::move(opened.body);
    out.log_signers = std::move(opened.log_signers);
    out.cosigners = std::move(opened.cosigners);
  } else {
    QUENFOLD_TRY(auto opened, keys_.open(note_text));
    body = std::move(opened.body);
    for (Signer& s : opened.signers)
      (s.type == KeyType::CosignatureV1 ? out.cosigners : out.log_signers).push_back(std::move(s));
    // A witness vouches for a checkpoint the log signed; it cannot sign it.
    if (out.log_signers.empty()) return std::unexpected(Error::no_trusted_signature());
  }
  QUENFOLD_TRY(auto head, checkpoint::parse_checkpoint_body(body));
  if (head.origin != origin_) return std::unexpected(Error::origin_mismatch(head.origin, origin_));
  out.head = std::move(head);
  return out;
}

std::expected<VerifiedCheckpoint, Error> CheckpointVerifier::verify_inclusion(std::string_view note_text,
                                                                              std::uint64_t leaf_index,
                                                                              ByteView leaf_hash,
                                                                              std::span<const ByteView> proof) const {
  auto checkpoint = verify(note_text);
  if (!checkpoint) return checkpoint;
  const auto& h = checkpoint->head;
  QUENFOLD_CHECK(quenfold::verify_inclusion(leaf_index, h.size, leaf_hash, proof, h.root));
  return checkpoint;
}

std::expected<std::pair<VerifiedCheckpoint, VerifiedCheckpoint>, Error> CheckpointVerifier::verify_consistency(
    std::string_view older_note, std::string_view newer_note, std::span<const ByteView> proof) const {
  QUENFOLD_TRY(auto older, verify(older_note));
  QUENFOLD_TRY(auto newer, verify(newer_note));
  QUENFOLD_CHECK(
      quenfold::verify_consistency(older.head.size, newer.head.size, proof, older.head.root, newer.head.root));
  return std::pair{std::move(older), std::move(newer)};
}

std::expected<std::vector<VerifiedCheckpoint>, Error> CheckpointVerifier::verify_chain(
    std::span<const std::string_view> notes, std::span<const std::span<const ByteView>> proofs) const {
  if (notes.empty() || proofs.size() + 1 != notes.size())
    return std::unexpected(Error::wrong_proof_size(proofs.size(), notes.empty() ? 0 : notes.size() - 1));
  std::vector<VerifiedCheckpoint> chain;
  chain.reserve(notes.size());
  for (std::size_t i = 0; i < notes.size(); ++i) {
    QUENFOLD_TRY(auto c, verify(notes[i]));
    if (i > 0) {
      const CheckpointHead& a = chain.back().head;
      const auto r = quenfold::verify_consistency(a.size, c.head.size, proofs[i - 1], a.root, c.head.root);
      if (!r) return std::unexpected(Error::broken_chain(i, r.error()));
    }
    chain.push_back(std::move(c));
  }
  return chain;
}

std::vector<std::expected<void, Error>> verify_inclusions(const CheckpointHead& head,
                                                          std::span<const InclusionProof> proofs) {
  std::vector<std::expected<void, Error>> results;
  results.reserve(proofs.size());
  for (const InclusionProof& p : proofs)
    results.push_back(verify_inclusion(p.index, head.size, p.leaf_hash, p.proof, head.root));
  return results;
}

}  // namespace quenfold
