// Serialized argument values, as a foreign caller builds them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quenfold::test {

// Serialized argument values.
struct Ser {
  std::vector<std::uint8_t> out;
  Ser& i32(std::int32_t v) {
    for (int i = 3; i >= 0; --i) out.push_back(static_cast<std::uint8_t>(static_cast<std::uint32_t>(v) >> (8 * i)));
    return *this;
  }
  Ser& u8(std::uint8_t v) { out.push_back(v); return *this; }
  Ser& raw(const std::vector<std::uint8_t>& b) { out.insert(out.end(), b.begin(), b.end()); return *this; }
  Ser& bytes(const std::vector<std::uint8_t>& b) { i32(static_cast<std::int32_t>(b.size())); return raw(b); }
  Ser& string(std::string_view s) { return bytes(std::vector<std::uint8_t>(s.begin(), s.end())); }
  template <class C>
  Ser& bytes_list(const C& items) {
    i32(static_cast<std::int32_t>(items.size()));
    for (const auto& b : items) bytes(std::vector<std::uint8_t>(b.begin(), b.end()));
    return *this;
  }
  Ser& string_list(const std::vector<std::string>& items) {
    i32(static_cast<std::int32_t>(items.size()));
    for (const auto& s : items) string(s);
    return *this;
  }
};

}  // namespace quenfold::test
