#include <gtest/gtest.h>

#include "encoding/context.h"
#include "commitment/commitment.h"
#include "key_history/key_history.h"
#include "quenfold/commitment.h"
#include "quenfold/key_history.h"
#include "support/testdata.h"

namespace quenfold {
namespace {

using test::from_hex;
using test::to_hex;

TEST(KeyHistory, WorkedEncodingAndLeafHash) {
  const Bytes x = {1, 2}, pq = {}, sig = {3};
  auto bytes = key_history_v1_canonical_bytes(1, 2, x, pq, sig, std::nullopt);
  ASSERT_TRUE(bytes);
  EXPECT_EQ(to_hex(*bytes), "000000010000000000000001000000000000000200000002010200000000000000010300000000");
  auto leaf = key_history_v1_rfc6962_leaf_hash(1, 2, x, pq, sig, std::nullopt);
  ASSERT_TRUE(leaf);
  EXPECT_EQ(to_hex(*leaf), "f0e4abeb7bf8911abe3a575087b7c5d215387e1650cf6ec9b8e702751f7be1d6");
}

TEST(KeyHistory, GenesisForms) {
  auto genesis = key_history_v1_canonical_bytes(0, 0, {}, {}, {}, std::nullopt);
  ASSERT_TRUE(genesis);
  EXPECT_EQ(to_hex(*genesis), "00000001" + std::string(32, '0') + std::string(32, '0'));
  // Absent and empty are the same genesis entry at the boundary...
  const Bytes empty;
  const std::optional<ByteView> present_empty = ByteView(empty);
  EXPECT_EQ(key_history_v1_canonical_bytes(5, 6, {}, {}, {}, present_empty),
            key_history_v1_canonical_bytes(5, 6, {}, {}, {}, std::nullopt));
  EXPECT_EQ(key_history_v1_entry_hash(5, 6, {}, {}, {}, present_empty),
            key_history_v1_entry_hash(5, 6, {}, {}, {}, std::nullopt));
  EXPECT_EQ(key_history_v1_rfc6962_leaf_hash(5, 6, {}, {}, {}, present_empty),
            key_history_v1_rfc6962_leaf_hash(5, 6, {}, {}, {}, std::nullopt));
  // ...but the entry itself refuses a present-but-empty predecessor.
  key_history::KeyHistoryEntry e{0, 0, {}, {}, {}, present_empty};
  auto r = e.canonical_bytes();
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().message(),
            "malformed canonical leaf: prev_entry_hash present but empty; genesis must use None");
}

TEST(KeyHistory, UnusualLengthsAreEncodedWithTheirTrueLength) {
  for (std::size_t n : {0u, 33u, 4096u}) {
    const Bytes key(n, 0xab), prev(64, 0xcd);
    auto b = key_history_v1_canonical_bytes(9, 10, key, key, key, ByteView(prev));
    ASSERT_TRUE(b);
    ASSERT_EQ(b->size(), 36 + 3 * n + 64);
    const std::string len_hex = to_hex(Bytes{static_cast<std::uint8_t>(n >> 24), static_cast<std::uint8_t>(n >> 16),
                                             static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)});
    EXPECT_EQ(to_hex(ByteView(*b).subspan(20, 4)), len_hex);
    EXPECT_EQ(to_hex(ByteView(*b).subspan(32 + 3 * n, 4)), "00000040");
  }
}

TEST(KeyHistory, EntryHashes) {
  const Bytes k = {7, 7, 7};
  auto fixed = key_history_v1_entry_hash(3, 4, k, k, k, std::nullopt);
  ASSERT_TRUE(fixed);
  EXPECT_EQ(fixed->size(), 64u);
  // The fixed label is 22 bytes: 00..16 prefix then the label, then the entry.
  auto bytes = key_history_v1_canonical_bytes(3, 4, k, k, k, std::nullopt);
  Bytes input = from_hex("0000000000000016");
  for (char c : std::string("brackle/key-history/v1")) input.push_back(static_cast<std::uint8_t>(c));
  input.insert(input.end(), bytes->begin(), bytes->end());
  const auto direct = crypto::sha3_512({input});
  EXPECT_EQ(*fixed, Bytes(direct.begin(), direct.end()));

  EXPECT_EQ(key_history_entry_hash_with_context("brackle/key-history/v1", 3, 4, k, k, k, std::nullopt), fixed);
  auto acme = key_history_entry_hash_with_context("acme/key-history/v1", 3, 4, k, k, k, std::nullopt);
  ASSERT_TRUE(acme);
  EXPECT_NE(*acme, *fixed);
  auto bad = key_history_entry_hash_with_context("acme/key-history", 3, 4, k, k, k, std::nullopt);
  ASSERT_FALSE(bad);
  EXPECT_EQ(bad.error().message(),
            "malformed canonical leaf: context label version must start with 'v': \"acme/key-history\"");
}

TEST(Commitment, OpeningsAndLengths) {
  const Bytes opening(32, 0x11), value = test::bytes_of("value");
  const auto c = commit(encoding::bytes_of("ctx"), value, opening);
  const Bytes good(c.begin(), c.end());
  EXPECT_TRUE(verify_commitment("ctx", good, value, opening));
  // Empty value and empty context.
  const auto ce = commit({}, {}, opening);
  Bytes prefixed = from_hex("0000000000000000");
  prefixed.insert(prefixed.end(), opening.begin(), opening.end());
  EXPECT_EQ(ce, crypto::sha3_512({prefixed}));
  EXPECT_TRUE(verify_commitment("", Bytes(ce.begin(), ce.end()), {}, opening));

  auto msg = [](const std::expected<void, Error>& r) { return r ? std::string("ok") : r.error().message(); };
  Bytes last = good;
  last.back() ^= 1;
  EXPECT_EQ(msg(verify_commitment("ctx", last, value, opening)), "commitment did not open to the claimed value");
  EXPECT_EQ(msg(verify_commitment("ctx2", good, value, opening)), "commitment did not open to the claimed value");
  for (std::size_t n : {63u, 65u}) {
    EXPECT_EQ(msg(verify_commitment("ctx", Bytes(n, 0), value, Bytes(5, 0))), "commitment must be exactly 64 bytes");
  }
  for (std::size_t n : {31u, 33u}) {
    EXPECT_EQ(msg(verify_commitment("ctx", good, value, Bytes(n, 0))), "opening must be exactly 32 bytes");
  }
}

}  // namespace
}  // namespace quenfold
