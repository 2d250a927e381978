#include <algorithm>
#include <bit>
#include <cstring>

#include "crypto/hash.h"
#include "quenfold/merkle.h"

namespace quenfold {
namespace {

constexpr std::size_t kHashLen = 32;
constexpr std::uint8_t kLeafPrefix = 0x00;
constexpr std::uint8_t kNodePrefix = 0x01;

Hash32 to_hash(ByteView b) noexcept {
  Hash32 h{};
  std::memcpy(h.data(), b.data(), kHashLen);
  return h;
}

bool equals(const Hash32& h, ByteView b) noexcept {
  return b.size() == kHashLen && std::equal(h.begin(), h.end(), b.begin());
}

// Inner count: bit length of index XOR (size - 1); border count: one bits of
// index above the inner part.
struct Decomposition {
  std::uint64_t inner;
  std::uint64_t border;
};

Decomposition decompose(std::uint64_t index, std::uint64_t size) noexcept {
  const std::uint64_t inner = static_cast<std::uint64_t>(std::bit_width(index ^ (size - 1)));
  const std::uint64_t border =
      inner >= 64 ? 0 : static_cast<std::uint64_t>(std::popcount(index >> inner));
  return {inner, border};
}

// RFC 6962 interior node: SHA-256(0x01 || left || right), assembled in one
// buffer so the digest runs over a single contiguous input.
class NodeHasher {
 public:
  Hash32 operator()(ByteView left, ByteView right) const {
    std::array<std::uint8_t, 1 + 2 * kHashLen> buf;
    buf[0] = kNodePrefix;
    std::memcpy(buf.data() + 1, left.data(), kHashLen);
    std::memcpy(buf.data() + 1 + kHashLen, right.data(), kHashLen);
    return crypto::sha256({buf});
  }
};

Hash32 hash_up_by_index(NodeHasher& node, Hash32 seed, std::span<const ByteView> hashes, std::uint64_t bits) {
  for (std::size_t i = 0; i < hashes.size(); ++i)
    seed = ((bits >> i) & 1) == 0 ? node(seed, hashes[i]) : node(hashes[i], seed);
  return seed;
}

Hash32 hash_up_right_only(NodeHasher& node, Hash32 seed, std::span<const ByteView> hashes, std::uint64_t bits) {
  for (std::size_t i = 0; i < hashes.size(); ++i)
    if (((bits >> i) & 1) == 1) seed = node(hashes[i], seed);
  return seed;
}

Hash32 hash_up_border(NodeHasher& node, Hash32 seed, std::span<const ByteView> hashes) {
  for (ByteView p : hashes) seed = node(p, seed);
  return seed;
}

// The first element of `proof` that is not 32 bytes, if any.
const ByteView* first_bad_length(std::span<const ByteView> proof) noexcept {
  for (const ByteView& p : proof)
    if (p.size() != kHashLen) return &p;
  return nullptr;
}

}  // namespace

Hash32 rfc6962_empty_root() { return crypto::sha256({}); }

Hash32 rfc6962_leaf_hash(ByteView data) {
  const std::uint8_t prefix = kLeafPrefix;
  return crypto::sha256({ByteView(&prefix, 1), data});
}

Hash32 rfc6962_node_hash(const Hash32& left, const Hash32& right) {
  NodeHasher node;
  return node(left, right);
}

std::expected<void, Error> verify_inclusion(std::uint64_t index, std::uint64_t size,
                                            ByteView leaf_hash, std::span<const ByteView> proof,
                                            ByteView root) {
  if (root.size() != kHashLen) return std::unexpected(Error::invalid_hash_length(root.size(), kHashLen));
  if (index >= size) return std::unexpected(Error::leaf_index_out_of_range(index, size));
  if (leaf_hash.size() != kHashLen)
    return std::unexpected(Error::invalid_hash_length(leaf_hash.size(), kHashLen));
  const auto [inner, border] = decompose(index, size);
  if (proof.size() != inner + border)
    return std::unexpected(Error::wrong_proof_size(proof.size(), inner + border));
  if (const ByteView* bad = first_bad_length(proof))
    return std::unexpected(Error::invalid_hash_length(bad->size(), kHashLen));

  NodeHasher node;
  Hash32 r = hash_up_by_index(node, to_hash(leaf_hash), proof.first(inner), index);
  r = hash_up_border(node, r, proof.subspan(inner));
  if (!equals(r, root)) return std::unexpected(Error::root_mismatch());
  return {};
}

std::expected<void, Error> verify_consistency(std::uint64_t size1, std::uint64_t size2,
                                              std::span<const ByteView> proof, ByteView root1,
                                              ByteView root2) {
  if (root2.size() != kHashLen) return std::unexpected(Error::invalid_hash_length(root2.size(), kHashLen));
  if (size2 < size1) return std::unexpected(Error::tree_size_regression(size1, size2));
  if (size1 == 0) return std::unexpected(Error::empty_tree_consistency());
  if (root1.size() != kHashLen) return std::unexpected(Error::invalid_hash_length(root1.size(), kHashLen));
  if (size1 == size2) {
    if (!proof.empty()) return std::unexpected(Error::equal_sizes_non_empty_proof());
    if (!std::equal(root1.begin(), root1.end(), root2.begin())) return std::unexpected(Error::root_mismatch());
    return {};
  }
  if (proof.empty()) return std::unexpected(Error::wrong_proof_size(0, 1));

  auto [inner, border] = decompose(size1 - 1, size2);
  const auto shift = static_cast<std::uint64_t>(std::countr_zero(size1));
  inner -= shift;

  Hash32 seed{};
  std::size_t start = 0;
  if (size1 == (std::uint64_t{1} << shift)) {
    seed = to_hash(root1);
  } else {
    if (proof[0].size() != kHashLen)
      return std::unexpected(Error::invalid_hash_length(proof[0].size(), kHashLen));
    seed = to_hash(proof[0]);
    start = 1;
  }
  if (proof.size() != start + inner + border)
    return std::unexpected(Error::wrong_proof_size(proof.size(), start + inner + border));
  const auto rest = proof.subspan(start);
  if (const ByteView* bad = first_bad_length(rest))
    return std::unexpected(Error::invalid_hash_length(bad->size(), kHashLen));

  const std::uint64_t mask = (size1 - 1) >> shift;
  const auto inner_part = rest.first(inner);
  const auto border_part = rest.subspan(inner);
  NodeHasher node;
  const Hash32 h1 = hash_up_border(node, hash_up_right_only(node, seed, inner_part, mask), border_part);
  if (!equals(h1, root1)) return std::unexpected(Error::root_mismatch());
  const Hash32 h2 = hash_up_border(node, hash_up_by_index(node, seed, inner_part, mask), border_part);
  if (!equals(h2, root2)) return std::unexpected(Error::root_mismatch());
  return {};
}

}  // namespace quenfold
