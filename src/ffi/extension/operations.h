// What each export of the extension runs: one function per call of
// tools/metadata-gen/extension.json, named <object>_<call> (or the
// function's own name), over the C++ API. Arguments arrive lifted (a handle
// as the call's own std::shared_ptr); results are lowered by the frame.
#pragma once

#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ffi/extension/values.h"
#include "ffi/handle.h"
#include "quenfold/add_checkpoint.h"
#include "quenfold/checkpoint_verifier.h"
#include "quenfold/tlog_proof.h"
#include "quenfold/verifier.h"
#include "quenfold/witness.h"

namespace quenfold::ffi {

template <>
struct HandleType<VerifierList> {
  static constexpr std::uint64_t tag = 0x5146'564c'6973'7401;  // distinct per type
  static constexpr const char* name = "VerifierList";
};
template <>
struct HandleType<WitnessPolicy> {
  static constexpr std::uint64_t tag = 0x5146'5750'6f6c'6902;
  static constexpr const char* name = "WitnessPolicy";
};
template <>
struct HandleType<CheckpointVerifier> {
  static constexpr std::uint64_t tag = 0x5146'4350'5665'7203;
  static constexpr const char* name = "CheckpointVerifier";
};

}  // namespace quenfold::ffi

namespace quenfold::ffi::ext {

template <class T>
using Ref = std::shared_ptr<const T>;
template <class T>
using Result = std::expected<T, Error>;

Result<std::vector<std::optional<Error>>> verify_inclusions(const CheckpointHead& head,
                                                            const LiftedInclusionProofs& proofs);

Result<std::string> rfc6962_verifier_key(std::string_view origin, std::string_view spki_base64);

Result<TlogProof> parse_tlog_proof(std::string_view text);
Result<VerifiedTlogProof> verify_tlog_proof(std::string_view text, const Ref<CheckpointVerifier>& verifier,
                                            ByteView leaf_hash);
Result<VerifiedTlogProof> verify_tlog_proof_entry(std::string_view text, const Ref<CheckpointVerifier>& verifier,
                                                  ByteView entry);
// Every outcome of the checks is a result; only a stored root that is not
// 32 bytes, which no witness can have stored, is a rejection.
Result<AddCheckpointResult> check_add_checkpoint(const std::optional<LiftedWitnessState>& stored,
                                                 const Ref<CheckpointVerifier>& verifier, std::string_view request);

Result<Ref<VerifierList>> verifier_list_parse(const std::vector<std::string_view>& vkeys);
Result<OpenedNote> verifier_list_open(const Ref<VerifierList>& self, std::string_view note_text);
Result<std::vector<Signer>> verifier_list_keys(const Ref<VerifierList>& self);
Result<std::uint64_t> verifier_list_size(const Ref<VerifierList>& self);

Result<Ref<WitnessPolicy>> witness_policy_parse(std::string_view text);
Result<Ref<WitnessPolicy>> witness_policy_threshold(const Ref<VerifierList>& logs, const Ref<VerifierList>& witnesses,
                                                    std::uint64_t k);
Result<WitnessedNote> witness_policy_open(const Ref<WitnessPolicy>& self, std::string_view note_text);
Result<Ref<VerifierList>> witness_policy_logs(const Ref<WitnessPolicy>& self);
Result<Ref<VerifierList>> witness_policy_witnesses(const Ref<WitnessPolicy>& self);

Result<Ref<CheckpointVerifier>> checkpoint_verifier_with_keys(std::string_view origin, const Ref<VerifierList>& keys);
Result<Ref<CheckpointVerifier>> checkpoint_verifier_with_policy(std::string_view origin,
                                                                const Ref<WitnessPolicy>& policy);
Result<Ref<CheckpointVerifier>> checkpoint_verifier_with_keys_and_policy(std::string_view origin,
                                                                         const Ref<VerifierList>& keys,
                                                                         const Ref<WitnessPolicy>& policy);
Result<Ref<CheckpointVerifier>> checkpoint_verifier_require_log_signatures(const Ref<CheckpointVerifier>& self,
                                                                          std::uint64_t n);
Result<std::string> checkpoint_verifier_origin(const Ref<CheckpointVerifier>& self);
Result<std::vector<Signer>> checkpoint_verifier_log_keys(const Ref<CheckpointVerifier>& self);
Result<VerifiedCheckpoint> checkpoint_verifier_verify(const Ref<CheckpointVerifier>& self, std::string_view note_text);
Result<VerifiedCheckpoint> checkpoint_verifier_verify_log_signature(const Ref<CheckpointVerifier>& self,
                                                                    std::string_view note_text);
Result<VerifiedCheckpoint> checkpoint_verifier_verify_inclusion(const Ref<CheckpointVerifier>& self,
                                                                std::string_view note_text, std::uint64_t leaf_index,
                                                                ByteView leaf_hash, const std::vector<ByteView>& proof);
Result<std::pair<VerifiedCheckpoint, VerifiedCheckpoint>> checkpoint_verifier_verify_consistency(
    const Ref<CheckpointVerifier>& self, std::string_view older_note, std::string_view newer_note,
    const std::vector<ByteView>& proof);
Result<std::vector<VerifiedCheckpoint>> checkpoint_verifier_verify_chain(const Ref<CheckpointVerifier>& self,
                                                                         const std::vector<std::string_view>& notes,
                                                                         const LiftedPaths& proofs);

}  // namespace quenfold::ffi::ext
