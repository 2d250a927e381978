// The key types today's logs and witnesses sign checkpoints with, beyond
// the note-signing keys of the C ABI: RFC 6962 tree head signatures (C2SP
// static-ct-api, type 0x05) and ML-DSA-44 subtree/v1 signatures (C2SP
// tlog-cosignature, type 0x06). Real checkpoints catch what builders of our
// own cannot (a wrong label, context or key id rule); builders cover the
// rules one at a time.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "quenfold/checkpoint.h"
#include "quenfold/checkpoint_verifier.h"
#include "quenfold/note.h"
#include "quenfold/witness.h"
#include "support/testdata.h"
#include "support/witness.h"

namespace quenfold {
namespace {

using nlohmann::json;
using test::Bytes;

std::string tiles(const std::string& relative) {
  return test::read_file(test::testdata_path("real-logs/tiles/" + relative));
}
const json& skylight() {
  static const json doc = json::parse(tiles("sunlight-skylight/SOURCE.json"));
  return doc;
}
std::string trimmed(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  return s;
}
std::string origin_of(const std::string& note) { return note.substr(0, note.find('\n')); }
// The note with one byte of its first signature's blob changed.
std::string with_changed_signature(std::string note, std::size_t from_end) {
  const std::size_t at = note.find('\n', note.find("\n\n") + 2) - from_end;
  note[at] = note[at] == 'A' ? 'B' : 'A';
  return note;
}

TEST(RealSignatureTypes, MlDsa44LogCheckpoint) {
  const std::string note = tiles("torchwood-mldsa/checkpoint");
  const VerifierList keys = test::verifier_list({trimmed(tiles("torchwood-mldsa/log.vkey"))});
  ASSERT_EQ(keys.keys().at(0).type, KeyType::SubtreeV1);
  const CheckpointVerifier verifier(origin_of(note), keys);
  const auto r = verifier.verify(note);
  ASSERT_TRUE(r.has_value()) << r.error().message();
  EXPECT_EQ(r->head.size, 1u);
  ASSERT_EQ(r->log_signers.size(), 1u);
  EXPECT_EQ(r->log_signers[0].type, KeyType::SubtreeV1);
  // The log signed with timestamp 0: it claims no time.
  EXPECT_FALSE(r->log_signers[0].timestamp_seconds.has_value());
  EXPECT_TRUE(r->cosigners.empty());
  EXPECT_EQ(verifier.verify(with_changed_signature(note, 10)).error().kind(), ErrorKind::InvalidSignature);
  // The C ABI's operations keep refusing the key type as they always did.
  const std::string vkey = trimmed(tiles("torchwood-mldsa/log.vkey"));
  const std::vector<std::string_view> vkeys = {vkey};
  EXPECT_EQ(checkpoint_verify(note, vkeys).error().message(),
            "malformed signed note: unsupported signature type (leading byte 0x06)");
}

TEST(RealSignatureTypes, Rfc6962StaticCtCheckpoint) {
  const json& tree = skylight().at("artefacts").at("tree/");
  const std::string note = tiles("sunlight-skylight/tree/checkpoint");
  const std::string origin = origin_of(note);
  const auto vkey = rfc6962_verifier_key(origin, tree.at("log_public_key_spki_b64").get<std::string>());
  ASSERT_TRUE(vkey.has_value()) << vkey.error().message();
  const std::string want_id = skylight().at("checks").at("facts").at("log_signature").at("key_id");
  EXPECT_EQ(vkey->substr(origin.size() + 1, 8), want_id);
  const CheckpointVerifier verifier(origin, test::verifier_list({*vkey}));
  const auto r = verifier.verify(note);
  ASSERT_TRUE(r.has_value()) << r.error().message();
  ASSERT_EQ(r->log_signers.size(), 1u);
  const Signer& s = r->log_signers[0];
  EXPECT_EQ(s.type, KeyType::Rfc6962);
  EXPECT_EQ(s.timestamp_millis, tree.at("sth_timestamp_ms").get<std::uint64_t>());
  EXPECT_FALSE(s.timestamp_seconds.has_value());
  EXPECT_FALSE(s.covers_origin);
  EXPECT_EQ(verifier.verify(with_changed_signature(note, 6)).error().kind(), ErrorKind::InvalidSignature);

  // The same tree head cosigned by a witness, under a policy whose log line
  // is the RFC 6962 key (named after the origin, as static-ct-api wants).
  const std::string witnessed = tiles(
      "sunlight-skylight/witness/000de184301123b9278c086a7d9f68c9577e83872224c197058fd90784ea9706/checkpoint");
  const std::string witness_key = skylight()
                                      .at("artefacts")
                                      .at("witness/000de184301123b9278c086a7d9f68c9577e83872224c197058fd90784ea9706/"
                                          "checkpoint")
                                      .at("witness_verifier_key");
  const auto policy = WitnessPolicy::parse("log " + *vkey + "\nwitness w " + witness_key + "\nquorum w\n");
  ASSERT_TRUE(policy.has_value()) << policy.error().message();
  const auto w = CheckpointVerifier(origin, *policy).verify(witnessed);
  ASSERT_TRUE(w.has_value()) << w.error().message();
  EXPECT_EQ(w->log_signers.at(0).type, KeyType::Rfc6962);
  EXPECT_EQ(w->cosigners.at(0).timestamp_seconds,
            skylight().at("checks").at("facts").at("witness_cosignature").at("timestamp").get<std::uint64_t>());

  // Not a P-256 key, not base64: refused with the reason.
  EXPECT_EQ(rfc6962_verifier_key(origin, "AAAA").error().kind(), ErrorKind::MalformedVerifierKey);
  EXPECT_EQ(rfc6962_verifier_key(origin, "not base64").error().kind(), ErrorKind::MalformedVerifierKey);
}

// No one-byte change anywhere in the static-ct checkpoint's signature line
// leaves a note that verifies: not in the name, the key id, the timestamp,
// the algorithm bytes, the length or the DER signature.
TEST(RealSignatureTypes, EveryByteFlipInTheRfc6962LineIsRejected) {
  const json& tree = skylight().at("artefacts").at("tree/");
  const std::string note = tiles("sunlight-skylight/tree/checkpoint");
  const std::string origin = origin_of(note);
  const auto vkey = rfc6962_verifier_key(origin, tree.at("log_public_key_spki_b64").get<std::string>());
  ASSERT_TRUE(vkey.has_value());
  const CheckpointVerifier verifier(origin, test::verifier_list({*vkey}));
  ASSERT_TRUE(verifier.verify(note).has_value());
  const std::size_t begin = note.find("\n\n") + 2, end = note.size() - 1;  // the line, without its line feed
  std::size_t flips = 0;
  for (std::size_t pos = begin; pos < end; ++pos) {
    for (const int bit : {0x01, 0x20}) {
      std::string mutated = note;
      mutated[pos] = static_cast<char>(mutated[pos] ^ bit);
      if (mutated == note) continue;
      EXPECT_FALSE(verifier.verify(mutated).has_value()) << "byte " << pos - begin << " ^ " << bit;
      ++flips;
    }
  }
  EXPECT_GT(flips, 2 * 100u);
}

struct Log {
  std::string origin = "log.example/multi";
  test::NoteSigner ed = test::NoteSigner::ed25519(origin, 61);
  test::SubtreeSigner ml = test::SubtreeSigner::generate(origin, 62);
  test::Rfc6962Signer ct = test::Rfc6962Signer::generate(origin, 63);
  test::SubtreeSigner witness = test::SubtreeSigner::generate("witness.example/ml", 64);
  Bytes root = Bytes(32, 7);
  std::string body(const std::string& extra = "") const {
    return test::checkpoint_body(origin, 12, root, extra.empty() ? std::vector<std::string>{}
                                                                 : std::vector<std::string>{extra});
  }
};

// Every rule of the two types, one row each: who signed, under which keys,
// and the outcome.
TEST(SignatureTypes, RulesOfRfc6962AndSubtreeLines) {
  const Log l;
  const std::string body = l.body();
  const std::string ed_line = l.ed.signature_line(body);
  const std::string ml_line = l.ml.checkpoint_line(l.origin, 12, l.root, 0);
  const std::string ct_line = l.ct.checkpoint_line(12, l.root, 1767139200123);
  const auto note = [](const std::string& b, std::initializer_list<std::string> lines) {
    std::string n = b + "\n";
    for (const auto& line : lines) n += line;
    return n;
  };
  const CheckpointVerifier all_keys(
      l.origin, test::verifier_list({l.ed.verifier_key(), l.ml.verifier_key(), l.ct.verifier_key()}));
  const test::SubtreeSigner other_start = l.ml;
  const std::string subtree_line = test::signature_line(l.origin, l.ml.key_id(), l.ml.sign(l.origin, 4, 12, l.root, 0));
  const std::string extension_body = l.body("ext");
  struct Case {
    const char* what;
    CheckpointVerifier verifier;
    std::string note;
    std::optional<ErrorKind> error;
    std::size_t log_signers = 0;
  };
  const std::vector<Case> cases = {
      {"ed25519, ml-dsa-44 and rfc6962 at once", all_keys, note(body, {ed_line, ml_line, ct_line}), {}, 3},
      {"any one of them suffices", all_keys, note(body, {ct_line}), {}, 1},
      {"two required, two given", all_keys.require_log_signatures(2), note(body, {ml_line, ct_line}), {}, 2},
      {"two required, one key twice", all_keys.require_log_signatures(2), note(body, {ct_line, ct_line}),
       ErrorKind::LogSignaturesNotMet},
      {"a subtree that does not start at 0", all_keys, note(body, {ed_line, subtree_line}),
       ErrorKind::InvalidSignature},
      {"rfc6962 under extension lines", all_keys, note(extension_body, {l.ct.checkpoint_line(12, l.root, 1)}),
       ErrorKind::InvalidSignature},
      {"rfc6962 over another size", all_keys, note(body, {l.ct.checkpoint_line(13, l.root, 1)}),
       ErrorKind::InvalidSignature},
      {"rfc6962 line, body malformed", all_keys, "log.example/multi\n12\nnot a root\n\n" + ct_line,
       ErrorKind::MalformedCheckpoint},
      {"subtree/v1 witness key in a key list",
       CheckpointVerifier(l.origin, test::verifier_list({l.ed.verifier_key(), l.witness.verifier_key()})),
       note(body, {ed_line, l.witness.checkpoint_line(l.origin, 12, l.root, 1700000000)}),
       {},
       1},
      {"a witness's subtree/v1 key alone",
       CheckpointVerifier(l.origin, test::verifier_list({l.witness.verifier_key()})),
       note(body, {l.witness.checkpoint_line(l.origin, 12, l.root, 1700000000)}), ErrorKind::NoTrustedSignature},
  };
  for (const auto& c : cases) {
    const auto r = c.verifier.verify(c.note);
    if (c.error) {
      ASSERT_FALSE(r.has_value()) << c.what;
      EXPECT_EQ(r.error().kind(), *c.error) << c.what << ": " << r.error().message();
      continue;
    }
    ASSERT_TRUE(r.has_value()) << c.what << ": " << r.error().message();
    EXPECT_EQ(r->log_signers.size(), c.log_signers) << c.what;
  }
  EXPECT_EQ(all_keys.require_log_signatures(2).verify(note(body, {ct_line, ct_line})).error().message(),
            "log signatures not met: 1 of the 2 required log keys signed");
}

// ML-DSA-44 witnesses count in a policy's quorum beside cosignature/v1
// ones, and their times are seconds (0: none).
TEST(SignatureTypes, SubtreeWitnessesInAPolicy) {
  const Log l;
  const auto ed_witness = test::Cosigner::generate("witness.example/ed", 65);
  const auto policy = WitnessPolicy::parse("log " + l.ct.verifier_key() + "\nwitness a " + l.witness.verifier_key() +
                                           "\nwitness b " + ed_witness.verifier_key() + "\ngroup g all a b\nquorum g\n");
  ASSERT_TRUE(policy.has_value()) << policy.error().message();
  const std::string body = l.body();
  const std::string base = body + "\n" + l.ct.checkpoint_line(12, l.root, 5);
  const auto both = policy->open(base + l.witness.checkpoint_line(l.origin, 12, l.root, 0) +
                                 ed_witness.cosignature_line(body, 9));
  ASSERT_TRUE(both.has_value()) << both.error().message();
  ASSERT_EQ(both->cosigners.size(), 2u);
  EXPECT_EQ(both->cosigners[0].type, KeyType::SubtreeV1);
  EXPECT_FALSE(both->cosigners[0].timestamp_seconds.has_value());
  EXPECT_EQ(both->cosigners[1].timestamp_seconds, 9u);
  EXPECT_EQ(both->log_signers.at(0).timestamp_millis, 5u);
  EXPECT_EQ(policy->open(base + ed_witness.cosignature_line(body, 9)).error().kind(), ErrorKind::WitnessQuorumNotMet);
}

// The C ABI's verify_signed_note keeps its answers for these key types:
// a type it does not know, or (for a key id computed over the log ID, as an
// RFC 6962 key's is) a key id that does not match its data.
TEST(SignatureTypes, TheCAbiRefusesTheNewKeyTypesAsBefore) {
  const Log l;
  const std::string note = l.body() + "\n" + l.ed.signature_line(l.body());
  const std::string ml = l.ml.verifier_key(), ct = l.ct.verifier_key();
  const std::vector<std::string_view> ml_keys = {ml}, ct_keys = {ct};
  EXPECT_EQ(verify_signed_note(note, ml_keys).error().message(),
            "malformed signed note: unsupported signature type (leading byte 0x06)");
  EXPECT_EQ(verify_signed_note(note, ct_keys).error().message().rfind("malformed signed note: verifier key id mismatch", 0),
            0u);
}

}  // namespace
}  // namespace quenfold
