// The token codec: canonical padded base64 with fixed failure texts that
// appear inside "base64 decode: ..." messages.
#include <gtest/gtest.h>

#include <string>

#include "crypto/base64.h"
#include "support/testdata.h"

namespace quenfold::crypto {
namespace {

using test::Bytes;

struct Accepted {
  const char* text;
  const char* hex;
};

TEST(TokenBase64, DecodesCanonicalText) {
  const Accepted cases[] = {
      {"", ""},           {"Zg==", "66"},         {"AAAA", "000000"},   {"AA==", "00"},
      {"AAA=", "0000"},   {"QQ==", "41"},         {"QUI=", "4142"},     {"AAECAw==", "00010203"},
      {"+/+/", "fbffbf"}, {"AAAAAAAA", "000000000000"},
  };
  for (const auto& c : cases) {
    const auto got = base64::decode(c.text);
    ASSERT_TRUE(got.has_value()) << c.text << ": " << got.error();
    EXPECT_EQ(test::to_hex(*got), c.hex) << c.text;
  }
}

struct Refused {
  const char* text;
  const char* message;
};

TEST(TokenBase64, ReportsTheFirstFailureWithItsOffset) {
  const Refused cases[] = {
      // Unused bits of the last symbol.
      {"Zh==", "Invalid last symbol 104, offset 1."},
      {"QR==", "Invalid last symbol 82, offset 1."},
      {"QUJ=", "Invalid last symbol 74, offset 2."},
      {"AAAAQUJ=", "Invalid last symbol 74, offset 6."},
      // One symbol in the final quad.
      {"A", "Invalid input length: 1"},
      {"AAAAA", "Invalid input length: 5"},
      // Padding missing or short.
      {"Zg", "Invalid padding"},
      {"Zg=", "Invalid padding"},
      {"AAAAAA", "Invalid padding"},
      {"AAAAAAA", "Invalid padding"},
      // '=' in the first two positions of the final quad, or before a symbol.
      {"====", "Invalid symbol 61, offset 0."},
      {"Z===", "Invalid symbol 61, offset 1."},
      {"AB=C", "Invalid symbol 61, offset 2."},
      {"AAAA=", "Invalid symbol 61, offset 4."},
      {"AAAAA=", "Invalid symbol 61, offset 5."},
      // '=' inside a complete quad that is not the last.
      {"AA==AAAA", "Invalid symbol 61, offset 2."},
      {"AA===", "Invalid symbol 61, offset 2."},
      // Characters outside the standard alphabet.
      {"AB-C", "Invalid symbol 45, offset 2."},
      {"AB_C", "Invalid symbol 95, offset 2."},
      {"AAAA AAA", "Invalid symbol 32, offset 4."},
      {"AAAAAA\nA", "Invalid symbol 10, offset 6."},
      // A stray last character is reported before anything earlier.
      {"AAAA\n", "Invalid symbol 10, offset 4."},
      {"!AAAA\n", "Invalid symbol 33, offset 0."},
      {"!AAA\n", "Invalid symbol 10, offset 4."},
  };
  for (const auto& c : cases) {
    const auto got = base64::decode(c.text);
    ASSERT_FALSE(got.has_value()) << c.text << " decoded to " << test::to_hex(*got);
    EXPECT_EQ(got.error(), c.message) << c.text;
  }
}

TEST(TokenBase64, EncodeIsPaddedAndRoundTrips) {
  EXPECT_EQ(base64::encode(Bytes{}), "");
  EXPECT_EQ(base64::encode(Bytes{0x00, 0x01, 0x02, 0x03}), "AAECAw==");
  EXPECT_EQ(base64::encode(Bytes{0x66}), "Zg==");
  EXPECT_EQ(base64::encode(Bytes{0x41, 0x42}), "QUI=");
  Bytes data;
  for (int n = 0; n < 70; ++n) {
    const std::string text = base64::encode(data);
    EXPECT_EQ(text.size(), (data.size() + 2) / 3 * 4);
    const auto back = base64::decode(text);
    ASSERT_TRUE(back.has_value()) << text;
    EXPECT_EQ(*back, data);
    data.push_back(static_cast<std::uint8_t>(n * 37 + 11));
  }
}

}  // namespace
}  // namespace quenfold::crypto
