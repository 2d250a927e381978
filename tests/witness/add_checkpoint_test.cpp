// The witness's checks of a C2SP tlog-witness add-checkpoint request: one
// row per outcome, each with the stored state it starts from.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "quenfold/add_checkpoint.h"
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

constexpr std::string_view kOrigin = "log.example/witnessed";

struct Log {
  NoteSigner key = NoteSigner::ed25519(std::string(kOrigin), 1);
  MerkleTree tree;
  Log() {
    for (std::uint8_t i = 0; i < 11; ++i) tree.append(Bytes{'l', i});
  }
  std::string body(std::uint64_t size, std::string_view origin = kOrigin) const {
    const Hash r = tree.root(size);
    return test::checkpoint_body(origin, size, Bytes(r.begin(), r.end()));
  }
  std::string note(std::uint64_t size) const { return test::signed_note(body(size), {&key}); }
  WitnessState state(std::uint64_t size) const { return {size, tree.root(size)}; }
};

TEST(AddCheckpoint, EveryStatusWithItsReason) {
  const Log log;
  const CheckpointVerifier verifier(std::string(kOrigin), test::verifier_list({log.key.verifier_key()}));
  const NoteSigner stranger = NoteSigner::ed25519(std::string(kOrigin), 7);
  const NoteSigner other = NoteSigner::ed25519("log.example/other", 1);
  const Cosigner unknown_witness = Cosigner::generate("witness.example/elsewhere", 3);

  const Hash empty_root = log.tree.root(0);
  const std::string empty_body = test::checkpoint_body(kOrigin, 0, Bytes(empty_root.begin(), empty_root.end()));
  const Hash some_root = log.tree.root(3);
  const std::string bad_empty_body = test::checkpoint_body(kOrigin, 0, Bytes(some_root.begin(), some_root.end()));
  // The log signs a fork: size 11 with another root.
  Hash forked = log.tree.root(11);
  forked[0] ^= 1;
  const std::string fork_body = test::checkpoint_body(kOrigin, 11, Bytes(forked.begin(), forked.end()));
  // A line of the log's key whose signature does not verify.
  std::string bad_sig = log.note(11);
  char& flipped = bad_sig[bad_sig.size() - 10];
  flipped = flipped == 'A' ? 'B' : 'A';
  char key_id[9];
  std::snprintf(key_id, sizeof key_id, "%08x", log.key.key_id());

  const auto proof_5_11 = log.tree.consistency_proof(5, 11);
  auto bent = proof_5_11;
  bent[0][5] ^= 1;
  std::vector<Hash> sixty_four(64, Hash{});
  const std::string with_unknown_cosigner =
      log.note(11) + unknown_witness.cosignature_line(log.body(11), 1700000000);

  using S = AddCheckpointStatus;
  struct Case {
    const char* what;
    std::optional<WitnessState> stored;
    std::string request;
    S status;
    std::string reason;
  };
  const std::vector<Case> cases = {
      {"first checkpoint", std::nullopt, test::add_checkpoint_request(0, {}, log.note(5)), S::Ok,
       "cosign \"log.example/witnessed\" at size 5"},
      {"append", log.state(5), test::add_checkpoint_request(5, proof_5_11, log.note(11)), S::Ok,
       "cosign \"log.example/witnessed\" at size 11"},
      {"same checkpoint again", log.state(11), test::add_checkpoint_request(11, {}, log.note(11)), S::Ok,
       "cosign \"log.example/witnessed\" at size 11"},
      {"unknown cosignature ignored", log.state(5), test::add_checkpoint_request(5, proof_5_11, with_unknown_cosigner),
       S::Ok, "cosign \"log.example/witnessed\" at size 11"},
      {"empty tree", std::nullopt, test::add_checkpoint_request(0, {}, test::signed_note(empty_body, {&log.key})),
       S::Ok, "cosign \"log.example/witnessed\" at size 0"},
      {"no old line", std::nullopt, "new 0\n\n" + log.note(5), S::BadRequest,
       "malformed request: want \"old <decimal>\", got \"new 0\""},
      {"old with leading zero", std::nullopt, "old 05\n\n" + log.note(5), S::BadRequest,
       "malformed request: old size has a leading zero: \"05\""},
      {"bad proof line", log.state(5), "old 5\n%%%\n\n" + log.note(11), S::BadRequest,
       "malformed request: proof line 1 is not valid base64: \"%%%\""},
      {"64 proof lines", log.state(5), test::add_checkpoint_request(5, sixty_four, log.note(11)), S::BadRequest,
       "malformed request: more than 63 consistency proof lines"},
      {"no empty line", std::nullopt, "old 0\n", S::BadRequest,
       "malformed request: missing empty line before the checkpoint"},
      {"no checkpoint", std::nullopt, "old 0\n\n", S::BadRequest, "malformed request: missing checkpoint"},
      {"unknown origin", std::nullopt,
       test::add_checkpoint_request(0, {}, test::signed_note(log.body(5, "log.example/other"), {&other})),
       S::NotFound, "unknown origin \"log.example/other\""},
      {"no trusted signature", std::nullopt,
       test::add_checkpoint_request(0, {}, test::signed_note(log.body(5), {&stranger})), S::Forbidden,
       "note has no verifiable signature from a trusted key"},
      {"trusted key, bad signature", log.state(5), test::add_checkpoint_request(5, proof_5_11, bad_sig), S::Forbidden,
       "invalid signature for known key \"log.example/witnessed\" (key id " + std::string(key_id) + ")"},
      {"old above the checkpoint", log.state(5), test::add_checkpoint_request(6, {}, log.note(5)), S::BadRequest,
       "old size 6 is above the checkpoint size 5"},
      {"old behind the stored size", log.state(5), test::add_checkpoint_request(3, {}, log.note(11)), S::Conflict,
       "old size 3 is not the stored size 5"},
      {"nothing stored", std::nullopt, test::add_checkpoint_request(5, proof_5_11, log.note(11)), S::Conflict,
       "old size 5 is not the stored size 0"},
      {"size 0 with another root", std::nullopt,
       test::add_checkpoint_request(0, {}, test::signed_note(bad_empty_body, {&log.key})), S::UnprocessableEntity,
       "a checkpoint of size 0 must have the empty tree's root"},
      {"proof from size 0", std::nullopt, test::add_checkpoint_request(0, proof_5_11, log.note(11)),
       S::UnprocessableEntity, "a consistency proof from size 0 must be empty"},
      {"proof does not verify", log.state(5), test::add_checkpoint_request(5, bent, log.note(11)),
       S::UnprocessableEntity, "root mismatch: recomputed root does not match the expected root"},
      {"equal sizes, another root", log.state(11),
       test::add_checkpoint_request(11, {}, test::signed_note(fork_body, {&log.key})), S::UnprocessableEntity,
       "root mismatch: recomputed root does not match the expected root"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const AddCheckpointResult r = check_add_checkpoint(c.stored, verifier, c.request);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.http_status(), static_cast<int>(c.status));
    EXPECT_EQ(r.reason, c.reason);
    EXPECT_EQ(r.previous, c.stored);
    EXPECT_EQ(r.conflict_body(),
              c.status == S::Conflict ? std::to_string(c.stored ? c.stored->size : 0) + "\n" : std::string());
    if (c.status == S::Ok) {
      ASSERT_TRUE(r.next.has_value());
      ASSERT_TRUE(r.checkpoint.has_value());
      EXPECT_EQ(r.next->size, r.checkpoint->head.size);
      EXPECT_TRUE(std::equal(r.next->root.begin(), r.next->root.end(), r.checkpoint->head.root.begin(),
                             r.checkpoint->head.root.end()));
      EXPECT_TRUE(r.checkpoint->cosigners.empty());
      // The message a witness signs is the one a cosignature line is
      // verified against.
      const Cosigner me = Cosigner::generate("witness.example/me", 5);
      EXPECT_EQ(r.cosignature_v1_message(1700000123),
                "cosignature/v1\ntime 1700000123\n" + r.checkpoint_body);
      EXPECT_EQ(r.cosignature_v1_message(0), "");
      EXPECT_EQ(r.cosignature_v1_message(std::uint64_t{1} << 63), "");
      const std::string note = c.request.substr(c.request.find("\n\n") + 2);
      const std::string cosigned = note + me.cosignature_line(r.checkpoint_body, 1700000123);
      const CheckpointVerifier with_me(std::string(kOrigin),
                                       test::verifier_list({log.key.verifier_key(), me.verifier_key()}));
      const auto opened = with_me.verify(cosigned);
      ASSERT_TRUE(opened.has_value()) << opened.error().message();
      ASSERT_EQ(opened->cosigners.size(), 1u);
      EXPECT_EQ(opened->cosigners[0].name, me.name());
    } else {
      EXPECT_FALSE(r.next.has_value());
      EXPECT_FALSE(r.checkpoint.has_value());
      EXPECT_TRUE(r.cosignature_v1_message(1).empty());
    }
  }
  EXPECT_EQ(check_add_checkpoint(std::nullopt, verifier, log.note(5) + "tail").status, S::BadRequest);
}

// Two requests computed from the same stored state: once one is stored, the
// other's `previous` no longer matches, so a compare-and-swap refuses the
// rollback; recomputed against the new state, it is a 409.
TEST(AddCheckpoint, RacingRequestsCannotRollBack) {
  const Log log;
  const CheckpointVerifier verifier(std::string(kOrigin), test::verifier_list({log.key.verifier_key()}));
  std::optional<WitnessState> stored = log.state(3);
  const auto a = check_add_checkpoint(stored, verifier,
                                      test::add_checkpoint_request(3, log.tree.consistency_proof(3, 5), log.note(5)));
  const auto b = check_add_checkpoint(stored, verifier,
                                      test::add_checkpoint_request(3, log.tree.consistency_proof(3, 11), log.note(11)));
  ASSERT_EQ(a.status, AddCheckpointStatus::Ok);
  ASSERT_EQ(b.status, AddCheckpointStatus::Ok);
  auto compare_and_swap = [&stored](const AddCheckpointResult& r) {
    if (stored != r.previous) return false;
    stored = r.next;
    return true;
  };
  EXPECT_TRUE(compare_and_swap(b));
  EXPECT_FALSE(compare_and_swap(a));
  EXPECT_EQ(stored, log.state(11));
  const auto again = check_add_checkpoint(stored, verifier,
                                          test::add_checkpoint_request(3, log.tree.consistency_proof(3, 5), log.note(5)));
  EXPECT_EQ(again.status, AddCheckpointStatus::Conflict);
  EXPECT_EQ(again.conflict_body(), "11\n");
}

// Under a policy the log's keys are those named as the origin, and the
// request's cosignatures are never checked, not even a known witness's
// broken one: a witness answers for the log's signature alone.
TEST(AddCheckpoint, PolicyVerifierChecksOnlyTheLogSignature) {
  const Log log;
  const Cosigner w = Cosigner::generate("witness.example/known", 4);
  auto policy = WitnessPolicy::threshold(test::verifier_list({log.key.verifier_key()}),
                                         test::verifier_list({w.verifier_key()}), 1);
  ASSERT_TRUE(policy.has_value()) << policy.error().message();
  const CheckpointVerifier verifier(std::string(kOrigin), *policy);
  // A cosignature over another body: it does not verify for this note.
  const std::string broken = log.note(5) + w.cosignature_line(log.body(4), 1700000000);
  ASSERT_FALSE(verifier.verify(broken).has_value());
  const auto r = check_add_checkpoint(std::nullopt, verifier, test::add_checkpoint_request(0, {}, broken));
  EXPECT_EQ(r.status, AddCheckpointStatus::Ok) << r.reason;
  EXPECT_EQ(r.next, log.state(5));
  const NoteSigner renamed = NoteSigner::ed25519("log.example/renamed", 1);
  const auto by_renamed = check_add_checkpoint(
      std::nullopt, verifier, test::add_checkpoint_request(0, {}, test::signed_note(log.body(5), {&renamed})));
  EXPECT_EQ(by_renamed.status, AddCheckpointStatus::Forbidden);
  EXPECT_EQ(by_renamed.reason, "note has no verifiable signature from a trusted key");
}

}  // namespace
}  // namespace quenfold
