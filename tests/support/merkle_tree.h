// An RFC 6962 tree builder written straight from the RFC's recursive
// definitions (MTH, PATH, PROOF/SUBPROOF in section 2.1), independent of the
// verifier's bit arithmetic.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace quenfold::test {

using Hash = std::array<std::uint8_t, 32>;

class MerkleTree {
 public:
  void append(const std::vector<std::uint8_t>& leaf_data);
  void append_hash(const Hash& leaf_hash) { leaves_.push_back(leaf_hash); }
  std::uint64_t size() const { return leaves_.size(); }
  const Hash& leaf_hash(std::uint64_t i) const { return leaves_[i]; }

  Hash root(std::uint64_t size) const;  // MTH of the first `size` leaves
  Hash root() const { return root(size()); }
  std::vector<Hash> inclusion_proof(std::uint64_t index, std::uint64_t size) const;
  std::vector<Hash> consistency_proof(std::uint64_t size1, std::uint64_t size2) const;

 private:
  Hash mth(std::uint64_t begin, std::uint64_t end) const;
  void path(std::uint64_t m, std::uint64_t begin, std::uint64_t end, std::vector<Hash>& out) const;
  void subproof(std::uint64_t m, std::uint64_t begin, std::uint64_t end, bool b,
                std::vector<Hash>& out) const;
  std::vector<Hash> leaves_;
};

Hash leaf_hash_of(const std::vector<std::uint8_t>& data);
Hash node_hash_of(const Hash& l, const Hash& r);

}  // namespace quenfold::test
