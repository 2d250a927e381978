// Values that cross the library's boundary: byte views, the three result
// records and the shared enums.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace quenfold {

using ByteView = std::span<const std::uint8_t>;
using Bytes = std::vector<std::uint8_t>;

enum class SecurityLevel : std::uint8_t { Cat3 = 1, Cat5 = 2 };
enum class CheckpointSuite : std::uint8_t { Hybrid = 1, HybridMatched = 2, PureCnsa2 = 3 };
enum class CommitmentHash : std::uint8_t { Sha3_256 = 1, Sha3_512 = 2 };
enum class VrfMode : std::uint8_t { Classical = 1, HybridOutput = 2, PurePqExperimental = 3 };
enum class DirectoryMode : std::uint8_t { Coniks = 1, Keytrans = 2 };
enum class KeytransSuite : std::uint8_t {
  QuenfoldHybridExp = 1,
  Kt128Sha256Ed25519 = 2,
  Kt128Sha256P256 = 3,
};
// (The numeric values above are the variant indexes used on the boundary.)

// Variant names, as printed in messages.
const char* name_of(SecurityLevel v) noexcept;
const char* name_of(CheckpointSuite v) noexcept;
const char* name_of(CommitmentHash v) noexcept;
const char* name_of(VrfMode v) noexcept;
const char* name_of(DirectoryMode v) noexcept;
const char* name_of(KeytransSuite v) noexcept;

// A verified checkpoint: the log's origin line, its tree size (number of
// leaves), the 32-byte RFC 6962 root at that size, and the extension lines in
// order. The origin and the extensions are valid UTF-8.
struct CheckpointHead {
  std::string origin;
  std::uint64_t size = 0;
  Bytes root;
  std::vector<std::string> extensions;
  friend bool operator==(const CheckpointHead&, const CheckpointHead&) = default;
};

// The outcome of a directory search: whether the label is present, and the
// value bound to it when it is (absent otherwise).
struct SearchResult {
  bool present = false;
  std::optional<Bytes> value;
  friend bool operator==(const SearchResult&, const SearchResult&) = default;
};

// What a namespace policy record declares: its namespace, schema version,
// the five posture choices with the KEYTRANS suite, the tree position from
// which it applies (effective_from) and its creation time in Unix
// milliseconds (created_at). Both the parsed record and the PolicyPosture a
// verification returns are this, so the fields are written down once.
struct PolicyDeclaration {
  std::string namespace_;
  std::uint32_t policy_schema_version = 0;
  SecurityLevel security_level = SecurityLevel::Cat3;
  CheckpointSuite checkpoint_suite = CheckpointSuite::Hybrid;
  CommitmentHash commitment_hash = CommitmentHash::Sha3_256;
  VrfMode vrf_mode = VrfMode::Classical;
  DirectoryMode directory_mode = DirectoryMode::Coniks;
  KeytransSuite keytrans_suite = KeytransSuite::QuenfoldHybridExp;
  std::uint64_t effective_from = 0;
  std::uint64_t created_at = 0;
  friend bool operator==(const PolicyDeclaration&, const PolicyDeclaration&) = default;
};

// The security posture a verified namespace policy declares: its
// declaration, with policy_hash the 64-byte canonical policy hash and
// rfc6962_leaf_hash the 32-byte leaf hash of the policy record.
struct PolicyPosture : PolicyDeclaration {
  Bytes policy_hash;
  Bytes rfc6962_leaf_hash;
  friend bool operator==(const PolicyPosture&, const PolicyPosture&) = default;
};

}  // namespace quenfold
