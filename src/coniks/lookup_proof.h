// The CONIKS lookup proof: its canonical bytes, the compressed
// authentication path, and the hashing of the depth-256 sparse Merkle tree.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "crypto/hash.h"
#include "base/reader.h"
#include "quenfold/error.h"
#include "quenfold/types.h"

namespace quenfold::coniks {

inline constexpr std::size_t kDepth = 256;
inline constexpr std::size_t kIndexLen = 32;
inline constexpr std::size_t kNodeLen = 64;
inline constexpr std::size_t kOpeningLen = 32;
inline constexpr std::size_t kBitmapLen = 32;
inline constexpr std::size_t kLengthPrefix = 4;
inline constexpr std::uint8_t kPresenceTag = 0x01;
inline constexpr std::uint8_t kAbsenceTag = 0x00;
inline constexpr std::uint8_t kLeafPrefix = 0x03;
// The rate of SHA3-512 (FIPS 202): bytes absorbed per permutation.
inline constexpr std::size_t kSha3_512BlockLen = 72;

using Node = crypto::Bytes64;
using Index = std::array<std::uint8_t, kIndexLen>;

// Bit i of a 256-bit string, most significant bit of byte 0 first.
inline bool bit_at(std::span<const std::uint8_t, 32> bits, std::size_t i) noexcept {
  return ((bits[i / 8] >> (7 - i % 8)) & 1) != 0;
}

// A 32-byte bitmap followed by one 64-byte sibling per set bit. Entry i is
// the sibling at depth i + 1 on the leaf's path; an empty view means the
// empty subtree of that depth.
struct AuthPath {
  std::array<ByteView, kDepth> siblings{};

  // Reads the bitmap and the siblings it announces; bytes beyond them are
  // left to the caller.
  static std::expected<AuthPath, Error> parse(encoding::Reader& r);
};

// A parsed lookup proof; every view borrows from the proof bytes.
struct LookupProof {
  ByteView vrf_proof;
  ByteView value;    // presence only
  ByteView opening;  // presence only, 32 bytes
  AuthPath path;

  static std::expected<LookupProof, Error> parse_presence(ByteView proof);
  static std::expected<LookupProof, Error> parse_absence(ByteView proof);
};

// The hashes of one namespace's tree, built per call: the labels and the
// table Z[0..256] of empty-subtree values (Z[256] is the empty leaf, Z[0]
// the root of an empty directory). One per call: it writes its hash inputs
// into buffers of its own, so it is never shared between threads.
class ConiksHasher {
 public:
  explicit ConiksHasher(std::string_view namespace_name);

  const Node& empty_leaf() const noexcept { return empty_[kDepth]; }
  // The value of an empty subtree whose root is at `depth` (0..256).
  const Node& empty_subtree(std::size_t depth) const noexcept { return empty_[depth]; }
  // `left` and `right` are 64-byte node values.
  Node node_hash(ByteView left, ByteView right) const;
  Node leaf_hash(const Index& index, const crypto::Bytes64& commitment) const;
  // Folds `leaf` up the path of `index` to the root.
  Node root_from_path(const Index& index, const Node& leaf, const AuthPath& path) const;

 private:
  // The leaf's hash input is assembled in one buffer that starts with the
  // label's 8-byte length and the label: one contiguous update.
  mutable std::vector<std::uint8_t> leaf_input_;
  std::size_t leaf_prefix_len_;
  // Node hashes (513 per call) over length || label || left || right. While
  // the length and the label fill less than one SHA3-512 block, hashing them
  // again costs no extra permutation: the whole input is one buffer and one
  // update. A longer label, as long as the namespace, is absorbed once into
  // node_prefix_ and every node hash continues from a copy of that state.
  mutable std::vector<std::uint8_t> node_input_;
  std::size_t node_prefix_len_;
  bool node_prefix_absorbed_;
  crypto::Hasher node_prefix_{crypto::Hasher::Algorithm::Sha3_512};
  mutable crypto::Hasher sha3_{crypto::Hasher::Algorithm::Sha3_512};
  std::vector<Node> empty_;
};

std::string commitment_label(std::string_view namespace_name);

// The identity's position: the first 32 bytes of the Edwards25519 VRF output
// for alpha = u32(len(namespace)) || namespace || identity.
std::expected<Index, Error> coniks_vrf_index(std::string_view namespace_name, ByteView identity,
                                             ByteView vrf_public, ByteView vrf_proof);

}  // namespace quenfold::coniks
