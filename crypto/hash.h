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
//
// SHA-256 keeps its state on the stack and touches no object shared between
// threads, so concurrent verifications scale with the cores; it is the hash
// of every Merkle node. The pieces are public data (proof nodes, keys,
// labels): the state is not wiped.
Bytes32 sha256(std::initializer_list<ByteView> pieces);
Bytes64 sha512(std::initializer_list<ByteView> pieces);
Bytes64 sha3_512(std::initializer_list<ByteView> pieces);
Bytes32 hmac_sha256(ByteView key, std::initializer_list<ByteView> pieces);

// A streaming SHA-512 or SHA3-512 context for verifiers that hash in loops:
// keep one for the duration of a call. Setting up and releasing an EVP
// context takes and drops a reference on the process-wide digest, an atomic
// write on a cache line that concurrent verifications would otherwise fight
// over once per hash; re-initialising a live context writes nothing shared.
class Hasher {
 public:
  enum class Algorithm { Sha512, Sha3_512 };
  explicit Hasher(Algorithm algorithm);
  ~Hasher();
  Hasher(const Hasher&) = delete;
  Hasher& operator=(const Hasher&) = delete;

  // Continues from `other`'s state (the same algorithm): a prefix shared by
  // many messages is absorbed once, and each message continues from a copy.
  Hasher& copy_state_from(const Hasher& other);

  Hasher& update(ByteView data);
  // The digest of everything given since the last finish(); the context is
  // re-initialised for the next one.
  Bytes64 finish();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace quenfold::crypto
