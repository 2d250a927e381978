#include "encoding/base64.h"

#include "crypto/base64.h"

namespace quenfold::encoding {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kPad = '=';

constexpr std::array<std::int8_t, 256> make_table() {
  std::array<std::int8_t, 256> t{};
  for (auto& v : t) v = -1;
  for (int i = 0; i < 64; ++i) t[static_cast<unsigned char>(kAlphabet[i])] = static_cast<std::int8_t>(i);
  return t;
}
constexpr auto kValue = make_table();

Error fail(const char* message) { return Error::malformed_signed_note(message); }

}  // namespace

std::expected<Bytes, Error> base64_decode(std::string_view text) {
  if (text.size() % 4 != 0) return std::unexpected(fail("base64 length is not a multiple of 4"));
  if (text.empty()) return Bytes{};
  std::size_t trailing = 0;
  while (trailing < text.size() && text[text.size() - 1 - trailing] == kPad) ++trailing;
  if (trailing >= 3) return std::unexpected(fail("too much base64 padding"));

  Bytes out;
  out.reserve(text.size() / 4 * 3);
  const std::size_t groups = text.size() / 4;
  for (std::size_t g = 0; g < groups; ++g) {
    std::uint32_t acc = 0;
    int last_data = 0;  // 1-based position of the last non-pad character
    bool pad_seen = false;
    bool data_after_pad = false;
    for (int j = 0; j < 4; ++j) {
      const char c = text[g * 4 + static_cast<std::size_t>(j)];
      acc <<= 6;
      if (c == kPad) {
        pad_seen = true;
        continue;
      }
      const std::int8_t v = kValue[static_cast<unsigned char>(c)];
      if (v < 0) return std::unexpected(fail("invalid base64 character"));
      acc |= static_cast<std::uint32_t>(v);
      last_data = j + 1;
      if (pad_seen) data_after_pad = true;
    }
    // Padding is only legal at the very end: a pad followed by data inside a
    // group (AB=C), or a padded group that is not the last, is refused. Every
    // producer writes canonical base64, and accepting these would give one
    // value several spellings.
    if (data_after_pad || (pad_seen && g + 1 != groups))
      return std::unexpected(fail("invalid base64 group"));
    switch (last_data) {
      case 4:
        out.push_back(static_cast<std::uint8_t>(acc >> 16));
        out.push_back(static_cast<std::uint8_t>(acc >> 8));
        out.push_back(static_cast<std::uint8_t>(acc));
        break;
      case 3:
        if ((acc & 0xFF) != 0) return std::unexpected(fail("non-canonical base64"));
        out.push_back(static_cast<std::uint8_t>(acc >> 16));
        out.push_back(static_cast<std::uint8_t>(acc >> 8));
        break;
      case 2:
        if ((acc & 0xFFFF) != 0) return std::unexpected(fail("non-canonical base64"));
        out.push_back(static_cast<std::uint8_t>(acc >> 16));
        break;
      default:
        return std::unexpected(fail("invalid base64 group"));
    }
  }
  return out;
}

// Encoding has one canonical output, so both codecs share one encoder; only
// the decoders differ (in their failure texts).
std::string base64_encode(ByteView data) { return crypto::base64::encode(data); }

std::expected<std::array<std::uint8_t, 4>, Error> hex_decode(std::string_view text) {
  auto nibble = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::array<std::uint8_t, 4> out{};
  if (text.size() != 8) return std::unexpected(fail("invalid hex character"));
  for (std::size_t i = 0; i < 4; ++i) {
    const int hi = nibble(text[2 * i]);
    const int lo = nibble(text[2 * i + 1]);
    if (hi < 0 || lo < 0) return std::unexpected(fail("invalid hex character"));
    out[i] = static_cast<std::uint8_t>((hi << 4) | lo);
  }
  return out;
}

}  // namespace quenfold::encoding
