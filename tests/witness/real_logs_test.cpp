// Checkpoints published by real logs and cosigned by real witnesses: they
// verify with the right witnesses named, and any one-byte change to a
// cosignature line drops that witness.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "quenfold/checkpoint_verifier.h"
#include "quenfold/witness.h"
#include "support/testdata.h"
#include "support/witness.h"

namespace quenfold {
namespace {

using nlohmann::json;

const json& real() {
  static const json doc =
      json::parse(test::read_file(test::testdata_path("real-logs/transparency_dev_witnessing.json")));
  return doc;
}

std::string cosigner_key(const std::string& name) {
  return real().at("cosigners").at(name).at("cosignature_v1_vkey").get<std::string>();
}

// The witness names and timestamps as the note's own lines carry them:
// "— <name> base64(key id || u64 timestamp || signature)".
struct Line {
  std::string name;
  std::uint64_t timestamp;
};
std::vector<Line> cosignature_lines(const std::string& note) {
  std::vector<Line> out;
  const std::string prefix = "\xE2\x80\x94 ";
  std::size_t pos = note.find("\n\n") + 2;
  while (pos < note.size()) {
    const std::size_t end = note.find('\n', pos);
    const std::string line = note.substr(pos + prefix.size(), end - pos - prefix.size());
    const std::size_t space = line.find(' ');
    const std::string name = line.substr(0, space);
    if (real().at("cosigners").contains(name)) {
      const auto blob = test::from_base64(line.substr(space + 1));
      std::uint64_t t = 0;
      for (std::size_t i = 4; i < 12; ++i) t = (t << 8) | blob.at(i);
      out.push_back({name, t});
    }
    pos = end + 1;
  }
  return out;
}

struct RealCase {
  const char* log;
  std::vector<std::string> witnesses;
  bool log_key_usable;  // the Pixel log signs with ECDSA, which notes here do not support
};

const std::vector<RealCase>& real_cases() {
  static const std::vector<RealCase> cases = {
      {"aw_ci3", {"ArmoredWitness-weathered-rain", "ArmoredWitness-floral-sky"}, true},
      {"pixel", {"ArmoredWitness-small-breeze", "ArmoredWitness-autumn-wood"}, false},
  };
  return cases;
}

// `quorum` of the log's two witnesses. The log's key is not a policy line:
// its name is not the log's origin, so the caller ties it to the origin.
WitnessPolicy policy_for(const RealCase& c, const std::string& quorum) {
  std::string text;
  for (std::size_t i = 0; i < c.witnesses.size(); ++i)
    text += "witness w" + std::to_string(i) + " " + cosigner_key(c.witnesses[i]) + "\n";
  text += "group both " + quorum + " w0 w1\nquorum both\n";
  auto p = WitnessPolicy::parse(text);
  if (!p) throw std::runtime_error(p.error().message());
  return *p;
}

std::string origin_of(const std::string& note) { return note.substr(0, note.find('\n')); }

VerifierList log_key_of(const RealCase& c) {
  const std::string key = real().at(c.log).at("key");
  auto list = VerifierList::parse(std::span<const std::string>(&key, 1));
  if (!list) throw std::runtime_error(list.error().message());
  return *list;
}

TEST(RealWitnesses, CosignedCheckpointsVerifyWithTheirWitnessesNamed) {
  for (const auto& c : real_cases()) {
    const std::string note = real().at(c.log).at("note");
    const std::string origin = origin_of(note);
    // The policy alone checks the cosignatures and leaves the log to us.
    const auto opened = policy_for(c, "all").open(note);
    ASSERT_TRUE(opened.has_value()) << c.log << ": " << opened.error().message();
    const auto lines = cosignature_lines(note);
    ASSERT_EQ(lines.size(), 2u) << c.log;
    ASSERT_EQ(opened->cosigners.size(), 2u) << c.log;
    for (std::size_t i = 0; i < 2; ++i) {
      EXPECT_EQ(opened->cosigners[i].name, lines[i].name) << c.log;
      EXPECT_EQ(opened->cosigners[i].timestamp_seconds, lines[i].timestamp) << c.log;
      EXPECT_EQ(opened->cosigners[i].type, KeyType::CosignatureV1) << c.log;
    }
    EXPECT_TRUE(opened->log_signers.empty()) << c.log;
    // Bound to the origin, the witnesses never stand in for the log.
    const CheckpointVerifier witnesses_only(origin, policy_for(c, "all"));
    EXPECT_TRUE(witnesses_only.log_keys().empty()) << c.log;
    EXPECT_EQ(witnesses_only.verify(note).error().kind(), ErrorKind::NoTrustedSignature) << c.log;
    if (!c.log_key_usable) continue;
    const CheckpointVerifier verifier(origin, log_key_of(c), policy_for(c, "all"));
    const auto r = verifier.verify(note);
    ASSERT_TRUE(r.has_value()) << c.log << ": " << r.error().message();
    EXPECT_EQ(r->head.size, real().at(c.log).at("size").get<std::uint64_t>()) << c.log;
    EXPECT_EQ(r->cosigners, opened->cosigners) << c.log;
    ASSERT_EQ(r->log_signers.size(), 1u) << c.log;
    EXPECT_NE(r->log_signers[0].name, origin) << c.log;
    // As a policy line, the same key is bound to its name, which is not
    // this origin: it signs for nothing here.
    const auto as_line = WitnessPolicy::parse("log " + real().at(c.log).at("key").get<std::string>() + "\n" +
                                              "witness w0 " + cosigner_key(c.witnesses[0]) + "\nquorum w0\n");
    ASSERT_TRUE(as_line.has_value()) << as_line.error().message();
    EXPECT_EQ(as_line->open(note).error().kind(), ErrorKind::NoTrustedSignature) << c.log;
    // Bound to its origin: the same note under another origin is refused.
    const CheckpointVerifier elsewhere("example.com/other", log_key_of(c), policy_for(c, "all"));
    EXPECT_EQ(elsewhere.verify(note).error().kind(), ErrorKind::OriginMismatch) << c.log;
  }
  // Why the Pixel log's own key is left out: its key id follows another rule.
  const std::string pixel_key = real().at("pixel").at("key");
  const auto list = VerifierList::parse(std::span<const std::string>(&pixel_key, 1));
  ASSERT_FALSE(list.has_value());
  const std::string want = real().at("pixel").at("key_error");
  EXPECT_EQ(list.error().message(),
            "verifier key 1 \"pixel_transparency_log\": " + want.substr(want.find("verifier key id")));
}

// A changed byte in a cosignature line either breaks the line's syntax,
// moves it to a key nobody listed (the witness drops out), or leaves it a
// line of the same witness that no longer verifies, which rejects the
// whole note naming the witness.
TEST(RealWitnesses, EveryOneByteChangeToACosignatureLineIsSeen) {
  for (const auto& c : real_cases()) {
    const std::string note = real().at(c.log).at("note");
    // One witness suffices, so a dropped witness leaves the other.
    const WitnessPolicy policy = policy_for(c, "any");
    ASSERT_TRUE(policy.open(note).has_value()) << c.log;
    int dropped = 0, malformed = 0, invalid = 0;
    for (std::size_t w = 0; w < 2; ++w) {
      const std::string& name = c.witnesses[w];
      const std::size_t begin = note.find("\xE2\x80\x94 " + name + " ");
      const std::size_t end = note.find('\n', begin) + 1;
      ASSERT_NE(begin, std::string::npos);
      for (std::size_t pos = begin; pos < end; ++pos) {
        const char original = note[pos];
        const char replacements[] = {static_cast<char>(original ^ 0x01), original == 'A' ? 'B' : 'A'};
        for (const char r : replacements) {
          std::string mutated = note;
          mutated[pos] = r;
          const auto v = policy.open(mutated);
          if (!v && v.error().kind() == ErrorKind::InvalidSignature) {
            EXPECT_NE(v.error().message().find("\"" + name + "\""), std::string::npos)
                << c.log << " byte " << pos << ": " << v.error().message();
            ++invalid;
            continue;
          }
          if (!v) {
            EXPECT_EQ(v.error().kind(), ErrorKind::MalformedSignedNote)
                << c.log << " byte " << pos << ": " << v.error().message();
            ++malformed;
            continue;
          }
          ASSERT_EQ(v->cosigners.size(), 1u) << c.log << " byte " << pos;
          EXPECT_EQ(v->cosigners[0].name, c.witnesses[1 - w]) << c.log << " byte " << pos;
          ++dropped;
        }
      }
    }
    EXPECT_GT(invalid, 100) << c.log;
    EXPECT_GT(dropped, 0) << c.log;
    EXPECT_GT(malformed, 0) << c.log;
  }
}

TEST(RealLogs, MonkeysConsistencyChain) {
  const json& m = real().at("monkeys");
  const std::string key = m.at("key");
  const auto keys = VerifierList::parse(std::span<const std::string>(&key, 1));
  ASSERT_TRUE(keys.has_value()) << keys.error().message();
  const CheckpointVerifier verifier("monkeys", *keys);
  std::vector<test::Bytes> proof;
  for (const auto& h : m.at("consistency_proof_hex")) proof.push_back(test::from_hex(h.get<std::string>()));
  std::vector<ByteView> proof_views(proof.begin(), proof.end());
  const std::string older = m.at("older"), newer = m.at("newer");
  const std::vector<std::string_view> notes = {older, newer};
  const std::vector<std::span<const ByteView>> proofs = {proof_views};
  const auto chain = verifier.verify_chain(notes, proofs);
  ASSERT_TRUE(chain.has_value()) << chain.error().message();
  ASSERT_EQ(chain->size(), 2u);
  EXPECT_EQ((*chain)[0].head.size, 5u);
  EXPECT_EQ((*chain)[1].head.size, 8u);
  EXPECT_EQ((*chain)[1].log_signers.at(0).name, "monkeys");

  proof[2][0] ^= 0x01;
  const auto broken = verifier.verify_chain(notes, proofs);
  ASSERT_FALSE(broken.has_value());
  EXPECT_EQ(broken.error().message(),
            "checkpoint chain broken between checkpoints 1 and 2: root mismatch: recomputed root does not match the "
            "expected root");
  const CheckpointVerifier wrong_origin("monkeys2", *keys);
  EXPECT_EQ(wrong_origin.verify(older).error().message(),
            "checkpoint origin mismatch: got \"monkeys\", want \"monkeys2\"");
}

}  // namespace
}  // namespace quenfold
