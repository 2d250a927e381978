// The key-history and commitment exports give the core's results.
#include <gtest/gtest.h>

#include "quenfold/key_history.h"
#include "support/boundary.h"
#include "support/testdata.h"

namespace quenfold::test {
namespace {

using EntryFn = RustBuffer(uint64_t, uint64_t, RustBuffer, RustBuffer, RustBuffer, RustBuffer, RustCallStatus*);
using ContextEntryFn = RustBuffer(RustBuffer, uint64_t, uint64_t, RustBuffer, RustBuffer, RustBuffer, RustBuffer,
                                  RustCallStatus*);

struct KeyHistoryBoundary : ::testing::Test {
  const Library& lib = Library::instance();
  RustBuffer b(const Bytes& v) { return lib.buffer(Ser().bytes(v).out); }
  RustBuffer opt(const std::optional<Bytes>& v) {
    Ser s;
    if (v) s.u8(1).bytes(*v); else s.u8(0);
    return lib.buffer(s.out);
  }
  // Calls an entry export; returns the lifted byte string or the failure.
  std::pair<Outcome, Bytes> entry(const char* name, uint64_t seq, const Bytes& x, const std::optional<Bytes>& prev) {
    RustCallStatus st{};
    RustBuffer r = lib.fn<EntryFn>(name)(seq, 77, b(x), b({}), b({9}), opt(prev), &st);
    Outcome o = outcome_of(lib, st);
    Bytes out = lib.take(r);
    return {o, out};
  }
};

Bytes unwrap_bytes(const Bytes& serialized) {
  if (serialized.size() < 4) return {};
  return Bytes(serialized.begin() + 4, serialized.end());
}

TEST_F(KeyHistoryBoundary, ExportsMatchTheCore) {
  const Bytes x = {1, 2, 3};
  const Bytes prev(64, 0x5a);
  for (const std::optional<Bytes>& p : {std::optional<Bytes>{}, std::optional<Bytes>{prev}}) {
    std::optional<ByteView> pv;
    if (p) pv = ByteView(*p);
    auto [o1, canon] = entry("uniffi_quenfold_log_fn_func_key_history_v1_canonical_bytes", 4, x, p);
    ASSERT_EQ(o1.code, 0);
    EXPECT_EQ(unwrap_bytes(canon), *key_history_v1_canonical_bytes(4, 77, x, {}, Bytes{9}, pv));
    auto [o2, eh] = entry("uniffi_quenfold_log_fn_func_key_history_v1_entry_hash", 4, x, p);
    ASSERT_EQ(eh.size(), 68u);
    EXPECT_EQ(unwrap_bytes(eh), *key_history_v1_entry_hash(4, 77, x, {}, Bytes{9}, pv));
    auto [o3, lh] = entry("uniffi_quenfold_log_fn_func_key_history_v1_rfc6962_leaf_hash", 4, x, p);
    ASSERT_EQ(lh.size(), 36u);
    EXPECT_EQ(unwrap_bytes(lh), *key_history_v1_rfc6962_leaf_hash(4, 77, x, {}, Bytes{9}, pv));
  }
  // Empty and absent prev_entry_hash are the same genesis entry.
  EXPECT_EQ(entry("uniffi_quenfold_log_fn_func_key_history_v1_entry_hash", 0, x, Bytes{}).second,
            entry("uniffi_quenfold_log_fn_func_key_history_v1_entry_hash", 0, x, std::nullopt).second);
}

TEST_F(KeyHistoryBoundary, ContextAndLiftingErrors) {
  auto fn = lib.fn<ContextEntryFn>("uniffi_quenfold_log_fn_func_key_history_entry_hash_with_context");
  RustCallStatus st{};
  RustBuffer r = fn(lib.buffer("brackle/key-history/v1"), 1, 2, b({}), b({}), b({}), opt({}), &st);
  EXPECT_EQ(st.code, 0);
  EXPECT_EQ(unwrap_bytes(lib.take(r)), *key_history_v1_entry_hash(1, 2, {}, {}, {}, std::nullopt));
  r = fn(lib.buffer("acme/key-history/v01"), 1, 2, b({}), b({}), b({}), opt({}), &st);
  Outcome o = outcome_of(lib, st);
  EXPECT_EQ(o.code, 1);
  EXPECT_EQ(o.message,
            "malformed canonical leaf: context label version must not have leading zeros: \"acme/key-history/v01\"");
  EXPECT_EQ(r.data, nullptr);
  r = fn(lib.buffer("a/b/v1"), 1, 2, b({}), b({}), b({}), lib.buffer(Bytes{2}), &st);
  o = outcome_of(lib, st);
  EXPECT_EQ(o.code, 2);
  EXPECT_EQ(o.message, "Failed to convert arg 'prev_entry_hash':\nunexpected tag byte for Option");
}

using CommitmentFn = void(RustBuffer, RustBuffer, RustBuffer, RustBuffer, RustCallStatus*);

TEST_F(KeyHistoryBoundary, VerifyCommitment) {
  auto fn = lib.fn<CommitmentFn>("uniffi_quenfold_log_fn_func_verify_commitment");
  RustCallStatus st{};
  fn(lib.buffer("ctx"), b(Bytes(63, 0)), b({}), b(Bytes(31, 0)), &st);
  Outcome o = outcome_of(lib, st);
  EXPECT_EQ(o.code, 1);
  EXPECT_EQ(o.message, "commitment must be exactly 64 bytes");
  fn(lib.buffer("ctx"), b(Bytes(64, 0)), b({}), b(Bytes(31, 0)), &st);
  o = outcome_of(lib, st);
  EXPECT_EQ(o.message, "opening must be exactly 32 bytes");
  fn(lib.buffer("ctx"), b(Bytes(64, 0)), b({}), b(Bytes(32, 0)), &st);
  o = outcome_of(lib, st);
  EXPECT_EQ(o.message, "commitment did not open to the claimed value");
}

}  // namespace
}  // namespace quenfold::test
