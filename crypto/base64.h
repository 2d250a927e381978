// The "dependency codec": standard-alphabet base64 with required, canonical
// padding, as the token formats use. Its failure texts are embedded in
// CryptoError messages ("base64 decode: ..."), so they are fixed:
//   "Invalid symbol <byte>, offset <i>."   "Invalid input length: <n>"
//   "Invalid last symbol <byte>, offset <i>."   "Invalid padding"
// Kept apart from the library's own strict codec (src/encoding/base64.h),
// which reports failures in other words.
#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/hash.h"

namespace quenfold::crypto::base64 {

std::expected<std::vector<std::uint8_t>, std::string> decode(std::string_view text);
std::string encode(ByteView data);

}  // namespace quenfold::crypto::base64
