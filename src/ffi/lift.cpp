#include "ffi/lift.h"

#include "base/try.h"
#include "base/reader.h"
#include "encoding/text.h"

namespace quenfold::ffi {
namespace {

using encoding::Reader;

// The fields the lifter reads; the text of a short read depends on which.
constexpr std::string_view kCount = "count";
constexpr std::string_view kByteStringContent = "byte string";
constexpr std::string_view kStringContent = "string";
constexpr std::string_view kOptionTag = "option tag";

LiftError not_enough(std::size_t remaining, std::size_t needed) {
  return "not enough bytes remaining in buffer (" + std::to_string(remaining) + " < " +
         std::to_string(needed) + ")";
}

// Every reader failure of the lifter, in the texts generated bindings
// expect. A byte string is read element by element by those bindings: a
// short one fails at the first missing byte, with nothing remaining.
LiftError lift_error(const encoding::ReadError& e) {
  if (e.kind == encoding::ReadError::Kind::Trailing)
    return "junk data left in buffer after lifting (count: " + std::to_string(e.available) + ")";
  if (e.field == kByteStringContent) return not_enough(0, 1);
  return not_enough(e.available, e.wanted);
}

template <class T>
std::expected<T, LiftError> read(encoding::ReadResult<T> r) {
  return encoding::map_read_error(std::move(r), lift_error);
}

std::expected<std::int32_t, LiftError> read_i32(Reader& r) {
  QUENFOLD_TRY(const std::uint32_t v, read(r.u32(kCount)));
  return static_cast<std::int32_t>(v);
}

// A signed 32-bit count or length; negative values do not convert.
std::expected<std::size_t, LiftError> read_count(Reader& r) {
  QUENFOLD_TRY(const std::int32_t v, read_i32(r));
  if (v < 0) return std::unexpected(LiftError("out of range integral type conversion attempted"));
  return static_cast<std::size_t>(v);
}

std::expected<ByteView, LiftError> read_byte_string(Reader& r) {
  QUENFOLD_TRY(const std::size_t n, read_count(r));
  return read(r.bytes(n, kByteStringContent));
}

std::expected<bool, LiftError> read_option_tag(Reader& r) {
  QUENFOLD_TRY(const std::uint8_t tag, read(r.u8(kOptionTag)));
  if (tag > 1) return std::unexpected(LiftError("unexpected tag byte for Option"));
  return tag == 1;
}

std::expected<std::string_view, LiftError> read_string(Reader& r) {
  QUENFOLD_TRY(const std::size_t n, read_count(r));
  QUENFOLD_TRY(const ByteView bytes, read(r.bytes(n, kStringContent)));
  if (auto e = encoding::utf8_error(bytes)) return std::unexpected(std::move(*e));
  return std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

template <class T>
std::expected<T, LiftError> finish(const Reader& r, T value) {
  QUENFOLD_CHECK(read(r.finish("argument")));
  return value;
}

// Reads a list without reserving storage for more elements than the
// remaining bytes could hold.
template <class T, class ReadOne>
std::expected<std::vector<T>, LiftError> read_list(Reader& r, ReadOne read_one) {
  QUENFOLD_TRY(const std::size_t n, read_count(r));
  std::vector<T> out;
  out.reserve(std::min(n, r.remaining() / 4));
  for (std::size_t i = 0; i < n; ++i) {
    QUENFOLD_TRY(const T v, read_one(r));
    out.push_back(v);
  }
  return out;
}

}  // namespace

namespace lifting {

std::expected<std::uint64_t, LiftError> u64(Reader& r) { return read(r.u64("u64")); }
std::expected<std::size_t, LiftError> count(Reader& r) { return read_count(r); }
std::expected<ByteView, LiftError> byte_string(Reader& r) { return read_byte_string(r); }
std::expected<std::string_view, LiftError> string(Reader& r) { return read_string(r); }
std::expected<std::vector<ByteView>, LiftError> byte_string_list(Reader& r) {
  return read_list<ByteView>(r, read_byte_string);
}
std::expected<std::vector<std::string_view>, LiftError> string_list(Reader& r) {
  return read_list<std::string_view>(r, read_string);
}
std::expected<bool, LiftError> option_tag(Reader& r) { return read_option_tag(r); }
std::expected<void, LiftError> finish(const Reader& r) { return read(r.finish("argument")); }

}  // namespace lifting

std::expected<std::string_view, LiftError> lift(StringArg, std::span<const std::uint8_t> buf) {
  return std::string_view(reinterpret_cast<const char*>(buf.data()), buf.size());
}

std::expected<ByteView, LiftError> lift(BytesArg, std::span<const std::uint8_t> buf) {
  Reader r(buf);
  QUENFOLD_TRY(const ByteView v, read_byte_string(r));
  return finish(r, v);
}

std::expected<std::vector<ByteView>, LiftError> lift(BytesListArg, std::span<const std::uint8_t> buf) {
  Reader r(buf);
  QUENFOLD_TRY(auto v, read_list<ByteView>(r, read_byte_string));
  return finish(r, std::move(v));
}

std::expected<std::vector<std::string_view>, LiftError> lift(StringListArg,
                                                             std::span<const std::uint8_t> buf) {
  Reader r(buf);
  QUENFOLD_TRY(auto v, read_list<std::string_view>(r, read_string));
  return finish(r, std::move(v));
}

std::expected<std::optional<ByteView>, LiftError> lift(OptionalBytesArg,
                                                       std::span<const std::uint8_t> buf) {
  Reader r(buf);
  QUENFOLD_TRY(const bool present, read_option_tag(r));
  if (!present) return finish(r, std::optional<ByteView>{});
  QUENFOLD_TRY(const ByteView v, read_byte_string(r));
  return finish(r, std::optional<ByteView>(v));
}

std::expected<CommitmentHash, LiftError> lift(CommitmentHashArg, std::span<const std::uint8_t> buf) {
  Reader r(buf);
  QUENFOLD_TRY(const std::int32_t v, read_i32(r));
  if (v != 1 && v != 2) return std::unexpected("Invalid CommitmentHash enum value: " + std::to_string(v));
  return finish(r, v == 1 ? CommitmentHash::Sha3_256 : CommitmentHash::Sha3_512);
}

}  // namespace quenfold::ffi
