// Hash primitives: SHA-256, SHA-512, SHA3-512 (streaming) and HMAC-SHA-256.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <span>

namespace quenfold::crypto {

using Bytes32 = std::array<std::uint8_t, 32>;
using Bytes64 = std::array<std::uint8_t, 64>;
using ByteView = std::span<const std::uint8_t>;

// One-shot digests over the concatenation of the given pieces.
Bytes32 sha256(std::initializer_list<ByteView> pieces);
Bytes64 sha512(std::initializer_list<ByteView> pieces);
Bytes64 sha3_512(std::initializer_list<ByteView> pieces);
Bytes32 hmac_sha256(ByteView key, std::initializer_list<ByteView> pieces);

// A streaming digest context, reusable across computations (reset by
// finish()). Verifiers that hash in loops keep one for the duration of a
// call: allocating a context costs about as much as hashing 65 bytes.
class Hasher {
 public:
  enum class Algorithm { Sha256, Sha512, Sha3_512 };
  explicit Hasher(Algorithm algorithm);
  ~Hasher();
  Hasher(const Hasher&) = delete;
  Hasher& operator=(const Hasher&) = delete;

  Hasher& update(ByteView data);
  // Writes the digest (32 or 64 bytes) and re-initialises the context.
  void finish(std::span<std::uint8_t> out);
  std::size_t digest_size() const noexcept { return size_; }

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  std::size_t size_;
};

}  // namespace quenfold::crypto
