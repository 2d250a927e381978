// The library's strict RFC 4648 base64 (standard alphabet, '=' padding) and
// the key-id hex decoder. Failures are MalformedSignedNote errors; callers
// that need another wording replace the error.
#pragma once

#include <array>
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

#include "quenfold/error.h"
#include "quenfold/types.h"

namespace quenfold::encoding {

std::expected<Bytes, Error> base64_decode(std::string_view text);
std::string base64_encode(ByteView data);

// The value of one hex digit (either case), or -1 if it is none.
int hex_value(char c) noexcept;

// Exactly eight hex digits (either case) into four bytes, in text order.
std::expected<std::array<std::uint8_t, 4>, Error> hex_decode(std::string_view text);

}  // namespace quenfold::encoding
