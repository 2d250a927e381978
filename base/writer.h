// The one writer of canonical encodings: big-endian integers of 1 to 8
// bytes, raw bytes and length-prefixed vectors, appended to an owned buffer.
// Header-only and part of base/, so that crypto/ writes its few big-endian
// lengths with the same code as src/.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

namespace quenfold::encoding {

// `value` as `Width` big-endian bytes (the low bytes when it is wider).
template <std::size_t Width>
constexpr std::array<std::uint8_t, Width> big_endian(std::uint64_t value) noexcept {
  std::array<std::uint8_t, Width> out{};
  for (std::size_t i = 0; i < Width; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * (Width - 1 - i)));
  return out;
}

// The largest length a prefix of `width` bytes can carry.
constexpr std::uint64_t max_prefixed_length(std::size_t width) noexcept {
  return width >= 8 ? ~std::uint64_t{0} : (std::uint64_t{1} << (8 * width)) - 1;
}

class Writer {
 public:
  Writer() = default;
  explicit Writer(std::size_t reserve) { out_.reserve(reserve); }

  Writer& u8(std::uint8_t v) { return uint(v, 1); }
  Writer& u16(std::uint16_t v) { return uint(v, 2); }
  Writer& u32(std::uint32_t v) { return uint(v, 4); }
  Writer& u64(std::uint64_t v) { return uint(v, 8); }
  // The low `width` bytes of `v`, big-endian.
  Writer& uint(std::uint64_t v, std::size_t width) {
    for (std::size_t i = width; i-- > 0;) out_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    return *this;
  }
  Writer& bytes(std::span<const std::uint8_t> b) {
    out_.insert(out_.end(), b.begin(), b.end());
    return *this;
  }
  Writer& bytes(std::string_view s) {
    out_.insert(out_.end(), s.begin(), s.end());
    return *this;
  }
  // A `width`-byte length, then the bytes. The caller checks the bound
  // (max_prefixed_length) when the length is not known to fit.
  Writer& prefixed(std::size_t width, std::span<const std::uint8_t> b) { return uint(b.size(), width).bytes(b); }
  Writer& prefixed(std::size_t width, std::string_view s) { return uint(s.size(), width).bytes(s); }

  std::size_t size() const noexcept { return out_.size(); }
  const std::vector<std::uint8_t>& view() const noexcept { return out_; }
  std::vector<std::uint8_t> take() noexcept { return std::move(out_); }

 private:
  std::vector<std::uint8_t> out_;
};

}  // namespace quenfold::encoding
