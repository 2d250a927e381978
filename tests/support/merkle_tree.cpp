#include "support/merkle_tree.h"

#include <openssl/sha.h>

namespace quenfold::test {
namespace {
// Largest power of two strictly less than n (n >= 2).
std::uint64_t split_point(std::uint64_t n) {
  std::uint64_t k = 1;
  while (k * 2 < n) k *= 2;
  return k;
}
}  // namespace

Hash leaf_hash_of(const std::vector<std::uint8_t>& data) {
  std::vector<std::uint8_t> buf{0x00};
  buf.insert(buf.end(), data.begin(), data.end());
  Hash h{};
  SHA256(buf.data(), buf.size(), h.data());
  return h;
}

Hash node_hash_of(const Hash& l, const Hash& r) {
  std::vector<std::uint8_t> buf{0x01};
  buf.insert(buf.end(), l.begin(), l.end());
  buf.insert(buf.end(), r.begin(), r.end());
  Hash h{};
  SHA256(buf.data(), buf.size(), h.data());
  return h;
}

void MerkleTree::append(const std::vector<std::uint8_t>& leaf_data) {
  leaves_.push_back(leaf_hash_of(leaf_data));
}

Hash MerkleTree::mth(std::uint64_t begin, std::uint64_t end) const {
  const std::uint64_t n = end - begin;
  if (n == 0) {
    Hash h{};
    SHA256(nullptr, 0, h.data());
    return h;
  }
  if (n == 1) return leaves_[begin];
  const std::uint64_t k = split_point(n);
  return node_hash_of(mth(begin, begin + k), mth(begin + k, end));
}

Hash MerkleTree::root(std::uint64_t size) const { return mth(0, size); }

void MerkleTree::path(std::uint64_t m, std::uint64_t begin, std::uint64_t end,
                      std::vector<Hash>& out) const {
  const std::uint64_t n = end - begin;
  if (n <= 1) return;
  const std::uint64_t k = split_point(n);
  if (m < k) {
    path(m, begin, begin + k, out);
    out.push_back(mth(begin + k, end));
  } else {
    path(m - k, begin + k, end, out);
    out.push_back(mth(begin, begin + k));
  }
}

std::vector<Hash> MerkleTree::inclusion_proof(std::uint64_t index, std::uint64_t size) const {
  std::vector<Hash> out;
  path(index, 0, size, out);
  return out;
}

void MerkleTree::subproof(std::uint64_t m, std::uint64_t begin, std::uint64_t end, bool b,
                          std::vector<Hash>& out) const {
  const std::uint64_t n = end - begin;
  if (m == n) {
    if (!b) out.push_back(mth(begin, end));
    return;
  }
  const std::uint64_t k = split_point(n);
  if (m <= k) {
    subproof(m, begin, begin + k, b, out);
    out.push_back(mth(begin + k, end));
  } else {
    subproof(m - k, begin + k, end, false, out);
    out.push_back(mth(begin, begin + k));
  }
}

std::vector<Hash> MerkleTree::consistency_proof(std::uint64_t size1, std::uint64_t size2) const {
  std::vector<Hash> out;
  if (size1 == 0 || size1 >= size2) return out;
  subproof(size1, 0, size2, true, out);
  return out;
}

}  // namespace quenfold::test
