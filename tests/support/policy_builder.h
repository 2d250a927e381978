// Builds namespace-policy records and signed envelopes for the tests and the
// example generator. Fields are kept as raw wire values so that tests can
// write illegal records too; the signing side computes the canonical form
// and context label on its own, independently of the verifier's code.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/signers.h"

namespace quenfold::test {

struct PolicyRecord {
  std::uint32_t format_version = 1;
  std::string namespace_ = "acme";
  std::uint32_t policy_schema_version = 1;
  std::uint8_t security_level = 3;    // 3 Cat3, 5 Cat5
  std::uint8_t checkpoint_suite = 1;  // 1 Hybrid, 2 HybridMatched, 3 PureCnsa2
  std::uint8_t commitment_hash = 1;   // 1 Sha3_256, 2 Sha3_512
  std::uint8_t vrf_mode = 1;          // 1 Classical, 2 HybridOutput, 3 PurePqExperimental
  std::uint64_t effective_from = 0;
  std::uint64_t created_at = 0;
  Bytes prev_policy_hash;             // empty (genesis) or 64 bytes
  std::uint8_t directory_mode = 1;    // format 2 only: 1 Coniks, 2 Keytrans
  std::uint16_t keytrans_suite = 0xF000;  // format 2 only: 0x0001 P256, 0x0002 Ed25519, 0xF000 experimental
  Bytes trailing;                     // appended after the last field (malformed records)

  // A legal format-2 KEYTRANS-route record.
  static PolicyRecord keytrans(std::string ns, std::uint16_t suite = 0x0002);
  // A legal Cat5 record (Sha3_512) with the given checkpoint suite.
  static PolicyRecord cat5(std::uint8_t checkpoint_suite = 1);

  // The record exactly as configured.
  Bytes encode() const;
  // What a signer signs: format 1 (no format-2 fields) unless the record is
  // on the KEYTRANS route, in which case format 2.
  Bytes canonical() const;
  // "{ns}/namespace-policy/v1" or ".../v2", matching canonical().
  std::string context_label() const;
};

struct Envelope {
  std::uint32_t format_version = 1;
  Bytes record;
  Bytes public_key;
  Bytes signature;
  Bytes trailing;
  Bytes encode() const;
};

// Signs record.canonical() under record.context_label() with `signer` and
// wraps record.encode() with the key and signature.
Envelope signed_envelope(const PolicyRecord& record, const TokenSigner& signer);
Bytes sign_policy(const PolicyRecord& record, const TokenSigner& signer);

// The default signer of the tests (ML-DSA-65+Ed25519, fixed seed); generated
// once per process, since ML-DSA key generation is not free.
const TokenSigner& default_policy_signer();

}  // namespace quenfold::test
