#include "keytrans/log_tree.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <string>
#include <vector>

#include "crypto/hash.h"
#include "base/try.h"
#include "base/writer.h"

namespace quenfold::keytrans {
namespace {

constexpr std::uint8_t kLeafMarker = 0x00;
constexpr std::uint8_t kParentMarker = 0x01;

struct Value {
  Node hash;
  bool leaf;
};

struct ProvedLeaf {
  std::uint64_t index;
  Node value;
};

// The largest power of two strictly below n (n >= 2).
std::uint64_t split_point(std::uint64_t n) noexcept { return std::bit_floor(n - 1); }

// The recursive walk over a set of proved leaves (sorted by index), reading
// unopened subtrees from the front of the proof. The set here always holds
// exactly one leaf, but nothing in the walk depends on that.
class Walk {
 public:
  Walk(std::span<const ProvedLeaf> proved, std::span<const Node> proof) : proved_(proved), proof_(proof) {}

  std::expected<Value, Error> subtree(std::uint64_t start, std::uint64_t end) {
    const auto first = std::lower_bound(proved_.begin(), proved_.end(), start,
                                        [](const ProvedLeaf& l, std::uint64_t i) { return l.index < i; });
    const bool opened = first != proved_.end() && first->index < end;
    if (!opened) return heads(end - start);
    if (end - start == 1) {
      if (first->index != start)
        return std::unexpected(Error::malformed_keytrans("internal: expected a proved leaf"));
      return Value{first->value, true};
    }
    const std::uint64_t k = split_point(end - start);
    auto left = subtree(start, start + k);
    if (!left) return left;
    auto right = subtree(start + k, end);
    if (!right) return right;
    return Value{log_parent_value(left->leaf, left->hash, right->leaf, right->hash), false};
  }

  bool exhausted() const noexcept { return next_ == proof_.size(); }

 private:
  // An unopened range of n leaves: one proof value per full subtree, largest
  // first, folded from the right.
  std::expected<Value, Error> heads(std::uint64_t n) {
    std::vector<Value> taken;
    for (int bit = 63; bit >= 0; --bit) {
      const std::uint64_t size = std::uint64_t{1} << bit;
      if ((n & size) == 0) continue;
      if (next_ == proof_.size())
        return std::unexpected(Error::malformed_keytrans("batch proof is missing expected element(s)"));
      taken.push_back(Value{proof_[next_++], size == 1});
    }
    return combine_heads(taken);
  }

  static Value combine_heads(const std::vector<Value>& heads) {
    // Every range is non-empty, so there is at least one head.
    Value acc = heads.back();
    for (std::size_t i = heads.size() - 1; i-- > 0;)
      acc = Value{log_parent_value(heads[i].leaf, heads[i].hash, acc.leaf, acc.hash), false};
    return acc;
  }

  std::span<const ProvedLeaf> proved_;
  std::span<const Node> proof_;
  std::size_t next_ = 0;
};

}  // namespace

Node log_leaf_value(std::uint64_t timestamp, const Node& prefix_root) {
  const auto time = encoding::big_endian<8>(timestamp);
  return crypto::sha256({time, prefix_root});
}

Node log_parent_value(bool left_is_leaf, const Node& left, bool right_is_leaf, const Node& right) {
  std::array<std::uint8_t, 2 + 2 * kNodeLen> buf{};
  buf[0] = left_is_leaf ? kLeafMarker : kParentMarker;
  std::memcpy(buf.data() + 1, left.data(), kNodeLen);
  buf[1 + kNodeLen] = right_is_leaf ? kLeafMarker : kParentMarker;
  std::memcpy(buf.data() + 2 + kNodeLen, right.data(), kNodeLen);
  return crypto::sha256({buf});
}

std::expected<void, Error> verify_batch_inclusion(const Node& combined_root, std::uint64_t entry_index,
                                                  std::uint64_t tree_size, std::uint64_t timestamp,
                                                  const Node& prefix_root,
                                                  std::span<const Node> log_inclusion) {
  const Node leaf = log_leaf_value(timestamp, prefix_root);
  if (tree_size == 0)
    return std::unexpected(Error::malformed_keytrans("cannot verify a batch proof against an empty log"));
  if (entry_index >= tree_size)
    return std::unexpected(Error::malformed_keytrans("proved leaf index " + std::to_string(entry_index) +
                                                     " is beyond tree size " + std::to_string(tree_size)));
  const ProvedLeaf proved[] = {{entry_index, leaf}};
  Walk walk(proved, log_inclusion);
  QUENFOLD_TRY(const auto root, walk.subtree(0, tree_size));
  if (!walk.exhausted())
    return std::unexpected(Error::malformed_keytrans("batch proof has unused trailing elements"));
  if (root.hash != combined_root) return std::unexpected(Error::keytrans_root_mismatch());
  return {};
}

}  // namespace quenfold::keytrans
