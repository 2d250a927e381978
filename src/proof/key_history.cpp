#include "proof/key_history.h"

#include <limits>

#include "encoding/reader.h"
#include "quenfold/key_history.h"
#include "quenfold/merkle.h"

namespace quenfold::proof {
namespace {

std::expected<void, Error> append_prefixed(Bytes& out, const char* field, ByteView data) {
  if (data.size() > std::numeric_limits<std::uint32_t>::max())
    return std::unexpected(Error::malformed_canonical_leaf(
        std::string(field) + " of " + std::to_string(data.size()) +
        " bytes does not fit its 32-bit length prefix"));
  encoding::put_be(out, data.size(), 4);
  out.insert(out.end(), data.begin(), data.end());
  return {};
}

}  // namespace

std::expected<Bytes, Error> KeyHistoryEntry::canonical_bytes() const {
  if (prev_entry_hash && prev_entry_hash->empty())
    return std::unexpected(
        Error::malformed_canonical_leaf("prev_entry_hash present but empty; genesis must use None"));
  Bytes out;
  out.reserve(36 + enc_x25519.size() + enc_pq.size() + signing_pub.size() +
              (prev_entry_hash ? prev_entry_hash->size() : 0));
  encoding::put_be(out, kKeyHistoryFormat, 4);
  encoding::put_be(out, seq, 8);
  encoding::put_be(out, ts_ms, 8);
  for (auto [name, field] : {std::pair{"enc_x25519", enc_x25519}, std::pair{"enc_pq", enc_pq},
                             std::pair{"signing_pub", signing_pub},
                             std::pair{"prev_entry_hash", prev_entry_hash.value_or(ByteView{})}}) {
    if (auto r = append_prefixed(out, name, field); !r) return std::unexpected(r.error());
  }
  return out;
}

std::expected<crypto::Bytes64, Error> KeyHistoryEntry::entry_hash(
    const encoding::ContextLabel& label) const {
  auto bytes = canonical_bytes();
  if (!bytes) return std::unexpected(bytes.error());
  return encoding::sha3_512_with_context(label.text(), *bytes);
}

}  // namespace quenfold::proof

namespace quenfold {
namespace {

// The boundary's entry: absent and empty prev_entry_hash are both genesis.
proof::KeyHistoryEntry entry_of(std::uint64_t seq, std::uint64_t ts_ms, ByteView enc_x25519,
                                ByteView enc_pq, ByteView signing_pub,
                                const std::optional<ByteView>& prev) {
  std::optional<ByteView> normalised = prev;
  if (normalised && normalised->empty()) normalised.reset();
  return {seq, ts_ms, enc_x25519, enc_pq, signing_pub, normalised};
}

std::expected<Bytes, Error> hash_under(std::string_view context, const proof::KeyHistoryEntry& e) {
  auto label = encoding::ContextLabel::parse(context);
  if (!label) return std::unexpected(label.error());
  auto h = e.entry_hash(*label);
  if (!h) return std::unexpected(h.error());
  return Bytes(h->begin(), h->end());
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
  return hash_under(proof::kKeyHistoryLabel, entry_of(seq, ts_ms, enc_x25519, enc_pq, signing_pub, prev));
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
  auto bytes = entry_of(seq, ts_ms, enc_x25519, enc_pq, signing_pub, prev).canonical_bytes();
  if (!bytes) return std::unexpected(bytes.error());
  const auto h = rfc6962_leaf_hash(*bytes);
  return Bytes(h.begin(), h.end());
}

}  // namespace quenfold
