// Verifier lists parsed once, the signers a note reports, and cosignature/v1
// lines checked under their timestamped message.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "quenfold/note.h"
#include "quenfold/verifier.h"
#include "support/notes.h"
#include "support/testdata.h"
#include "support/witness.h"

namespace quenfold {
namespace {

using test::Bytes;
using test::Cosigner;
using test::NoteSigner;

std::vector<std::string_view> views(const std::vector<std::string>& v) { return {v.begin(), v.end()}; }

VerifierList parse_list(const std::vector<std::string>& texts) {
  auto list = VerifierList::parse(views(texts));
  if (!list) throw std::runtime_error(list.error().message());
  return *list;
}

TEST(VerifierList, ParseErrorNamesTheKeyAndTheReason) {
  const std::string good = NoteSigner::ed25519("log.example/a", 1).verifier_key();
  Bytes ed34(34, 0);
  ed34[0] = 0x01;
  Bytes ecdsa(65, 0);
  ecdsa[0] = 0x02;
  Bytes cosig31(32, 0);
  cosig31[0] = 0x04;
  struct Case {
    const char* what;
    std::string bad;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"key id mismatch", test::verifier_key_text("k", 0x01020304, Bytes(33, 1)),
       "verifier key 2 \"k\": verifier key id mismatch: declared 01020304, computed " +
           std::string(test::verifier_key_text("k", Bytes(33, 1))).substr(2, 8)},
      {"unsupported type", test::verifier_key_text("ecdsa.example", ecdsa),
       "verifier key 2 \"ecdsa.example\": unsupported signature type (leading byte 0x02)"},
      {"Ed25519 key of 33 bytes", test::verifier_key_text("long", ed34),
       "verifier key 2 \"long\": malformed verifier key: \"" + test::verifier_key_text("long", ed34) + "\""},
      {"cosignature key of 31 bytes", test::verifier_key_text("w", cosig31),
       "verifier key 2 \"w\": malformed verifier key: \"" + test::verifier_key_text("w", cosig31) + "\""},
      {"no plus at all", "just-a-name", "verifier key 2 \"just-a-name\": malformed verifier key: \"just-a-name\""},
      {"bad hex", "k+0102030g+AQ==", "verifier key 2 \"k\": invalid hex character"},
  };
  for (const auto& c : cases) {
    const std::vector<std::string> texts = {good, c.bad, good};
    const auto r = VerifierList::parse(views(texts));
    ASSERT_FALSE(r.has_value()) << c.what;
    EXPECT_EQ(r.error().kind(), ErrorKind::MalformedVerifierKey) << c.what;
    EXPECT_EQ(r.error().message(), c.message) << c.what;
  }
}

// The exported operations keep rejecting a cosignature key: only the C++
// verifier list knows the type.
TEST(VerifierList, ExportedNoteVerificationStillRejectsCosignatureKeys) {
  const NoteSigner log = NoteSigner::ed25519("log.example/a", 1);
  const Cosigner w = Cosigner::generate("witness.example/w", 2);
  const std::string body = "hello\n";
  const std::string note = test::signed_note(body, {&log}) + w.cosignature_line(body, 7);
  const std::vector<std::string> keys = {log.verifier_key(), w.verifier_key()};
  const auto r = verify_signed_note(note, views(keys));
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().message(), "malformed signed note: unsupported signature type (leading byte 0x04)");
  EXPECT_TRUE(VerifierList::parse(views(keys)).has_value());
}

TEST(VerifierList, OpenNamesEverySignerInLineOrder) {
  const NoteSigner ed = NoteSigner::ed25519("log.example/ed", 3);
  const NoteSigner pq = NoteSigner::composite("log.example/pq", crypto::SignatureVersion::MlDsa65Ed25519, 4);
  const NoteSigner stranger = NoteSigner::ed25519("stranger.example", 5);
  const Cosigner w = Cosigner::generate("witness.example/w", 6);
  const std::string body = "o\n1\n" + test::base64_of(Bytes(32, 7)) + "\n";
  const std::string note = test::signed_note(body, {&ed, &stranger, &pq}) + w.cosignature_line(body, 1700000000);

  // List order differs from line order; the result follows the lines.
  const VerifierList list = parse_list({w.verifier_key(), pq.verifier_key(), ed.verifier_key()});
  const auto opened = list.open(note);
  ASSERT_TRUE(opened.has_value()) << opened.error().message();
  EXPECT_EQ(opened->body, body);
  const std::vector<Signer> want = {
      {ed.name(), ed.key_id(), KeyType::Ed25519, std::nullopt, std::nullopt, true},
      {pq.name(), pq.key_id(), KeyType::Composite, std::nullopt, std::nullopt, true},
      {w.name(), w.key_id(), KeyType::CosignatureV1, 1700000000, std::nullopt, true},
  };
  EXPECT_EQ(opened->signers, want);
  // A repeated line counts again, with the same signer and timestamp.
  const auto twice = list.open(note + w.cosignature_line(body, 1700000000));
  ASSERT_TRUE(twice.has_value()) << twice.error().message();
  ASSERT_EQ(twice->signers.size(), 4u);
  EXPECT_EQ(twice->signers[3], want[2]);

  const std::vector<Signer> keys = {
      {w.name(), w.key_id(), KeyType::CosignatureV1, std::nullopt, std::nullopt, true},
      {pq.name(), pq.key_id(), KeyType::Composite, std::nullopt, std::nullopt, true},
      {ed.name(), ed.key_id(), KeyType::Ed25519, std::nullopt, std::nullopt, true},
  };
  EXPECT_EQ(list.keys(), keys);
}

TEST(VerifierList, OpenFollowsTheSignedNoteRules) {
  const NoteSigner a = NoteSigner::ed25519("a.example", 7);
  const NoteSigner b = NoteSigner::ed25519("b.example", 8);
  const std::string body = "text\n";
  std::string bad_b = test::signed_note(body, {&a, &b});
  bad_b[bad_b.size() - 3] = bad_b[bad_b.size() - 3] == 'A' ? 'B' : 'A';  // inside b's signature
  struct Case {
    const char* what;
    std::vector<std::string> keys;
    std::string note;
    std::string message;  // empty: opens
  };
  const std::vector<Case> cases = {
      {"both trusted", {a.verifier_key(), b.verifier_key()}, test::signed_note(body, {&a, &b}), ""},
      {"untrusted line ignored", {a.verifier_key()}, test::signed_note(body, {&b, &a}), ""},
      {"no trusted line", {a.verifier_key()}, test::signed_note(body, {&b}),
       "note has no verifiable signature from a trusted key"},
      {"empty list", {}, test::signed_note(body, {&a}), "note has no verifiable signature from a trusted key"},
      {"bad line from a trusted key", {a.verifier_key(), b.verifier_key()}, bad_b,
       "invalid signature for known key \"b.example\" (key id " + b.verifier_key().substr(10, 8) + ")"},
      {"malformed note", {a.verifier_key()}, "no separator\n",
       "malformed signed note: missing blank-line signature separator"},
  };
  for (const auto& c : cases) {
    const VerifierList list = parse_list(c.keys);
    const auto r = list.open(c.note);
    if (c.message.empty()) {
      EXPECT_TRUE(r.has_value()) << c.what << ": " << r.error().message();
    } else {
      ASSERT_FALSE(r.has_value()) << c.what;
      EXPECT_EQ(r.error().message(), c.message) << c.what;
    }
  }
}

// Each row changes one property of an otherwise valid cosignature line;
// only the untouched ones verify.
TEST(Cosignature, TimestampedMessageAndLayout) {
  const Cosigner w = Cosigner::generate("witness.example/w", 9);
  const std::string body = "log.example\n42\n" + test::base64_of(Bytes(32, 3)) + "\nextension\n";
  const std::uint64_t t = 1679315147;
  const auto ts_bytes = [](std::uint64_t v) {
    Bytes out;
    for (int shift = 56; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
    return out;
  };
  const auto line = [&](const Bytes& sig) { return test::signature_line(w.name(), w.key_id(), sig); };
  Bytes other_time = w.cosign(body, t);
  const Bytes later = ts_bytes(t + 1);
  std::copy(later.begin(), later.end(), other_time.begin());  // signed t, claims t + 1
  Bytes bare = ts_bytes(t);  // an Ed25519 signature of the body alone
  const Bytes body_sig = test::Ed25519Signer::generate(9).sign(test::bytes_of(body));
  bare.insert(bare.end(), body_sig.begin(), body_sig.end());
  Bytes truncated = w.cosign(body, t);
  truncated.pop_back();
  Bytes extended = w.cosign(body, t);
  extended.push_back(0);
  const std::uint64_t max = (std::uint64_t{1} << 63) - 1;
  struct Case {
    const char* what;
    std::string line;
    std::optional<std::uint64_t> timestamp;  // nullopt: rejected
  };
  const std::vector<Case> cases = {
      {"valid", w.cosignature_line(body, t), t},
      {"time zero", w.cosignature_line(body, 0), 0},
      {"largest time", w.cosignature_line(body, max), max},
      {"time beyond 2^63 - 1, validly signed", w.cosignature_line(body, max + 1), std::nullopt},
      {"timestamp changed after signing", line(other_time), std::nullopt},
      {"signature over the body without the header", line(bare), std::nullopt},
      {"71 bytes", line(truncated), std::nullopt},
      {"73 bytes", line(extended), std::nullopt},
      {"signed for another body", w.cosignature_line(body + "more\n", t), std::nullopt},
  };
  const NoteSigner log = NoteSigner::ed25519("log.example", 10);
  const VerifierList list = parse_list({log.verifier_key(), w.verifier_key()});
  for (const auto& c : cases) {
    const auto r = list.open(test::signed_note(body, {&log}) + c.line);
    if (c.timestamp) {
      ASSERT_TRUE(r.has_value()) << c.what << ": " << r.error().message();
      ASSERT_EQ(r->signers.size(), 2u) << c.what;
      EXPECT_EQ(r->signers[1].timestamp_seconds, c.timestamp) << c.what;
    } else {
      ASSERT_FALSE(r.has_value()) << c.what;
      EXPECT_EQ(r.error().kind(), ErrorKind::InvalidSignature) << c.what;
    }
  }
}

}  // namespace
}  // namespace quenfold
