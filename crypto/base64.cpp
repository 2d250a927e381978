// The token codec: RFC 4648 standard alphabet, '=' padding written on encode
// and required (canonical) on decode, non-zero unused trailing bits refused.
//
// Decoding walks the text as complete quads followed by one final quad of
// one to four characters (the only place where padding may appear), which
// fixes which failure a text reports and at which offset:
//   - a text whose length leaves one character over and whose last character
//     is neither '=' nor in the alphabet reports that character first;
//   - inside the complete quads, '=' is an invalid symbol like any other;
//   - in the final quad, '=' in its first two positions, or any symbol after
//     a '=', is an invalid symbol (reported at the first '=');
//   - a final quad with a single symbol is an invalid length; one whose
//     symbols plus padding are not four is invalid padding;
//   - unused bits of the last symbol must be zero.
#include "crypto/base64.h"

#include <array>

namespace quenfold::crypto::base64 {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kPad = '=';
constexpr std::uint8_t kInvalid = 0xFF;

constexpr std::array<std::uint8_t, 256> make_table() {
  std::array<std::uint8_t, 256> t{};
  for (auto& v : t) v = kInvalid;
  for (int i = 0; i < 64; ++i) t[static_cast<unsigned char>(kAlphabet[i])] = static_cast<std::uint8_t>(i);
  return t;
}
constexpr auto kValue = make_table();

std::unexpected<Fault> invalid_symbol(std::size_t offset, unsigned char byte) {
  return std::unexpected(Fault{Fault::Kind::InvalidSymbol, offset, byte});
}

}  // namespace

bool is_symbol(char c) noexcept { return kValue[static_cast<unsigned char>(c)] != kInvalid; }

std::string fault_text(const Fault& f) {
  const std::string at = std::to_string(f.byte) + ", offset " + std::to_string(f.offset) + ".";
  switch (f.kind) {
    case Fault::Kind::InvalidSymbol: return "Invalid symbol " + at;
    case Fault::Kind::InvalidLength: return "Invalid input length: " + std::to_string(f.offset);
    case Fault::Kind::InvalidPadding: return "Invalid padding";
    case Fault::Kind::InvalidLastSymbol: return "Invalid last symbol " + at;
  }
  return "Invalid padding";
}

std::expected<std::vector<std::uint8_t>, std::string> decode(std::string_view text) {
  auto out = decode_canonical(text);
  if (!out) return std::unexpected(fault_text(out.error()));
  return std::move(*out);
}

std::expected<std::vector<std::uint8_t>, Fault> decode_canonical(std::string_view text) {
  const std::size_t n = text.size();
  const std::size_t rem = n % 4;
  // A stray single character at the end (a newline, say) is reported as
  // itself rather than as a length problem.
  if (rem == 1) {
    const auto last = static_cast<unsigned char>(text[n - 1]);
    if (last != kPad && kValue[last] == kInvalid) return invalid_symbol(n - 1, last);
  }
  // Complete quads before the final one (which may carry padding).
  std::size_t body = n - rem;
  if (rem == 0 && body >= 4) body -= 4;

  std::vector<std::uint8_t> out;
  out.reserve(n / 4 * 3 + 3);
  for (std::size_t q = 0; q < body; q += 4) {
    std::uint32_t acc = 0;
    for (std::size_t j = 0; j < 4; ++j) {
      const auto c = static_cast<unsigned char>(text[q + j]);
      const std::uint8_t v = kValue[c];
      if (v == kInvalid) return invalid_symbol(q + j, c);
      acc = (acc << 6) | v;
    }
    out.push_back(static_cast<std::uint8_t>(acc >> 16));
    out.push_back(static_cast<std::uint8_t>(acc >> 8));
    out.push_back(static_cast<std::uint8_t>(acc));
  }

  // The final quad: one to four characters (none for the empty text).
  std::size_t symbols = 0;
  std::size_t pads = 0;
  std::size_t first_pad = 0;
  unsigned char last_symbol = 0;
  std::uint32_t acc = 0;
  for (std::size_t i = body; i < n; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    const std::size_t pos = i - body;
    if (c == kPad) {
      if (pos < 2) return invalid_symbol(i, c);
      if (pads == 0) first_pad = i;
      ++pads;
      continue;
    }
    if (pads > 0) return invalid_symbol(first_pad, kPad);
    const std::uint8_t v = kValue[c];
    if (v == kInvalid) return invalid_symbol(i, c);
    acc |= std::uint32_t{v} << (26 - 6 * symbols);
    last_symbol = c;
    ++symbols;
  }
  if (n > 0 && symbols < 2) return std::unexpected(Fault{Fault::Kind::InvalidLength, body + symbols, 0});
  if ((symbols + pads) % 4 != 0) return std::unexpected(Fault{Fault::Kind::InvalidPadding, 0, 0});

  const std::size_t bytes = symbols * 6 / 8;
  const std::uint32_t unused = bytes == 0 ? acc : (acc & (~std::uint32_t{0} >> (bytes * 8)));
  if (unused != 0) return std::unexpected(Fault{Fault::Kind::InvalidLastSymbol, body + symbols - 1, last_symbol});
  for (std::size_t k = 0; k < bytes; ++k) out.push_back(static_cast<std::uint8_t>(acc >> (24 - 8 * k)));
  return out;
}

std::string encode(ByteView data) {
  std::string out;
  out.reserve((data.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= data.size(); i += 3) {
    const std::uint32_t v = (std::uint32_t{data[i]} << 16) | (std::uint32_t{data[i + 1]} << 8) | data[i + 2];
    for (int s = 18; s >= 0; s -= 6) out.push_back(kAlphabet[(v >> s) & 63]);
  }
  const std::size_t rest = data.size() - i;
  if (rest == 0) return out;
  std::uint32_t v = std::uint32_t{data[i]} << 16;
  if (rest == 2) v |= std::uint32_t{data[i + 1]} << 8;
  out.push_back(kAlphabet[(v >> 18) & 63]);
  out.push_back(kAlphabet[(v >> 12) & 63]);
  out.push_back(rest == 2 ? kAlphabet[(v >> 6) & 63] : kPad);
  out.push_back(kPad);
  return out;
}

}  // namespace quenfold::crypto::base64
