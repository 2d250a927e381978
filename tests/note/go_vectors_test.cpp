// Signed notes produced by another implementation of the C2SP signed-note
// format, with their Ed25519 verifier keys: each key set must verify exactly
// the recorded number of lines, or fail with the recorded message.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "quenfold/checkpoint.h"
#include "quenfold/note.h"
#include "support/notes.h"
#include "support/testdata.h"

namespace quenfold {
namespace {

using nlohmann::json;

const json& vectors() {
  static const json doc = json::parse(test::read_file(test::testdata_path("go-signed-notes.json")));
  return doc;
}

TEST(PeerSignedNotes, EveryNoteVerifiesAsRecorded) {
  const json& doc = vectors();
  int cases = 0;
  for (const auto& n : doc.at("notes")) {
    std::vector<std::string> keys;
    for (const auto& name : n.at("trusted")) keys.push_back(doc.at("verifier_keys").at(name.get<std::string>()));
    const std::vector<std::string_view> views(keys.begin(), keys.end());
    const auto r = verify_signed_note(n.at("text").get<std::string>(), views);
    if (n.contains("error")) {
      ASSERT_FALSE(r.has_value()) << "case " << cases;
      EXPECT_EQ(r.error().message(), n.at("error").get<std::string>());
    } else {
      ASSERT_TRUE(r.has_value()) << "case " << cases << ": " << r.error().message();
      EXPECT_EQ(*r, n.at("verified_lines").get<std::uint32_t>()) << "case " << cases;
    }
    ++cases;
  }
  EXPECT_GE(cases, 5);
}

TEST(PeerSignedNotes, TamperedPeerNoteIsRejected) {
  const json& doc = vectors();
  std::string text = doc.at("notes")[0].at("text");
  text[3] = static_cast<char>(text[3] ^ 0x01);  // one bit of the body
  const std::string key = doc.at("verifier_keys").at("PeterNeumann");
  const std::vector<std::string_view> views = {key};
  const auto r = verify_signed_note(text, views);
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().message(), "invalid signature for known key \"PeterNeumann\" (key id c74f20a3)");
}

TEST(PeerSignedNotes, TreeNoteBodyParses) {
  const json& t = vectors().at("tree_note_body");
  const auto head = checkpoint_parse(t.at("text").get<std::string>());
  ASSERT_TRUE(head.has_value()) << head.error().message();
  EXPECT_EQ(head->origin, t.at("origin").get<std::string>());
  EXPECT_EQ(head->size, t.at("size").get<std::uint64_t>());
  EXPECT_EQ(head->root.size(), 32u);
  EXPECT_EQ(test::base64_of(head->root), t.at("root_b64").get<std::string>());
  EXPECT_TRUE(head->extensions.empty());
}

}  // namespace
}  // namespace quenfold
