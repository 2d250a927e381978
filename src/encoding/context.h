// Context labels ("owner/purpose/vN"), namespace names, and the one
// context-bound digest: SHA3-512 over the 8-byte big-endian length of the
// context, the context bytes and the data.
#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

#include "crypto/hash.h"
#include "quenfold/error.h"
#include "quenfold/types.h"

namespace quenfold::encoding {

class ContextLabel {
 public:
  // Validates the grammar; failures are MalformedCanonicalLeaf errors.
  static std::expected<ContextLabel, Error> parse(std::string_view text);

  const std::string& text() const noexcept { return text_; }
  std::string_view owner() const noexcept { return std::string_view(text_).substr(0, owner_len_); }
  std::string_view purpose() const noexcept {
    return std::string_view(text_).substr(owner_len_ + 1, purpose_len_);
  }
  std::uint64_t version() const noexcept { return version_; }

 private:
  ContextLabel(std::string text, std::size_t owner_len, std::size_t purpose_len, std::uint64_t version)
      : text_(std::move(text)), owner_len_(owner_len), purpose_len_(purpose_len), version_(version) {}
  std::string text_;
  std::size_t owner_len_;
  std::size_t purpose_len_;
  std::uint64_t version_;
};

// Non-empty, every byte in 0x21..0x7E and not '/'. Failures are
// MalformedNamespace errors.
std::expected<std::string, Error> validate_namespace(std::string_view text);

crypto::Bytes64 sha3_512_with_context(ByteView context, ByteView data);
crypto::Bytes64 sha3_512_with_context(std::string_view context, ByteView data);

// Views of text as bytes, and of bytes as text.
inline ByteView bytes_of(std::string_view s) noexcept {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}
inline std::string_view text_of(ByteView b) noexcept {
  return {reinterpret_cast<const char*>(b.data()), b.size()};
}

}  // namespace quenfold::encoding
