// Checkpoint bodies, checkpoint notes and the proofs anchored in them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "quenfold/checkpoint.h"
#include "support/merkle_tree.h"
#include "support/notes.h"
#include "support/testdata.h"

namespace quenfold {
namespace {

using test::Bytes;
using test::NoteSigner;

const std::string kZeroRoot = "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=";

TEST(CheckpointParse, AcceptedBodies) {
  struct Case {
    const char* what;
    std::string text;
    std::string origin;
    std::uint64_t size;
    std::vector<std::string> extensions;
  };
  const std::vector<Case> cases = {
      {"size zero", "o\n0\n" + kZeroRoot + "\n", "o", 0, {}},
      {"three lines", "test-log\n5\n" + kZeroRoot + "\n", "test-log", 5, {}},
      {"one extension", "test-log\n5\n" + kZeroRoot + "\nnote-ext\n", "test-log", 5, {"note-ext"}},
      {"extensions in order", "o\n1\n" + kZeroRoot + "\n\xE2\x80\x94 x\nb c\n", "o", 1, {"\xE2\x80\x94 x", "b c"}},
      {"largest size", "o\n18446744073709551615\n" + kZeroRoot + "\n", "o", UINT64_MAX, {}},
      {"CR LF lines", "o\r\n12\r\n" + kZeroRoot + "\r\next\r\n", "o", 12, {"ext"}},
      {"no final line feed", "o\n3\n" + kZeroRoot, "o", 3, {}},
      {"origin kept verbatim", " spaced origin \n3\n" + kZeroRoot + "\n", " spaced origin ", 3, {}},
      {"lone CR kept inside a line", "o\rx\n3\n" + kZeroRoot + "\n", "o\rx", 3, {}},
  };
  for (const auto& c : cases) {
    const auto h = checkpoint_parse(c.text);
    ASSERT_TRUE(h.has_value()) << c.what << ": " << h.error().message();
    EXPECT_EQ(h->origin, c.origin) << c.what;
    EXPECT_EQ(h->size, c.size) << c.what;
    EXPECT_EQ(h->root, Bytes(32, 0)) << c.what;
    EXPECT_EQ(h->extensions, c.extensions) << c.what;
  }
  const Bytes root = test::from_hex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
  const auto h = checkpoint_parse(test::checkpoint_body("o", 9, root));
  ASSERT_TRUE(h.has_value());
  EXPECT_EQ(h->root, root);
}

TEST(CheckpointParse, FailuresInCheckOrder) {
  const std::string r31 = test::base64_of(Bytes(31, 0));
  const std::string r33 = test::base64_of(Bytes(33, 0));
  struct Case {
    const char* what;
    std::string text;
    std::string detail;  // after "malformed checkpoint: "
  };
  const std::vector<Case> cases = {
      {"empty body", "", "missing origin line"},
      {"one line feed", "\n", "missing tree-size line"},
      {"origin only", "o\n", "missing tree-size line"},
      {"no root line", "o\n5\n", "missing root-hash line"},
      {"missing line before empty origin", "\n5\n", "missing root-hash line"},
      {"empty origin", "\n5\n" + kZeroRoot + "\n", "empty origin line"},
      {"empty origin before bad size", "\nx\n" + kZeroRoot + "\n", "empty origin line"},
      {"empty size", "o\n\n" + kZeroRoot + "\n", "tree size is not decimal: \"\""},
      {"hex size", "o\n0x10\n" + kZeroRoot + "\n", "tree size is not decimal: \"0x10\""},
      {"signed size", "o\n+5\n" + kZeroRoot + "\n", "tree size is not decimal: \"+5\""},
      {"size with space", "o\n5 \n" + kZeroRoot + "\n", "tree size is not decimal: \"5 \""},
      {"size with a tab", "o\n5\t\n" + kZeroRoot + "\n", "tree size is not decimal: \"5\\t\""},
      {"two zeros", "o\n00\n" + kZeroRoot + "\n", "tree size has a leading zero: \"00\""},
      {"leading zero", "o\n07\n" + kZeroRoot + "\n", "tree size has a leading zero: \"07\""},
      {"2^64", "o\n18446744073709551616\n" + kZeroRoot + "\n", "tree size overflow: \"18446744073709551616\""},
      {"far too big", "o\n99999999999999999999999\n" + kZeroRoot + "\n", "tree size overflow: \"99999999999999999999999\""},
      {"bad size before bad root", "o\nx\n!\n", "tree size is not decimal: \"x\""},
      {"root with trailing space", "o\n5\n" + kZeroRoot + " \n", "root hash is not valid base64: \"" + kZeroRoot + " \""},
      {"non-canonical root", "o\n5\nAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAB=\n",
       "root hash is not valid base64: \"AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAB=\""},
      {"empty root line", "o\n5\n\n", "root hash is 0 bytes, want 32"},
      {"31-byte root", "o\n5\n" + r31 + "\n", "root hash is 31 bytes, want 32"},
      {"33-byte root", "o\n5\n" + r33 + "\n", "root hash is 33 bytes, want 32"},
      {"empty extension", "o\n5\n" + kZeroRoot + "\n\n", "empty extension line"},
      {"empty extension between others", "o\n5\n" + kZeroRoot + "\na\n\nb\n", "empty extension line"},
      {"CR-only extension", "o\n5\n" + kZeroRoot + "\n\r\n", "empty extension line"},
      // Origin and extensions are returned as text, so they must be UTF-8;
      // the origin is checked before the size, each extension in order.
      {"origin not utf-8", "o\xff\nx\n" + kZeroRoot + "\n", "origin line is not valid utf-8: invalid utf-8 sequence of 1 bytes from index 1"},
      {"origin ends inside a sequence", "log \xe2\x80\n5\n" + kZeroRoot + "\n",
       "origin line is not valid utf-8: incomplete utf-8 byte sequence from index 4"},
      {"surrogate in origin", "\xed\xa0\x80\n5\n" + kZeroRoot + "\n", "origin line is not valid utf-8: invalid utf-8 sequence of 1 bytes from index 0"},
      {"second extension not utf-8", "o\n5\n" + kZeroRoot + "\nok\nbad \xc0\xaf\n\n",
       "extension line 2 is not valid utf-8: invalid utf-8 sequence of 1 bytes from index 4"},
      {"empty extension before a bad one", "o\n5\n" + kZeroRoot + "\n\n\xff\n", "empty extension line"},
  };
  for (const auto& c : cases) {
    const auto h = checkpoint_parse(c.text);
    ASSERT_FALSE(h.has_value()) << c.what;
    EXPECT_EQ(h.error().kind(), ErrorKind::MalformedCheckpoint) << c.what;
    EXPECT_EQ(h.error().message(), "malformed checkpoint: " + c.detail) << c.what;
  }
}

// --- signed checkpoints and proofs ---------------------------------------------------

struct SignedLog : ::testing::Test {
  NoteSigner ed = NoteSigner::ed25519("log.example/ct", 31);
  NoteSigner pq = NoteSigner::composite("log.example/ct-pq", crypto::SignatureVersion::MlDsa65Ed25519, 31);
  test::MerkleTree tree = [] {
    test::MerkleTree t;
    for (int i = 0; i < 11; ++i) t.append(test::bytes_of("entry " + std::to_string(i)));
    return t;
  }();

  Bytes root(std::uint64_t size) const {
    const auto r = tree.root(size);
    return {r.begin(), r.end()};
  }
  std::string note(std::uint64_t size, const std::vector<std::string>& ext = {}) const {
    return test::signed_note(test::checkpoint_body("log.example/ct", size, root(size), ext), {&ed, &pq});
  }
  std::vector<std::string> keys() const { return {ed.verifier_key(), pq.verifier_key()}; }
  static std::vector<std::string_view> views(const std::vector<std::string>& v) { return {v.begin(), v.end()}; }
  static std::vector<ByteView> views(const std::vector<test::Hash>& v) { return {v.begin(), v.end()}; }
  Bytes leaf(std::uint64_t i) const { return {tree.leaf_hash(i).begin(), tree.leaf_hash(i).end()}; }
};

TEST_F(SignedLog, VerifyReturnsTheHead) {
  const auto k = keys();
  const auto h = checkpoint_verify(note(11, {"ext one", "ext two"}), views(k));
  ASSERT_TRUE(h.has_value()) << h.error().message();
  EXPECT_EQ(h->origin, "log.example/ct");
  EXPECT_EQ(h->size, 11u);
  EXPECT_EQ(h->root, root(11));
  EXPECT_EQ(h->extensions, (std::vector<std::string>{"ext one", "ext two"}));
  // Either key alone suffices.
  const std::vector<std::string> only_pq = {pq.verifier_key()};
  EXPECT_TRUE(checkpoint_verify(note(11), views(only_pq)).has_value());
}

TEST_F(SignedLog, SignaturesAreCheckedBeforeTheBody) {
  const auto k = keys();
  // A malformed body signed by nobody trusted: the signature failure wins.
  const std::string unsigned_bad = "o\nx\n!\n\n" + test::signature_line("stranger", 1, Bytes(64, 1));
  const auto a = checkpoint_verify(unsigned_bad, views(k));
  ASSERT_FALSE(a.has_value());
  EXPECT_EQ(a.error().message(), "note has no verifiable signature from a trusted key");
  // The same body properly signed reaches the body parser.
  const auto b = checkpoint_verify(test::signed_note("o\nx\n!\n", {&ed}), views(k));
  ASSERT_FALSE(b.has_value());
  EXPECT_EQ(b.error().message(), "malformed checkpoint: tree size is not decimal: \"x\"");
  // Three line feeds before the signatures: the body ends in an empty line,
  // which fails only after its signature verified.
  const std::string body = test::checkpoint_body("o", 3, root(3)) + "\n";
  const auto c = checkpoint_verify(test::signed_note(body, {&ed}), views(k));
  ASSERT_FALSE(c.has_value());
  EXPECT_EQ(c.error().message(), "malformed checkpoint: empty extension line");
  // A CR LF note is refused before its body is looked at, though the body
  // alone parses.
  std::string crlf_body = "o\r\n3\r\n" + test::base64_of(root(3)) + "\r\n";
  ASSERT_TRUE(checkpoint_parse(crlf_body).has_value());
  const auto d = checkpoint_verify(test::signed_note(crlf_body, {&ed}), views(k));
  ASSERT_FALSE(d.has_value());
  EXPECT_EQ(d.error().message(), "malformed signed note: note contains a forbidden control character");
  // Key failures come first of all.
  const std::vector<std::string> bad_keys = {ed.verifier_key(), "nokey"};
  const auto e = checkpoint_verify("junk", views(bad_keys));
  ASSERT_FALSE(e.has_value());
  EXPECT_EQ(e.error().message(), "malformed signed note: malformed verifier key: \"nokey\"");
}

TEST_F(SignedLog, InclusionAgainstTheCheckpointRoot) {
  const auto k = keys();
  const std::string n = note(11);
  for (std::uint64_t i = 0; i < 11; ++i) {
    const auto proof = tree.inclusion_proof(i, 11);
    const auto r = checkpoint_verify_inclusion(n, views(k), i, leaf(i), views(proof));
    EXPECT_TRUE(r.has_value()) << i << ": " << r.error().message();
  }
  const auto proof = tree.inclusion_proof(4, 11);
  const auto wrong_index = checkpoint_verify_inclusion(n, views(k), 5, leaf(4), views(proof));
  ASSERT_FALSE(wrong_index.has_value());
  EXPECT_EQ(wrong_index.error().message(), "root mismatch: recomputed root does not match the expected root");
  const auto beyond = checkpoint_verify_inclusion(n, views(k), 11, leaf(4), views(proof));
  ASSERT_FALSE(beyond.has_value());
  EXPECT_EQ(beyond.error().message(), "leaf index 11 is beyond tree size 11");
  const Bytes short_leaf(31, 0);
  const auto short_hash = checkpoint_verify_inclusion(n, views(k), 4, short_leaf, views(proof));
  ASSERT_FALSE(short_hash.has_value());
  EXPECT_EQ(short_hash.error().message(), "invalid hash length: got 31 bytes, want 32");
  // A proof for a smaller tree does not match this checkpoint.
  const auto old_proof = tree.inclusion_proof(4, 8);
  const auto stale = checkpoint_verify_inclusion(n, views(k), 4, leaf(4), views(old_proof));
  EXPECT_FALSE(stale.has_value());
  // The note is checked before the proof.
  const auto unsigned_note = checkpoint_verify_inclusion(test::checkpoint_body("o", 11, root(11)) + "\n— x AAAAAAAA\n",
                                                         views(k), 4, leaf(4), views(proof));
  ASSERT_FALSE(unsigned_note.has_value());
  EXPECT_EQ(unsigned_note.error().message(), "note has no verifiable signature from a trusted key");
}

TEST_F(SignedLog, ConsistencyBetweenTwoCheckpoints) {
  const auto k = keys();
  const auto proof = tree.consistency_proof(6, 11);
  EXPECT_TRUE(checkpoint_verify_consistency(note(6), note(11), views(k), views(proof)).has_value());
  // Swapped: the proof check reports the size regression.
  const auto swapped = checkpoint_verify_consistency(note(11), note(6), views(k), views(proof));
  ASSERT_FALSE(swapped.has_value());
  EXPECT_EQ(swapped.error().message(), "tree size regression: size2 (6) < size1 (11)");
  // A wrong proof.
  const auto other = tree.consistency_proof(5, 11);
  EXPECT_FALSE(checkpoint_verify_consistency(note(6), note(11), views(k), views(other)).has_value());
  // Same checkpoint twice, empty proof.
  EXPECT_TRUE(checkpoint_verify_consistency(note(11), note(11), views(k), {}).has_value());
  // Origins are not compared.
  const std::string renamed =
      test::signed_note(test::checkpoint_body("another.origin", 11, root(11)), {&ed});
  EXPECT_TRUE(checkpoint_verify_consistency(note(6), renamed, views(k), views(proof)).has_value());
  // The older note's failure is reported before anything about the newer.
  const std::string bad_old = note(6) + "junk";
  const std::string bad_new = "junk";
  const auto both = checkpoint_verify_consistency(bad_old, bad_new, views(k), views(proof));
  ASSERT_FALSE(both.has_value());
  EXPECT_EQ(both.error().message(), "malformed signed note: signature block is empty or unterminated");
  const auto newer = checkpoint_verify_consistency(note(6), bad_new, views(k), views(proof));
  ASSERT_FALSE(newer.has_value());
  EXPECT_EQ(newer.error().message(), "malformed signed note: missing blank-line signature separator");
  // Empty older tree: consistency from size 0 is refused by the proof check.
  const auto empty = checkpoint_verify_consistency(note(0), note(11), views(k), {});
  ASSERT_FALSE(empty.has_value());
  EXPECT_EQ(empty.error().message(), "consistency proof from an empty tree is meaningless");
}

}  // namespace
}  // namespace quenfold
