// Key-history v1 entries: canonical leaf bytes and the digests derived from
// them. The library computes; linking a chain is the caller's business (an
// entry's prev_entry_hash is its predecessor's entry hash).
//
// Every function takes the entry's fields; a prev_entry_hash that is absent
// or empty denotes the genesis entry.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string_view>

#include "quenfold/error.h"
#include "quenfold/types.h"

namespace quenfold {

// The canonical leaf bytes: u32 version 1, u64 seq, u64 ts_ms, then the
// three keys and prev_entry_hash each with a u32 length prefix (big-endian).
std::expected<Bytes, Error> key_history_v1_canonical_bytes(
    std::uint64_t seq, std::uint64_t ts_ms, ByteView enc_x25519, ByteView enc_pq,
    ByteView signing_pub, const std::optional<ByteView>& prev_entry_hash);

// The 64-byte chain hash under "brackle/key-history/v1".
std::expected<Bytes, Error> key_history_v1_entry_hash(
    std::uint64_t seq, std::uint64_t ts_ms, ByteView enc_x25519, ByteView enc_pq,
    ByteView signing_pub, const std::optional<ByteView>& prev_entry_hash);

// The 64-byte chain hash under the caller's context label ("owner/purpose/vN").
std::expected<Bytes, Error> key_history_entry_hash_with_context(
    std::string_view context, std::uint64_t seq, std::uint64_t ts_ms, ByteView enc_x25519,
    ByteView enc_pq, ByteView signing_pub, const std::optional<ByteView>& prev_entry_hash);

// SHA-256(0x00 || canonical bytes): the leaf hash for verify_inclusion.
std::expected<Bytes, Error> key_history_v1_rfc6962_leaf_hash(
    std::uint64_t seq, std::uint64_t ts_ms, ByteView enc_x25519, ByteView enc_pq,
    ByteView signing_pub, const std::optional<ByteView>& prev_entry_hash);

}  // namespace quenfold
