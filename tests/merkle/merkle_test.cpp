#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "quenfold/merkle.h"
#include "support/merkle_tree.h"
#include "support/testdata.h"

namespace quenfold {
namespace {

using test::from_hex;
using test::Hash;
using test::MerkleTree;

MerkleTree tree_of(std::uint64_t n) {
  MerkleTree t;
  for (std::uint64_t i = 0; i < n; ++i) t.append(test::bytes_of("leaf-" + std::to_string(i)));
  return t;
}

std::vector<ByteView> views(const std::vector<Hash>& hs) { return {hs.begin(), hs.end()}; }
std::vector<ByteView> views(const std::vector<Bytes>& bs) { return {bs.begin(), bs.end()}; }

TEST(Rfc6962Hashes, EmptyLeafAndWorkedTree) {
  EXPECT_EQ(test::to_hex(rfc6962_leaf_hash({})),
            "6e340b9cffb37a989ca544e6bb780a2c78901d3fb33738768511a30617afa01d");
  MerkleTree t;
  for (const char* s : {"a", "b", "c"}) t.append(test::bytes_of(s));
  EXPECT_EQ(test::to_hex(t.root()), "36642e73c2540ab121e3a6bf9545b0a24982cd830eb13d3cd19de3ce6c021ec1");
  const auto proof = t.inclusion_proof(2, 3);
  ASSERT_EQ(proof.size(), 1u);
  EXPECT_EQ(test::to_hex(proof[0]), "b137985ff484fb600db93107c77b0365c80d78f5b429ded0fd97361d077999eb");
  const Hash root = t.root();
  EXPECT_TRUE(verify_inclusion(2, 3, t.leaf_hash(2), views(proof), root));
}

// Every index of every tree up to 40 leaves verifies, and each mutation of
// the proof, leaf, index or size is rejected.
TEST(Rfc6962Inclusion, EveryIndexAndMutations) {
  for (std::uint64_t n = 1; n <= 40; ++n) {
    const MerkleTree t = tree_of(n);
    const Hash root = t.root();
    for (std::uint64_t i = 0; i < n; ++i) {
      auto proof = t.inclusion_proof(i, n);
      ASSERT_TRUE(verify_inclusion(i, n, t.leaf_hash(i), views(proof), root)) << n << " " << i;
      if (n > 1) {
        EXPECT_FALSE(verify_inclusion((i + 1) % n, n, t.leaf_hash(i), views(proof), root));
      }
      for (std::size_t k = 0; k < proof.size(); ++k) {
        auto bad = proof;
        bad[k][k % 32] ^= 0x40;
        auto r = verify_inclusion(i, n, t.leaf_hash(i), views(bad), root);
        ASSERT_FALSE(r);
        EXPECT_EQ(r.error().kind(), ErrorKind::RootMismatch);
      }
      auto longer = proof;
      longer.push_back(root);
      auto r = verify_inclusion(i, n, t.leaf_hash(i), views(longer), root);
      ASSERT_FALSE(r);
      EXPECT_EQ(r.error().message(), "wrong proof size: got " + std::to_string(longer.size()) +
                                         ", want " + std::to_string(proof.size()));
    }
  }
}

TEST(Rfc6962Inclusion, ChecksInOrder) {
  const MerkleTree t = tree_of(5);
  const Hash root = t.root();
  const Bytes root31(31, 0), leaf33(33, 0);
  struct Case {
    const char* name;
    std::uint64_t index, size;
    Bytes leaf;
    std::vector<Bytes> proof;
    Bytes root;
    std::string want;
  };
  const Bytes leaf(t.leaf_hash(0).begin(), t.leaf_hash(0).end());
  const Bytes good_root(root.begin(), root.end());
  std::vector<Bytes> good_proof;
  for (const auto& h : t.inclusion_proof(0, 5)) good_proof.emplace_back(h.begin(), h.end());
  std::vector<Bytes> short_elem = good_proof;
  short_elem[1].pop_back();
  std::vector<Bytes> wrong_count_short(2, Bytes(31, 0));
  const std::vector<Case> cases = {
      {"one leaf with extra element", 0, 1, leaf, {leaf}, leaf, "wrong proof size: got 1, want 0"},
      {"31-byte root before range", 9, 5, leaf, good_proof, root31, "invalid hash length: got 31 bytes, want 32"},
      {"size 0", 0, 0, leaf, {}, good_root, "leaf index 0 is beyond tree size 0"},
      {"index == size", 5, 5, leaf, good_proof, good_root, "leaf index 5 is beyond tree size 5"},
      {"33-byte leaf after range", 7, 5, leaf33, good_proof, good_root, "leaf index 7 is beyond tree size 5"},
      {"33-byte leaf", 0, 5, leaf33, good_proof, good_root, "invalid hash length: got 33 bytes, want 32"},
      {"short element", 0, 5, leaf, short_elem, good_root, "invalid hash length: got 31 bytes, want 32"},
      {"wrong count beats element length", 0, 5, leaf, wrong_count_short, good_root, "wrong proof size: got 2, want 3"},
      {"proof for another index", 1, 5, leaf, good_proof, good_root,
       "root mismatch: recomputed root does not match the expected root"},
  };
  for (const auto& c : cases) {
    auto r = verify_inclusion(c.index, c.size, c.leaf, views(c.proof), c.root);
    ASSERT_FALSE(r) << c.name;
    EXPECT_EQ(r.error().message(), c.want) << c.name;
  }
  // One-leaf tree: the root is the leaf hash.
  EXPECT_TRUE(verify_inclusion(0, 1, leaf, {}, leaf));
}

// Every consistency pair up to 40 leaves verifies; mutations fail.
TEST(Rfc6962Consistency, EveryPairAndMutations) {
  const MerkleTree t = tree_of(40);
  for (std::uint64_t m = 1; m <= 40; ++m) {
    for (std::uint64_t n = m; n <= 40; ++n) {
      auto proof = t.consistency_proof(m, n);
      const Hash r1 = t.root(m), r2 = t.root(n);
      ASSERT_TRUE(verify_consistency(m, n, views(proof), r1, r2)) << m << " " << n;
      for (std::size_t k = 0; k < proof.size(); ++k) {
        auto bad = proof;
        bad[k][0] ^= 1;
        EXPECT_FALSE(verify_consistency(m, n, views(bad), r1, r2)) << m << " " << n << " " << k;
      }
      if (m < n) {
        Hash bad2 = r2;
        bad2[31] ^= 1;
        EXPECT_FALSE(verify_consistency(m, n, views(proof), r1, bad2));
        Hash bad1 = r1;
        bad1[0] ^= 1;
        EXPECT_FALSE(verify_consistency(m, n, views(proof), bad1, r2));
        if (n + 1 <= 40) {
          EXPECT_FALSE(verify_consistency(m, n + 1, views(proof), r1, t.root(n + 1)));
        }
      }
    }
  }
}

TEST(Rfc6962Consistency, ChecksInOrder) {
  const MerkleTree t = tree_of(8);
  const Hash r3 = t.root(3), r7 = t.root(7), r4 = t.root(4), r1 = t.root(1), r2 = t.root(2);
  const Bytes r31(31, 0);
  auto msg = [](const std::expected<void, Error>& r) { return r ? std::string("ok") : r.error().message(); };
  EXPECT_EQ(msg(verify_consistency(0, 0, {}, r31, r3)), "consistency proof from an empty tree is meaningless");
  EXPECT_EQ(msg(verify_consistency(0, 5, {}, r31, r3)), "consistency proof from an empty tree is meaningless");
  EXPECT_EQ(msg(verify_consistency(5, 3, {}, r3, r3)), "tree size regression: size2 (3) < size1 (5)");
  EXPECT_EQ(msg(verify_consistency(3, 7, {}, r3, r31)), "invalid hash length: got 31 bytes, want 32");
  EXPECT_EQ(msg(verify_consistency(3, 7, {}, r31, r7)), "invalid hash length: got 31 bytes, want 32");
  EXPECT_EQ(msg(verify_consistency(3, 3, {}, r3, r3)), "ok");
  EXPECT_EQ(msg(verify_consistency(3, 3, {}, r3, r7)), "root mismatch: recomputed root does not match the expected root");
  const Bytes any(32, 1);
  const std::vector<ByteView> one{any};
  EXPECT_EQ(msg(verify_consistency(3, 3, one, r3, r3)), "consistency proof between equal sizes must be empty");
  EXPECT_EQ(msg(verify_consistency(1, 3, {}, r1, t.root(3))), "wrong proof size: got 0, want 1");
  EXPECT_EQ(msg(verify_consistency(2, 3, {}, r2, t.root(3))), "wrong proof size: got 0, want 1");
  EXPECT_EQ(t.consistency_proof(1, 3).size(), 2u);
  EXPECT_EQ(t.consistency_proof(2, 3).size(), 1u);
  // Power-of-two size1: root1 is the seed, no element spent on it.
  auto p47 = t.consistency_proof(4, 7);
  EXPECT_EQ(msg(verify_consistency(4, 7, views(p47), r4, r7)), "ok");
  // Otherwise the first element is the seed, and its length is checked
  // before the count.
  const Bytes short_seed(31, 0);
  const std::vector<ByteView> bad_seed{short_seed};
  EXPECT_EQ(msg(verify_consistency(3, 7, bad_seed, r3, r7)), "invalid hash length: got 31 bytes, want 32");
  auto p37 = t.consistency_proof(3, 7);
  std::vector<Bytes> p37b;
  for (auto& h : p37) p37b.emplace_back(h.begin(), h.end());
  p37b.back().push_back(0);
  EXPECT_EQ(msg(verify_consistency(3, 7, views(p37b), r3, r7)), "invalid hash length: got 33 bytes, want 32");
  p37b.pop_back();
  EXPECT_EQ(msg(verify_consistency(3, 7, views(p37b), r3, r7)),
            "wrong proof size: got " + std::to_string(p37b.size()) + ", want " + std::to_string(p37.size()));
}

}  // namespace
}  // namespace quenfold
