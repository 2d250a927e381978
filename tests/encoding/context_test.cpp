#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "encoding/context.h"
#include "encoding/text.h"
#include "support/testdata.h"

namespace quenfold::encoding {
namespace {

std::string parse_result(std::string_view label) {
  auto r = ContextLabel::parse(label);
  return r ? "v" + std::to_string(r->version()) : r.error().message();
}

TEST(ContextLabel, GrammarInOrder) {
  const std::string p = "malformed canonical leaf: ";
  const std::string too_many = p + "context label has too many '/'-segments: ";
  const std::string printable = p + "context label segments must be non-empty printable ASCII: ";
  const std::string start_v = p + "context label version must start with 'v': ";
  const std::string digits = p + "context label version must be 'v' followed by digits: ";
  const std::string zeros = p + "context label version must not have leading zeros: ";
  const std::string overflow = p + "context label version overflow: ";
  struct Case {
    std::string label, want;
  };
  const std::vector<Case> cases = {
      {"a/b/v0", "v0"},
      {"acme/key-history/v1", "v1"},
      {"a/b/v18446744073709551615", "v18446744073709551615"},
      {"a/b/v18446744073709551616", overflow + "\"a/b/v18446744073709551616\""},
      {"a/b/v99999999999999999999", overflow + "\"a/b/v99999999999999999999\""},
      {"a/b/v00", zeros + "\"a/b/v00\""},
      {"a/b/v01", zeros + "\"a/b/v01\""},
      {"a/b/v", digits + "\"a/b/v\""},
      {"a/b/v1x", digits + "\"a/b/v1x\""},
      {"a/b/v+1", digits + "\"a/b/v+1\""},
      {"a/b", start_v + "\"a/b\""},
      {"a/b/", start_v + "\"a/b/\""},
      {"a/b/1", start_v + "\"a/b/1\""},
      {"a", printable + "\"a\""},
      {"a//v1", printable + "\"a//v1\""},
      {"/b/v1", printable + "\"/b/v1\""},
      {"", printable + "\"\""},
      {"a b/c/v1", printable + "\"a b/c/v1\""},
      {"a\xc3\xa9/c/v1", printable + "\"a\xc3\xa9/c/v1\""},
      {"a/b/v1/", too_many + "\"a/b/v1/\""},
      {"a/b/c/v1", too_many + "\"a/b/c/v1\""},
      {"a b/c/d/v1", too_many + "\"a b/c/d/v1\""},
      {"a\"q/b c/v1", printable + "\"a\\\"q/b c/v1\""},
      {"acme/key-history/v01", zeros + "\"acme/key-history/v01\""},
  };
  for (const auto& c : cases) EXPECT_EQ(parse_result(c.label), c.want) << c.label;
  auto l = ContextLabel::parse("acme/key-history/v7");
  ASSERT_TRUE(l);
  EXPECT_EQ(l->owner(), "acme");
  EXPECT_EQ(l->purpose(), "key-history");
}

TEST(Namespace, Validation) {
  EXPECT_TRUE(validate_namespace("a-b.c_d~!"));
  EXPECT_TRUE(validate_namespace("example.org"));
  for (std::string_view bad : {"a/b", "a b", "", "tab\there", "\x7f"}) {
    auto r = validate_namespace(bad);
    ASSERT_FALSE(r) << bad;
    EXPECT_EQ(r.error().message(),
              "malformed namespace: namespace must be non-empty printable ASCII without '/': " + quoted(bad));
  }
}

TEST(Sha3WithContext, WorkedExampleAndEmptyContext) {
  const auto d = sha3_512_with_context("acme/key-history/v1", test::bytes_of("abc"));
  EXPECT_EQ(test::to_hex(d),
            "e510ec6f1dba9380e6b441c279131f822aaa84e978fbfb1184e7022448ccbf58ebefaf9c91f417c795ac1a00ed168eed3a14ab30a7cbe4dfe785cdab294d73c0");
  // The same digest over the explicit bytes, and the empty-context prefix.
  const Bytes explicit_input = test::from_hex("000000000000001361636d652f6b65792d686973746f72792f7631616263");
  EXPECT_EQ(crypto::sha3_512({explicit_input}), d);
  const Bytes empty_prefixed = test::from_hex("0000000000000000616263");
  EXPECT_EQ(sha3_512_with_context(std::string_view{}, test::bytes_of("abc")), crypto::sha3_512({empty_prefixed}));
}

TEST(QuotedForm, Escapes) {
  EXPECT_EQ(quoted("log"), "\"log\"");
  EXPECT_EQ(quoted("a\"b\\c"), "\"a\\\"b\\\\c\"");
  EXPECT_EQ(quoted(std::string_view("t\tr\rn\nz\0", 8)), "\"t\\tr\\rn\\nz\\0\"");
  EXPECT_EQ(quoted("\x01\x7f"), "\"\\u{1}\\u{7f}\"");
  EXPECT_EQ(quoted("nb\xc2\xa0sp"), "\"nb\\u{a0}sp\"");
  EXPECT_EQ(quoted("\xe2\x80\x94 em"), "\"\xe2\x80\x94 em\"");
  EXPECT_EQ(quoted("\xff"), "\"\\x{ff}\"");
  EXPECT_EQ(hex_fixed(0x1A2B, 8), "00001a2b");
}

// A message echoes at most kEchoLimit characters of quoted content: up to
// the limit the echo is the quoted form itself; beyond it, the longest
// prefix of whole escapes and the count of bytes left out.
TEST(QuotedForm, EchoIsCappedWithoutSplittingAnEscape) {
  const std::string a256(256, 'a'), a255(255, 'a');
  std::string ff42;
  for (int i = 0; i < 42; ++i) ff42 += "\\x{ff}";
  struct Case {
    const char* what;
    std::string text;
    std::string want;
  };
  const std::vector<Case> cases = {
      {"short", "log", "\"log\""},
      {"exactly the limit", a256, "\"" + a256 + "\""},
      {"one past the limit", a256 + "b", "\"" + a256 + "\"... (1 more bytes)"},
      {"escape that would cross the limit", a255 + "\xff", "\"" + a255 + "\"... (1 more bytes)"},
      {"two-character escape at the limit", a255 + "\"", "\"" + a255 + "\"... (1 more bytes)"},
      {"escape ending at the limit", std::string(250, 'a') + "\xff", "\"" + std::string(250, 'a') + "\\x{ff}\""},
      {"a multi-byte character counts once", "\xe2\x80\x94" + std::string(255, 'x'),
       "\"\xe2\x80\x94" + std::string(255, 'x') + "\""},
      {"a megabyte of 0xff", std::string(1 << 20, '\xff'),
       "\"" + ff42 + "\"... (" + std::to_string((1 << 20) - 42) + " more bytes)"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(echoed(c.text), c.want) << c.what;
    if (c.want.back() == '"') {
      EXPECT_EQ(echoed(c.text), encoding::quoted(c.text)) << c.what;
    }
  }
}

}  // namespace
}  // namespace quenfold::encoding
