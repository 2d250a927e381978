// Helpers shared by the tests: hex, files under the public test data and the
// bundled examples.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quenfold::test {

using Bytes = std::vector<std::uint8_t>;

Bytes from_hex(std::string_view hex);  // throws on bad input
std::string to_hex(const std::uint8_t* data, std::size_t n);
template <class C>
std::string to_hex(const C& c) {
  return to_hex(reinterpret_cast<const std::uint8_t*>(c.data()), c.size());
}
Bytes bytes_of(std::string_view s);

std::string read_file(const std::string& path);  // throws when missing
std::string testdata_path(std::string_view relative);
std::string examples_path(std::string_view relative);

}  // namespace quenfold::test
