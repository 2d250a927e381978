#include "encoding/base64.h"

#include <algorithm>

#include "crypto/base64.h"
#include "encoding/text.h"

namespace quenfold::encoding {
namespace {

constexpr char kPad = '=';

Error fail(const char* message) { return Error::malformed_signed_note(message); }

// The signed-note texts of a fault of the shared decoder. Both codecs accept
// exactly canonical padded base64; the note codec reports a length that is
// not a multiple of four, or three or more padding characters, before
// reading any group, and then names the first failing group by what is
// wrong with it. Once those two checks have passed, the decoder's first
// fault lies in that same group: it is the group's first '=' or foreign
// byte, or its non-zero unused bits.
const char* note_text(const crypto::base64::Fault& fault, std::string_view text) {
  using Kind = crypto::base64::Fault::Kind;
  if (fault.kind == Kind::InvalidLastSymbol) return "non-canonical base64";
  if (fault.kind == Kind::InvalidSymbol) {
    const std::string_view group = text.substr(fault.offset / 4 * 4, 4);
    const bool foreign =
        std::any_of(group.begin(), group.end(), [](char c) { return c != kPad && !crypto::base64::is_symbol(c); });
    if (foreign) return "invalid base64 character";
  }
  // A misplaced '=' (the two other kinds cannot follow the length checks).
  return "invalid base64 group";
}

}  // namespace

std::expected<Bytes, Error> base64_decode(std::string_view text) {
  if (text.size() % 4 != 0) return std::unexpected(fail("base64 length is not a multiple of 4"));
  const std::size_t last_symbol = text.find_last_not_of(kPad);
  const std::size_t trailing = last_symbol == std::string_view::npos ? text.size() : text.size() - 1 - last_symbol;
  if (trailing >= 3) return std::unexpected(fail("too much base64 padding"));
  auto decoded = crypto::base64::decode_canonical(text);
  if (!decoded) return std::unexpected(fail(note_text(decoded.error(), text)));
  return std::move(*decoded);
}

// Encoding has one canonical output, so both codecs share one encoder; only
// the decoders differ (in their failure texts).
std::string base64_encode(ByteView data) { return crypto::base64::encode(data); }

int hex_value(char c) noexcept {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::expected<std::array<std::uint8_t, 4>, Error> hex_decode(std::string_view text) {
  Bytes bytes;
  if (text.size() != 8 || !hex_append(text, bytes)) return std::unexpected(fail("invalid hex character"));
  std::array<std::uint8_t, 4> out{};
  std::copy(bytes.begin(), bytes.end(), out.begin());
  return out;
}

}  // namespace quenfold::encoding
