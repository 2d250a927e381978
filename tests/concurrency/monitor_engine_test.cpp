// The monitor command's engine over a session of many chunks, valid and
// rejected items mixed: on any number of threads it must give the answers
// of one thread, item for item. Built and run under ThreadSanitizer by
// scripts/run-tests (build-tsan), where the two passes, the barrier between
// them and the per-thread result blocks are checked for data races.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "monitor.h"
#include "quenfold/checkpoint_verifier.h"
#include "support/merkle_tree.h"
#include "support/notes.h"
#include "support/testdata.h"

namespace quenfold::test {
namespace {

namespace monitor = cli::monitor;

constexpr std::string_view kOrigin = "log.example.org/engine";

std::string hex_list(const std::vector<Hash>& hs) {
  std::string out = "[";
  for (std::size_t i = 0; i < hs.size(); ++i) out += (i ? ",\"" : "\"") + to_hex(hs[i]) + "\"";
  return out + "]";
}

std::string escaped(const std::string& note) {
  std::string out;
  for (const char c : note) out += c == '\n' ? std::string("\\n") : std::string(1, c);
  return out;
}

struct Session {
  NoteSigner log = NoteSigner::ed25519(std::string(kOrigin), 5);
  NoteSigner stranger = NoteSigner::ed25519(std::string(kOrigin), 6);
  MerkleTree tree;
  std::vector<std::string> lines;
  std::map<std::size_t, std::string> rejected;  // line number -> error
  std::size_t items = 0;

  void add(std::string line, std::string error = {}) {
    lines.push_back(std::move(line));
    ++items;
    if (!error.empty()) rejected[lines.size()] = std::move(error);
  }
  std::string checkpoint(std::uint64_t size, const NoteSigner& signer, const std::string& consistency) {
    const auto root = tree.root(size);
    const std::string note = signed_note(checkpoint_body(kOrigin, size, Bytes(root.begin(), root.end())), {&signer});
    return "{\"type\":\"checkpoint\",\"note\":\"" + escaped(note) + "\"" +
           (consistency.empty() ? "" : ",\"consistency\":" + consistency) + "}";
  }
  std::string inclusion(std::uint64_t index, std::uint64_t size, bool tamper) {
    auto proof = tree.inclusion_proof(index, size);
    if (tamper) proof.back()[0] ^= 1;
    return "{\"type\":\"inclusion\",\"index\":" + std::to_string(index) + ",\"leaf_hash\":\"" +
           to_hex(tree.leaf_hash(index)) + "\",\"proof\":" + hex_list(proof) + "}";
  }

  // Four checkpoints (64, 100, 140, 200 leaves), each with 60 inclusion
  // proofs after it. The third checkpoint's signature is not the log's: its
  // proofs are rejected, and so is the fourth checkpoint's link to it.
  // Tampered proofs, a bad line, an unknown type and blank lines are
  // scattered so that every chunk of 16 items holds a different mix.
  Session() {
    for (std::uint32_t i = 0; i < 200; ++i) tree.append(Bytes{static_cast<std::uint8_t>(i), 0x17});
    const std::vector<std::uint64_t> sizes = {64, 100, 140, 200};
    std::size_t previous_line = 0;
    for (std::size_t c = 0; c < sizes.size(); ++c) {
      const std::uint64_t size = sizes[c];
      const bool forged = c == 2;
      const std::string consistency = c == 0 ? "" : hex_list(tree.consistency_proof(sizes[c - 1], size));
      std::string error;
      if (forged) {
        error = "note has no verifiable signature from a trusted key";
      } else if (c == 3) {
        error = "the previous checkpoint (line " + std::to_string(previous_line) + ") did not verify";
      }
      add(checkpoint(size, forged ? stranger : log, consistency), error);
      const std::size_t checkpoint_line = lines.size();
      previous_line = checkpoint_line;
      for (std::uint64_t k = 0; k < 60; ++k) {
        const std::uint64_t index = (k * 37 + c) % size;
        const bool tamper = k % 23 == 5;
        std::string e;
        if (forged) {
          e = "its checkpoint (line " + std::to_string(checkpoint_line) + ") did not verify";
        } else if (tamper) {
          e = "root mismatch: recomputed root does not match the expected root";
        }
        add(inclusion(index, size, tamper), e);
        if (k == 30) lines.emplace_back("   ");
      }
      if (c == 1) add("{\"type\":\"witness\"}", "unknown type \"witness\"");
      if (c == 3) add("not json", "not a JSON object");
    }
  }
};

TEST(MonitorEngine, AnyThreadCountGivesTheAnswersOfOne) {
  const Session s;
  const std::vector<std::string> keys = {s.log.verifier_key()};
  const CheckpointVerifier verifier(std::string(kOrigin), *VerifierList::parse(std::span<const std::string>(keys)));

  std::string text;
  for (const auto& line : s.lines) text += line + "\n";
  // A last line without its line feed is still a line.
  text.pop_back();
  const monitor::Results one = monitor::run(text, verifier, 1);
  ASSERT_EQ(one.size(), s.items);
  std::map<std::size_t, std::string> rejected;
  for (const auto& r : one) {
    if (r.error) rejected[r.line] = *r.error;
    EXPECT_EQ(r.checkpoint.has_value(), r.type == monitor::ItemType::Checkpoint && !r.error) << "line " << r.line;
  }
  EXPECT_EQ(rejected, s.rejected);
  const monitor::Summary sum = monitor::summarize(one);
  EXPECT_EQ(sum.checkpoints, 4u);
  EXPECT_EQ(sum.inclusions, 240u);
  EXPECT_EQ(sum.rejected(), s.rejected.size());

  for (const unsigned threads : {2u, 3u, 8u}) {
    SCOPED_TRACE(threads);
    std::size_t progress_calls = 0;
    std::size_t last_done = 0;
    const monitor::Results many = monitor::run(text, verifier, threads, [&](std::size_t done, std::size_t total) {
      ++progress_calls;
      EXPECT_LE(done, total);
      EXPECT_EQ(total, 2 * s.items);
      last_done = done;
    });
    EXPECT_GE(progress_calls, 1u);
    EXPECT_EQ(last_done, 2 * s.items);
    ASSERT_EQ(many.size(), one.size());
    for (std::size_t i = 0; i < one.size(); ++i) {
      EXPECT_EQ(monitor::to_json_line(many[i]), monitor::to_json_line(one[i]));
      EXPECT_EQ(many[i].checkpoint.has_value(), one[i].checkpoint.has_value());
    }
  }
}

TEST(MonitorEngine, EmptyInput) {
  const Session s;
  const std::vector<std::string> keys = {s.log.verifier_key()};
  const CheckpointVerifier verifier(std::string(kOrigin), *VerifierList::parse(std::span<const std::string>(keys)));
  for (const unsigned threads : {1u, 4u}) {
    const auto r = monitor::run("\n  \r\n", verifier, threads);
    EXPECT_EQ(r.size(), 0u);
    EXPECT_EQ(r.begin(), r.end());
  }
}

}  // namespace
}  // namespace quenfold::test
