// RFC 6962 Merkle tree hashing and proof verification over SHA-256.
#pragma once

#include <array>
#include <cstdint>
#include <expected>
#include <span>

#include "quenfold/error.h"
#include "quenfold/types.h"

namespace quenfold {

using Hash32 = std::array<std::uint8_t, 32>;

// The root of the empty tree: SHA-256 of the empty string.
Hash32 rfc6962_empty_root();
// SHA-256(0x00 || data).
Hash32 rfc6962_leaf_hash(ByteView data);
// SHA-256(0x01 || left || right).
Hash32 rfc6962_node_hash(const Hash32& left, const Hash32& right);

// Succeeds exactly when the leaf at `index` of a tree of `size` leaves is
// included under `root`. `leaf_hash`, `root` and every proof element are
// 32-byte hashes; `proof` is the audit path from the leaf's sibling upwards.
std::expected<void, Error> verify_inclusion(std::uint64_t index, std::uint64_t size,
                                            ByteView leaf_hash, std::span<const ByteView> proof,
                                            ByteView root);

// Succeeds exactly when the tree of `size2` leaves with root `root2` is an
// append-only extension of the tree of `size1` leaves with root `root1`
// (RFC 6962 section 2.1.2 proof; size1 must be at least 1).
std::expected<void, Error> verify_consistency(std::uint64_t size1, std::uint64_t size2,
                                              std::span<const ByteView> proof, ByteView root1,
                                              ByteView root2);

}  // namespace quenfold
