// Namespace policy records and the signed envelope that carries them.
//
// Wire layout (all integers big-endian, "lp" = 4-byte length then bytes):
//
//   SignedPolicy    := u32 format_version (= 1) | lp record | lp public_key | lp signature
//   NamespacePolicy := u32 format_version (1 or 2) | lp namespace | u32 policy_schema_version
//                      | u8 security_level | u8 checkpoint_suite | u8 commitment_hash | u8 vrf_mode
//                      | u64 effective_from | u64 created_at | lp prev_policy_hash (0 or 64 bytes)
//                      [format 2: | u8 directory_mode | u16 keytrans_suite]
//
// A format-1 record is a CONIKS-route policy. A record is identified by its
// canonical bytes: format 1 for the CONIKS route, format 2 for the KEYTRANS
// route, whatever format it arrived in. The signature, the policy hash and
// the RFC 6962 leaf hash all cover the canonical bytes, so re-encoding a
// CONIKS-route record in format 2 changes nothing that is verified.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>

#include "crypto/hash.h"
#include "quenfold/error.h"
#include "quenfold/types.h"

namespace quenfold::policy {

// Wire codes of the record's enum fields (distinct from the boundary's
// variant indexes of the same enums). keytrans_suite uses the suite
// identifiers of keytrans/suite_id.h.
namespace wire {
inline constexpr std::uint8_t kCat3 = 3;
inline constexpr std::uint8_t kCat5 = 5;
inline constexpr std::uint8_t kHybrid = 1;
inline constexpr std::uint8_t kHybridMatched = 2;
inline constexpr std::uint8_t kPureCnsa2 = 3;
inline constexpr std::uint8_t kSha3_256 = 1;
inline constexpr std::uint8_t kSha3_512 = 2;
inline constexpr std::uint8_t kClassical = 1;
inline constexpr std::uint8_t kHybridOutput = 2;
inline constexpr std::uint8_t kPurePqExperimental = 3;
inline constexpr std::uint8_t kConiks = 1;
inline constexpr std::uint8_t kKeytrans = 2;
}  // namespace wire

inline constexpr std::size_t kPolicyHashLen = 64;

// A parsed (and legal) policy record: what it declares, which is also what
// its posture reports (posture_of), and the link to its predecessor. The
// format version it arrived in is deliberately not kept: only the canonical
// form matters from here on.
struct NamespacePolicy : PolicyDeclaration {
  std::optional<crypto::Bytes64> prev_policy_hash;

  // Parses one record filling `record` exactly, then applies the legality
  // rules. Read overruns are reported against the record buffer.
  static std::expected<NamespacePolicy, Error> parse(ByteView record);

  // Format 1 without the format-2 fields on the CONIKS route, format 2 with
  // them on the KEYTRANS route.
  Bytes canonical_bytes() const;
  // "{namespace}/namespace-policy/v{1|2}", the version matching the
  // canonical format.
  std::string context_label() const;

  // sha3_512_with_context(context_label(), canonical_bytes()).
  crypto::Bytes64 policy_hash() const;
  // SHA-256(0x00 || canonical_bytes()).
  crypto::Bytes32 leaf_hash() const;

  friend bool operator==(const NamespacePolicy&, const NamespacePolicy&) = default;
};

// The legality rules, in their fixed order; the first broken one is
// reported as MalformedPolicy.
std::expected<void, Error> check_legality(const NamespacePolicy& p);

// The envelope: a record and the decoded public-key and signature token
// bytes that sign it.
struct SignedPolicy {
  NamespacePolicy record;
  Bytes public_key;
  Bytes signature;

  static std::expected<SignedPolicy, Error> parse(ByteView envelope);
};

// Verifies `signature` by `public_key` (decoded token bytes, any of the six
// token versions) over the record's canonical bytes under its context label.
// Anything short of a verified signature is InvalidSignature for the key
// name "{namespace}/namespace-policy" and key id 0.
std::expected<void, Error> verify_policy_signature(const NamespacePolicy& record, ByteView public_key,
                                                   ByteView signature);

// SignedPolicy::parse followed by verify_policy_signature.
std::expected<NamespacePolicy, Error> load_verified_policy(ByteView envelope);

// The posture a verified record declares, with both of its hashes.
PolicyPosture posture_of(const NamespacePolicy& p);

}  // namespace quenfold::policy
