// The VRF interface (RFC 9381 ECVRF): one stateless object per curve. The
// library only verifies; key generation and proving live with the tests,
// tools and benchmarks that build proofs (tests/support/vrf_reference.h).
#pragma once

#include <array>
#include <cstdint>
#include <expected>
#include <memory>
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

// A public key decoded once, so that the proofs of one call that share it
// (a KEYTRANS ladder has one per rung) do not each decompress it again.
// Holds the bytes as given and, when they decode, the curve's point; a key
// that does not decode is still a key object, and verifying under it gives
// the same answer as verifying under its bytes.
class VrfPublicKey {
 public:
  virtual ~VrfPublicKey() = default;
};

class Vrf {
 public:
  virtual ~Vrf() = default;
  virtual std::uint8_t suite_string() const noexcept = 0;
  // Never fails: any bytes make a key object (see VrfPublicKey).
  virtual std::unique_ptr<const VrfPublicKey> decode_public_key(ByteView public_key) const = 0;
  // Only wrong input lengths are errors; every cryptographic failure is the
  // answer "not valid". `key` must come from this object's
  // decode_public_key (an internal failure otherwise).
  virtual std::expected<VrfVerdict, CryptoError> verify(const VrfPublicKey& key, ByteView alpha,
                                                        ByteView proof) const = 0;
  std::expected<VrfVerdict, CryptoError> verify(ByteView public_key, ByteView alpha, ByteView proof) const {
    return verify(*decode_public_key(public_key), alpha, proof);
  }
  virtual std::expected<Bytes64, CryptoError> proof_to_hash(ByteView proof) const = 0;
};

// ECVRF-EDWARDS25519-SHA512-TAI (suite 0x03).
const Vrf& ecvrf_edwards25519() noexcept;
// ECVRF-P256-SHA256-TAI (suite 0x01).
const Vrf& ecvrf_p256() noexcept;

}  // namespace quenfold::crypto
