// The VRF interface (RFC 9381 ECVRF): one stateless object per curve. The
// library only verifies; key generation and proving live with the tests,
// tools and benchmarks that build proofs (tests/support/vrf_reference.h).
#pragma once

#include <array>
#include <cstdint>
#include <expected>
#include <vector>

#include "crypto/crypto_error.h"
#include "crypto/hash.h"

namespace quenfold::crypto {

using Bytes = std::vector<std::uint8_t>;

struct VrfVerdict {
  bool valid = false;
  // Meaningful only when valid. Edwards25519 fills all 64 bytes; P-256 puts
  // its 32-byte output first and 32 zero bytes after it.
  Bytes64 output{};
};

class Vrf {
 public:
  virtual ~Vrf() = default;
  virtual std::uint8_t suite_string() const noexcept = 0;
  // Only wrong input lengths are errors; every cryptographic failure is the
  // answer "not valid".
  virtual std::expected<VrfVerdict, CryptoError> verify(ByteView public_key, ByteView alpha,
                                                        ByteView proof) const = 0;
  virtual std::expected<Bytes64, CryptoError> proof_to_hash(ByteView proof) const = 0;
};

// ECVRF-EDWARDS25519-SHA512-TAI (suite 0x03).
const Vrf& ecvrf_edwards25519() noexcept;
// ECVRF-P256-SHA256-TAI (suite 0x01).
const Vrf& ecvrf_p256() noexcept;

}  // namespace quenfold::crypto
