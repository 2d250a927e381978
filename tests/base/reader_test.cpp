#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "base/reader.h"
#include "base/writer.h"

namespace quenfold::encoding {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Kind = ReadError::Kind;
using Part = ReadError::Part;

// One read on a fresh reader over `data`, after `skip` bytes were consumed.
struct Case {
  const char* name;
  Bytes data;
  std::size_t skip;
  std::function<ReadResult<std::uint64_t>(Reader&)> read;
  // On success: the value and the position after it. On failure: the error.
  std::optional<std::uint64_t> value;
  std::size_t position;
  ReadError error;
};

ReadResult<std::uint64_t> widen(ReadResult<std::span<const std::uint8_t>> r) {
  if (!r) return std::unexpected(r.error());
  return static_cast<std::uint64_t>(r->size());
}
template <class T>
ReadResult<std::uint64_t> widen(ReadResult<T> r) {
  if (!r) return std::unexpected(r.error());
  return static_cast<std::uint64_t>(*r);
}

TEST(Reader, ReadsAdvanceOnlyOnSuccessAndFailuresSayWhatWhereAndHowMuch) {
  const Bytes seven = {1, 2, 3, 4, 5, 6, 7};
  const std::vector<Case> cases = {
      {"u16 big-endian", seven, 1, [](Reader& r) { return widen(r.u16("f")); }, 0x0203, 3, {}},
      {"u64 short", seven, 0, [](Reader& r) { return widen(r.u64("f")); }, {}, 0,
       {Kind::Short, Part::Whole, "f", 0, 8, 7, 7}},
      {"bytes exact", seven, 2, [](Reader& r) { return widen(r.bytes(5, "f")); }, 5, 7, {}},
      {"bytes short", seven, 2, [](Reader& r) { return widen(r.bytes(6, "g")); }, {}, 2,
       {Kind::Short, Part::Whole, "g", 2, 6, 5, 7}},
      {"prefix short", {0, 0, 0}, 0, [](Reader& r) { return widen(r.prefixed(4, "v")); }, {}, 0,
       {Kind::Short, Part::LengthPrefix, "v", 0, 4, 3, 3}},
      {"content short: offset after the prefix, position restored", {0, 3, 9, 9}, 0,
       [](Reader& r) { return widen(r.prefixed(2, "v")); }, {}, 0, {Kind::Short, Part::Content, "v", 2, 3, 2, 4}},
      {"prefixed exact", {2, 9, 9, 1}, 0, [](Reader& r) { return widen(r.prefixed(1, "v")); }, 2, 3, {}},
      {"finish with bytes left", seven, 5,
       [](Reader& r) -> ReadResult<std::uint64_t> {
         auto done = r.finish("S");
         if (!done) return std::unexpected(done.error());
         return 0;
       },
       {}, 5, {Kind::Trailing, Part::Whole, "S", 5, 0, 2, 7}},
  };
  for (const Case& c : cases) {
    Reader r(c.data);
    ASSERT_TRUE(r.bytes(c.skip, "skip")) << c.name;
    const auto got = c.read(r);
    EXPECT_EQ(r.position(), c.position) << c.name;
    if (c.value) {
      ASSERT_TRUE(got) << c.name;
      EXPECT_EQ(*got, *c.value) << c.name;
      continue;
    }
    ASSERT_FALSE(got) << c.name;
    const ReadError& e = got.error();
    EXPECT_EQ(e.kind, c.error.kind) << c.name;
    EXPECT_EQ(e.part, c.error.part) << c.name;
    EXPECT_EQ(e.field, c.error.field) << c.name;
    EXPECT_EQ(e.offset, c.error.offset) << c.name;
    EXPECT_EQ(e.wanted, c.error.wanted) << c.name;
    EXPECT_EQ(e.available, c.error.available) << c.name;
    EXPECT_EQ(e.buffer, c.error.buffer) << c.name;
  }
}

TEST(Reader, ChildCountsOffsetsFromItsOwnStart) {
  const Bytes data = {0xee, 3, 0xaa, 0xbb, 0xcc, 0xff};
  Reader r(data);
  ASSERT_TRUE(r.u8("head"));
  auto child = r.child(1, "inner");
  ASSERT_TRUE(child);
  EXPECT_EQ(r.position(), 5u);
  EXPECT_EQ(child->u16("x").value(), 0xaabb);
  const auto e = child->u16("y").error();
  EXPECT_EQ(e.offset, 2u);
  EXPECT_EQ(e.buffer, 3u);
  EXPECT_EQ(e.available, 1u);
  EXPECT_FALSE(r.finish("outer"));
  EXPECT_EQ(r.u8("tail").value(), 0xff);
  EXPECT_TRUE(r.finish("outer"));
}

TEST(Writer, WritesWhatTheReaderReads) {
  Writer w;
  w.u8(0x01).u16(0x0203).u32(0x04050607).u64(0x08090a0b0c0d0e0f).prefixed(2, std::string_view("ab"));
  const Bytes out = w.take();
  EXPECT_EQ(out, (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 0, 2, 'a', 'b'}));
  Reader r(out);
  EXPECT_EQ(r.u8("a").value(), 0x01);
  EXPECT_EQ(r.u16("b").value(), 0x0203);
  EXPECT_EQ(r.u32("c").value(), 0x04050607u);
  EXPECT_EQ(r.u64("d").value(), 0x08090a0b0c0d0e0fu);
  EXPECT_EQ(r.prefixed(2, "e").value().size(), 2u);
  EXPECT_TRUE(r.finish("all"));
  EXPECT_EQ(big_endian<3>(0x11223344), (std::array<std::uint8_t, 3>{0x22, 0x33, 0x44}));
  EXPECT_EQ(max_prefixed_length(1), 255u);
  EXPECT_EQ(max_prefixed_length(4), 0xffffffffu);
}

}  // namespace
}  // namespace quenfold::encoding
