#include "policy/posture.h"

#include <string>

#include "crypto/base64.h"
#include "base/try.h"
#include "encoding/text.h"
#include "quenfold/policy.h"

namespace quenfold::policy {
namespace {

std::unexpected<Error> mismatch(std::string declared, std::string observed) {
  return std::unexpected(Error::posture_mismatch(std::move(declared), std::move(observed)));
}

// The checkpoint suite each token family serves.
CheckpointSuite suite_of(crypto::TokenFamily family) {
  switch (family) {
    case crypto::TokenFamily::Ed25519Hybrid: return CheckpointSuite::Hybrid;
    case crypto::TokenFamily::MlDsaAlone: return CheckpointSuite::PureCnsa2;
    case crypto::TokenFamily::MatchedHybrid: return CheckpointSuite::HybridMatched;
  }
  return CheckpointSuite::Hybrid;
}

bool category_matches(crypto::SecurityCategory c, SecurityLevel level) {
  switch (c) {
    case crypto::SecurityCategory::Cat3: return level == SecurityLevel::Cat3;
    case crypto::SecurityCategory::Cat5: return level == SecurityLevel::Cat5;
    case crypto::SecurityCategory::Cat2: return false;  // no policy can declare category 2
  }
  return false;
}

std::expected<void, Error> enforce_token(const NamespacePolicy& p, std::string_view token, TokenRole role) {
  const std::string declared = std::string(name_of(p.checkpoint_suite)) + "/" + name_of(p.security_level);
  auto profile = classify_token(token, role);
  if (!profile) {
    const char* what = role == TokenRole::PublicKey ? "undecodable checkpoint key (" : "undecodable checkpoint signature (";
    return mismatch(declared, what + profile.error().message() + ")");
  }
  if (profile->suite == p.checkpoint_suite && category_matches(profile->category, p.security_level)) return {};
  return mismatch(declared, std::string(name_of(profile->suite)) + "/" + crypto::name_of(profile->category));
}

}  // namespace

std::expected<TokenProfile, crypto::CryptoError> classify_token(std::string_view token, TokenRole role) {
  auto decoded = crypto::base64::decode(token);
  if (!decoded) return std::unexpected(crypto::CryptoError::base64(decoded.error()));
  const auto shape = decoded->empty() ? std::nullopt : crypto::token_shape(decoded->front());
  if (!shape) return std::unexpected(crypto::CryptoError::signature("unknown or missing signature version tag"));
  const std::size_t want = role == TokenRole::PublicKey ? shape->public_key_len : shape->signature_len;
  if (decoded->size() != want) return std::unexpected(crypto::CryptoError::invalid_length(want, decoded->size()));
  return TokenProfile{suite_of(shape->family), shape->category};
}

std::expected<void, Error> enforce_checkpoint_signing_key(const NamespacePolicy& p, std::string_view public_key) {
  return enforce_token(p, public_key, TokenRole::PublicKey);
}

std::expected<void, Error> enforce_checkpoint_signature(const NamespacePolicy& p, std::string_view signature) {
  return enforce_token(p, signature, TokenRole::Signature);
}

std::expected<void, Error> enforce_vrf_suite_id(const NamespacePolicy& p, std::uint8_t observed_suite_id) {
  // Classical is the only mode a legal policy declares, and its VRF is the
  // Edwards25519 suite.
  if (p.vrf_mode == VrfMode::Classical && observed_suite_id == kClassicalVrfSuiteId) return {};
  return mismatch(std::string("vrf_mode ") + name_of(p.vrf_mode) + " (suite_id 0x" +
                      encoding::hex_fixed(kClassicalVrfSuiteId, 2) + ")",
                  "vrf suite_id 0x" + encoding::hex_fixed(observed_suite_id, 2));
}

std::expected<void, Error> enforce_commitment_hash(const NamespacePolicy& p, CommitmentHash observed) {
  if (observed == p.commitment_hash) return {};
  return mismatch(std::string("commitment_hash ") + name_of(p.commitment_hash),
                  std::string("commitment_hash ") + name_of(observed));
}

std::expected<void, Error> enforce_directory_backend(const NamespacePolicy& p, std::uint16_t observed_backend_id) {
  const std::uint16_t expected = p.directory_mode == DirectoryMode::Keytrans ? kKeytransBackend : kConiksBackend;
  if (observed_backend_id == expected) return {};
  return mismatch(std::string("directory_mode ") + name_of(p.directory_mode) + " (backend 0x" +
                      encoding::hex_fixed(expected, 4) + ")",
                  "directory backend 0x" + encoding::hex_fixed(observed_backend_id, 4));
}

}  // namespace quenfold::policy

namespace quenfold {

namespace {
// Every posture check verifies the envelope first; its failures win over any
// comparison.
template <class Check, class Observed>
std::expected<void, Error> enforce(ByteView envelope, Check check, const Observed& observed) {
  QUENFOLD_TRY(const policy::NamespacePolicy p, policy::load_verified_policy(envelope));
  return check(p, observed);
}
}  // namespace

std::expected<PolicyPosture, Error> signed_policy_verify(ByteView envelope) {
  QUENFOLD_TRY(const policy::NamespacePolicy p, policy::load_verified_policy(envelope));
  return policy::posture_of(p);
}

std::expected<void, Error> policy_enforce_checkpoint_signing_key(ByteView envelope, std::string_view public_key) {
  return enforce(envelope, policy::enforce_checkpoint_signing_key, public_key);
}

std::expected<void, Error> policy_enforce_checkpoint_signature(ByteView envelope, std::string_view signature) {
  return enforce(envelope, policy::enforce_checkpoint_signature, signature);
}

std::expected<void, Error> policy_enforce_vrf_suite_id(ByteView envelope, std::uint8_t observed_suite_id) {
  return enforce(envelope, policy::enforce_vrf_suite_id, observed_suite_id);
}

std::expected<void, Error> policy_enforce_commitment_hash(ByteView envelope, CommitmentHash observed) {
  return enforce(envelope, policy::enforce_commitment_hash, observed);
}

std::expected<void, Error> policy_enforce_directory_backend(ByteView envelope, std::uint16_t observed_backend_id) {
  return enforce(envelope, policy::enforce_directory_backend, observed_backend_id);
}

}  // namespace quenfold
