// The signed-note and checkpoint exports, called through the built shared
// library as a foreign caller does: results, error messages and lifting
// failures.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/boundary.h"
#include "support/merkle_tree.h"
#include "support/notes.h"
#include "support/testdata.h"

namespace quenfold::test {
namespace {

using VerifyNoteFn = uint32_t(RustBuffer, RustBuffer, RustCallStatus*);
using CheckpointVerifyFn = RustBuffer(RustBuffer, RustBuffer, RustCallStatus*);
using CheckpointParseFn = RustBuffer(RustBuffer, RustCallStatus*);
using InclusionFn = void(RustBuffer, RustBuffer, uint64_t, RustBuffer, RustBuffer, RustCallStatus*);
using ConsistencyFn = void(RustBuffer, RustBuffer, RustBuffer, RustBuffer, RustCallStatus*);

// The lowered CheckpointHead: string origin, u64 size, byte string root,
// list of strings.
struct Head {
  std::string origin;
  std::uint64_t size = 0;
  Bytes root;
  std::vector<std::string> extensions;
};

struct Cursor {
  const Bytes& b;
  std::size_t pos = 0;
  std::uint64_t be(int n) {
    if (pos + static_cast<std::size_t>(n) > b.size()) throw std::runtime_error("short head");
    std::uint64_t v = 0;
    for (int i = 0; i < n; ++i) v = v << 8 | b[pos++];
    return v;
  }
  Bytes bytes() {
    const auto n = static_cast<std::size_t>(be(4));
    if (pos + n > b.size()) throw std::runtime_error("short head");
    Bytes out(b.begin() + static_cast<long>(pos), b.begin() + static_cast<long>(pos + n));
    pos += n;
    return out;
  }
  std::string string() {
    const Bytes v = bytes();
    return {v.begin(), v.end()};
  }
};

Head decode_head(const Bytes& b) {
  Cursor c{b};
  Head h;
  h.origin = c.string();
  h.size = c.be(8);
  h.root = c.bytes();
  const auto n = c.be(4);
  for (std::uint64_t i = 0; i < n; ++i) h.extensions.push_back(c.string());
  if (c.pos != b.size()) throw std::runtime_error("trailing bytes after head");
  return h;
}

struct NoteBoundary : ::testing::Test {
  const Library& lib = Library::instance();
  NoteSigner ed = NoteSigner::ed25519("log.example/boundary", 41);
  NoteSigner pq = NoteSigner::composite("log.example/boundary-pq", crypto::SignatureVersion::MlDsa65Ed25519, 41);
  MerkleTree tree = [] {
    MerkleTree t;
    for (int i = 0; i < 6; ++i) t.append(bytes_of("leaf " + std::to_string(i)));
    return t;
  }();

  Bytes root(std::uint64_t n) const {
    const auto r = tree.root(n);
    return {r.begin(), r.end()};
  }
  std::string note(std::uint64_t n) const {
    return signed_note(checkpoint_body("log.example/boundary", n, root(n), {"ext"}), {&ed, &pq});
  }
  std::vector<std::string> keys() const { return {ed.verifier_key(), pq.verifier_key()}; }

  RustBuffer text(std::string_view s) const { return lib.buffer(s); }
  RustBuffer key_list(const std::vector<std::string>& k) const { return lib.buffer(Ser().string_list(k).out); }
  RustBuffer bytes(const Bytes& b) const { return lib.buffer(Ser().bytes(b).out); }
  template <class C>
  RustBuffer list(const C& items) const {
    return lib.buffer(Ser().bytes_list(items).out);
  }

  std::pair<Outcome, uint32_t> verify_note(RustBuffer n, RustBuffer k) const {
    RustCallStatus st{};
    const uint32_t r = lib.fn<VerifyNoteFn>("uniffi_quenfold_log_fn_func_verify_signed_note")(n, k, &st);
    return {outcome_of(lib, st), r};
  }
  std::pair<Outcome, Bytes> checkpoint_verify(RustBuffer n, RustBuffer k) const {
    RustCallStatus st{};
    const RustBuffer r = lib.fn<CheckpointVerifyFn>("uniffi_quenfold_log_fn_func_checkpoint_verify")(n, k, &st);
    const bool zero = r.capacity == 0 && r.len == 0 && r.data == nullptr;
    Outcome o = outcome_of(lib, st);
    if (o.code != 0) {
      EXPECT_TRUE(zero) << "a failed call returns an all-zero buffer";
    }
    return {o, lib.take(r)};
  }
  std::pair<Outcome, Bytes> checkpoint_parse(RustBuffer body) const {
    RustCallStatus st{};
    const RustBuffer r = lib.fn<CheckpointParseFn>("uniffi_quenfold_log_fn_func_checkpoint_parse")(body, &st);
    Outcome o = outcome_of(lib, st);
    return {o, lib.take(r)};
  }
  Outcome inclusion(RustBuffer n, RustBuffer k, uint64_t index, RustBuffer leaf, RustBuffer proof) const {
    RustCallStatus st{};
    lib.fn<InclusionFn>("uniffi_quenfold_log_fn_func_checkpoint_verify_inclusion")(n, k, index, leaf, proof, &st);
    return outcome_of(lib, st);
  }
  Outcome consistency(RustBuffer older, RustBuffer newer, RustBuffer k, RustBuffer proof) const {
    RustCallStatus st{};
    lib.fn<ConsistencyFn>("uniffi_quenfold_log_fn_func_checkpoint_verify_consistency")(older, newer, k, proof, &st);
    return outcome_of(lib, st);
  }
  Bytes leaf(std::uint64_t i) const { return {tree.leaf_hash(i).begin(), tree.leaf_hash(i).end()}; }
};

TEST_F(NoteBoundary, VerifySignedNoteCountsVerifiedLines) {
  auto [ok, count] = verify_note(text(note(6)), key_list(keys()));
  EXPECT_EQ(ok.code, 0);
  EXPECT_TRUE(ok.error_buf_zero);
  EXPECT_EQ(count, 2u);

  auto [rejected, zero] = verify_note(text(note(6)), key_list({}));
  EXPECT_EQ(rejected.code, 1);
  EXPECT_EQ(rejected.message, "note has no verifiable signature from a trusted key");
  EXPECT_EQ(zero, 0u);

  auto [bad_key, z2] = verify_note(text(note(6)), key_list({"example+22873f1c+AQAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA"}));
  EXPECT_EQ(bad_key.code, 1);
  EXPECT_EQ(bad_key.message,
            "malformed signed note: verifier key id mismatch: declared 22873f1c, computed 22873f1b");
  EXPECT_EQ(z2, 0u);

  const std::string tampered = "X" + note(6);
  auto [invalid, z3] = verify_note(text(tampered), key_list(keys()));
  EXPECT_EQ(invalid.code, 1);
  char id[9];
  std::snprintf(id, sizeof id, "%08x", ed.key_id());
  EXPECT_EQ(invalid.message, "invalid signature for known key \"log.example/boundary\" (key id " + std::string(id) + ")");
  EXPECT_EQ(z3, 0u);
}

TEST_F(NoteBoundary, CheckpointVerifyAndParseLowerTheHead) {
  auto [ok, raw] = checkpoint_verify(text(note(5)), key_list(keys()));
  ASSERT_EQ(ok.code, 0) << ok.message;
  const Head h = decode_head(raw);
  EXPECT_EQ(h.origin, "log.example/boundary");
  EXPECT_EQ(h.size, 5u);
  EXPECT_EQ(h.root, root(5));
  EXPECT_EQ(h.extensions, std::vector<std::string>{"ext"});

  auto [parsed_ok, parsed] = checkpoint_parse(text("test-log\n5\nAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=\nnote-ext\n"));
  ASSERT_EQ(parsed_ok.code, 0);
  const Head p = decode_head(parsed);
  EXPECT_EQ(p.origin, "test-log");
  EXPECT_EQ(p.size, 5u);
  EXPECT_EQ(p.root, Bytes(32, 0));
  EXPECT_EQ(p.extensions, std::vector<std::string>{"note-ext"});

  auto [bad, none] = checkpoint_parse(text("o\n00\nAAAA\n"));
  EXPECT_EQ(bad.code, 1);
  EXPECT_EQ(bad.message, "malformed checkpoint: tree size has a leading zero: \"00\"");
  EXPECT_TRUE(none.empty());

  auto [unsigned_note, none2] = checkpoint_verify(text(note(5)), key_list({NoteSigner::ed25519("x", 1).verifier_key()}));
  EXPECT_EQ(unsigned_note.code, 1);
  EXPECT_EQ(unsigned_note.message, "note has no verifiable signature from a trusted key");
  EXPECT_TRUE(none2.empty());
}

TEST_F(NoteBoundary, InclusionAndConsistency) {
  const auto proof = tree.inclusion_proof(3, 6);
  EXPECT_EQ(inclusion(text(note(6)), key_list(keys()), 3, bytes(leaf(3)), list(proof)).code, 0);
  const Outcome wrong = inclusion(text(note(6)), key_list(keys()), 2, bytes(leaf(3)), list(proof));
  EXPECT_EQ(wrong.code, 1);
  EXPECT_EQ(wrong.message, "root mismatch: recomputed root does not match the expected root");

  const auto cproof = tree.consistency_proof(4, 6);
  const Outcome ok = consistency(text(note(4)), text(note(6)), key_list(keys()), list(cproof));
  EXPECT_EQ(ok.code, 0) << ok.message;
  EXPECT_TRUE(ok.error_buf_zero);
  const Outcome swapped = consistency(text(note(6)), text(note(4)), key_list(keys()), list(cproof));
  EXPECT_EQ(swapped.code, 1);
  EXPECT_EQ(swapped.message, "tree size regression: size2 (4) < size1 (6)");
}

TEST_F(NoteBoundary, LiftingFailuresNameTheArgument) {
  // vkeys with junk after the list.
  Bytes junk_keys = Ser().string_list(keys()).out;
  junk_keys.push_back(0);
  auto [a, za] = verify_note(text(note(6)), lib.buffer(junk_keys));
  EXPECT_EQ(a.code, 2);
  EXPECT_EQ(a.message, "Failed to convert arg 'vkeys':\njunk data left in buffer after lifting (count: 1)");
  EXPECT_EQ(za, 0u);

  // leaf_hash truncated: named after the string arguments that lifted.
  const Outcome b = inclusion(text(note(6)), key_list(keys()), 3, lib.buffer(Bytes{0, 0, 0, 32, 1}),
                              list(tree.inclusion_proof(3, 6)));
  EXPECT_EQ(b.code, 2);
  EXPECT_EQ(b.message, "Failed to convert arg 'leaf_hash':\nnot enough bytes remaining in buffer (0 < 1)");

  // Two bad arguments: only the first in declaration order is named.
  const Outcome c = consistency(text(note(4)), text(note(6)), lib.buffer(Bytes{0, 0}), lib.buffer(Bytes{1}));
  EXPECT_EQ(c.code, 2);
  EXPECT_EQ(c.message.rfind("Failed to convert arg 'vkeys':\n", 0), 0u) << c.message;

  const Outcome d = consistency(text(note(4)), text(note(6)), key_list(keys()), lib.buffer(Bytes{0, 0, 0, 1}));
  EXPECT_EQ(d.code, 2);
  EXPECT_EQ(d.message.rfind("Failed to convert arg 'proof':\n", 0), 0u) << d.message;
}

}  // namespace
}  // namespace quenfold::test
