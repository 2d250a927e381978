// The library's one hex decoder: two digits (either case) per byte and
// nothing else, whole or appended to a buffer that keeps what it held.
#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "encoding/base64.h"
#include "encoding/text.h"

namespace quenfold::encoding {
namespace {

using Raw = std::vector<std::uint8_t>;

TEST(Hex, DecodesExactlyTwoDigitsPerByte) {
  const struct {
    std::string text;
    std::optional<Raw> bytes;
  } cases[] = {
      {"", Raw{}},
      {"00", Raw{0x00}},
      {"0aFf", Raw{0x0a, 0xff}},
      {"DEADbeef", Raw{0xde, 0xad, 0xbe, 0xef}},
      {"0", std::nullopt},
      {"abc", std::nullopt},
      {"0g", std::nullopt},
      {"ab cd", std::nullopt},
      {" abcd", std::nullopt},
      {"0x12", std::nullopt},
      {"+1", std::nullopt},
      {std::string("a\0", 2), std::nullopt},
      {"\xc3\xa9", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(hex_to_bytes(c.text), c.bytes);
    Raw buffer = {0x01, 0x02};
    EXPECT_EQ(hex_append(c.text, buffer), c.bytes.has_value());
    Raw want = {0x01, 0x02};
    if (c.bytes) want.insert(want.end(), c.bytes->begin(), c.bytes->end());
    EXPECT_EQ(buffer, want);  // a failure leaves the buffer as it was
  }
  // The key-id decoder is the same decoder at a fixed length.
  EXPECT_EQ(*hex_decode("DEADbeef"), (std::array<std::uint8_t, 4>{0xde, 0xad, 0xbe, 0xef}));
  EXPECT_FALSE(hex_decode("DEADbee").has_value());
  EXPECT_FALSE(hex_decode("DEADbeef00").has_value());
}

}  // namespace
}  // namespace quenfold::encoding
