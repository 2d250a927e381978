// The call frame and the buffer exports, called through the built shared
// library exactly as a foreign caller does.
#include <gtest/gtest.h>

#include <cstring>

#include "support/boundary.h"
#include "support/merkle_tree.h"
#include "support/testdata.h"

namespace quenfold::test {
namespace {

using InclusionFn = void(uint64_t, uint64_t, RustBuffer, RustBuffer, RustBuffer, RustCallStatus*);
using ConsistencyFn = void(uint64_t, uint64_t, RustBuffer, RustBuffer, RustBuffer, RustCallStatus*);

struct Frame : ::testing::Test {
  const Library& lib = Library::instance();
  InclusionFn* inclusion = lib.fn<InclusionFn>("uniffi_quenfold_log_fn_func_verify_inclusion");
  ConsistencyFn* consistency = lib.fn<ConsistencyFn>("uniffi_quenfold_log_fn_func_verify_consistency");
  MerkleTree tree = [] {
    MerkleTree t;
    for (const char* s : {"a", "b", "c"}) t.append(bytes_of(s));
    return t;
  }();

  Outcome call_inclusion(uint64_t index, uint64_t size, RustBuffer leaf, RustBuffer proof, RustBuffer root) {
    RustCallStatus st{};
    inclusion(index, size, leaf, proof, root, &st);
    return outcome_of(lib, st);
  }
  RustBuffer ser_bytes(const std::vector<std::uint8_t>& b) { return lib.buffer(Ser().bytes(b).out); }
  template <class C>
  RustBuffer ser_list(const C& items) { return lib.buffer(Ser().bytes_list(items).out); }
  std::vector<std::uint8_t> leaf(std::uint64_t i) {
    return {tree.leaf_hash(i).begin(), tree.leaf_hash(i).end()};
  }
  std::vector<std::uint8_t> root() { auto r = tree.root(); return {r.begin(), r.end()}; }
};

TEST_F(Frame, SuccessLeavesStatusUntouched) {
  RustCallStatus st{};
  inclusion(2, 3, ser_bytes(leaf(2)), ser_list(tree.inclusion_proof(2, 3)), ser_bytes(root()), &st);
  EXPECT_EQ(st.code, 0);
  EXPECT_EQ(st.error_buf.capacity, 0u);
  EXPECT_EQ(st.error_buf.len, 0u);
  EXPECT_EQ(st.error_buf.data, nullptr);
}

TEST_F(Frame, VerifyErrorIsSerialized) {
  RustCallStatus st{};
  inclusion(0, 3, ser_bytes(leaf(0)), ser_list(tree.inclusion_proof(0, 3)),
            ser_bytes(std::vector<std::uint8_t>(31, 0)), &st);
  ASSERT_EQ(st.code, 1);
  const auto bytes = lib.take(st.error_buf);
  const std::string msg = "invalid hash length: got 31 bytes, want 32";
  ASSERT_EQ(bytes.size(), 50u);
  EXPECT_EQ(to_hex(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 8)), "000000010000002a");
  EXPECT_EQ(std::string(bytes.begin() + 8, bytes.end()), msg);
}

TEST_F(Frame, LiftingFailuresNameTheFirstBadArgument) {
  struct Case {
    const char* name;
    std::vector<std::uint8_t> leaf, proof, root;
    std::string want;
  };
  const auto good_leaf = Ser().bytes(leaf(0)).out;
  const auto good_proof = Ser().bytes_list(tree.inclusion_proof(0, 3)).out;
  const auto good_root = Ser().bytes(root()).out;
  auto junk = good_leaf;
  junk.insert(junk.end(), {1, 2, 3});
  const std::vector<Case> cases = {
      {"junk after leaf", junk, good_proof, good_root,
       "Failed to convert arg 'leaf_hash':\njunk data left in buffer after lifting (count: 3)"},
      {"empty leaf buffer", {}, good_proof, good_root,
       "Failed to convert arg 'leaf_hash':\nnot enough bytes remaining in buffer (0 < 4)"},
      {"two bad args: first named", junk, {0xff, 0xff, 0xff, 0xff}, good_root,
       "Failed to convert arg 'leaf_hash':\njunk data left in buffer after lifting (count: 3)"},
      {"negative proof count", good_leaf, {0xff, 0xff, 0xff, 0xff}, good_root,
       "Failed to convert arg 'proof':\nout of range integral type conversion attempted"},
      {"short root", good_leaf, good_proof, {0, 0, 0, 2, 0xaa},
       "Failed to convert arg 'root':\nnot enough bytes remaining in buffer (0 < 1)"},
  };
  for (const auto& c : cases) {
    const Outcome o = call_inclusion(0, 3, lib.buffer(c.leaf), lib.buffer(c.proof), lib.buffer(c.root));
    EXPECT_EQ(o.code, 2) << c.name;
    EXPECT_EQ(o.message, c.want) << c.name;
  }
}

TEST_F(Frame, BrokenInvariantsAreReportedBare) {
  // A real allocation with len > capacity: the text carries no prefix, and
  // the library still releases the allocation it took over.
  RustBuffer b = ser_bytes(leaf(0));
  b.len = b.capacity + 1;
  Outcome o = call_inclusion(0, 3, b, ser_list(tree.inclusion_proof(0, 3)), ser_bytes(root()));
  EXPECT_EQ(o.code, 2);
  EXPECT_EQ(o.message, "RustBuffer length exceeds capacity");
  o = call_inclusion(0, 3, ser_bytes(leaf(0)), RustBuffer{5, 0, nullptr}, ser_bytes(root()));
  EXPECT_EQ(o.message, "null RustBuffer had non-zero capacity");
  o = call_inclusion(0, 3, ser_bytes(leaf(0)), ser_list(tree.inclusion_proof(0, 3)), RustBuffer{0, 5, nullptr});
  EXPECT_EQ(o.message, "null RustBuffer had non-zero length");
}

TEST_F(Frame, ConsistencyThroughTheBoundary) {
  MerkleTree t;
  for (int i = 0; i < 7; ++i) t.append(bytes_of(std::string(1, static_cast<char>('a' + i))));
  const auto r3 = t.root(3), r7 = t.root(7);
  RustCallStatus st{};
  consistency(3, 7, ser_list(t.consistency_proof(3, 7)), ser_bytes({r3.begin(), r3.end()}),
              ser_bytes({r7.begin(), r7.end()}), &st);
  EXPECT_EQ(st.code, 0);
  consistency(5, 3, ser_list(std::vector<Hash>{}), ser_bytes({r3.begin(), r3.end()}),
              ser_bytes({r3.begin(), r3.end()}), &st);
  const Outcome o = outcome_of(lib, st);
  EXPECT_EQ(o.code, 1);
  EXPECT_EQ(o.message, "tree size regression: size2 (3) < size1 (5)");
}

using AllocFn = RustBuffer(uint64_t, RustCallStatus*);
using FromBytesFn = RustBuffer(ForeignBytes, RustCallStatus*);
using FreeFn = void(RustBuffer, RustCallStatus*);
using ReserveFn = RustBuffer(RustBuffer, uint64_t, RustCallStatus*);

TEST_F(Frame, BufferExports) {
  auto alloc = lib.fn<AllocFn>("ffi_quenfold_log_rustbuffer_alloc");
  auto from = lib.fn<FromBytesFn>("ffi_quenfold_log_rustbuffer_from_bytes");
  auto free_ = lib.fn<FreeFn>("ffi_quenfold_log_rustbuffer_free");
  auto reserve = lib.fn<ReserveFn>("ffi_quenfold_log_rustbuffer_reserve");
  RustCallStatus st{};

  RustBuffer b = alloc(0, &st);
  EXPECT_EQ(st.code, 0);
  EXPECT_EQ(b.capacity, 0u);
  EXPECT_EQ(b.len, 0u);
  free_(b, &st);
  b = alloc(5, &st);
  ASSERT_EQ(b.capacity, 5u);
  ASSERT_EQ(b.len, 5u);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(b.data[i], 0);
  free_(b, &st);
  EXPECT_EQ(st.code, 0);

  b = alloc(uint64_t{1} << 63, &st);
  Outcome o = outcome_of(lib, st);
  EXPECT_EQ(o.code, 2);
  EXPECT_EQ(o.message, "capacity overflow");
  EXPECT_EQ(b.data, nullptr);

  b = from(ForeignBytes{0, nullptr}, &st);
  EXPECT_EQ(st.code, 0);
  EXPECT_EQ(b.capacity, 0u);
  const uint8_t raw[3] = {1, 2, 3};
  from(ForeignBytes{-1, raw}, &st);
  o = outcome_of(lib, st);
  EXPECT_EQ(o.message, "bytes length negative or overflowed");
  st = RustCallStatus{};
  from(ForeignBytes{3, nullptr}, &st);
  o = outcome_of(lib, st);
  EXPECT_EQ(o.message, "null ForeignBytes had non-zero length");

  // reserve: room already there -> same allocation; otherwise a larger one
  // with the same bytes.
  st = RustCallStatus{};
  b = alloc(10, &st);
  b.len = 4;
  std::memcpy(b.data, "abcd", 4);
  uint8_t* before = b.data;
  b = reserve(b, 6, &st);
  EXPECT_EQ(st.code, 0);
  EXPECT_EQ(b.data, before);
  EXPECT_EQ(b.capacity, 10u);
  b = reserve(b, 7, &st);
  EXPECT_EQ(st.code, 0);
  EXPECT_GE(b.capacity, 11u);
  EXPECT_EQ(b.len, 4u);
  EXPECT_EQ(std::memcmp(b.data, "abcd", 4), 0);
  b = reserve(b, UINT64_MAX, &st);
  o = outcome_of(lib, st);
  EXPECT_EQ(o.message, "capacity overflow");

  // free of the all-zero buffer is a no-op; of a broken one, an error.
  st = RustCallStatus{};
  free_(RustBuffer{0, 0, nullptr}, &st);
  EXPECT_EQ(st.code, 0);
  free_(RustBuffer{1, 0, nullptr}, &st);
  o = outcome_of(lib, st);
  EXPECT_EQ(o.message, "null RustBuffer had non-zero capacity");
}

}  // namespace
}  // namespace quenfold::test
