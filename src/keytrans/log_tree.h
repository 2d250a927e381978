// The KEYTRANS log tree: a left-balanced binary tree whose leaves record one
// directory state each (a timestamp and a prefix-tree root), and the
// verification of a batch inclusion proof against the combined root.
#pragma once

#include <cstdint>
#include <expected>
#include <span>

#include "keytrans/proof.h"
#include "quenfold/error.h"

namespace quenfold::keytrans {

// SHA-256(timestamp as u64 big-endian || prefix_root).
Node log_leaf_value(std::uint64_t timestamp, const Node& prefix_root);

// SHA-256(marker(left) || left || marker(right) || right), where the marker
// is 0x00 for a leaf node and 0x01 for a parent node.
Node log_parent_value(bool left_is_leaf, const Node& left, bool right_is_leaf, const Node& right);

// Succeeds exactly when the leaf (timestamp, prefix_root) at `entry_index` of
// a log of `tree_size` leaves is under `combined_root`, with `log_inclusion`
// holding the values of every unopened full subtree in left-to-right order.
std::expected<void, Error> verify_batch_inclusion(const Node& combined_root, std::uint64_t entry_index,
                                                  std::uint64_t tree_size, std::uint64_t timestamp,
                                                  const Node& prefix_root,
                                                  std::span<const Node> log_inclusion);

}  // namespace quenfold::keytrans
