// The bundled log example stays consistent with the library: its notes
// verify under its keys, and its standalone composite tokens are the key and
// signature of the size-7 checkpoint's composite line.
#include <gtest/gtest.h>

#include <string>

#include "crypto/sign.h"
#include "note/signed_note.h"
#include "quenfold/checkpoint.h"
#include "support/notes.h"
#include "support/testdata.h"

namespace quenfold::note {
namespace {

std::string trimmed(std::string s) {
  while (!s.empty() && s.back() == '\n') s.pop_back();
  return s;
}

TEST(LogExample, CompositeTokensVerifyTheCheckpointBody) {
  const std::string note_text = test::read_file(test::examples_path("log/checkpoint-7.note"));
  const auto note = SignedNote::parse(note_text);
  ASSERT_TRUE(note.has_value()) << note.error().message();
  const std::string key = trimmed(test::read_file(test::examples_path("log/composite-key.token")));
  const std::string sig = trimmed(test::read_file(test::examples_path("log/composite-signature.token")));
  const auto body = test::bytes_of(note->body());
  const auto ctx = test::bytes_of(test::kSignedNoteContextText);
  EXPECT_EQ(crypto::verify_token(body, ctx, sig, key), true);
  // The key token is the composite verifier key's token, version 0x02.
  const std::string vkey = trimmed(test::read_file(test::examples_path("log/composite.vkey")));
  const auto parsed = VerifierKey::parse(vkey);
  ASSERT_TRUE(parsed.has_value()) << parsed.error().message();
  EXPECT_EQ(parsed->kind, KeyKind::Composite);
  EXPECT_EQ(test::base64_of(parsed->public_key), key);
  EXPECT_EQ(parsed->public_key.at(0), 0x02);
  // And the signature token is the blob of the note's composite line.
  bool found = false;
  for (const auto& s : note->signatures())
    if (s.name == parsed->name) found = found || test::base64_of(s.signature) == sig;
  EXPECT_TRUE(found);
}

TEST(LogExample, CheckpointsVerifyAndTheTamperedOneDoesNot) {
  const std::string keys_text = test::read_file(test::examples_path("log/keys.txt"));
  std::vector<std::string> keys;
  for (std::size_t start = 0; start < keys_text.size();) {
    const std::size_t end = keys_text.find('\n', start);
    keys.push_back(keys_text.substr(start, end - start));
    start = end + 1;
  }
  const std::vector<std::string_view> views(keys.begin(), keys.end());
  for (const char* name : {"log/checkpoint-4.note", "log/checkpoint-7.note"}) {
    const auto head = checkpoint_verify(test::read_file(test::examples_path(name)), views);
    EXPECT_TRUE(head.has_value()) << name << ": " << head.error().message();
  }
  const auto bad = checkpoint_verify(test::read_file(test::examples_path("log/checkpoint-7-tampered.note")), views);
  ASSERT_FALSE(bad.has_value());
  EXPECT_EQ(bad.error().kind(), ErrorKind::InvalidSignature);
}

}  // namespace
}  // namespace quenfold::note
