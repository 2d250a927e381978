// KEYTRANS combined-tree proofs: greatest-version search, fixed-version search
// and monitoring of a label, bound to a trusted 32-byte combined root. The
// forms without a suite run under the experimental suite QuenfoldHybridExp
// (suite id 0xF000); the `_suite` forms take 0x0001 (KT_128_SHA256_P256),
// 0x0002 (KT_128_SHA256_Ed25519) or 0xF000.
#pragma once

#include <cstdint>
#include <expected>
#include <string_view>

#include "quenfold/error.h"
#include "quenfold/types.h"

namespace quenfold {

// The newest version of `label` and its value, or absence, as proven by a
// search proof under `root` and the directory's VRF key `vrf_public`. The
// proof must be about the newest log leaf (entry_index = tree_size - 1).
std::expected<SearchResult, Error> keytrans_verify_search(std::string_view context, ByteView vrf_public,
                                                          ByteView root, ByteView label, ByteView proof);
// Whether the version named in a fixed-version proof is present, and its value.
std::expected<SearchResult, Error> keytrans_verify_fixed_version(std::string_view context,
                                                                 ByteView vrf_public, ByteView root,
                                                                 ByteView label, ByteView proof);
// Succeeds exactly when every rung of the monitoring ladder of the proof's
// version of `label` is included under `root`.
std::expected<void, Error> keytrans_verify_monitor(std::string_view context, ByteView vrf_public,
                                                   ByteView root, ByteView label, ByteView proof);

// The same three under the suite `suite_id`.
std::expected<SearchResult, Error> keytrans_verify_search_suite(std::uint16_t suite_id,
                                                                std::string_view context,
                                                                ByteView vrf_public, ByteView root,
                                                                ByteView label, ByteView proof);
std::expected<SearchResult, Error> keytrans_verify_fixed_version_suite(std::uint16_t suite_id,
                                                                       std::string_view context,
                                                                       ByteView vrf_public, ByteView root,
                                                                       ByteView label, ByteView proof);
std::expected<void, Error> keytrans_verify_monitor_suite(std::uint16_t suite_id, std::string_view context,
                                                         ByteView vrf_public, ByteView root,
                                                         ByteView label, ByteView proof);

}  // namespace quenfold
