#include <algorithm>

#include "base/try.h"
#include "checkpoint/checkpoint.h"
#include "checkpoint/open.h"
#include "quenfold/merkle.h"
#include "quenfold/checkpoint_verifier.h"

namespace quenfold {

// The log keys for the origin and, apart, the keys whose lines are
// reported as cosigners; the policy (when there is one) keeps its witness
// keys and quorum alive for the Trust that points into them.
struct CheckpointVerifier::Impl {
  std::string origin;
  std::vector<note::VerifierKey> log_keys;
  std::vector<note::VerifierKey> extra_witnesses;  // cosignature keys of a plain key list
  std::optional<WitnessPolicy> policy;
  std::size_t min_log_keys = 1;

  checkpoint::Trust trust(bool with_witnesses) const {
    checkpoint::Trust t;
    t.log_keys = log_keys;
    t.origin = origin;
    t.min_log_keys = min_log_keys;
    if (!with_witnesses) return t;
    if (policy) {
      const checkpoint::Trust p = policy->trust();
      t.witness_keys = p.witness_keys;
      t.witness_index = p.witness_index;
      t.quorum = p.quorum;
    } else {
      t.witness_keys = extra_witnesses;
    }
    return t;
  }
};

namespace {

// Splits a caller's key list into the log's keys and cosigners' keys. A
// cosignature/v1 key is a witness's by nature; a subtree/v1 (ML-DSA-44)
// key serves logs and witnesses alike, and is the log's when it carries
// the log's name.
void add_keys(const VerifierList& keys, std::string_view origin, std::vector<note::VerifierKey>& logs,
              std::vector<note::VerifierKey>& witnesses) {
  for (const note::VerifierKey& k : keys.parsed()) {
    const bool cosigner = k.kind == note::KeyKind::CosignatureV1 ||
                          (k.kind == note::KeyKind::SubtreeV1 && k.name != origin);
    (cosigner ? witnesses : logs).push_back(k);
  }
}

std::expected<VerifiedCheckpoint, Error> open_with(std::string_view note_text, const checkpoint::Trust& trust) {
  QUENFOLD_TRY(auto opened, checkpoint::open_checkpoint(note_text, trust));
  return VerifiedCheckpoint{std::move(opened.head), std::move(opened.log_signers), std::move(opened.cosigners)};
}

}  // namespace

CheckpointVerifier::CheckpointVerifier(std::string origin, VerifierList keys) {
  auto impl = std::make_shared<Impl>();
  impl->origin = std::move(origin);
  add_keys(keys, impl->origin, impl->log_keys, impl->extra_witnesses);
  impl_ = std::move(impl);
}

CheckpointVerifier::CheckpointVerifier(std::string origin, WitnessPolicy policy)
    : CheckpointVerifier(std::move(origin), VerifierList(), std::move(policy)) {}

CheckpointVerifier::CheckpointVerifier(std::string origin, VerifierList log_keys, WitnessPolicy policy) {
  auto impl = std::make_shared<Impl>();
  impl->origin = std::move(origin);
  // Cosignature keys given beside a policy are not in its quorum, and a
  // note's lines are checked only against the keys that decide it.
  std::vector<note::VerifierKey> ignored;
  add_keys(log_keys, impl->origin, impl->log_keys, ignored);
  // The policy's log keys for the origin, each once: a key also given in
  // `log_keys` is not listed (or counted) twice.
  for (const note::VerifierKey& k : policy.logs().parsed()) {
    if (k.name == impl->origin && std::ranges::find(impl->log_keys, k) == impl->log_keys.end())
      impl->log_keys.push_back(k);
  }
  impl->policy = std::move(policy);
  impl_ = std::move(impl);
}

CheckpointVerifier CheckpointVerifier::require_log_signatures(std::size_t n) const {
  auto impl = std::make_shared<Impl>(*impl_);
  impl->min_log_keys = std::max<std::size_t>(n, 1);
  CheckpointVerifier out = *this;
  out.impl_ = std::move(impl);
  return out;
}

const std::string& CheckpointVerifier::origin() const noexcept { return impl_->origin; }

std::vector<Signer> CheckpointVerifier::log_keys() const {
  std::vector<Signer> out;
  out.reserve(impl_->log_keys.size());
  for (const auto& k : impl_->log_keys) out.push_back(note::signer_of(k));
  return out;
}

std::expected<VerifiedCheckpoint, Error> CheckpointVerifier::verify(std::string_view note_text) const {
  return open_with(note_text, impl_->trust(true));
}

std::expected<VerifiedCheckpoint, Error> CheckpointVerifier::verify_log_signature(std::string_view note_text) const {
  return open_with(note_text, impl_->trust(false));
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
