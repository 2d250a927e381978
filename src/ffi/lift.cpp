#include "ffi/lift.h"

#include "encoding/reader.h"
#include "encoding/text.h"

namespace quenfold::ffi {
namespace {

using encoding::Reader;

LiftError not_enough(std::size_t remaining, std::size_t needed) {
  return "not enough bytes remaining in buffer (" + std::to_string(remaining) + " < " +
         std::to_string(needed) + ")";
}

std::expected<std::int32_t, LiftError> read_i32(Reader& r) {
  auto v = r.u32();
  if (!v) return std::unexpected(not_enough(r.remaining(), 4));
  return static_cast<std::int32_t>(*v);
}

// A signed 32-bit count or length; negative values do not convert.
std::expected<std::size_t, LiftError> read_count(Reader& r) {
  auto v = read_i32(r);
  if (!v) return std::unexpected(v.error());
  if (*v < 0) return std::unexpected(LiftError("out of range integral type conversion attempted"));
  return static_cast<std::size_t>(*v);
}

// A byte string is read element by element: a short buffer fails at the
// first missing byte, with nothing remaining.
std::expected<ByteView, LiftError> read_byte_string(Reader& r) {
  auto n = read_count(r);
  if (!n) return std::unexpected(n.error());
  auto bytes = r.take(*n);
  if (!bytes) return std::unexpected(not_enough(0, 1));
  return *bytes;
}

std::expected<std::string_view, LiftError> read_string(Reader& r) {
  auto n = read_count(r);
  if (!n) return std::unexpected(n.error());
  auto bytes = r.take(*n);
  if (!bytes) return std::unexpected(not_enough(r.remaining(), *n));
  if (auto e = encoding::utf8_error(*bytes)) return std::unexpected(std::move(*e));
  return std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size());
}

template <class T>
std::expected<T, LiftError> finish(Reader& r, T value) {
  if (!r.empty())
    return std::unexpected("junk data left in buffer after lifting (count: " +
                           std::to_string(r.remaining()) + ")");
  return value;
}

// Reads a list without reserving storage for more elements than the
// remaining bytes could hold.
template <class T, class ReadOne>
std::expected<std::vector<T>, LiftError> read_list(Reader& r, ReadOne read_one) {
  auto n = read_count(r);
  if (!n) return std::unexpected(n.error());
  std::vector<T> out;
  out.reserve(std::min(*n, r.remaining() / 4));
  for (std::size_t i = 0; i < *n; ++i) {
    auto v = read_one(r);
    if (!v) return std::unexpected(v.error());
    out.push_back(*v);
  }
  return out;
}

}  // namespace

std::expected<std::string_view, LiftError> lift(StringArg, std::span<const std::uint8_t> buf) {
  return std::string_view(reinterpret_cast<const char*>(buf.data()), buf.size());
}

std::expected<ByteView, LiftError> lift(BytesArg, std::span<const std::uint8_t> buf) {
  Reader r(buf);
  auto v = read_byte_string(r);
  if (!v) return std::unexpected(v.error());
  return finish(r, *v);
}

std::expected<std::vector<ByteView>, LiftError> lift(BytesListArg, std::span<const std::uint8_t> buf) {
  Reader r(buf);
  auto v = read_list<ByteView>(r, read_byte_string);
  if (!v) return std::unexpected(v.error());
  return finish(r, std::move(*v));
}

std::expected<std::vector<std::string_view>, LiftError> lift(StringListArg,
                                                             std::span<const std::uint8_t> buf) {
  Reader r(buf);
  auto v = read_list<std::string_view>(r, read_string);
  if (!v) return std::unexpected(v.error());
  return finish(r, std::move(*v));
}

std::expected<std::optional<ByteView>, LiftError> lift(OptionalBytesArg,
                                                       std::span<const std::uint8_t> buf) {
  Reader r(buf);
  auto tag = r.u8();
  if (!tag) return std::unexpected(not_enough(r.remaining(), 1));
  if (*tag == 0) return finish(r, std::optional<ByteView>{});
  if (*tag != 1) return std::unexpected(LiftError("unexpected tag byte for Option"));
  auto v = read_byte_string(r);
  if (!v) return std::unexpected(v.error());
  return finish(r, std::optional<ByteView>(*v));
}

std::expected<CommitmentHash, LiftError> lift(CommitmentHashArg, std::span<const std::uint8_t> buf) {
  Reader r(buf);
  auto v = read_i32(r);
  if (!v) return std::unexpected(v.error());
  if (*v != 1 && *v != 2)
    return std::unexpected("Invalid CommitmentHash enum value: " + std::to_string(*v));
  return finish(r, *v == 1 ? CommitmentHash::Sha3_256 : CommitmentHash::Sha3_512);
}

}  // namespace quenfold::ffi
