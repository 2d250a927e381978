// The hiding commitment used inside directory proofs: SHA3-512 with context
// over a 32-byte opening followed by the value.
#pragma once

#include "crypto/hash.h"
#include "quenfold/types.h"

namespace quenfold {

inline constexpr std::size_t kCommitmentLen = 64;
inline constexpr std::size_t kOpeningLen = 32;

// sha3_512_with_context(context, opening || value). Cannot fail; the opening
// is hashed as given (callers check its length).
crypto::Bytes64 commit(ByteView context, ByteView value, ByteView opening);

}  // namespace quenfold
