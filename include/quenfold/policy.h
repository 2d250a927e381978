// Signed namespace policies and the posture checks made against them.
#pragma once

#include <cstdint>
#include <expected>
#include <string_view>

#include "quenfold/error.h"
#include "quenfold/types.h"

namespace quenfold {

// Parses a SignedPolicy envelope, enforces the record's legality rules,
// verifies its signature and returns the declared posture with its
// policy_hash and RFC 6962 leaf hash.
std::expected<PolicyPosture, Error> signed_policy_verify(ByteView envelope);

// Succeeds when the public-key token's version is the policy's checkpoint suite
// at its security level (the envelope is verified first).
std::expected<void, Error> policy_enforce_checkpoint_signing_key(ByteView envelope, std::string_view public_key);

// Succeeds when the signature token's version is the policy's checkpoint suite
// at its security level (the envelope is verified first).
std::expected<void, Error> policy_enforce_checkpoint_signature(ByteView envelope, std::string_view signature);

// Succeeds when the observed VRF suite id is the one of the policy's VRF mode
// (0x03 for Classical).
std::expected<void, Error> policy_enforce_vrf_suite_id(ByteView envelope, std::uint8_t observed_suite_id);

// Succeeds when the observed commitment hash is the policy's.
std::expected<void, Error> policy_enforce_commitment_hash(ByteView envelope, CommitmentHash observed);

// Succeeds when the observed backend code is the one of the policy's directory
// mode (0x0001 for Coniks, 0xf004 for Keytrans).
std::expected<void, Error> policy_enforce_directory_backend(ByteView envelope, std::uint16_t observed_backend_id);

}  // namespace quenfold
