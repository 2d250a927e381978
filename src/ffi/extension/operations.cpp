#include "ffi/extension/operations.h"

#include <algorithm>

#include "base/try.h"

namespace quenfold::ffi::ext {

namespace {

template <class T>
Ref<T> shared(T value) {
  return std::make_shared<const T>(std::move(value));
}

}  // namespace

Result<std::vector<std::optional<Error>>> verify_inclusions(const CheckpointHead& head,
                                                            const LiftedInclusionProofs& proofs) {
  std::vector<std::optional<Error>> out;
  out.reserve(proofs.proofs.size());
  for (auto& r : quenfold::verify_inclusions(head, proofs.proofs))
    out.push_back(r ? std::nullopt : std::optional<Error>(std::move(r.error())));
  return out;
}

Result<Ref<VerifierList>> verifier_list_parse(const std::vector<std::string_view>& vkeys) {
  QUENFOLD_TRY(auto list, VerifierList::parse(std::span<const std::string_view>(vkeys)));
  return shared(std::move(list));
}

Result<OpenedNote> verifier_list_open(const Ref<VerifierList>& self, std::string_view note_text) {
  return self->open(note_text);
}

Result<std::vector<Signer>> verifier_list_keys(const Ref<VerifierList>& self) { return self->keys(); }

Result<std::uint64_t> verifier_list_size(const Ref<VerifierList>& self) { return self->size(); }

Result<Ref<WitnessPolicy>> witness_policy_parse(std::string_view text) {
  QUENFOLD_TRY(auto policy, WitnessPolicy::parse(text));
  return shared(std::move(policy));
}

Result<Ref<WitnessPolicy>> witness_policy_threshold(const Ref<VerifierList>& logs, const Ref<VerifierList>& witnesses,
                                                    std::uint64_t k) {
  // A k beyond size_t is beyond any list's size: threshold reports it so.
  const std::size_t bounded = k > SIZE_MAX ? SIZE_MAX : static_cast<std::size_t>(k);
  QUENFOLD_TRY(auto policy, WitnessPolicy::threshold(*logs, *witnesses, bounded));
  return shared(std::move(policy));
}

Result<WitnessedNote> witness_policy_open(const Ref<WitnessPolicy>& self, std::string_view note_text) {
  return self->open(note_text);
}

Result<Ref<VerifierList>> witness_policy_logs(const Ref<WitnessPolicy>& self) { return shared(self->logs()); }

Result<Ref<VerifierList>> witness_policy_witnesses(const Ref<WitnessPolicy>& self) {
  return shared(self->witnesses());
}

Result<Ref<CheckpointVerifier>> checkpoint_verifier_with_keys(std::string_view origin, const Ref<VerifierList>& keys) {
  return shared(CheckpointVerifier(std::string(origin), *keys));
}

Result<Ref<CheckpointVerifier>> checkpoint_verifier_with_policy(std::string_view origin,
                                                                const Ref<WitnessPolicy>& policy) {
  return shared(CheckpointVerifier(std::string(origin), *policy));
}

Result<Ref<CheckpointVerifier>> checkpoint_verifier_with_keys_and_policy(std::string_view origin,
                                                                         const Ref<VerifierList>& keys,
                                                                         const Ref<WitnessPolicy>& policy) {
  return shared(CheckpointVerifier(std::string(origin), *keys, *policy));
}

Result<std::string> rfc6962_verifier_key(std::string_view origin, std::string_view spki_base64) {
  return quenfold::rfc6962_verifier_key(origin, spki_base64);
}

Result<TlogProof> parse_tlog_proof(std::string_view text) { return quenfold::parse_tlog_proof(text); }

Result<VerifiedTlogProof> verify_tlog_proof(std::string_view text, const Ref<CheckpointVerifier>& verifier,
                                            ByteView leaf_hash) {
  return quenfold::verify_tlog_proof(text, *verifier, leaf_hash);
}

Result<VerifiedTlogProof> verify_tlog_proof_entry(std::string_view text, const Ref<CheckpointVerifier>& verifier,
                                                  ByteView entry) {
  return quenfold::verify_tlog_proof_entry(text, *verifier, entry);
}

Result<AddCheckpointResult> check_add_checkpoint(const std::optional<LiftedWitnessState>& stored,
                                                 const Ref<CheckpointVerifier>& verifier, std::string_view request) {
  std::optional<WitnessState> state;
  if (stored) {
    if (stored->root.size() != Hash32{}.size())
      return std::unexpected(Error::invalid_hash_length(stored->root.size(), Hash32{}.size()));
    state.emplace();
    state->size = stored->size;
    std::copy(stored->root.begin(), stored->root.end(), state->root.begin());
  }
  return quenfold::check_add_checkpoint(state, *verifier, request);
}

Result<Ref<CheckpointVerifier>> checkpoint_verifier_require_log_signatures(const Ref<CheckpointVerifier>& self,
                                                                          std::uint64_t n) {
  return shared(self->require_log_signatures(static_cast<std::size_t>(n)));
}

Result<std::string> checkpoint_verifier_origin(const Ref<CheckpointVerifier>& self) { return self->origin(); }

Result<std::vector<Signer>> checkpoint_verifier_log_keys(const Ref<CheckpointVerifier>& self) {
  return self->log_keys();
}

Result<VerifiedCheckpoint> checkpoint_verifier_verify(const Ref<CheckpointVerifier>& self, std::string_view note_text) {
  return self->verify(note_text);
}

Result<VerifiedCheckpoint> checkpoint_verifier_verify_log_signature(const Ref<CheckpointVerifier>& self,
                                                                    std::string_view note_text) {
  return self->verify_log_signature(note_text);
}

Result<VerifiedCheckpoint> checkpoint_verifier_verify_inclusion(const Ref<CheckpointVerifier>& self,
                                                                std::string_view note_text, std::uint64_t leaf_index,
                                                                ByteView leaf_hash, const std::vector<ByteView>& proof) {
  return self->verify_inclusion(note_text, leaf_index, leaf_hash, proof);
}

Result<std::pair<VerifiedCheckpoint, VerifiedCheckpoint>> checkpoint_verifier_verify_consistency(
    const Ref<CheckpointVerifier>& self, std::string_view older_note, std::string_view newer_note,
    const std::vector<ByteView>& proof) {
  return self->verify_consistency(older_note, newer_note, proof);
}

Result<std::vector<VerifiedCheckpoint>> checkpoint_verifier_verify_chain(const Ref<CheckpointVerifier>& self,
                                                                         const std::vector<std::string_view>& notes,
                                                                         const LiftedPaths& proofs) {
  return self->verify_chain(notes, proofs.spans);
}

}  // namespace quenfold::ffi::ext
