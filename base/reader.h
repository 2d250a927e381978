// The one bounds-checked cursor over borrowed bytes, used by every binary
// parser of the library (argument lifting, CONIKS proofs, policy envelopes,
// KEYTRANS proofs).
//
// Every read names the field it reads and either succeeds and advances, or
// fails and leaves the position unchanged. A failure is a ReadError that says
// what was read, where and how much was missing; each subsystem turns it into
// its own error kind and exact text in one place. A length-prefixed field
// yields a child reader over its contents (offsets in its errors count from
// the start of that field), and finish() is how a parser says "this buffer is
// consumed exactly".
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <string_view>
#include <type_traits>
#include <utility>

#include "base/try.h"

namespace quenfold::encoding {

struct ReadError {
  enum class Kind : std::uint8_t {
    Short,     // the read needed more bytes than remained
    Trailing,  // finish() found bytes that were never read
  };
  // Which piece of a length-prefixed read failed (Whole for plain reads).
  enum class Part : std::uint8_t { Whole, LengthPrefix, Content };

  Kind kind = Kind::Short;
  Part part = Part::Whole;
  std::string_view field;     // the name the caller gave the read (a literal)
  std::size_t offset = 0;     // where the failed read started; for Trailing, the position reached
  std::size_t wanted = 0;     // bytes the read needed (Short)
  std::size_t available = 0;  // bytes left at `offset`
  std::size_t buffer = 0;     // size of the whole buffer of this reader
};

template <class T>
using ReadResult = std::expected<T, ReadError>;

class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> data) noexcept : data_(data) {}

  std::size_t position() const noexcept { return pos_; }
  std::size_t size() const noexcept { return data_.size(); }
  std::size_t remaining() const noexcept { return data_.size() - pos_; }
  bool empty() const noexcept { return pos_ == data_.size(); }

  // The next n bytes.
  ReadResult<std::span<const std::uint8_t>> bytes(std::size_t n, std::string_view field) noexcept {
    return take(n, field, ReadError::Part::Whole);
  }
  // The next N bytes, copied.
  template <std::size_t N>
  ReadResult<std::array<std::uint8_t, N>> array(std::string_view field) noexcept {
    QUENFOLD_TRY(const auto b, bytes(N, field));
    std::array<std::uint8_t, N> out{};
    for (std::size_t i = 0; i < N; ++i) out[i] = b[i];
    return out;
  }

  ReadResult<std::uint8_t> u8(std::string_view field) noexcept { return uint<std::uint8_t>(field); }
  ReadResult<std::uint16_t> u16(std::string_view field) noexcept { return uint<std::uint16_t>(field); }
  ReadResult<std::uint32_t> u32(std::string_view field) noexcept { return uint<std::uint32_t>(field); }
  ReadResult<std::uint64_t> u64(std::string_view field) noexcept { return uint<std::uint64_t>(field); }

  // A big-endian length of `width` bytes (1, 2, 4 or 8), then that many
  // bytes: the contents. Both reads carry the field's name.
  ReadResult<std::span<const std::uint8_t>> prefixed(std::size_t width, std::string_view field) noexcept {
    const std::size_t start = pos_;
    QUENFOLD_TRY(const auto len, take(width, field, ReadError::Part::LengthPrefix));
    auto content = take(static_cast<std::size_t>(big_endian(len)), field, ReadError::Part::Content);
    if (!content) pos_ = start;
    return content;
  }
  // The same, as a reader of its own over the contents.
  ReadResult<Reader> child(std::size_t width, std::string_view field) noexcept {
    QUENFOLD_TRY(const auto content, prefixed(width, field));
    return Reader(content);
  }

  // Everything not read yet.
  std::span<const std::uint8_t> rest() noexcept {
    auto out = data_.subspan(pos_);
    pos_ = data_.size();
    return out;
  }

  // Succeeds when every byte has been read; `what` names the structure.
  ReadResult<void> finish(std::string_view what) const noexcept {
    if (empty()) return {};
    return std::unexpected(
        ReadError{ReadError::Kind::Trailing, ReadError::Part::Whole, what, pos_, 0, remaining(), data_.size()});
  }

  static std::uint64_t big_endian(std::span<const std::uint8_t> b) noexcept {
    std::uint64_t v = 0;
    for (std::uint8_t x : b) v = (v << 8) | x;
    return v;
  }

 private:
  ReadResult<std::span<const std::uint8_t>> take(std::size_t n, std::string_view field,
                                                 ReadError::Part part) noexcept {
    if (n > remaining())
      return std::unexpected(ReadError{ReadError::Kind::Short, part, field, pos_, n, remaining(), data_.size()});
    auto out = data_.subspan(pos_, n);
    pos_ += n;
    return out;
  }
  template <class T>
  ReadResult<T> uint(std::string_view field) noexcept {
    QUENFOLD_TRY(const auto b, bytes(sizeof(T), field));
    return static_cast<T>(big_endian(b));
  }

  std::span<const std::uint8_t> data_;
  std::size_t pos_ = 0;
};

// A read's result with its ReadError turned into another error type by
// `map`: how a subsystem states, in one place, what its reader failures say.
template <class T, class Map>
auto map_read_error(ReadResult<T> r, Map&& map) -> std::expected<T, decltype(map(r.error()))> {
  if (!r) return std::unexpected(map(r.error()));
  if constexpr (std::is_void_v<T>) {
    return {};
  } else {
    return std::move(*r);
  }
}

}  // namespace quenfold::encoding
