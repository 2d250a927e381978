// C2SP tlog-proof texts: how they are read, and how they are verified
// through a CheckpointVerifier in the order the format gives.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "quenfold/tlog_proof.h"
#include "support/merkle_tree.h"
#include "support/notes.h"
#include "support/witness.h"

namespace quenfold {
namespace {

using test::Bytes;
using test::Cosigner;
using test::Hash;
using test::MerkleTree;
using test::NoteSigner;

constexpr std::string_view kOrigin = "log.example/proofs";

Bytes entry_of(std::uint64_t i) { return Bytes{'e', 'n', 't', 'r', 'y', static_cast<std::uint8_t>(i)}; }

// A log of 11 entries, its key, two witnesses, and a checkpoint at size 11
// signed by the log and cosigned by both witnesses.
struct Fixture {
  NoteSigner log = NoteSigner::ed25519(std::string(kOrigin), 1);
  Cosigner w1 = Cosigner::generate("witness.example/one", 2);
  Cosigner w2 = Cosigner::generate("witness.example/two", 3);
  MerkleTree tree;
  std::string body;
  std::string note;

  Fixture() {
    for (std::uint64_t i = 0; i < 11; ++i) tree.append(entry_of(i));
    const Hash root = tree.root();
    body = test::checkpoint_body(kOrigin, 11, Bytes(root.begin(), root.end()));
    note = test::signed_note(body, {&log}) + w1.cosignature_line(body, 1700000000) +
           w2.cosignature_line(body, 1700000001);
  }
  CheckpointVerifier two_of_two() const {
    auto policy = WitnessPolicy::threshold(test::verifier_list({log.verifier_key()}),
                                           test::verifier_list({w1.verifier_key(), w2.verifier_key()}), 2);
    if (!policy) throw std::runtime_error(policy.error().message());
    return CheckpointVerifier(std::string(kOrigin), *policy);
  }
  std::string proof_text(std::uint64_t index, const std::string& with_note) const {
    return test::tlog_proof_text(std::nullopt, index, tree.inclusion_proof(index, 11), with_note);
  }
};

TEST(TlogProof, ParsesEveryPart) {
  const Fixture f;
  const Bytes extra = {'v', '1', 0, 0xff};
  const auto path = f.tree.inclusion_proof(6, 11);
  for (const bool with_extra : {false, true}) {
    const std::optional<Bytes> x = with_extra ? std::optional<Bytes>(extra) : std::nullopt;
    const auto p = parse_tlog_proof(test::tlog_proof_text(x, 6, path, f.note));
    ASSERT_TRUE(p.has_value()) << p.error().message();
    EXPECT_EQ(p->extra, x);
    EXPECT_EQ(p->index, 6u);
    EXPECT_EQ(p->proof, path);
    EXPECT_EQ(p->checkpoint, f.note);
  }
}

TEST(TlogProof, MalformedTextsAreRejectedWithTheirLine) {
  const Fixture f;
  const std::string good = f.proof_text(3, f.note);
  const std::string hash = test::base64_of(Bytes(32, 7));
  const std::string head = "c2sp.org/tlog-proof@v1\n";
  std::string many = head + "index 3\n";
  for (int i = 0; i < 65; ++i) many += hash + "\n";
  many += "\n" + f.note;
  struct Case {
    std::string text;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"", "missing header line"},
      {"c2sp.org/tlog-proof@v1", "header line does not end in a newline"},
      {"c2sp.org/tlog-proof@v2\nindex 0\n\n" + f.note, "header line is not c2sp.org/tlog-proof@v1: \"c2sp.org/tlog-proof@v2\""},
      {"c2sp.org/tlog-proof@v1\r\nindex 0\n\n" + f.note,
       "header line is not c2sp.org/tlog-proof@v1: \"c2sp.org/tlog-proof@v1\\r\""},
      {head, "missing index line"},
      {head + "extra \nindex 0\n\n" + f.note, "extra line carries no data"},
      {head + "extra ***\nindex 0\n\n" + f.note, "extra data is not valid base64: \"***\""},
      {head + "extra AAAA\n", "missing index line"},
      {head + "idx 0\n\n" + f.note, "line 2: want \"index <decimal>\", got \"idx 0\""},
      {head + "index 07\n\n" + f.note, "index has a leading zero: \"07\""},
      {head + "index -1\n\n" + f.note, "index is not decimal: \"-1\""},
      {head + "index \n\n" + f.note, "index is not decimal: \"\""},
      {head + "index 18446744073709551616\n\n" + f.note, "index overflow: \"18446744073709551616\""},
      {head + "index 3\n" + hash + "\n!!\n\n" + f.note, "proof hash 2 is not valid base64: \"!!\""},
      {head + "index 3\nAAAA\n\n" + f.note, "proof hash 1 is 3 bytes, want 32"},
      {many, "more than 64 proof hashes"},
      {head + "index 3\n" + hash + "\n", "missing empty line before the checkpoint"},
      {head + "index 3\n" + hash, "line 3 does not end in a newline"},
      {head + "index 3\n\n", "missing checkpoint"},
  };
  ASSERT_TRUE(parse_tlog_proof(good).has_value());
  for (const auto& c : cases) {
    const auto p = parse_tlog_proof(c.text);
    ASSERT_FALSE(p.has_value()) << c.message;
    EXPECT_EQ(p.error().kind(), ErrorKind::MalformedTlogProof) << c.message;
    EXPECT_EQ(p.error().message(), "malformed tlog proof: " + c.message);
  }
}

TEST(TlogProof, VerifiesEveryLeafUnderKeysOrPolicy) {
  const Fixture f;
  const CheckpointVerifier by_policy = f.two_of_two();
  const CheckpointVerifier by_keys(
      std::string(kOrigin), test::verifier_list({f.log.verifier_key(), f.w1.verifier_key(), f.w2.verifier_key()}));
  for (const CheckpointVerifier* v : {&by_policy, &by_keys}) {
    const auto expected = v->verify(f.note);
    ASSERT_TRUE(expected.has_value()) << expected.error().message();
    for (std::uint64_t i = 0; i < 11; ++i) {
      const std::string text = f.proof_text(i, f.note);
      const Hash leaf = f.tree.leaf_hash(i);
      for (const auto& r : {verify_tlog_proof(text, *v, leaf), verify_tlog_proof_entry(text, *v, entry_of(i))}) {
        ASSERT_TRUE(r.has_value()) << i << ": " << r.error().message();
        EXPECT_EQ(r->index, i);
        EXPECT_EQ(r->checkpoint.head, expected->head);
        EXPECT_EQ(r->checkpoint.log_signers, expected->log_signers);
        EXPECT_EQ(r->checkpoint.cosigners, expected->cosigners);
        EXPECT_EQ(r->checkpoint.cosigners.size(), 2u);
      }
    }
  }
}

// Each failure is the first one in the order: text, leaf hash, origin and
// log signature, cosignatures, inclusion. Checkpoint failures are exactly
// what verify() reports for the note alone.
TEST(TlogProof, FailsAtTheFirstStepThatFails) {
  const Fixture f;
  const CheckpointVerifier v = f.two_of_two();
  const NoteSigner stranger = NoteSigner::ed25519(std::string(kOrigin), 9);
  const NoteSigner other_origin = NoteSigner::ed25519("log.example/other", 1);
  const Hash root = f.tree.root();
  const std::string other_body = test::checkpoint_body("log.example/other", 11, Bytes(root.begin(), root.end()));

  const std::string unsigned_note = test::signed_note(f.body, {&stranger}) +
                                    f.w1.cosignature_line(f.body, 1) + f.w2.cosignature_line(f.body, 2);
  const std::string one_witness = test::signed_note(f.body, {&f.log}) + f.w1.cosignature_line(f.body, 1);
  const std::string wrong_origin = test::signed_note(other_body, {&f.log}) +
                                   f.w1.cosignature_line(other_body, 1) + f.w2.cosignature_line(other_body, 2);
  auto message_of_note = [&v](const std::string& note) { return v.verify(note).error().message(); };

  auto path = f.tree.inclusion_proof(4, 11);
  auto bent = path;
  bent[1][0] ^= 1;
  const Hash leaf4 = f.tree.leaf_hash(4);
  const Hash leaf5 = f.tree.leaf_hash(5);
  const std::string root_mismatch = "root mismatch: recomputed root does not match the expected root";

  struct Case {
    const char* what;
    std::string text;
    Bytes leaf;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"text before leaf hash", "c2sp.org/tlog-proof@v1\n", Bytes(3), "malformed tlog proof: missing index line"},
      {"leaf hash before signature", test::tlog_proof_text(std::nullopt, 4, bent, unsigned_note), Bytes(31),
       "invalid hash length: got 31 bytes, want 32"},
      {"log signature before inclusion", test::tlog_proof_text(std::nullopt, 4, bent, unsigned_note),
       Bytes(leaf4.begin(), leaf4.end()), message_of_note(unsigned_note)},
      {"origin", test::tlog_proof_text(std::nullopt, 4, path, wrong_origin), Bytes(leaf4.begin(), leaf4.end()),
       message_of_note(wrong_origin)},
      {"quorum before inclusion", test::tlog_proof_text(std::nullopt, 4, bent, one_witness),
       Bytes(leaf4.begin(), leaf4.end()), message_of_note(one_witness)},
      {"another leaf", test::tlog_proof_text(std::nullopt, 4, path, f.note), Bytes(leaf5.begin(), leaf5.end()),
       root_mismatch},
      {"another index", test::tlog_proof_text(std::nullopt, 5, path, f.note), Bytes(leaf4.begin(), leaf4.end()),
       root_mismatch},
      {"index beyond the tree", test::tlog_proof_text(std::nullopt, 11, path, f.note),
       Bytes(leaf4.begin(), leaf4.end()), "leaf index 11 is beyond tree size 11"},
      {"bent proof", test::tlog_proof_text(std::nullopt, 4, bent, f.note), Bytes(leaf4.begin(), leaf4.end()),
       root_mismatch},
      {"short proof", test::tlog_proof_text(std::nullopt, 4, std::vector<Hash>(path.begin(), path.end() - 1), f.note),
       Bytes(leaf4.begin(), leaf4.end()), "wrong proof size: got 3, want 4"},
  };
  EXPECT_NE(message_of_note(unsigned_note), message_of_note(one_witness));
  for (const auto& c : cases) {
    const auto r = verify_tlog_proof(c.text, v, c.leaf);
    ASSERT_FALSE(r.has_value()) << c.what;
    EXPECT_EQ(r.error().message(), c.message) << c.what;
  }
}

}  // namespace
}  // namespace quenfold
