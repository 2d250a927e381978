// Verifier-key parsing: the accepted forms and every failure, in the order
// the checks run.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "note/verifier_key.h"
#include "support/notes.h"
#include "support/testdata.h"

namespace quenfold::note {
namespace {

using test::Bytes;
using test::verifier_key_text;

const std::string kExample = "example+22873f1b+AQAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA";

Bytes ed_data(std::uint8_t fill = 0) {
  Bytes d(33, fill);
  d[0] = 0x01;
  return d;
}

Bytes composite_data(std::size_t token_len, std::string_view label = test::kCompositeKeyLabelText) {
  Bytes d{0xFF};
  d.insert(d.end(), label.begin(), label.end());
  for (std::size_t i = 0; i < token_len; ++i) d.push_back(static_cast<std::uint8_t>(0x02 + i));
  return d;
}

TEST(VerifierKey, WorkedExampleParses) {
  const auto k = VerifierKey::parse(kExample);
  ASSERT_TRUE(k.has_value()) << k.error().message();
  EXPECT_EQ(k->name, "example");
  EXPECT_EQ(k->key_id, 0x22873f1bu);
  EXPECT_EQ(k->kind, KeyKind::Ed25519);
  EXPECT_EQ(k->public_key, Bytes(32, 0));
  EXPECT_EQ(test::key_id_of("example", ed_data()), 0x22873f1bu);
  EXPECT_EQ(compute_key_id("example", ed_data()), 0x22873f1bu);

  const auto upper = VerifierKey::parse("example+22873F1B+AQAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA");
  ASSERT_TRUE(upper.has_value());
  EXPECT_EQ(upper->key_id, 0x22873f1bu);
}

TEST(VerifierKey, CompositeKeyKeepsTheTokenBytes) {
  const Bytes data = composite_data(5);
  const auto k = VerifierKey::parse(verifier_key_text("log.example/composite", data));
  ASSERT_TRUE(k.has_value()) << k.error().message();
  EXPECT_EQ(k->kind, KeyKind::Composite);
  EXPECT_EQ(k->public_key, Bytes(data.begin() + 43, data.end()));
  EXPECT_EQ(k->key_id, test::key_id_of("log.example/composite", data));
  // The smallest composite key: one token byte.
  const auto one = VerifierKey::parse(verifier_key_text("c", composite_data(1)));
  ASSERT_TRUE(one.has_value());
  EXPECT_EQ(one->public_key, Bytes{0x02});
}

TEST(VerifierKey, NamesMayHoldAnyNonSpaceCharacter) {
  for (const std::string name : {"a", "log.example.com/v1", "\xC3\xA9t\xC3\xA9", "x=y", "\xE2\x80\x94"}) {
    const auto k = VerifierKey::parse(verifier_key_text(name, ed_data(7)));
    ASSERT_TRUE(k.has_value()) << name << ": " << k.error().message();
    EXPECT_EQ(k->name, name);
  }
}

struct Bad {
  const char* what;
  std::string text;
  std::string message;  // empty: "malformed verifier key: " + the quoted text (ASCII texts)
};

std::string hex8(std::uint32_t v) {
  char b[9];
  std::snprintf(b, sizeof b, "%08x", v);
  return b;
}

Bytes with_extra_byte(Bytes d) {
  d.push_back(0);
  return d;
}

TEST(VerifierKey, FailuresInCheckOrder) {
  const std::string data_b64 = test::base64_of(ed_data());
  const std::string kMalformed = "";
  const std::vector<Bad> cases = {
      // 1. structure
      {"no plus at all", "example", kMalformed},
      {"one plus", "example+22873f1b", kMalformed},
      {"7 hex digits", "example+22873f1+" + data_b64, kMalformed},
      {"9 hex digits", "example+22873f1bb+" + data_b64, kMalformed},
      {"empty id", "example++" + data_b64, kMalformed},
      // 2. hex before base64 and the name
      {"bad hex digit", "example+22873f1g+" + data_b64, "malformed signed note: invalid hex character"},
      {"bad hex and empty name", "+zzzzzzzz+" + data_b64, "malformed signed note: invalid hex character"},
      // 3. base64 before the name and the empty-data check
      {"url-safe base64", "example+22873f1b+AB-C", "malformed signed note: invalid base64 character"},
      {"bad base64 and bad name", "ex ample+22873f1b+AQ=", "malformed signed note: base64 length is not a multiple of 4"},
      {"non-canonical base64", "example+22873f1b+QR==", "malformed signed note: non-canonical base64"},
      {"too much padding", "example+22873f1b+A===", "malformed signed note: too much base64 padding"},
      {"trailing newline", "example+22873f1b+" + data_b64 + "\n", "malformed signed note: base64 length is not a multiple of 4"},
      // 4. empty data, empty name, white space in the name (before the id)
      {"empty key data", "example+22873f1b+", kMalformed},
      {"empty name", "+22873f1b+" + data_b64, kMalformed},
      {"space in name", "ex ample+22873f1b+" + data_b64, kMalformed},
      // 5. key id
      {"id mismatch", "example+22873f1c+" + data_b64,
       "malformed signed note: verifier key id mismatch: declared 22873f1c, computed 22873f1b"},
      {"id mismatch before type", verifier_key_text("k", 0x00000001, Bytes{0x02, 0x00}),
       "malformed signed note: verifier key id mismatch: declared 00000001, computed " +
           hex8(test::key_id_of("k", Bytes{0x02, 0x00}))},
      // 6. type
      {"type 0x02", verifier_key_text("k", Bytes{0x02, 0x01, 0x02}),
       "malformed signed note: unsupported signature type (leading byte 0x02)"},
      {"type 0x00", verifier_key_text("k", Bytes{0x00}),
       "malformed signed note: unsupported signature type (leading byte 0x00)"},
      {"0xFF with another label", verifier_key_text("k", composite_data(10, "quenfold-log.io/composite-mldsa-ed25519/v2")),
       "malformed signed note: unsupported signature type (leading byte 0xff)"},
      {"0xFF with a short label", verifier_key_text("k", Bytes{0xFF, 'q', 'u'}),
       "malformed signed note: unsupported signature type (leading byte 0xff)"},
      // 7. length
      {"ed25519 of 34 bytes", verifier_key_text("k", with_extra_byte(ed_data())), kMalformed},
      {"ed25519 of 1 byte", verifier_key_text("k", Bytes{0x01}), kMalformed},
      {"composite prefix only", verifier_key_text("k", composite_data(0)), kMalformed},
  };
  for (const auto& c : cases) {
    const auto k = VerifierKey::parse(c.text);
    ASSERT_FALSE(k.has_value()) << c.what;
    EXPECT_EQ(k.error().kind(), ErrorKind::MalformedSignedNote) << c.what;
    const std::string want =
        c.message.empty() ? "malformed signed note: malformed verifier key: \"" + c.text + "\"" : c.message;
    EXPECT_EQ(k.error().message(), want) << c.what;
  }
}

TEST(VerifierKey, NonAsciiWhiteSpaceInNamesIsRefusedAndQuoted) {
  const std::string data_b64 = test::base64_of(ed_data());
  struct Case {
    const char* name;
    const char* quoted_name;
  };
  const Case cases[] = {
      {"ex\xC2\xA0" "ample", "ex\\u{a0}ample"},       // U+00A0 no-break space
      {"ex\xE3\x80\x80" "ample", "ex\\u{3000}ample"}, // U+3000 ideographic space
      {"ex\xE2\x80\xA8" "ample", "ex\\u{2028}ample"}, // U+2028 line separator
      {"ex\xC2\x85" "ample", "ex\\u{85}ample"},       // U+0085 next line
      {"ex\tample", "ex\\tample"},
  };
  for (const auto& c : cases) {
    const auto k = VerifierKey::parse(std::string(c.name) + "+22873f1b+" + data_b64);
    ASSERT_FALSE(k.has_value()) << c.quoted_name;
    EXPECT_EQ(k.error().message(), "malformed signed note: malformed verifier key: \"" + std::string(c.quoted_name) +
                                       "+22873f1b+" + data_b64 + "\"");
  }
}

TEST(VerifierKey, ListStopsAtTheFirstFailure) {
  const std::string good = verifier_key_text("a", ed_data(1));
  const std::vector<std::string_view> texts = {good, "bad", "example+22873f1c+AAAA"};
  const auto keys = parse_verifier_keys(texts);
  ASSERT_FALSE(keys.has_value());
  EXPECT_EQ(keys.error().message(), "malformed signed note: malformed verifier key: \"bad\"");
  const std::vector<std::string_view> ok = {good, kExample};
  const auto parsed = parse_verifier_keys(ok);
  ASSERT_TRUE(parsed.has_value());
  ASSERT_EQ(parsed->size(), 2u);
  EXPECT_EQ((*parsed)[1].name, "example");
  EXPECT_TRUE(parse_verifier_keys({})->empty());
}

}  // namespace
}  // namespace quenfold::note
