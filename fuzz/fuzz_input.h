// The input format shared by the fuzz targets and the seed-corpus generator:
// a sequence of fields, each a u16 big-endian length followed by that many
// bytes (a truncated last field takes what remains), and fixed-width
// big-endian scalars. Structure-aware inputs let mutations reach deep into
// the verifiers instead of dying in the first length check.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quenfold::fuzz {

class FuzzInput {
 public:
  FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool empty() const { return pos_ >= size_; }
  std::uint8_t u8() { return pos_ < size_ ? data_[pos_++] : 0; }
  std::uint64_t u64() {
    std::uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v = (v << 8) | u8();
    return v;
  }
  std::vector<std::uint8_t> field() {
    std::size_t n = static_cast<std::size_t>(u8()) << 8;
    n |= u8();
    if (n > size_ - pos_) n = size_ - pos_;
    std::vector<std::uint8_t> out(data_ + pos_, data_ + pos_ + n);
    pos_ += n;
    return out;
  }
  std::string text() {
    auto f = field();
    return std::string(f.begin(), f.end());
  }
  std::vector<std::vector<std::uint8_t>> list() {
    std::size_t n = u8();
    std::vector<std::vector<std::uint8_t>> out;
    for (std::size_t i = 0; i < n && !empty(); ++i) out.push_back(field());
    return out;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// The writer used to build seeds in the same format.
class FuzzOutput {
 public:
  FuzzOutput& u8(std::uint8_t v) {
    out_.push_back(v);
    return *this;
  }
  FuzzOutput& u64(std::uint64_t v) {
    for (int i = 7; i >= 0; --i) out_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    return *this;
  }
  template <class C>
  FuzzOutput& field(const C& bytes) {
    const std::size_t n = bytes.size() > 0xFFFF ? 0xFFFF : bytes.size();
    out_.push_back(static_cast<std::uint8_t>(n >> 8));
    out_.push_back(static_cast<std::uint8_t>(n));
    out_.insert(out_.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
    return *this;
  }
  template <class C>
  FuzzOutput& list(const C& items) {
    out_.push_back(static_cast<std::uint8_t>(items.size()));
    for (const auto& i : items) field(i);
    return *this;
  }
  const std::vector<std::uint8_t>& bytes() const { return out_; }

 private:
  std::vector<std::uint8_t> out_;
};

}  // namespace quenfold::fuzz
