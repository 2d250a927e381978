// The "dependency codec": standard-alphabet base64 with required, canonical
// padding, as the token formats use. Its failure texts are embedded in
// CryptoError messages ("base64 decode: ..."), so they are fixed:
//   "Invalid symbol <byte>, offset <i>."   "Invalid input length: <n>"
//   "Invalid last symbol <byte>, offset <i>."   "Invalid padding"
// The library's own strict codec (src/encoding/base64.h) decodes with the
// same function and reports failures in other words.
#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/hash.h"

namespace quenfold::crypto::base64 {

// The first reason, in reading order, why a text is not canonical padded
// base64. The library's two codecs share the decoder and word these
// differently: the token texts below, and the signed-note texts of
// src/encoding/base64.h.
struct Fault {
  enum class Kind : std::uint8_t {
    InvalidSymbol,      // `byte` at `offset` is not a symbol there ('=' included)
    InvalidLength,      // the final quad holds one symbol; `offset` counts the symbols read
    InvalidPadding,     // symbols and padding of the final quad are not four
    InvalidLastSymbol,  // `byte` at `offset` leaves non-zero unused bits
  };
  Kind kind;
  std::size_t offset;
  unsigned char byte;
};

// One of the 64 symbols of the standard alphabet ('=' is not).
bool is_symbol(char c) noexcept;

std::expected<std::vector<std::uint8_t>, Fault> decode_canonical(std::string_view text);
// The token codec's text of a fault.
std::string fault_text(const Fault& fault);

// decode_canonical with the token codec's texts.
std::expected<std::vector<std::uint8_t>, std::string> decode(std::string_view text);
std::string encode(ByteView data);

}  // namespace quenfold::crypto::base64
