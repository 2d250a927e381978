// Posture checks: does an observed artefact of a namespace match what its
// (already verified) policy declares? Every disagreement, including a token
// that cannot even be classified, is a PostureMismatch naming both sides.
#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

#include "crypto/crypto_error.h"
#include "crypto/sign.h"
#include "policy/policy.h"
#include "quenfold/error.h"

namespace quenfold::policy {

// RFC 9381 suite string of ECVRF-EDWARDS25519-SHA512-TAI, the only VRF of
// the Classical mode.
inline constexpr std::uint8_t kClassicalVrfSuiteId = 0x03;
// Directory backend codes.
inline constexpr std::uint16_t kConiksBackend = 0x0001;
inline constexpr std::uint16_t kKeytransBackend = 0xF004;  // KEYTRANS_EXP_04

enum class TokenRole : std::uint8_t { PublicKey, Signature };

// The posture a token version serves: the checkpoint suite of its family and
// its security category.
struct TokenProfile {
  CheckpointSuite suite;
  crypto::SecurityCategory category;
};

// Decodes a token with the dependency codec and reads its profile from the
// version tag, checking the exact length of that version. The token material
// itself is not examined.
std::expected<TokenProfile, crypto::CryptoError> classify_token(std::string_view token, TokenRole role);

std::expected<void, Error> enforce_checkpoint_signing_key(const NamespacePolicy& p, std::string_view public_key);
std::expected<void, Error> enforce_checkpoint_signature(const NamespacePolicy& p, std::string_view signature);
std::expected<void, Error> enforce_vrf_suite_id(const NamespacePolicy& p, std::uint8_t observed_suite_id);
std::expected<void, Error> enforce_commitment_hash(const NamespacePolicy& p, CommitmentHash observed);
std::expected<void, Error> enforce_directory_backend(const NamespacePolicy& p, std::uint16_t observed_backend_id);

}  // namespace quenfold::policy
