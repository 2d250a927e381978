#include <gtest/gtest.h>

#include <random>

#include "encoding/base64.h"
#include "support/testdata.h"

namespace quenfold::encoding {
namespace {

std::string decode_result(std::string_view text) {
  auto r = base64_decode(text);
  return r ? "ok:" + test::to_hex(*r) : r.error().message();
}

TEST(Base64Decode, EdgeCases) {
  const std::string p = "malformed signed note: ";
  struct Case {
    const char* text;
    std::string want;
  };
  const std::vector<Case> cases = {
      {"", "ok:"},
      {"AAAA", "ok:000000"},
      {"AA==", "ok:00"},
      {"AAA=", "ok:0000"},
      {"Zg==", "ok:66"},
      {"Zh==", p + "non-canonical base64"},
      {"Z===", p + "too much base64 padding"},
      {"====", p + "too much base64 padding"},
      {"A===", p + "too much base64 padding"},
      {"Zg=", p + "base64 length is not a multiple of 4"},
      {"A", p + "base64 length is not a multiple of 4"},
      {"QQ==", "ok:41"},
      {"QR==", p + "non-canonical base64"},
      {"QUI=", "ok:4142"},
      {"QUJ=", p + "non-canonical base64"},
      {"AB-C", p + "invalid base64 character"},
      {"AB_C", p + "invalid base64 character"},
      {"AB C", p + "invalid base64 character"},
      {"AB\nC", p + "invalid base64 character"},
      // Padding followed by data is refused: canonical producers never write it.
      {"AB=C", p + "invalid base64 group"},
      {"AB==CDEF", p + "invalid base64 group"},
      {"A=BC", p + "invalid base64 group"},
      // The first offending character in text order decides.
      {"A-==", p + "invalid base64 character"},
  };
  for (const auto& c : cases) EXPECT_EQ(decode_result(c.text), c.want) << c.text;
}

TEST(Base64Encode, KnownValues) {
  EXPECT_EQ(base64_encode({}), "");
  const Bytes b = {0, 1, 2, 3};
  EXPECT_EQ(base64_encode(b), "AAECAw==");
  const Bytes f = {'f', 'o', 'o', 'b'};
  EXPECT_EQ(base64_encode(ByteView(f).first(1)), "Zg==");
  EXPECT_EQ(base64_encode(ByteView(f).first(2)), "Zm8=");
  EXPECT_EQ(base64_encode(ByteView(f).first(3)), "Zm9v");
}

// decode(encode(x)) == x for every length 0..300, and every one-character
// change of a canonical encoding decodes to other bytes or fails.
TEST(Base64Property, RoundTripAndSingleCharacterChanges) {
  std::mt19937_64 rng(42);
  const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=-_ .";
  for (std::size_t n = 0; n <= 300; ++n) {
    Bytes data(n);
    for (auto& b : data) b = static_cast<std::uint8_t>(rng());
    const std::string text = base64_encode(data);
    ASSERT_EQ(text.size(), (n + 2) / 3 * 4);
    auto back = base64_decode(text);
    ASSERT_TRUE(back) << n;
    ASSERT_EQ(*back, data) << n;
    if (text.empty()) continue;
    for (int k = 0; k < 8; ++k) {
      std::string mutated = text;
      const std::size_t pos = rng() % text.size();
      char c;
      do {
        c = alphabet[rng() % alphabet.size()];
      } while (c == text[pos]);
      mutated[pos] = c;
      auto r = base64_decode(mutated);
      if (r) {
        EXPECT_NE(*r, data) << mutated;
      }
    }
  }
}

TEST(HexDecode, KeyIds) {
  auto r = hex_decode("DEADbeef");
  ASSERT_TRUE(r);
  EXPECT_EQ(test::to_hex(*r), "deadbeef");
  auto bad = hex_decode("0000000g");
  ASSERT_FALSE(bad);
  EXPECT_EQ(bad.error().message(), "malformed signed note: invalid hex character");
}

}  // namespace
}  // namespace quenfold::encoding
