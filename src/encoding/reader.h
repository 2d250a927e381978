// A bounds-checked cursor over borrowed bytes. Reads advance only on success;
// a failed read returns nullopt and leaves the position unchanged, so each
// caller formats its own exact message from position() and remaining().
// Nested structures get a reader of their own (sub()), which is what makes
// offsets in messages count from the right place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace quenfold::encoding {

class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> data) noexcept : data_(data) {}

  std::size_t position() const noexcept { return pos_; }
  std::size_t size() const noexcept { return data_.size(); }
  std::size_t remaining() const noexcept { return data_.size() - pos_; }
  bool empty() const noexcept { return pos_ == data_.size(); }

  std::optional<std::span<const std::uint8_t>> take(std::size_t n) noexcept {
    if (n > remaining()) return std::nullopt;
    auto out = data_.subspan(pos_, n);
    pos_ += n;
    return out;
  }
  std::span<const std::uint8_t> rest() noexcept {
    auto out = data_.subspan(pos_);
    pos_ = data_.size();
    return out;
  }

  std::optional<std::uint8_t> u8() noexcept { return be<std::uint8_t>(); }
  std::optional<std::uint16_t> u16() noexcept { return be<std::uint16_t>(); }
  std::optional<std::uint32_t> u32() noexcept { return be<std::uint32_t>(); }
  std::optional<std::uint64_t> u64() noexcept { return be<std::uint64_t>(); }

 private:
  template <class T>
  std::optional<T> be() noexcept {
    auto bytes = take(sizeof(T));
    if (!bytes) return std::nullopt;
    T v = 0;
    for (std::uint8_t b : *bytes) v = static_cast<T>((static_cast<std::uint64_t>(v) << 8) | b);
    return v;
  }

  std::span<const std::uint8_t> data_;
  std::size_t pos_ = 0;
};

// Big-endian appends for canonical encodings.
template <class Out>
void put_be(Out& out, std::uint64_t value, int width) {
  for (int i = width - 1; i >= 0; --i)
    out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

}  // namespace quenfold::encoding
