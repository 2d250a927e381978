#include "key_history/key_history.h"

#include <limits>

#include "base/try.h"
#include "base/writer.h"
#include "quenfold/key_history.h"
#include "quenfold/merkle.h"

namespace quenfold::key_history {
namespace {

constexpr std::size_t kLengthPrefix = 4;

std::expected<void, Error> append_prefixed(encoding::Writer& out, const char* field, ByteView data) {
  if (data.size() > encoding::max_prefixed_length(kLengthPrefix))
    return std::unexpected(Error::malformed_canonical_leaf(
        std::string(field) + " of " + std::to_string(data.size()) +
        " bytes does not fit its 32-bit length prefix"));
  out.prefixed(kLengthPrefix, data);
  return {};
}

}  // namespace

std::expected<Bytes, Error> KeyHistoryEntry::canonical_bytes() const {
  if (prev_entry_hash && prev_entry_hash->empty())
    return std::unexpected(
        Error::malformed_canonical_leaf("prev_entry_hash present but empty; genesis must use None"));
  // format, seq, ts_ms, then four length-prefixed fields.
  encoding::Writer out(4 + 8 + 8 + 4 * kLengthPrefix + enc_x25519.size() + enc_pq.size() + signing_pub.size() +
                       (prev_entry_hash ? prev_entry_hash->size() : 0));
  out.u32(kKeyHistoryFormat).u64(seq).u64(ts_ms);
  for (auto [name, field] : {std::pair{"enc_x25519", enc_x25519}, std::pair{"enc_pq", enc_pq},
                             std::pair{"signing_pub", signing_pub},
                             std::pair{"prev_entry_hash", prev_entry_hash.value_or(ByteView{})}}) {
    QUENFOLD_CHECK(append_prefixed(out, name, field));
  }
  return out.take();
}

std::expected<crypto::Bytes64, Error> KeyHistoryEntry::entry_hash(
    const encoding::ContextLabel& label) const {
  QUENFOLD_TRY(const Bytes bytes, canonical_bytes());
  return encoding::sha3_512_with_context(label.text(), bytes);
}

}  // namespace quenfold::key_history

namespace quenfold {
namespace {

// The boundary's entry: absent and empty prev_entry_hash are both genesis.
key_history::KeyHistoryEntry entry_of(std::uint64_t seq, std::uint64_t ts_ms, ByteView enc_x25519,
                                ByteView enc_pq, ByteView signing_pub,
                                const std::optional<ByteView>& prev) {
  std::optional<ByteView> normalised = prev;
  if (normalised && normalised->empty()) normalised.reset();
  return {seq, ts_ms, enc_x25519, enc_pq, signing_pub, normalised};
}

std::expected<Bytes, Error> hash_under(std::string_view context, const key_history::KeyHistoryEntry& e) {
  QUENFOLD_TRY(const auto label, encoding::ContextLabel::parse(context));
  QUENFOLD_TRY(const crypto::Bytes64 h, e.entry_hash(label));
  return Bytes(h.begin(), h.end());
}

}  // namespace

std::expected<Bytes, Error> key_history_v1_canonical_bytes(std::uint64_t seq, std::uint64_t ts_ms,
                                                           ByteView enc_x25519, ByteView enc_pq,
                                                           ByteView signing_pub,
                                                           const std::optional<ByteView>& prev) {
  return entry_of(seq, ts_ms, enc_x25519, enc_pq, signing_pub, prev).canonical_bytes();
}

std::expected<Bytes, Error> key_history_v1_entry_hash(std::uint64_t seq, std::uint64_t ts_ms,
                                                      ByteView enc_x25519, ByteView enc_pq,
                                                      ByteView signing_pub,
                                                      const std::optional<ByteView>& prev) {
  return hash_under(key_history::kKeyHistoryLabel, entry_of(seq, ts_ms, enc_x25519, enc_pq, signing_pub, prev));
}

std::expected<Bytes, Error> key_history_entry_hash_with_context(
    std::string_view context, std::uint64_t seq, std::uint64_t ts_ms, ByteView enc_x25519,
    ByteView enc_pq, ByteView signing_pub, const std::optional<ByteView>& prev) {
  return hash_under(context, entry_of(seq, ts_ms, enc_x25519, enc_pq, signing_pub, prev));
}

std::expected<Bytes, Error> key_history_v1_rfc6962_leaf_hash(std::uint64_t seq, std::uint64_t ts_ms,
                                                             ByteView enc_x25519, ByteView enc_pq,
                                                             ByteView signing_pub,
                                                             const std::optional<ByteView>& prev) {
  QUENFOLD_TRY(const Bytes bytes, entry_of(seq, ts_ms, enc_x25519, enc_pq, signing_pub, prev).canonical_bytes());
  const auto h = rfc6962_leaf_hash(bytes);
  return Bytes(h.begin(), h.end());
}

}  // namespace quenfold
