// The key-history entry as a value.
#pragma once

#include <expected>
#include <optional>

#include "crypto/hash.h"
#include "encoding/context.h"
#include "quenfold/error.h"
#include "quenfold/types.h"

namespace quenfold::key_history {

inline constexpr std::string_view kKeyHistoryLabel = "brackle/key-history/v1";
inline constexpr std::uint32_t kKeyHistoryFormat = 1;

struct KeyHistoryEntry {
  std::uint64_t seq = 0;
  std::uint64_t ts_ms = 0;
  ByteView enc_x25519;
  ByteView enc_pq;
  ByteView signing_pub;
  std::optional<ByteView> prev_entry_hash;  // absent for the genesis entry

  // Refuses a present-but-empty prev_entry_hash (genesis must be absent) and
  // fields too long for their 32-bit length prefix.
  std::expected<Bytes, Error> canonical_bytes() const;
  std::expected<crypto::Bytes64, Error> entry_hash(const encoding::ContextLabel& label) const;
};

}  // namespace quenfold::key_history
