// The KEYTRANS log tree (batch inclusion against the combined root) and the
// binary ladders.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

#include "crypto/hash.h"
#include "keytrans/ladder.h"
#include "keytrans/log_tree.h"
#include "support/keytrans_directory.h"

namespace quenfold::test {
namespace {

using namespace quenfold::keytrans;

Node node_of(std::uint64_t i) {
  Node n{};
  for (int b = 0; b < 8; ++b) n[static_cast<std::size_t>(b)] = static_cast<std::uint8_t>(i >> (8 * b));
  n[31] = 0x5c;
  return n;
}

Node sha(std::initializer_list<crypto::ByteView> parts) { return crypto::sha256(parts); }
const std::uint8_t k00[] = {0x00};
const std::uint8_t k01[] = {0x01};

std::string run(const Node& root, std::uint64_t index, std::uint64_t size, std::uint64_t ts, const Node& prefix_root,
                const std::vector<Node>& proof) {
  auto r = verify_batch_inclusion(root, index, size, ts, prefix_root, proof);
  return r ? "ok" : r.error().message();
}

// A log of `size` leaves; leaf `index` is the real one (timestamp, prefix root).
struct SmallLog {
  LogTree tree;
  std::uint64_t ts = 1700000000;
  Node prefix_root = node_of(424242);
  SmallLog(std::uint64_t size, std::uint64_t index) {
    for (std::uint64_t i = 0; i < size; ++i) tree.append(i == index ? kt_log_leaf(ts, prefix_root) : node_of(i));
  }
};

TEST(KeytransLogTree, LeafValueIsTimestampThenPrefixRoot) {
  const Node pr = node_of(9);
  std::uint8_t ts[8] = {0, 0, 0, 0, 0, 0, 0x01, 0x02};
  EXPECT_EQ(log_leaf_value(0x0102, pr), sha({ts, pr}));
}

TEST(KeytransLogTree, WorkedShapes) {
  const std::uint64_t ts = 77;
  const Node pr = node_of(1000);
  const Node L = log_leaf_value(ts, pr);
  const Node l1 = node_of(1), l2 = node_of(2), l3 = node_of(3), l4 = node_of(4), l5 = node_of(5), l6 = node_of(6);
  const Node l0 = node_of(0);

  // size 1: the root is the leaf value itself, with an empty proof.
  EXPECT_EQ(run(L, 0, 1, ts, pr, {}), "ok");
  // size 2, index 0: SHA-256(00 || L || 00 || R).
  EXPECT_EQ(run(sha({k00, L, k00, l1}), 0, 2, ts, pr, {l1}), "ok");
  // size 2, index 1.
  EXPECT_EQ(run(sha({k00, l0, k00, L}), 1, 2, ts, pr, {l0}), "ok");
  // size 3, index 0: [leaf 1, leaf 2].
  const Node n01 = sha({k00, L, k00, l1});
  EXPECT_EQ(run(sha({k01, n01, k00, l2}), 0, 3, ts, pr, {l1, l2}), "ok");
  // size 3, index 2: [node [0, 2)].
  const Node m01 = sha({k00, l0, k00, l1});
  EXPECT_EQ(run(sha({k01, m01, k00, L}), 2, 3, ts, pr, {m01}), "ok");
  // size 7, index 0: [leaf 1, node [2,4), head [4,6), leaf 6].
  const Node m23 = sha({k00, l2, k00, l3});
  const Node m45 = sha({k00, l4, k00, l5});
  const Node right7 = sha({k01, m45, k00, l6});
  EXPECT_EQ(run(sha({k01, sha({k01, n01, k01, m23}), k01, right7}), 0, 7, ts, pr, {l1, m23, m45, l6}), "ok");
  // size 7, index 6: [node [0,4), node [4,6)].
  const Node m03 = sha({k01, m01, k01, m23});
  EXPECT_EQ(run(sha({k01, m03, k01, sha({k01, m45, k00, L})}), 6, 7, ts, pr, {m03, m45}), "ok");
  // size 7, index 4: [node [0,4), leaf 5, leaf 6].
  EXPECT_EQ(run(sha({k01, m03, k01, sha({k01, sha({k00, L, k00, l5}), k00, l6})}), 4, 7, ts, pr, {m03, l5, l6}), "ok");
}

TEST(KeytransLogTree, BuilderShapesAtSeveralIndexes) {
  for (std::uint64_t size : {1u, 2u, 3u, 5u, 7u, 8u, 13u, 16u, 17u}) {
    for (std::uint64_t index = 0; index < size; ++index) {
      SmallLog log(size, index);
      SCOPED_TRACE("size " + std::to_string(size) + " index " + std::to_string(index));
      EXPECT_EQ(run(log.tree.root(), index, size, log.ts, log.prefix_root, log.tree.proof(index, size)), "ok");
    }
  }
  // Unopened ranges cost one value per full subtree: 13 = 8 + 4 + 1.
  SmallLog log(14, 13);
  EXPECT_EQ(log.tree.proof(13, 14).size(), 3u);
  SmallLog first(14, 0);
  // [1], [2,4), [4,8), then [8,14) = 4 + 2: five values.
  EXPECT_EQ(first.tree.proof(0, 14).size(), 5u);
}

TEST(KeytransLogTree, RandomPairsFromTheBuilder) {
  std::mt19937_64 rng(20261208);
  LogTree big;
  const std::uint64_t kMax = 300;
  for (std::uint64_t i = 0; i < kMax; ++i) big.append(node_of(i));
  int checked = 0;
  for (int trial = 0; trial < 300; ++trial) {
    const std::uint64_t size = 1 + rng() % kMax;
    const std::uint64_t index = rng() % size;
    SCOPED_TRACE("size " + std::to_string(size) + " index " + std::to_string(index));
    LogTree t = big;
    const std::uint64_t ts = rng();
    const Node pr = node_of(rng());
    t.set(index, kt_log_leaf(ts, pr));
    const Node root = t.root(size);
    auto proof = t.proof(index, size);
    ASSERT_EQ(run(root, index, size, ts, pr, proof), "ok");
    // Any change to the proof, the leaf or the claimed position fails.
    if (!proof.empty()) {
      auto bad = proof;
      bad[rng() % bad.size()][rng() % 32] ^= 0x01;
      EXPECT_EQ(run(root, index, size, ts, pr, bad), "keytrans proof root mismatch: recomputed root does not match the expected root");
      bad = proof;
      bad.pop_back();
      EXPECT_EQ(run(root, index, size, ts, pr, bad), "malformed keytrans structure: batch proof is missing expected element(s)");
    }
    auto longer = proof;
    longer.push_back(node_of(5));
    EXPECT_EQ(run(root, index, size, ts, pr, longer), "malformed keytrans structure: batch proof has unused trailing elements");
    EXPECT_NE(run(root, index, size, ts + 1, pr, proof), "ok");
    if (size > 1) {
      EXPECT_NE(run(root, (index + 1) % size, size, ts, pr, proof), "ok");
    }
    EXPECT_NE(run(root, index, size + 1, ts, pr, proof), "ok");
    ++checked;
  }
  EXPECT_EQ(checked, 300);
}

TEST(KeytransLogTree, FailuresInOrder) {
  SmallLog log(5, 2);
  const Node root = log.tree.root();
  const auto proof = log.tree.proof(2, 5);
  struct Case {
    const char* name;
    std::uint64_t index, size;
    std::vector<Node> proof;
    Node root;
    std::string want;
  };
  auto extra = proof;
  extra.push_back(node_of(0));
  Node other_root = root;
  other_root[0] ^= 1;
  const std::vector<Case> cases = {
      {"empty log", 0, 0, proof, root, "malformed keytrans structure: cannot verify a batch proof against an empty log"},
      {"empty log, index beyond", 3, 0, {}, root, "malformed keytrans structure: cannot verify a batch proof against an empty log"},
      {"index equal to size", 5, 5, proof, root, "malformed keytrans structure: proved leaf index 5 is beyond tree size 5"},
      {"index far beyond", ~0ull, 5, proof, root,
       "malformed keytrans structure: proved leaf index 18446744073709551615 is beyond tree size 5"},
      {"too short, wrong root too", 2, 5, {proof[0]}, other_root,
       "malformed keytrans structure: batch proof is missing expected element(s)"},
      {"empty proof", 2, 5, {}, root, "malformed keytrans structure: batch proof is missing expected element(s)"},
      {"too long, root would match", 2, 5, extra, root, "malformed keytrans structure: batch proof has unused trailing elements"},
      {"too long, wrong root", 2, 5, extra, other_root, "malformed keytrans structure: batch proof has unused trailing elements"},
      {"wrong root", 2, 5, proof, other_root, "keytrans proof root mismatch: recomputed root does not match the expected root"},
      {"ok", 2, 5, proof, root, "ok"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(run(c.root, c.index, c.size, log.ts, log.prefix_root, c.proof), c.want);
  }
}

TEST(KeytransLogTree, HugeLogsNeedOnlyTheirHeads) {
  // A log of 2^40 + 3 leaves, proving the last leaf: the unopened [0, 2^40)
  // is one head, [2^40, 2^40 + 2) another.
  const std::uint64_t size = (std::uint64_t{1} << 40) + 3;
  const Node a = node_of(1), b = node_of(2);
  const Node L = log_leaf_value(5, node_of(3));
  const Node root = sha({k01, a, k01, sha({k01, b, k00, L})});
  EXPECT_EQ(run(root, size - 1, size, 5, node_of(3), {a, b}), "ok");
  // The next-to-last leaf of the largest log: 63 levels of right spine, one
  // head per level (2^63, 2^62, ..., 2).
  auto heads = [](int n) {
    std::vector<Node> out;
    for (int i = 0; i < n; ++i) out.push_back(node_of(static_cast<std::uint64_t>(i)));
    return out;
  };
  EXPECT_EQ(run(root, ~0ull - 1, ~0ull, 5, node_of(3), heads(63)),
            "keytrans proof root mismatch: recomputed root does not match the expected root");
  EXPECT_EQ(run(root, ~0ull - 1, ~0ull, 5, node_of(3), heads(62)),
            "malformed keytrans structure: batch proof is missing expected element(s)");
  EXPECT_EQ(run(root, ~0ull - 1, ~0ull, 5, node_of(3), heads(64)),
            "malformed keytrans structure: batch proof has unused trailing elements");
}

TEST(KeytransLadder, Examples) {
  using V = std::vector<std::uint64_t>;
  const std::vector<std::pair<std::uint64_t, V>> binary = {
      {0, {0, 1}},
      {1, {0, 1, 3, 2}},
      {2, {0, 1, 3, 2}},
      {3, {0, 1, 3, 7, 5, 4}},
      {4, {0, 1, 3, 7, 5, 4}},
      {5, {0, 1, 3, 7, 5, 6}},
      {6, {0, 1, 3, 7, 5, 6}},
      {7, {0, 1, 3, 7, 15, 11, 9, 8}},
      {100, {0, 1, 3, 7, 15, 31, 63, 127, 95, 111, 103, 99, 101, 100}},
  };
  for (const auto& [t, want] : binary) EXPECT_EQ(binary_ladder(t), want) << t;
  const std::vector<std::pair<std::uint64_t, V>> monitoring = {
      {0, {0}}, {1, {0, 1}}, {5, {0, 1, 3, 5}}, {6, {0, 1, 3, 5, 6}}, {7, {0, 1, 3, 7}}, {8, {0, 1, 3, 7, 8}},
  };
  for (const auto& [v, want] : monitoring) EXPECT_EQ(monitoring_ladder(v), want) << v;
}

TEST(KeytransLadder, PropertiesAgainstTheBuilder) {
  std::mt19937_64 rng(7);
  std::vector<std::uint64_t> targets;
  for (std::uint64_t t = 0; t < 2000; ++t) targets.push_back(t);
  for (int i = 0; i < 200; ++i) targets.push_back(rng() >> (rng() % 40 + 1));
  targets.push_back(0xfffffffe);
  targets.push_back(0xffffffff);
  for (std::uint64_t t : targets) {
    const auto l = binary_ladder(t);
    ASSERT_EQ(l, kt_binary_ladder(t)) << t;
    EXPECT_NE(std::find(l.begin(), l.end(), t), l.end()) << t;
    EXPECT_EQ(std::set<std::uint64_t>(l.begin(), l.end()).size(), l.size()) << t;
    const auto m = monitoring_ladder(t);
    ASSERT_EQ(m, kt_monitoring_ladder(t)) << t;
    EXPECT_TRUE(std::all_of(m.begin(), m.end(), [t](std::uint64_t v) { return v <= t; }));
    EXPECT_EQ(m.back(), t);
  }
  // The largest 32-bit target climbs past 32 bits.
  const auto top = binary_ladder(0xffffffff);
  EXPECT_EQ(top[32], 0xffffffffu);
  EXPECT_EQ(top[33], 0x1ffffffffu);
  EXPECT_GT(top.back(), 0xffffffffu);
}

TEST(KeytransLadder, ExtremeTargetsTerminate) {
  const auto a = binary_ladder(~0ull);
  EXPECT_EQ(a.size(), 65u);
  EXPECT_EQ(a.back(), ~0ull);
  const auto b = binary_ladder(~0ull - 1);
  EXPECT_EQ(b.back(), ~0ull - 1);
  EXPECT_EQ(monitoring_ladder(~0ull).back(), ~0ull);
}

}  // namespace
}  // namespace quenfold::test
