// Witness policies in the C2SP tlog-policy format: what they accept as a
// policy, and which sets of cosignatures meet their quorum.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "quenfold/checkpoint_verifier.h"
#include "quenfold/witness.h"
#include "support/notes.h"
#include "support/witness.h"

namespace quenfold {
namespace {

using test::Bytes;
using test::Cosigner;
using test::NoteSigner;

struct Fixture {
  NoteSigner log = NoteSigner::ed25519("log.example/a", 11);
  std::vector<Cosigner> w;  // X1 X2 X3 Y1 Y2 Y3
  Fixture() {
    for (std::uint64_t i = 0; i < 6; ++i)
      w.push_back(Cosigner::generate("witness.example/" + std::to_string(i), 100 + i));
  }
  // The layered example of the C2SP text: 2 of the X witnesses and 1 of
  // the Y witnesses.
  std::string example_policy() const {
    return "# two organisations\n"
           "log " + log.verifier_key() + " https://log.example/\n\n"
           "witness X1 " + w[0].verifier_key() + "\n"
           "\twitness X2 " + w[1].verifier_key() + "  \n"
           "witness X3 " + w[2].verifier_key() + " https://x3.example/\n"
           "group X-witnesses 2 X1 X2 X3\n"
           "  # indented comment\n"
           "witness Y1 " + w[3].verifier_key() + "\n"
           "witness Y2 " + w[4].verifier_key() + "\n"
           "witness Y3 " + w[5].verifier_key() + "\n"
           "group Y-witnesses any Y1 Y2 Y3\n"
           "group X-and-Y all X-witnesses Y-witnesses\n"
           "quorum X-and-Y\n";
  }
  std::string note(const std::vector<std::size_t>& cosigners, const std::string& body = "log.example/a\n9\n" +
                                                                                         test::base64_of(Bytes(32, 1)) +
                                                                                         "\n") const {
    std::string text = test::signed_note(body, {&log});
    for (const std::size_t i : cosigners) text += w[i].cosignature_line(body, 1000 + i);
    return text;
  }
};

TEST(WitnessPolicy, QuorumOfNestedGroups) {
  const Fixture f;
  const auto policy = WitnessPolicy::parse(f.example_policy());
  ASSERT_TRUE(policy.has_value()) << policy.error().message();
  struct Case {
    std::vector<std::size_t> cosigners;
    bool meets;
  };
  const std::vector<Case> cases = {
      {{0, 1, 3}, true},        {{2, 0, 5}, true},  {{0, 1, 2, 3, 4, 5}, true}, {{0, 3}, false},
      {{0, 1}, false},          {{3, 4, 5}, false}, {{}, false},                {{0, 0, 3}, false},
      {{1, 2, 4, 5}, true},
  };
  for (const auto& c : cases) {
    std::string what = "cosigners";
    for (const auto i : c.cosigners) what += " " + std::to_string(i);
    const auto r = policy->open(f.note(c.cosigners));
    ASSERT_EQ(r.has_value(), c.meets) << what << (r ? "" : ": " + r.error().message());
    if (r) {
      // Each witness once, in line order, with its own timestamp.
      ASSERT_EQ(r->cosigners.size(), c.cosigners.size()) << what;
      for (std::size_t k = 0; k < c.cosigners.size(); ++k) {
        EXPECT_EQ(r->cosigners[k].name, f.w[c.cosigners[k]].name()) << what;
        EXPECT_EQ(r->cosigners[k].timestamp_seconds, 1000 + c.cosigners[k]) << what;
      }
      ASSERT_EQ(r->log_signers.size(), 1u);
      EXPECT_EQ(r->log_signers[0].name, f.log.name());
    } else {
      EXPECT_EQ(r.error().kind(), ErrorKind::WitnessQuorumNotMet) << what;
    }
  }
  const auto twice = policy->open(f.note({0, 0, 3}));
  EXPECT_EQ(twice.error().message(),
            "witness quorum not met: 2 valid cosignatures (\"witness.example/0\", \"witness.example/3\")");
}

TEST(WitnessPolicy, LogSignatureRules) {
  const Fixture f;
  const NoteSigner other = NoteSigner::ed25519("other.example", 12);
  const std::string body = "log.example/a\n9\n" + test::base64_of(Bytes(32, 1)) + "\n";
  const auto policy = WitnessPolicy::parse("log " + f.log.verifier_key() + "\nwitness A " + f.w[0].verifier_key() +
                                           "\nquorum A\n");
  ASSERT_TRUE(policy.has_value()) << policy.error().message();
  std::string bad_log = test::signed_note(body, {&f.log});
  bad_log[bad_log.size() - 3] = bad_log[bad_log.size() - 3] == 'A' ? 'B' : 'A';
  bad_log += f.w[0].cosignature_line(body, 1);
  // A known witness whose cosignature does not verify rejects the note, as
  // any known key's bad line does: a broken witness must be seen.
  std::string bad_cosig = test::signed_note(body, {&f.log}) + f.w[0].cosignature_line(body, 1);
  bad_cosig[bad_cosig.size() - 3] = bad_cosig[bad_cosig.size() - 3] == 'A' ? 'B' : 'A';
  struct Case {
    const char* what;
    std::string note;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"signed by another log", test::signed_note(body, {&other}) + f.w[0].cosignature_line(body, 1),
       "note has no verifiable signature from a trusted key"},
      {"witness alone", "x\n\n" + f.w[0].cosignature_line("x\n", 1),
       "note has no verifiable signature from a trusted key"},
      {"bad log signature", bad_log,
       "invalid signature for known key \"log.example/a\" (key id " + f.log.verifier_key().substr(14, 8) + ")"},
      {"bad cosignature", bad_cosig,
       "invalid signature for known key \"witness.example/0\" (key id " + f.w[0].verifier_key().substr(18, 8) + ")"},
  };
  for (const auto& c : cases) {
    const auto r = policy->open(c.note);
    ASSERT_FALSE(r.has_value()) << c.what;
    EXPECT_EQ(r.error().message(), c.message) << c.what;
  }
}

TEST(WitnessPolicy, ParseFailuresNameTheLine) {
  const Fixture f;
  const std::string L = "log " + f.log.verifier_key() + "\n";
  const std::string W0 = "witness A " + f.w[0].verifier_key() + "\n";
  const std::string W1 = "witness B " + f.w[1].verifier_key() + "\n";
  struct Case {
    const char* what;
    std::string text;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"no quorum", L + W0, "malformed witness policy: missing quorum line"},
      {"two quorums", L + W0 + "quorum A\nquorum A\n", "malformed witness policy: line 4: second quorum line"},
      {"nothing verified", "quorum none\n",
       "malformed witness policy: no log and quorum none: the policy verifies nothing"},
      {"unknown keyword", L + "witnes A x\n", "malformed witness policy: line 2: unknown keyword \"witnes\""},
      {"carriage return", L + W0 + "quorum A\r\n", "malformed witness policy: line 3: forbidden control character"},
      {"forward reference", L + "quorum A\n" + W0, "malformed witness policy: line 2: unknown witness or group \"A\""},
      {"group before member", L + "group G any A\n" + W0 + "quorum G\n",
       "malformed witness policy: line 2: unknown witness or group \"A\""},
      {"name defined twice", L + W0 + "witness A " + f.w[1].verifier_key() + "\nquorum A\n",
       "malformed witness policy: line 3: name \"A\" defined twice"},
      {"duplicate witness key", L + W0 + "witness B " + f.w[0].verifier_key() + "\nquorum A\n",
       "malformed witness policy: line 3: duplicate witness key \"witness.example/0\""},
      {"duplicate log key", L + L + W0 + "quorum A\n",
       "malformed witness policy: line 2: duplicate log key \"log.example/a\""},
      {"reserved name", L + "witness none " + f.w[0].verifier_key() + "\nquorum none\n",
       "malformed witness policy: line 2: the name \"none\" is reserved"},
      {"none as member", L + W0 + "group G any A none\nquorum G\n",
       "malformed witness policy: line 3: unknown witness or group \"none\""},
      {"member twice", L + W0 + W1 + "group G 1 A B A\nquorum G\n",
       "malformed witness policy: line 4: group \"G\" lists \"A\" twice"},
      {"threshold above n", L + W0 + W1 + "group G 3 A B\nquorum G\n",
       "malformed witness policy: line 4: group threshold \"3\" is not all, any or a number from 1 to 2"},
      {"threshold zero", L + W0 + W1 + "group G 0 A B\nquorum G\n",
       "malformed witness policy: line 4: group threshold \"0\" is not all, any or a number from 1 to 2"},
      {"threshold with leading zero", L + W0 + W1 + "group G 01 A B\nquorum G\n",
       "malformed witness policy: line 4: group threshold \"01\" is not all, any or a number from 1 to 2"},
      {"group without members", L + W0 + "group G all\nquorum A\n",
       "malformed witness policy: line 3: want: group <name> all|any|<k> <name>..."},
      {"witness with a log key", L + "witness A " + f.log.verifier_key() + "\nquorum A\n",
       "malformed witness policy: line 2: witness key \"log.example/a\" is not a cosignature/v1 or subtree/v1 key "
       "(type 0x04 or 0x06)"},
      {"log with a witness key", "log " + f.w[0].verifier_key() + "\nquorum none\n",
       "malformed witness policy: line 1: log key \"witness.example/0\" is a cosignature/v1 key, not a "
       "note-signing key"},
      {"bad key", L + "witness A " + test::verifier_key_text("w", 0, f.w[0].key_data()) + "\nquorum A\n",
       "malformed witness policy: line 2: verifier key id mismatch: declared 00000000, computed " +
           test::verifier_key_text("w", f.w[0].key_data()).substr(2, 8)},
      {"too many items", "log " + f.log.verifier_key() + " url extra\nquorum none\n",
       "malformed witness policy: line 1: want: log <vkey> [<url>]"},
      // One cosignature must not count in two groups: "all of g1 and g2"
      // would hold with one witness fewer than it names.
      {"member of two groups", L + W0 + W1 + "group g1 any A B\ngroup g2 any A\ngroup q all g1 g2\nquorum q\n",
       "malformed witness policy: line 5: \"A\" is already a member of group \"g1\""},
      {"group member of two groups", L + W0 + W1 + "group g1 any A\ngroup g2 all g1 B\ngroup g3 any g1\nquorum g3\n",
       "malformed witness policy: line 6: \"g1\" is already a member of group \"g2\""},
  };
  for (const auto& c : cases) {
    const auto r = WitnessPolicy::parse(c.text);
    ASSERT_FALSE(r.has_value()) << c.what;
    EXPECT_EQ(r.error().message(), c.message) << c.what;
  }
}

TEST(WitnessPolicy, ThresholdForm) {
  const Fixture f;
  std::vector<std::string> wk;
  for (int i = 0; i < 3; ++i) wk.push_back(f.w[static_cast<std::size_t>(i)].verifier_key());
  const std::vector<std::string> lk = {f.log.verifier_key()};
  const auto logs = VerifierList::parse(std::span<const std::string>(lk));
  const auto witnesses = VerifierList::parse(std::span<const std::string>(wk));
  ASSERT_TRUE(logs && witnesses);
  const auto two = WitnessPolicy::threshold(*logs, *witnesses, 2);
  ASSERT_TRUE(two.has_value()) << two.error().message();
  EXPECT_TRUE(two->open(f.note({2, 0})).has_value());
  EXPECT_FALSE(two->open(f.note({1})).has_value());
  const auto none = WitnessPolicy::threshold(*logs, *witnesses, 0);
  ASSERT_TRUE(none.has_value());
  EXPECT_TRUE(none->open(f.note({})).has_value());
  EXPECT_EQ(WitnessPolicy::threshold(*logs, *witnesses, 4).error().message(),
            "malformed witness policy: threshold 4 exceeds the 3 witnesses");
  EXPECT_EQ(WitnessPolicy::threshold(*witnesses, *witnesses, 1).error().kind(), ErrorKind::MalformedWitnessPolicy);
  EXPECT_EQ(WitnessPolicy::threshold(*logs, *logs, 1).error().kind(), ErrorKind::MalformedWitnessPolicy);
}

}  // namespace
}  // namespace quenfold

namespace quenfold {
namespace {

// tlog-policy binds a log key to the origin its name spells, and the
// caller may bind further keys to an origin by giving them beside the
// policy. Every row: who signed, under which verifier, and the outcome.
TEST(WitnessPolicy, LogKeysSignOnlyForTheirOrigin) {
  const Fixture f;
  const NoteSigner log_b = NoteSigner::ed25519("log.example/b", 13);
  const NoteSigner renamed = NoteSigner::ed25519("sum.example", 14);  // signs origin log.example/a
  const std::string a_body = "log.example/a\n9\n" + test::base64_of(Bytes(32, 1)) + "\n";
  const std::string W = "witness A " + f.w[0].verifier_key() + "\n";
  const auto two_logs =
      WitnessPolicy::parse("log " + f.log.verifier_key() + "\nlog " + log_b.verifier_key() + "\n" + W + "quorum A\n");
  const auto witnesses_only = WitnessPolicy::parse(W + "quorum A\n");
  ASSERT_TRUE(two_logs && witnesses_only);
  const std::vector<std::string> renamed_key = {renamed.verifier_key()};
  const auto explicit_keys = VerifierList::parse(std::span<const std::string>(renamed_key));
  ASSERT_TRUE(explicit_keys);
  const auto cosigned = [&](const NoteSigner& by) {
    return test::signed_note(a_body, {&by}) + f.w[0].cosignature_line(a_body, 7);
  };
  const CheckpointVerifier by_policy("log.example/a", *two_logs);
  const CheckpointVerifier by_witnesses("log.example/a", *witnesses_only);
  const CheckpointVerifier by_keys_and_policy("log.example/a", *explicit_keys, *witnesses_only);
  struct Case {
    const char* what;
    const CheckpointVerifier* verifier;
    std::string note;
    std::optional<ErrorKind> error;
    std::string signer;
  };
  const std::vector<Case> cases = {
      {"the origin's own log", &by_policy, cosigned(f.log), std::nullopt, "log.example/a"},
      {"another listed log", &by_policy, cosigned(log_b), ErrorKind::NoTrustedSignature, ""},
      {"witnesses without a log", &by_witnesses, cosigned(f.log), ErrorKind::NoTrustedSignature, ""},
      {"a key bound beside the policy", &by_keys_and_policy, cosigned(renamed), std::nullopt, "sum.example"},
      {"bound key, no cosignature", &by_keys_and_policy, test::signed_note(a_body, {&renamed}),
       ErrorKind::WitnessQuorumNotMet, ""},
  };
  for (const auto& c : cases) {
    const auto r = c.verifier->verify(c.note);
    if (c.error) {
      ASSERT_FALSE(r.has_value()) << c.what;
      EXPECT_EQ(r.error().kind(), *c.error) << c.what << ": " << r.error().message();
      continue;
    }
    ASSERT_TRUE(r.has_value()) << c.what << ": " << r.error().message();
    ASSERT_EQ(r->log_signers.size(), 1u) << c.what;
    EXPECT_EQ(r->log_signers[0].name, c.signer) << c.what;
    ASSERT_EQ(r->cosigners.size(), 1u) << c.what;
  }
  EXPECT_EQ(by_policy.log_keys().size(), 1u);
  EXPECT_TRUE(by_witnesses.log_keys().empty());
  // The policy's own log key given beside it again is one key, not two.
  const std::vector<std::string> own_key = {f.log.verifier_key()};
  const CheckpointVerifier twice("log.example/a", *VerifierList::parse(std::span<const std::string>(own_key)),
                                 *two_logs);
  EXPECT_EQ(twice.log_keys().size(), 1u);
  ASSERT_TRUE(twice.verify(cosigned(f.log)).has_value());
  EXPECT_EQ(twice.verify(cosigned(f.log))->log_signers.size(), 1u);
  // The policy on its own binds by name: log B cannot sign for log A.
  EXPECT_EQ(two_logs->open(cosigned(log_b)).error().kind(), ErrorKind::NoTrustedSignature);
  ASSERT_TRUE(two_logs->open(cosigned(f.log)).has_value());
  EXPECT_EQ(two_logs->open(cosigned(f.log))->log_signers.at(0).name, "log.example/a");
}

// What makes a note the log's own statement is its signature: a note the
// witnesses did not cosign, or cosigned badly, is still the log's, which is
// what lets a monitor call two such notes a fork.
TEST(WitnessPolicy, LogSignatureAloneIgnoresTheQuorum) {
  const Fixture f;
  const auto policy = WitnessPolicy::parse(f.example_policy());
  ASSERT_TRUE(policy.has_value());
  const CheckpointVerifier verifier("log.example/a", *policy);
  const std::string body = "log.example/a\n9\n" + test::base64_of(Bytes(32, 1)) + "\n";
  std::string bad_cosig = f.note({0}, body);
  bad_cosig[bad_cosig.size() - 3] = bad_cosig[bad_cosig.size() - 3] == 'A' ? 'B' : 'A';
  for (const std::string& note : {f.note({}, body), bad_cosig}) {
    EXPECT_FALSE(verifier.verify(note).has_value());
    const auto own = verifier.verify_log_signature(note);
    ASSERT_TRUE(own.has_value()) << own.error().message();
    EXPECT_EQ(own->head.size, 9u);
    EXPECT_TRUE(own->cosigners.empty());
  }
  const NoteSigner other = NoteSigner::ed25519("log.example/a", 99);  // same name, another key
  EXPECT_EQ(verifier.verify_log_signature(test::signed_note(body, {&other})).error().kind(),
            ErrorKind::NoTrustedSignature);
}

}  // namespace
}  // namespace quenfold
