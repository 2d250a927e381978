// Checkpoints bound to an origin, and the batch checks of a monitor: many
// inclusion proofs under one verified head, chains of consistency proofs.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "quenfold/checkpoint_verifier.h"
#include "support/merkle_tree.h"
#include "support/notes.h"
#include "support/witness.h"

namespace quenfold {
namespace {

using test::Bytes;
using test::NoteSigner;

class Monitor : public ::testing::Test {
 protected:
  static constexpr std::string_view kOrigin = "log.example/monitored";
  NoteSigner log = NoteSigner::composite("log.example/monitored", crypto::SignatureVersion::MlDsa65Ed25519, 21);
  test::Cosigner witness = test::Cosigner::generate("witness.example/w", 22);
  test::MerkleTree tree = [] {
    test::MerkleTree t;
    for (std::uint8_t i = 0; i < 21; ++i) t.append(Bytes{i, 0x5A});
    return t;
  }();

  std::string body(std::uint64_t size, std::string_view origin = kOrigin) const {
    const auto root = tree.root(size);
    return test::checkpoint_body(origin, size, Bytes(root.begin(), root.end()));
  }
  std::string note(std::uint64_t size, std::string_view origin = kOrigin) const {
    return test::signed_note(body(size, origin), {&log});
  }
  CheckpointVerifier verifier() const {
    const std::vector<std::string> keys = {log.verifier_key(), witness.verifier_key()};
    return CheckpointVerifier(std::string(kOrigin), *VerifierList::parse(std::span<const std::string>(keys)));
  }
  static std::vector<ByteView> views(const std::vector<test::Hash>& v) { return {v.begin(), v.end()}; }
};

TEST_F(Monitor, OriginIsCheckedAfterTheSignatures) {
  const CheckpointVerifier v = verifier();
  const auto ok = v.verify(note(13) + witness.cosignature_line(body(13), 77));
  ASSERT_TRUE(ok.has_value()) << ok.error().message();
  EXPECT_EQ(ok->head.size, 13u);
  ASSERT_EQ(ok->log_signers.size(), 1u);
  EXPECT_EQ(ok->log_signers[0].type, KeyType::Composite);
  ASSERT_EQ(ok->cosigners.size(), 1u);
  EXPECT_EQ(ok->cosigners[0].timestamp_seconds, 77u);

  const NoteSigner stranger = NoteSigner::ed25519("stranger", 23);
  struct Case {
    const char* what;
    std::string note;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"other origin", note(13, "log.example/other"),
       "checkpoint origin mismatch: got \"log.example/other\", want \"log.example/monitored\""},
      {"origin with a trailing space", note(13, "log.example/monitored "),
       "checkpoint origin mismatch: got \"log.example/monitored \", want \"log.example/monitored\""},
      {"untrusted and other origin", test::signed_note(body(13, "x"), {&stranger}),
       "note has no verifiable signature from a trusted key"},
      {"only a witness signed", "log.example/monitored\n\n" + witness.cosignature_line("log.example/monitored\n", 1),
       "note has no verifiable signature from a trusted key"},
      {"malformed body", test::signed_note("log.example/monitored\n13\n", {&log}),
       "malformed checkpoint: missing root-hash line"},
  };
  for (const auto& c : cases) {
    const auto r = v.verify(c.note);
    ASSERT_FALSE(r.has_value()) << c.what;
    EXPECT_EQ(r.error().message(), c.message) << c.what;
  }
}

TEST_F(Monitor, ProofFormsReturnTheVerifiedHeads) {
  const CheckpointVerifier v = verifier();
  const auto leaf = tree.leaf_hash(6);
  const auto incl = v.verify_inclusion(note(13), 6, leaf, views(tree.inclusion_proof(6, 13)));
  ASSERT_TRUE(incl.has_value()) << incl.error().message();
  EXPECT_EQ(incl->head.size, 13u);
  const auto root = tree.root(13);
  EXPECT_EQ(incl->head.root, Bytes(root.begin(), root.end()));
  EXPECT_EQ(v.verify_inclusion(note(13), 7, leaf, views(tree.inclusion_proof(6, 13))).error().kind(),
            ErrorKind::RootMismatch);

  const auto cons = v.verify_consistency(note(5), note(13), views(tree.consistency_proof(5, 13)));
  ASSERT_TRUE(cons.has_value()) << cons.error().message();
  EXPECT_EQ(cons->first.head.size, 5u);
  EXPECT_EQ(cons->second.head.size, 13u);
  EXPECT_EQ(v.verify_consistency(note(13), note(5), views(tree.consistency_proof(5, 13))).error().message(),
            "tree size regression: size2 (5) < size1 (13)");
}

TEST_F(Monitor, ChainNamesTheBrokenLink) {
  const CheckpointVerifier v = verifier();
  const std::vector<std::uint64_t> sizes = {2, 5, 13, 21};
  std::vector<std::string> notes;
  for (const auto s : sizes) notes.push_back(note(s));
  std::vector<std::vector<test::Hash>> proofs;
  for (std::size_t i = 0; i + 1 < sizes.size(); ++i) proofs.push_back(tree.consistency_proof(sizes[i], sizes[i + 1]));
  const auto run = [&](const std::vector<std::vector<test::Hash>>& p, std::vector<std::string> n) {
    std::vector<std::vector<ByteView>> pv;
    for (const auto& x : p) pv.push_back(views(x));
    const std::vector<std::span<const ByteView>> spans(pv.begin(), pv.end());
    const std::vector<std::string_view> nv(n.begin(), n.end());
    return v.verify_chain(nv, spans);
  };
  const auto ok = run(proofs, notes);
  ASSERT_TRUE(ok.has_value()) << ok.error().message();
  ASSERT_EQ(ok->size(), 4u);
  for (std::size_t i = 0; i < sizes.size(); ++i) EXPECT_EQ((*ok)[i].head.size, sizes[i]);

  auto swapped = proofs;
  std::swap(swapped[1], swapped[2]);  // proofs for the wrong sizes
  EXPECT_EQ(run(swapped, notes).error().message().rfind("checkpoint chain broken between checkpoints 2 and 3: ", 0),
            0u);
  auto wrong_root = notes;
  wrong_root[3] = test::signed_note(test::checkpoint_body(kOrigin, 21, Bytes(32, 9)), {&log});
  EXPECT_EQ(run(proofs, wrong_root).error().message(),
            "checkpoint chain broken between checkpoints 3 and 4: root mismatch: recomputed root does not match "
            "the expected root");
  auto foreign = notes;
  foreign[1] = note(5, "log.example/other");
  EXPECT_EQ(run(proofs, foreign).error().kind(), ErrorKind::OriginMismatch);
  EXPECT_EQ(run({proofs[0]}, notes).error().message(), "wrong proof size: got 1, want 3");
  EXPECT_EQ(run({}, {}).error().message(), "wrong proof size: got 0, want 0");
  EXPECT_TRUE(run({}, {notes[0]}).has_value());
}

TEST_F(Monitor, BatchInclusionUnderOneHead) {
  const auto head = verifier().verify(note(21));
  ASSERT_TRUE(head.has_value());
  std::vector<std::vector<test::Hash>> paths;
  for (std::uint64_t i = 0; i < 21; ++i) paths.push_back(tree.inclusion_proof(i, 21));
  std::vector<std::vector<ByteView>> path_views;
  for (const auto& p : paths) path_views.push_back(views(p));
  std::vector<InclusionProof> items;
  for (std::uint64_t i = 0; i < 21; ++i) items.push_back({i, tree.leaf_hash(i), path_views[i]});
  const test::Hash other = tree.leaf_hash(4);
  items[3].leaf_hash = other;       // the wrong leaf
  items[9].index = 21;              // beyond the tree
  items[15].proof = path_views[14];  // a sibling's path
  const auto results = verify_inclusions(head->head, items);
  ASSERT_EQ(results.size(), items.size());
  for (std::size_t i = 0; i < results.size(); ++i) {
    if (i == 3 || i == 15) {
      EXPECT_EQ(results[i].error().kind(), ErrorKind::RootMismatch) << i;
    } else if (i == 9) {
      EXPECT_EQ(results[i].error().message(), "leaf index 21 is beyond tree size 21");
    } else {
      EXPECT_TRUE(results[i].has_value()) << i << ": " << results[i].error().message();
    }
  }
}

}  // namespace
}  // namespace quenfold
