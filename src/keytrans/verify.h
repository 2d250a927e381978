// The three KEYTRANS verifications over an already selected suite.
#pragma once

#include <cstdint>
#include <expected>

#include "keytrans/params.h"
#include "quenfold/error.h"
#include "quenfold/types.h"

namespace quenfold::keytrans {

std::expected<SearchResult, Error> verify_search(const KeytransParams& params, ByteView root,
                                                 ByteView label, ByteView proof);
std::expected<SearchResult, Error> verify_fixed_version(const KeytransParams& params, ByteView root,
                                                        ByteView label, ByteView proof);
std::expected<void, Error> verify_monitor(const KeytransParams& params, ByteView root, ByteView label,
                                          ByteView proof);

// The commitment of the suite to (label, version, value) under `opening`:
// HMAC-SHA-256 under the fixed protocol key for the two standard suites
// (32 bytes), the context-bound SHA3-512 commitment for QuenfoldHybridExp
// (64 bytes).
std::expected<Bytes, Error> compute_commitment(const KeytransParams& params, ByteView label,
                                               std::uint32_t version, ByteView value, ByteView opening);

}  // namespace quenfold::keytrans
