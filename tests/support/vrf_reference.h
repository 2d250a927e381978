// The prover side of the two RFC 9381 VRFs, and a second, independent
// Edwards25519 verifier. The library only verifies; tests, tools and
// benchmarks build their proofs here.
#pragma once

#include <cstdint>
#include <expected>
#include <utility>

#include "crypto/crypto_error.h"
#include "crypto/hash.h"
#include "crypto/vrf.h"
#include "support/testdata.h"

namespace quenfold::test {

class VrfProver {
 public:
  virtual ~VrfProver() = default;
  virtual std::uint8_t suite_string() const noexcept = 0;
  // (secret, public key) from the operating system's random source; throws
  // "OS CSPRNG unavailable" if it fails.
  virtual std::pair<Bytes, Bytes> generate_keypair() const = 0;
  virtual std::expected<Bytes, crypto::CryptoError> public_key_from_secret(crypto::ByteView secret) const = 0;
  virtual std::expected<Bytes, crypto::CryptoError> prove(crypto::ByteView secret,
                                                          crypto::ByteView alpha) const = 0;
  // The VRF output of a proof, without verifying it (64 bytes; P-256 puts
  // its 32 bytes first and zeros after them).
  virtual std::expected<crypto::Bytes64, crypto::CryptoError> proof_to_hash(crypto::ByteView proof) const = 0;
};

// ECVRF-EDWARDS25519-SHA512-TAI (suite 0x03) and ECVRF-P256-SHA256-TAI
// (suite 0x01).
const VrfProver& ecvrf_edwards25519_prover();
const VrfProver& ecvrf_p256_prover();
// The prover of the curve a KEYTRANS suite uses.
const VrfProver& prover_for(const crypto::Vrf& verifier);

// ECVRF-EDWARDS25519-SHA512-TAI verification composed from libsodium's
// public API alone (support/edwards25519_reference.h): slow, because that API
// has no double-scalar multiplication and checks the subgroup on every
// variable-base multiplication, but written independently of the library's
// verifier, which the comparison tests hold against it.
const crypto::Vrf& reference_ecvrf_edwards25519();

}  // namespace quenfold::test
