// The error type of the signature-and-VRF component. Callers outside crypto/
// wrap it into a quenfold::Error kind (for example Vrf with message() as the
// detail).
#pragma once

#include <cstdint>
#include <string>

namespace quenfold::crypto {

class CryptoError {
 public:
  enum class Kind : std::uint8_t { Base64, InvalidLength, Signature, Vrf };

  // `base64_text` is the dependency codec's own failure text.
  static CryptoError base64(std::string base64_text) {
    return {Kind::Base64, std::move(base64_text), 0, 0};
  }
  static CryptoError invalid_length(std::uint64_t expected, std::uint64_t got) {
    return {Kind::InvalidLength, {}, expected, got};
  }
  static CryptoError signature(std::string detail) { return {Kind::Signature, std::move(detail), 0, 0}; }
  static CryptoError vrf(std::string detail) { return {Kind::Vrf, std::move(detail), 0, 0}; }

  Kind kind() const noexcept { return kind_; }
  std::string message() const {
    switch (kind_) {
      case Kind::Base64: return "base64 decode: " + text_;
      case Kind::InvalidLength:
        return "invalid length: expected " + std::to_string(expected_) + " bytes, got " +
               std::to_string(got_);
      case Kind::Signature: return "signature: " + text_;
      case Kind::Vrf: return "vrf: " + text_;
    }
    return "crypto error";
  }
  friend bool operator==(const CryptoError&, const CryptoError&) = default;

 private:
  CryptoError(Kind kind, std::string text, std::uint64_t expected, std::uint64_t got)
      : kind_(kind), text_(std::move(text)), expected_(expected), got_(got) {}
  Kind kind_;
  std::string text_;
  std::uint64_t expected_;
  std::uint64_t got_;
};

}  // namespace quenfold::crypto
