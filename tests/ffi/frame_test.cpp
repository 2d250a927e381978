// The call frame's fault containment and failure values, with verifiers the
// test controls.
#include <gtest/gtest.h>

#include <stdexcept>

#include "ffi/frame.h"

namespace quenfold::ffi {
namespace {

std::string take_text(RustCallStatus& st) {
  std::string s(reinterpret_cast<const char*>(st.error_buf.data), st.error_buf.len);
  release(st.error_buf);
  st = RustCallStatus{};
  return s;
}

RustBuffer bytes_arg(std::vector<std::uint8_t> content) { return buffer_from(content); }

TEST(CallFrame, FaultsBecomeStatusTwo) {
  struct Case {
    const char* name;
    std::function<std::expected<std::uint32_t, Error>()> verifier;
    std::string want;
  };
  const std::vector<Case> cases = {
      {"exception with text", []() -> std::expected<std::uint32_t, Error> { throw std::runtime_error("boom"); }, "boom"},
      {"no text", []() -> std::expected<std::uint32_t, Error> { throw 42; }, "Unknown panic!"},
      {"allocation failure", []() -> std::expected<std::uint32_t, Error> { throw std::bad_alloc(); }, "out of memory"},
      {"internal failure", []() -> std::expected<std::uint32_t, Error> { throw InternalFailure("capacity overflow"); },
       "capacity overflow"},
  };
  for (const auto& c : cases) {
    RustCallStatus st{};
    const std::uint32_t r = call(&st, c.verifier);
    EXPECT_EQ(r, 0u) << c.name;
    EXPECT_EQ(st.code, 2) << c.name;
    EXPECT_EQ(take_text(st), c.want) << c.name;
  }
}

TEST(CallFrame, FailureValuesAndOwnership) {
  auto reject = [](ByteView) -> std::expected<Bytes, Error> { return std::unexpected(Error::root_mismatch()); };
  RustCallStatus st{};
  RustBuffer r = call(&st, reject, arg<BytesArg>("leaf_hash", bytes_arg({0, 0, 0, 1, 9})));
  EXPECT_EQ(r.capacity, 0u);
  EXPECT_EQ(r.len, 0u);
  EXPECT_EQ(r.data, nullptr);
  ASSERT_EQ(st.code, 1);
  release(st.error_buf);

  // The verifier is not called when an argument fails to lift; the second
  // broken argument is not named.
  int calls = 0;
  auto count = [&](ByteView, ByteView) -> std::expected<void, Error> {
    ++calls;
    return {};
  };
  st = RustCallStatus{};
  call(&st, count, arg<BytesArg>("first", bytes_arg({0, 0, 0, 1})), arg<BytesArg>("second", bytes_arg({9})));
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(take_text(st), "Failed to convert arg 'first':\nnot enough bytes remaining in buffer (0 < 1)");
  call(&st, count, arg<BytesArg>("first", bytes_arg({0, 0, 0, 0})), arg<BytesArg>("second", bytes_arg({0, 0, 0, 0})));
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(st.code, 0);

  // A u32 result: 0 on failure, the value otherwise.
  auto answer = [](std::string_view s) -> std::expected<std::uint32_t, Error> {
    if (s.empty()) return std::unexpected(Error::no_trusted_signature());
    return static_cast<std::uint32_t>(s.size());
  };
  EXPECT_EQ(call(&st, answer, arg<StringArg>("note_text", buffer_from(std::string_view("abc")))), 3u);
  EXPECT_EQ(call(&st, answer, arg<StringArg>("note_text", RustBuffer{0, 0, nullptr})), 0u);
  EXPECT_EQ(st.code, 1);
  release(st.error_buf);
}

TEST(CallFrame, LowersRecords) {
  auto head = []() -> std::expected<CheckpointHead, Error> {
    return CheckpointHead{"o", 5, Bytes(2, 0xaa), {"x"}};
  };
  RustCallStatus st{};
  RustBuffer r = call(&st, head);
  const std::vector<std::uint8_t> got(r.data, r.data + r.len);
  release(r);
  const std::vector<std::uint8_t> want = {0, 0, 0, 1, 'o', 0, 0, 0, 0, 0, 0, 0, 5, 0, 0, 0, 2, 0xaa, 0xaa,
                                          0, 0, 0, 1, 0, 0, 0, 1, 'x'};
  EXPECT_EQ(got, want);
  auto absent = []() -> std::expected<SearchResult, Error> { return SearchResult{}; };
  r = call(&st, absent);
  EXPECT_EQ(std::vector<std::uint8_t>(r.data, r.data + r.len), (std::vector<std::uint8_t>{0, 0}));
  release(r);
  auto present = []() -> std::expected<SearchResult, Error> { return SearchResult{true, Bytes{1, 2, 3}}; };
  r = call(&st, present);
  EXPECT_EQ(std::vector<std::uint8_t>(r.data, r.data + r.len),
            (std::vector<std::uint8_t>{1, 1, 0, 0, 0, 3, 1, 2, 3}));
  release(r);
  auto bytes64 = []() -> std::expected<Bytes, Error> { return Bytes(64, 7); };
  r = call(&st, bytes64);
  EXPECT_EQ(r.len, 68u);
  EXPECT_EQ(r.data[3], 0x40);
  release(r);
}

}  // namespace
}  // namespace quenfold::ffi
