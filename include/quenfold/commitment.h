// Checking a SHA3-512 commitment opening.
#pragma once

#include <expected>
#include <string_view>

#include "quenfold/error.h"
#include "quenfold/types.h"

namespace quenfold {

// `commitment` is 64 bytes and `opening` 32 bytes; succeeds exactly when
// `commitment` equals SHA3-512 with context `context` (any text, used as
// given) over `opening` followed by `value`.
std::expected<void, Error> verify_commitment(std::string_view context, ByteView commitment,
                                             ByteView value, ByteView opening);

}  // namespace quenfold
