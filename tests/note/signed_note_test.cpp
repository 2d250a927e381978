// Signed-note parsing and verification against trusted keys. Notes are
// built and signed in the tests (tests/support/notes.h).
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "note/signed_note.h"
#include "quenfold/note.h"
#include "support/notes.h"
#include "support/testdata.h"

namespace quenfold::note {
namespace {

using test::Bytes;
using test::NoteSigner;
using V = crypto::SignatureVersion;

const std::string kBody = "log.example/checkpoint\n7\nAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=\n";

std::expected<std::uint32_t, Error> verify(const std::string& note, const std::vector<std::string>& keys) {
  const std::vector<std::string_view> views(keys.begin(), keys.end());
  return verify_signed_note(note, views);
}

const NoteSigner& ed_signer() {
  static const NoteSigner s = NoteSigner::ed25519("log.example", 1);
  return s;
}
const NoteSigner& other_ed_signer() {
  static const NoteSigner s = NoteSigner::ed25519("witness.example", 2);
  return s;
}
const NoteSigner& composite_signer() {
  static const NoteSigner s = NoteSigner::composite("log.example/pq", V::MlDsa65Ed25519, 3);
  return s;
}

// --- parsing -------------------------------------------------------------------

TEST(SignedNoteParse, SplitsBodyAndSignatureLines) {
  const std::string note = test::signed_note(kBody, {&ed_signer(), &other_ed_signer()});
  const auto n = SignedNote::parse(note);
  ASSERT_TRUE(n.has_value()) << n.error().message();
  EXPECT_EQ(n->body(), kBody);
  ASSERT_EQ(n->signatures().size(), 2u);
  EXPECT_EQ(n->signatures()[0].name, "log.example");
  EXPECT_EQ(n->signatures()[0].key_id, ed_signer().key_id());
  EXPECT_EQ(n->signatures()[0].signature, ed_signer().sign(kBody));
  EXPECT_EQ(n->signatures()[1].name, "witness.example");
}

TEST(SignedNoteParse, LastBlankLineIsTheSeparator) {
  // Three line feeds after the text: the body keeps one extra line feed.
  const std::string note = "text\n\n\n" + ed_signer().signature_line("text\n\n");
  const auto n = SignedNote::parse(note);
  ASSERT_TRUE(n.has_value()) << n.error().message();
  EXPECT_EQ(n->body(), "text\n\n");
  // A blank line inside the body: only the last one separates.
  const std::string inner = "a\n\nb\n\n" + ed_signer().signature_line("a\n\nb\n");
  const auto m = SignedNote::parse(inner);
  ASSERT_TRUE(m.has_value());
  EXPECT_EQ(m->body(), "a\n\nb\n");
}

TEST(SignedNoteParse, MinimalBlobOfFiveBytes) {
  const std::string note = kBody + "\n" + test::signature_line("k", 0x01020304, Bytes{0xAA});
  const auto n = SignedNote::parse(note);
  ASSERT_TRUE(n.has_value()) << n.error().message();
  EXPECT_EQ(n->signatures()[0].key_id, 0x01020304u);
  EXPECT_EQ(n->signatures()[0].signature, Bytes{0xAA});
}

struct BadNote {
  const char* what;
  std::string text;
  std::string detail;  // after "malformed signed note: "
};

TEST(SignedNoteParse, FailuresInCheckOrder) {
  const std::string line = ed_signer().signature_line(kBody);
  const std::string good_line_body = line.substr(0, line.size() - 1);  // without its line feed
  const std::string blob = good_line_body.substr(good_line_body.rfind(' ') + 1);
  const std::vector<BadNote> cases = {
      {"CR LF line endings", "a\r\n\r\n" + line, "note contains a forbidden control character"},
      {"tab in body", "a\tb\n\n" + line, "note contains a forbidden control character"},
      {"NUL in signature line", kBody + "\n" + good_line_body + std::string(1, '\0') + "\n",
       "note contains a forbidden control character"},
      {"control byte wins over missing separator", std::string("a\x01"), "note contains a forbidden control character"},
      {"no blank line", kBody + line, "missing blank-line signature separator"},
      {"empty text", "", "missing blank-line signature separator"},
      {"ends right after the blank line", kBody + "\n", "signature block is empty or unterminated"},
      {"last line without line feed", kBody + "\n" + good_line_body, "signature block is empty or unterminated"},
      {"two ASCII hyphens", kBody + "\n-- log.example " + blob + "\n",
       "signature line missing '\xE2\x80\x94 ' prefix: \"-- log.example " + blob + "\""},
      {"short line", kBody + "\nab\n", "signature line missing '\xE2\x80\x94 ' prefix: \"ab\""},
      {"em dash without space", kBody + "\n\xE2\x80\x94log.example " + blob + "\n",
       "signature line missing '\xE2\x80\x94 ' prefix: \"\xE2\x80\x94log.example " + blob + "\""},
      {"no space after the name", kBody + "\n\xE2\x80\x94 log.example\n", "signature line missing space"},
      {"prefix only", kBody + "\n\xE2\x80\x94 \n", "signature line missing space"},
      {"empty blob", kBody + "\n\xE2\x80\x94 log.example \n",
       "invalid signature line name/blob: \"\xE2\x80\x94 log.example \""},
      {"empty name", kBody + "\n\xE2\x80\x94  " + blob + "\n",
       "invalid signature line name/blob: \"\xE2\x80\x94  " + blob + "\""},
      {"plus in name", kBody + "\n\xE2\x80\x94 log+example " + blob + "\n",
       "invalid signature line name/blob: \"\xE2\x80\x94 log+example " + blob + "\""},
      {"no-break space in name", kBody + "\n\xE2\x80\x94 log\xC2\xA0" "example " + blob + "\n",
       "invalid signature line name/blob: \"\xE2\x80\x94 log\\u{a0}example " + blob + "\""},
      {"blob with a trailing space", kBody + "\n\xE2\x80\x94 log.example " + blob + " \n",
       "base64 length is not a multiple of 4"},
      {"url-safe blob", kBody + "\n\xE2\x80\x94 log.example AB-CAAAA\n", "invalid base64 character"},
      {"non-canonical blob", kBody + "\n\xE2\x80\x94 log.example AAAAAR==\n", "non-canonical base64"},
      {"blob of 4 bytes", kBody + "\n" + test::signature_line("k", 1, {}), "signature blob too short"},
      {"blob of 3 bytes", kBody + "\n\xE2\x80\x94 k AAAA\n", "signature blob too short"},
      {"first bad line decides", kBody + "\n" + line + "\xE2\x80\x94 k AAAA\nxx\n", "signature blob too short"},
  };
  for (const auto& c : cases) {
    const auto n = SignedNote::parse(c.text);
    ASSERT_FALSE(n.has_value()) << c.what;
    EXPECT_EQ(n.error().kind(), ErrorKind::MalformedSignedNote) << c.what;
    EXPECT_EQ(n.error().message(), "malformed signed note: " + c.detail) << c.what;
  }
}

TEST(SignedNoteParse, AtMostOneHundredSignatureLines) {
  std::string lines;
  for (std::uint32_t i = 0; i < 100; ++i) lines += test::signature_line("unknown", i, Bytes(64, 0x5A));
  const auto hundred = SignedNote::parse(kBody + "\n" + lines);
  ASSERT_TRUE(hundred.has_value()) << hundred.error().message();
  EXPECT_EQ(hundred->signatures().size(), 100u);

  // 100 lines from unknown keys plus one from a trusted key: too many, even
  // though the trusted line would verify.
  const std::string note = kBody + "\n" + lines + ed_signer().signature_line(kBody);
  const auto r = verify(note, {ed_signer().verifier_key()});
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().message(), "malformed signed note: too many signatures");

  // A malformed 101st line reports its own failure.
  const auto own = SignedNote::parse(kBody + "\n" + lines + "-- x y\n");
  ASSERT_FALSE(own.has_value());
  EXPECT_EQ(own.error().message(), "malformed signed note: signature line missing '\xE2\x80\x94 ' prefix: \"-- x y\"");
}

// --- verification ----------------------------------------------------------------

TEST(SignedNoteVerify, Ed25519AndCompositeKeysVerify) {
  EXPECT_EQ(verify(test::signed_note(kBody, {&ed_signer()}), {ed_signer().verifier_key()}), 1u);
  EXPECT_EQ(verify(test::signed_note(kBody, {&composite_signer()}), {composite_signer().verifier_key()}), 1u);
  const std::string both = test::signed_note(kBody, {&ed_signer(), &composite_signer()});
  EXPECT_EQ(verify(both, {composite_signer().verifier_key(), ed_signer().verifier_key()}), 2u);
  EXPECT_EQ(verify(both, {composite_signer().verifier_key()}), 1u);
}

class CompositeNoteVersion : public ::testing::TestWithParam<V> {};

TEST_P(CompositeNoteVersion, VerifiesUnderTheSignedNoteContext) {
  const auto signer = NoteSigner::composite("log.example/pq", GetParam(), 20);
  EXPECT_EQ(verify(test::signed_note(kBody, {&signer}), {signer.verifier_key()}), 1u);
  // The same key signing the body without the context, or under another
  // context, is a bad signature from a trusted key.
  const crypto::ByteView body(reinterpret_cast<const std::uint8_t*>(kBody.data()), kBody.size());
  const Bytes no_context = signer.token_signer()->sign_bytes(body, {});
  const std::string label = "quenfold-log.io/signed-note/v2";
  const Bytes other_context = signer.token_signer()->sign_bytes(
      body, crypto::ByteView(reinterpret_cast<const std::uint8_t*>(label.data()), label.size()));
  for (const Bytes& sig : {no_context, other_context}) {
    const auto r = verify(kBody + "\n" + test::signature_line(signer.name(), signer.key_id(), sig),
                          {signer.verifier_key()});
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().kind(), ErrorKind::InvalidSignature);
  }
}

INSTANTIATE_TEST_SUITE_P(AllVersions, CompositeNoteVersion,
                         ::testing::Values(V::MlDsa44Ed25519, V::MlDsa65Ed25519, V::MlDsa87Ed25519, V::MlDsa87,
                                           V::MlDsa65Ed448, V::MlDsa87EcdsaP521),
                         [](const auto& param_info) { return "Tag" + std::to_string(static_cast<int>(param_info.param)); });

TEST(SignedNoteVerify, ThreeLineFeedsSignTheExtraLineFeed) {
  const std::string body = kBody + "\n";
  const std::string right = body + "\n" + ed_signer().signature_line(body);
  EXPECT_EQ(verify(right, {ed_signer().verifier_key()}), 1u);
  const std::string wrong = body + "\n" + ed_signer().signature_line(kBody);
  const auto r = verify(wrong, {ed_signer().verifier_key()});
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().kind(), ErrorKind::InvalidSignature);
}

TEST(SignedNoteVerify, UntrustedLinesAreIgnored) {
  const std::string note = test::signed_note(kBody, {&other_ed_signer()});
  for (const auto& keys : {std::vector<std::string>{ed_signer().verifier_key()}, std::vector<std::string>{}}) {
    const auto r = verify(note, keys);
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().kind(), ErrorKind::NoTrustedSignature);
    EXPECT_EQ(r.error().message(), "note has no verifiable signature from a trusted key");
  }
  // Garbage from an unknown key does not matter when a trusted line verifies.
  const std::string mixed = kBody + "\n" + test::signature_line("stranger", 7, Bytes(3, 1)) +
                            ed_signer().signature_line(kBody);
  EXPECT_EQ(verify(mixed, {ed_signer().verifier_key()}), 1u);
}

TEST(SignedNoteVerify, KeyMatchNeedsBothNameAndId) {
  // The right key id under another name, and the right name with another id.
  const Bytes sig = ed_signer().sign(kBody);
  const std::string renamed = kBody + "\n" + test::signature_line("log.example2", ed_signer().key_id(), sig);
  const std::string reid = kBody + "\n" + test::signature_line("log.example", ed_signer().key_id() ^ 1, sig);
  for (const auto& note : {renamed, reid}) {
    const auto r = verify(note, {ed_signer().verifier_key()});
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().kind(), ErrorKind::NoTrustedSignature);
  }
}

std::string invalid_for(const NoteSigner& s) {
  char id[9];
  std::snprintf(id, sizeof id, "%08x", s.key_id());
  return "invalid signature for known key \"" + s.name() + "\" (key id " + id + ")";
}

TEST(SignedNoteVerify, BadSignatureFromTrustedKeyRejects) {
  const Bytes sig = ed_signer().sign(kBody);
  const Bytes short_sig(sig.begin(), sig.end() - 1);
  Bytes long_sig = sig;
  long_sig.push_back(0);
  Bytes flipped = sig;
  flipped[5] ^= 0x10;
  const auto ed = ed_signer().ed25519_signer();
  const crypto::ByteView body(reinterpret_cast<const std::uint8_t*>(kBody.data()), kBody.size());
  struct Case {
    const char* what;
    Bytes sig;
  };
  const Case cases[] = {
      {"63 bytes", short_sig},
      {"65 bytes", long_sig},
      {"flipped bit", flipped},
      {"small-order R satisfying the equation", ed->sign_with_small_order_r(body)},
      {"signature of another body", ed_signer().sign("other\n")},
  };
  for (const auto& c : cases) {
    const auto r = verify(kBody + "\n" + test::signature_line(ed_signer().name(), ed_signer().key_id(), c.sig),
                          {ed_signer().verifier_key()});
    ASSERT_FALSE(r.has_value()) << c.what;
    EXPECT_EQ(r.error().kind(), ErrorKind::InvalidSignature) << c.what;
    EXPECT_EQ(r.error().message(), invalid_for(ed_signer())) << c.what;
  }
}

TEST(SignedNoteVerify, BadCompositeSignatureRejects) {
  const Bytes sig = composite_signer().sign(kBody);
  Bytes ml_dsa_flipped = sig;
  ml_dsa_flipped[sig.size() - 10] ^= 1;
  Bytes ed_flipped = sig;
  ed_flipped[3] ^= 1;
  Bytes wrong_tag = sig;
  wrong_tag[0] = 0x03;
  Bytes unknown_tag = sig;  // would be a token error; folded into the same answer
  unknown_tag[0] = 0x07;
  for (const Bytes& s : {ml_dsa_flipped, ed_flipped, wrong_tag, unknown_tag, Bytes{0x02}}) {
    const auto r = verify(kBody + "\n" + test::signature_line(composite_signer().name(), composite_signer().key_id(), s),
                          {composite_signer().verifier_key()});
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().message(), invalid_for(composite_signer()));
  }
}

TEST(SignedNoteVerify, AnyBadTrustedLineRejectsWhateverItsPosition) {
  const std::string good = ed_signer().signature_line(kBody);
  const std::string bad = other_ed_signer().signature_line("another body\n");
  const std::vector<std::string> keys = {ed_signer().verifier_key(), other_ed_signer().verifier_key()};
  for (const auto& note : {kBody + "\n" + good + bad, kBody + "\n" + bad + good}) {
    const auto r = verify(note, keys);
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().message(), invalid_for(other_ed_signer()));
  }
  // Two bad trusted lines: the first in line order is reported.
  const std::string bad_first = ed_signer().signature_line("x\n");
  const auto r = verify(kBody + "\n" + bad_first + bad, keys);
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().message(), invalid_for(ed_signer()));
}

TEST(SignedNoteVerify, DuplicateLinesBothCount) {
  const std::string line = ed_signer().signature_line(kBody);
  EXPECT_EQ(verify(kBody + "\n" + line + line, {ed_signer().verifier_key()}), 2u);
  // A key listed twice is still one key.
  EXPECT_EQ(verify(kBody + "\n" + line, {ed_signer().verifier_key(), ed_signer().verifier_key()}), 1u);
}

// A repeated line is checked once, but only a repeat of the same key and the
// same signature bytes counts as one: the same bytes under another trusted
// key, or another signature under the same key, are checked on their own.
TEST(SignedNoteVerify, RepeatsAreRecognisedByKeyAndSignature) {
  const std::string ed = ed_signer().signature_line(kBody);
  const std::string pq = composite_signer().signature_line(kBody);
  const Bytes ed_sig = ed_signer().sign(kBody);
  Bytes bad_sig = ed_sig;
  bad_sig[63] ^= 1;
  const std::string other_key_same_bytes =
      test::signature_line(other_ed_signer().name(), other_ed_signer().key_id(), ed_sig);
  const std::string same_key_other_bytes = test::signature_line(ed_signer().name(), ed_signer().key_id(), bad_sig);
  const std::vector<std::string> keys = {ed_signer().verifier_key(), other_ed_signer().verifier_key(),
                                         composite_signer().verifier_key()};
  struct Case {
    const char* what;
    std::string lines;
    std::string want;  // the count, or the error message
  };
  const std::vector<Case> cases = {
      {"one line three times", ed + ed + ed, "3"},
      {"interleaved repeats of two keys", ed + pq + ed + pq, "4"},
      {"same bytes under another trusted key", ed + other_key_same_bytes, invalid_for(other_ed_signer())},
      {"another signature under the same key", ed + same_key_other_bytes, invalid_for(ed_signer())},
  };
  for (const auto& c : cases) {
    const auto r = verify(kBody + "\n" + c.lines, keys);
    EXPECT_EQ(r ? std::to_string(*r) : r.error().message(), c.want) << c.what;
  }
}

TEST(SignedNoteVerify, VerifyReturnsTheVerifiedLinesInOrder) {
  const std::string note = kBody + "\n" + other_ed_signer().signature_line(kBody) +
                           ed_signer().signature_line(kBody) + composite_signer().signature_line(kBody);
  const auto n = SignedNote::parse(note);
  ASSERT_TRUE(n.has_value());
  const std::vector<std::string> texts = {composite_signer().verifier_key(), ed_signer().verifier_key()};
  const std::vector<std::string_view> views(texts.begin(), texts.end());
  const auto keys = parse_verifier_keys(views);
  ASSERT_TRUE(keys.has_value());
  const auto v = n->verify(*keys);
  ASSERT_TRUE(v.has_value());
  ASSERT_EQ(v->size(), 2u);
  EXPECT_EQ((*v)[0].signature->name, ed_signer().name());
  EXPECT_EQ((*v)[0].key->name, ed_signer().name());
  EXPECT_EQ((*v)[1].signature->name, composite_signer().name());
  EXPECT_EQ((*v)[1].key->kind, KeyKind::Composite);
}

TEST(SignedNoteVerify, KeyFailuresComeBeforeTheNote) {
  const auto r = verify("not a note", {ed_signer().verifier_key(), "broken"});
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().message(), "malformed signed note: malformed verifier key: \"broken\"");
  const auto s = verify("not a note", {ed_signer().verifier_key()});
  ASSERT_FALSE(s.has_value());
  EXPECT_EQ(s.error().message(), "malformed signed note: missing blank-line signature separator");
}

}  // namespace
}  // namespace quenfold::note

namespace quenfold::note {
namespace {

// Any number of threads may verify at once: the only shared state is the
// algorithm handles fetched on first use.
TEST(SignedNoteVerify, ConcurrentCallsAgree) {
  const std::string good = test::signed_note(kBody, {&ed_signer(), &composite_signer()});
  const std::string bad = kBody + "\n" + composite_signer().signature_line("other\n");
  const std::vector<std::string> keys = {ed_signer().verifier_key(), composite_signer().verifier_key()};
  std::vector<std::thread> threads;
  std::atomic<int> wrong{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 5; ++i) {
        if (verify(good, keys) != 2u) ++wrong;
        const auto r = verify(bad, keys);
        if (r.has_value() || r.error().kind() != ErrorKind::InvalidSignature) ++wrong;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
}  // namespace quenfold::note
