// Ladder rungs against a prefix root: VRF verification, the three result
// types, the copath-length check, the forged-absence and cross-key-absence
// checks, and the walk to the root. Run under every suite.
#include <gtest/gtest.h>

#include "keytrans/params.h"
#include "keytrans/prefix_tree.h"
#include "support/keytrans_directory.h"
#include "support/testdata.h"

namespace quenfold::test {
namespace {

using namespace quenfold::keytrans;

const std::string kMalformed = "malformed keytrans structure: ";
const std::string kRootMismatch = "keytrans proof root mismatch: recomputed root does not match the expected root";

Node flip_bit(Node k, unsigned j) {
  k[j / 8] = static_cast<std::uint8_t>(k[j / 8] ^ (0x80 >> (j % 8)));
  return k;
}
bool bit_of(const Node& k, unsigned j) { return ((k[j / 8] >> (7 - j % 8)) & 1) != 0; }

Node filler(std::uint64_t i) {
  const std::uint8_t b[] = {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i >> 8), 0xf1};
  return crypto::sha256({b});
}

// The root above `start` for `key` along `elements`, from the definitions.
Node root_over(const Node& key, Node start, const std::vector<Node>& elements) {
  for (std::size_t j = elements.size(); j-- > 0;)
    start = bit_of(key, static_cast<unsigned>(j)) ? kt_prefix_parent(elements[j], start)
                                                 : kt_prefix_parent(start, elements[j]);
  return start;
}

struct Rungs : ::testing::TestWithParam<KeytransSuite> {
  KeytransDirectory dir{GetParam(), 31};
  Bytes label = bytes_of("bob@example.org");
  KeytransParams params = keytrans_params(kt_suite_id(GetParam()), bytes_of(dir.context()), dir.vrf_public()).value();
  Node key = dir.search_key(label, 3);
  Bytes commitment = dir.commitment(label, 3, bytes_of("value"));

  LadderStep step(PrefixSearchResultType type, std::uint8_t depth, std::vector<Node> elements,
                  std::optional<Bytes> c = {}, std::optional<PrefixLeaf> leaf = {}) {
    LadderStep s;
    s.version = 3;
    s.vrf_proof = dir.vrf_proof(label, 3);
    s.prefix_proof.result.type = type;
    s.prefix_proof.result.depth = depth;
    s.prefix_proof.result.leaf = std::move(leaf);
    s.prefix_proof.elements = std::move(elements);
    s.commitment = std::move(c);
    return s;
  }
  std::string run(const Node& root, const LadderStep& s, const Bytes& lbl) {
    auto r = verify_rung(params, root, lbl, s);
    if (!r) return r.error().message();
    return *r ? "inclusion" : "non-inclusion";
  }
  std::string run(const Node& root, const LadderStep& s) { return run(root, s, label); }
  std::vector<Node> fillers(std::size_t n) {
    std::vector<Node> out;
    for (std::size_t i = 0; i < n; ++i) out.push_back(filler(i));
    return out;
  }
  PrefixLeaf leaf(const Node& k) { return PrefixLeaf{k, Bytes(dir.nc(), 0x4c)}; }
};

TEST_P(Rungs, WorkedRoots) {
  using T = PrefixSearchResultType;
  // Inclusion at depth 0: the root is the leaf itself.
  const Node leaf_root = crypto::sha256({Bytes{0x01}, key, commitment});
  EXPECT_EQ(run(leaf_root, step(T::Inclusion, 0, {}, commitment)), "inclusion");
  // Absence from the empty tree.
  EXPECT_EQ(run(Node{}, step(T::NonInclusionParent, 0, {})), "non-inclusion");
  // Depth 0 with one element E: the empty child is on the key's side.
  const Node e = filler(99);
  const Node zero{};
  const Node parent_root = bit_of(key, 0) ? crypto::sha256({Bytes{0x02}, e, zero}) : crypto::sha256({Bytes{0x02}, zero, e});
  EXPECT_EQ(run(parent_root, step(T::NonInclusionParent, 0, {e})), "non-inclusion");
  // A non-inclusion parent carrying a commitment: accepted, commitment unused.
  EXPECT_EQ(run(parent_root, step(T::NonInclusionParent, 0, {e}, Bytes(dir.nc(), 0xee))), "non-inclusion");
  // A leaf differing only in bit 255, at depth 255: 255 siblings.
  const Node neighbour = flip_bit(key, 255);
  const auto sibs = fillers(255);
  const Node deep_root = root_over(key, kt_prefix_leaf(neighbour, Bytes(dir.nc(), 0x4c)), sibs);
  EXPECT_EQ(run(deep_root, step(T::NonInclusionLeaf, 255, sibs, {}, leaf(neighbour))), "non-inclusion");
  // Inclusion at depth 255 and a non-inclusion parent at depth 255 (256 elements).
  EXPECT_EQ(run(root_over(key, kt_prefix_leaf(key, commitment), sibs), step(T::Inclusion, 255, sibs, commitment)),
            "inclusion");
  const auto sibs256 = fillers(256);
  EXPECT_EQ(run(root_over(key, Node{}, sibs256), step(T::NonInclusionParent, 255, sibs256)), "non-inclusion");
}

TEST_P(Rungs, CrossKeyAbsence) {
  using T = PrefixSearchResultType;
  const auto sibs = fillers(3);
  for (unsigned b : {0u, 1u, 2u, 3u, 4u, 100u, 255u}) {
    SCOPED_TRACE("leaf differs in bit " + std::to_string(b));
    const Node other = flip_bit(key, b);
    const Node root = root_over(key, kt_prefix_leaf(other, Bytes(dir.nc(), 0x4c)), sibs);
    const std::string want =
        b < 3 ? kMalformed + "cross-key absence: terminal leaf does not share the search-key prefix" : "non-inclusion";
    EXPECT_EQ(run(root, step(T::NonInclusionLeaf, 3, sibs, {}, leaf(other))), want);
  }
}

TEST_P(Rungs, EveryFailure) {
  using T = PrefixSearchResultType;
  const auto sibs2 = fillers(2);
  const Node incl_root = root_over(key, kt_prefix_leaf(key, commitment), sibs2);
  LadderStep good = step(T::Inclusion, 2, sibs2, commitment);
  ASSERT_EQ(run(incl_root, good), "inclusion");

  struct Case {
    const char* name;
    LadderStep s;
    Node root;
    std::string want;
    Bytes label;
  };
  auto with = [&](auto mutate) {
    LadderStep s = good;
    mutate(s);
    return s;
  };
  const bool p256 = GetParam() == KeytransSuite::Kt128Sha256P256;
  const std::size_t proof_len = p256 ? 81 : 80;
  Bytes corrupted_commitment = commitment;
  corrupted_commitment.back() ^= 1;
  Node other_elem_root = incl_root;
  other_elem_root[5] ^= 1;
  const std::vector<Case> cases = {
      {"label of 256 bytes", good, incl_root, kMalformed + "VrfInput.label: 256 bytes exceeds the <0..2^8-1> vector bound (255)",
       Bytes(256, 'x')},
      {"short vrf proof", with([&](LadderStep& s) { s.vrf_proof.pop_back(); }), incl_root,
       "vrf error: invalid length: expected " + std::to_string(proof_len) + " bytes, got " + std::to_string(proof_len - 1),
       label},
      {"empty vrf proof", with([&](LadderStep& s) { s.vrf_proof.clear(); }), incl_root,
       "vrf error: invalid length: expected " + std::to_string(proof_len) + " bytes, got 0", label},
      {"vrf proof of another version", with([&](LadderStep& s) { s.vrf_proof = dir.vrf_proof(label, 4); }), incl_root,
       "vrf proof did not verify against the namespace public key", label},
      {"vrf proof for another label", good, incl_root, "vrf proof did not verify against the namespace public key",
       bytes_of("mallory")},
      {"vrf proof bit flipped", with([&](LadderStep& s) { s.vrf_proof[proof_len - 1] ^= 0x01; }), incl_root,
       "vrf proof did not verify against the namespace public key", label},
      {"inclusion without commitment", with([&](LadderStep& s) { s.commitment.reset(); s.prefix_proof.result.depth = 9; }),
       incl_root, kMalformed + "inclusion ladder rung is missing its commitment", label},
      {"inclusion depth above copath", with([&](LadderStep& s) { s.prefix_proof.result.depth = 3; }), incl_root,
       kMalformed + "prefix proof depth 3 inconsistent with copath length 2", label},
      {"inclusion depth below copath", with([&](LadderStep& s) { s.prefix_proof.result.depth = 1; }), incl_root,
       kMalformed + "prefix proof depth 1 inconsistent with copath length 2", label},
      {"parent with d elements", step(T::NonInclusionParent, 2, sibs2), incl_root,
       kMalformed + "prefix proof depth 2 inconsistent with copath length 2", label},
      {"parent at depth 1 with no elements", step(T::NonInclusionParent, 1, {}), Node{},
       kMalformed + "prefix proof depth 1 inconsistent with copath length 0", label},
      {"leaf with d + 1 elements", step(T::NonInclusionLeaf, 1, sibs2, {}, leaf(flip_bit(key, 200))), incl_root,
       kMalformed + "prefix proof depth 1 inconsistent with copath length 2", label},
      {"leaf check comes after copath check", step(T::NonInclusionLeaf, 0, sibs2, {}, leaf(key)), incl_root,
       kMalformed + "prefix proof depth 0 inconsistent with copath length 2", label},
      {"leaf missing", step(T::NonInclusionLeaf, 2, sibs2), incl_root,
       kMalformed + "nonInclusionLeaf proof is missing its leaf", label},
      {"forged absence", step(T::NonInclusionLeaf, 2, sibs2, {}, leaf(key)), incl_root,
       kMalformed + "forged absence: terminal leaf matches the search key", label},
      {"commitment changed", with([&](LadderStep& s) { s.commitment = corrupted_commitment; }), incl_root, kRootMismatch,
       label},
      {"element changed", good, other_elem_root, kRootMismatch, label},
      {"an absence claimed where the key is present", step(T::NonInclusionParent, 1, sibs2), incl_root, kRootMismatch,
       label},
      {"leaf absence with a wrong root", step(T::NonInclusionLeaf, 2, sibs2, {}, leaf(flip_bit(key, 7))), incl_root,
       kRootMismatch, label},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(run(c.root, c.s, c.label), c.want);
  }
}

TEST_P(Rungs, WrongKeyLength) {
  const bool p256 = GetParam() == KeytransSuite::Kt128Sha256P256;
  Bytes short_bytes = dir.vrf_public();
  short_bytes.pop_back();
  const auto short_key = keytrans_params(kt_suite_id(GetParam()), bytes_of(dir.context()), short_bytes).value();
  auto r = verify_rung(short_key, Node{}, label, step(PrefixSearchResultType::NonInclusionParent, 0, {}));
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().message(), p256 ? "vrf error: invalid length: expected 33 bytes, got 32"
                                      : "vrf error: invalid length: expected 32 bytes, got 31");
}

TEST_P(Rungs, DirectoryTreesAnswerEveryVersion) {
  const Bytes lbl = bytes_of("carol");
  for (int i = 0; i < 6; ++i) dir.add_version(lbl, bytes_of("v" + std::to_string(i)));
  dir.add_version(Bytes{}, bytes_of("empty label"));
  dir.add_version(Bytes(255, 'z'), bytes_of("longest label"));
  dir.add_noise(40);
  const auto entry = dir.publish(1);
  const Node root = dir.tree(entry).root();
  for (std::uint32_t v = 0; v < 12; ++v) {
    SCOPED_TRACE(v);
    EXPECT_EQ(run(root, dir.step(lbl, v, entry), lbl), v < 6 ? "inclusion" : "non-inclusion");
  }
  EXPECT_EQ(run(root, dir.step(Bytes{}, 0, entry), Bytes{}), "inclusion");
  EXPECT_EQ(run(root, dir.step(Bytes{}, 1, entry), Bytes{}), "non-inclusion");
  EXPECT_EQ(run(root, dir.step(Bytes(255, 'z'), 0, entry), Bytes(255, 'z')), "inclusion");
  // Both kinds of absence occur in a populated tree.
  bool saw_leaf = false, saw_parent = false;
  for (std::uint32_t v = 6; v < 60 && !(saw_leaf && saw_parent); ++v) {
    const auto s = dir.step(lbl, v, entry);
    saw_leaf |= s.prefix_proof.result.type == PrefixSearchResultType::NonInclusionLeaf;
    saw_parent |= s.prefix_proof.result.type == PrefixSearchResultType::NonInclusionParent;
    ASSERT_EQ(run(root, s, lbl), "non-inclusion");
  }
  EXPECT_TRUE(saw_leaf);
  EXPECT_TRUE(saw_parent);
}

INSTANTIATE_TEST_SUITE_P(AllSuites, Rungs, ::testing::ValuesIn(kAllKtSuites),
                         [](const auto& suite_info) { return std::string(name_of(suite_info.param)); });

}  // namespace
}  // namespace quenfold::test
