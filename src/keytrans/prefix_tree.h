// The KEYTRANS prefix tree: a binary tree over 256-bit search keys (the VRF
// outputs of label versions) whose leaves bind a key to a commitment, and the
// check of one ladder rung against a prefix root.
#pragma once

#include <cstdint>
#include <expected>
#include <span>

#include "keytrans/params.h"
#include "keytrans/proof.h"
#include "quenfold/error.h"

namespace quenfold::keytrans {

// Bit j of a search key, most significant bit of byte 0 first.
inline bool key_bit(const Node& key, unsigned j) noexcept {
  return ((key[j / 8] >> (7 - j % 8)) & 1) != 0;
}

// SHA-256(0x01 || key || commitment).
Node leaf_value(const Node& search_key, ByteView commitment);
// SHA-256(0x02 || left || right).
Node parent_value(const Node& left, const Node& right);
// Folds the copath (elements[j] is the sibling at depth j + 1) from the
// deepest element up to the root, steering by bits n-1 .. 0 of the key.
Node climb(const Node& search_key, const Node& start, std::span<const Node> elements);

// Verifies the rung's VRF proof for (label, version) and its prefix proof
// against `prefix_root`: true for a proven inclusion, false for a proven
// non-inclusion, or the first failure.
std::expected<bool, Error> verify_rung(const KeytransParams& params, const Node& prefix_root,
                                       ByteView label, const LadderStep& step);

}  // namespace quenfold::keytrans
