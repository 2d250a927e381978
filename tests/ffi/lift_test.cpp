// Lifting of every argument kind, with the exact texts generated bindings
// produce.
#include <gtest/gtest.h>

#include "ffi/lift.h"
#include "support/testdata.h"

namespace quenfold::ffi {
namespace {

using test::from_hex;

template <class Kind>
std::string lift_error(const std::string& hex) {
  const Bytes b = from_hex(hex);
  auto r = lift(Kind{}, b);
  return r ? std::string("ok") : r.error();
}

TEST(Lift, ByteStrings) {
  EXPECT_EQ(lift_error<BytesArg>(""), "not enough bytes remaining in buffer (0 < 4)");
  EXPECT_EQ(lift_error<BytesArg>("000002"), "not enough bytes remaining in buffer (3 < 4)");
  EXPECT_EQ(lift_error<BytesArg>("00000002aa"), "not enough bytes remaining in buffer (0 < 1)");
  EXPECT_EQ(lift_error<BytesArg>("00000001aabb"), "junk data left in buffer after lifting (count: 1)");
  EXPECT_EQ(lift_error<BytesArg>("ffffffff"), "out of range integral type conversion attempted");
  EXPECT_EQ(lift_error<BytesArg>("00000000"), "ok");
  const Bytes b = from_hex("00000002aabb");
  EXPECT_EQ(test::to_hex(*lift(BytesArg{}, b)), "aabb");
}

TEST(Lift, Lists) {
  const Bytes empty = from_hex("00000000");
  EXPECT_TRUE(lift(BytesListArg{}, empty)->empty());
  const Bytes one_empty = from_hex("0000000100000000");
  auto v = lift(BytesListArg{}, one_empty);
  ASSERT_TRUE(v);
  ASSERT_EQ(v->size(), 1u);
  EXPECT_TRUE((*v)[0].empty());
  // A count far beyond the data fails at the first missing element and
  // reserves nothing for the rest.
  EXPECT_EQ(lift_error<BytesListArg>("7fffffff"), "not enough bytes remaining in buffer (0 < 4)");
  EXPECT_EQ(lift_error<BytesListArg>("0000000200000001aa"), "not enough bytes remaining in buffer (0 < 4)");
  EXPECT_EQ(lift_error<BytesListArg>("80000000"), "out of range integral type conversion attempted");
}

TEST(Lift, StringLists) {
  EXPECT_EQ(lift_error<StringListArg>("0000000100000001ff"), "invalid utf-8 sequence of 1 bytes from index 0");
  EXPECT_EQ(lift_error<StringListArg>("000000010000000261e2"), "incomplete utf-8 byte sequence from index 1");
  EXPECT_EQ(lift_error<StringListArg>("0000000100000003e282"), "not enough bytes remaining in buffer (2 < 3)");
  EXPECT_EQ(lift_error<StringListArg>("0000000100000003e22861"), "invalid utf-8 sequence of 1 bytes from index 0");
  EXPECT_EQ(lift_error<StringListArg>("0000000100000004f0908028"), "invalid utf-8 sequence of 3 bytes from index 0");
  EXPECT_EQ(lift_error<StringListArg>("0000000100000002eda0"), "invalid utf-8 sequence of 1 bytes from index 0");
  const Bytes two = from_hex("00000002000000016100000003e282ac");
  auto v = lift(StringListArg{}, two);
  ASSERT_TRUE(v);
  EXPECT_EQ((*v)[0], "a");
  EXPECT_EQ((*v)[1], "\xe2\x82\xac");
}

TEST(Lift, OptionalBytes) {
  EXPECT_EQ(lift_error<OptionalBytesArg>("02"), "unexpected tag byte for Option");
  EXPECT_EQ(lift_error<OptionalBytesArg>(""), "not enough bytes remaining in buffer (0 < 1)");
  EXPECT_EQ(lift_error<OptionalBytesArg>("0000"), "junk data left in buffer after lifting (count: 1)");
  const Bytes absent = from_hex("00"), present = from_hex("0100000000");
  EXPECT_FALSE(lift(OptionalBytesArg{}, absent)->has_value());
  auto p = lift(OptionalBytesArg{}, present);
  ASSERT_TRUE(p && p->has_value());
  EXPECT_TRUE((*p)->empty());
}

TEST(Lift, CommitmentHash) {
  EXPECT_EQ(lift_error<CommitmentHashArg>("00000003"), "Invalid CommitmentHash enum value: 3");
  EXPECT_EQ(lift_error<CommitmentHashArg>("ffffffff"), "Invalid CommitmentHash enum value: -1");
  EXPECT_EQ(lift_error<CommitmentHashArg>("0000000100"), "junk data left in buffer after lifting (count: 1)");
  const Bytes one = from_hex("00000001"), two = from_hex("00000002");
  EXPECT_EQ(*lift(CommitmentHashArg{}, one), CommitmentHash::Sha3_256);
  EXPECT_EQ(*lift(CommitmentHashArg{}, two), CommitmentHash::Sha3_512);
}

TEST(Lift, StringsAreTakenAsGiven) {
  const Bytes raw = from_hex("ff00");
  auto s = lift(StringArg{}, raw);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->size(), 2u);
  EXPECT_TRUE(lift(StringArg{}, {})->empty());
}

}  // namespace
}  // namespace quenfold::ffi
