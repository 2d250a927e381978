// Edwards25519 points and proofs that exercise the corners of RFC 9381
// verification: torsion components, small-order and non-canonical
// encodings, undecodable strings, scalars around the group order, and
// proofs that verify although Gamma or the public key carries torsion.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "support/edwards25519_reference.h"
#include "support/testdata.h"

namespace quenfold::test::ed25519 {

// The group order L, little-endian.
inline constexpr Scalar kOrder = {0xed, 0xd3, 0xf5, 0x5c, 0x1a, 0x63, 0x12, 0x58, 0xd6, 0x9c, 0xf7,
                                  0xa2, 0xde, 0xf9, 0xde, 0x14, 0,    0,    0,    0,    0,    0,
                                  0,    0,    0,    0,    0,    0,    0,    0,    0,    0x10};

Scalar scalar_of(std::uint64_t v);
// a + b over 256-bit little-endian integers (the carry out is dropped).
Scalar add256(const Scalar& a, const Scalar& b);
// k·p by plain double-and-add over the point addition, which accepts every
// decodable point: independent of the decomposition mul() uses.
Point double_and_add(const Scalar& k, const Point& p);

// A point of order exactly 8, and its multiples: element k is k·T.
const std::array<Point, 8>& torsion_points();
// The same y plus p, for an encoding whose y is below 19 (sign bit kept):
// the non-canonical spelling of that y.
std::optional<Point> non_canonical_twin(const Point& e);
// Every encoding of a small-order point that decodes: the eight points k·T,
// their sign-flipped spellings and the non-canonical spellings of those.
const std::vector<Point>& small_order_encodings();
// Every 32-byte string whose y is at or above p (y = p + 0 .. p + 18, with
// either sign bit), decodable or not.
std::vector<Point> non_canonical_encodings();
// A 32-byte string from which no point decodes.
Point undecodable_point();

// The RFC 8032 secret scalar of a 32-byte seed.
Scalar secret_scalar(const Bytes& seed);
// RFC 9381 try-and-increment hash to curve for a public-key string.
Point hash_to_curve(const Point& pk, const Bytes& alpha);

// A proof that the RFC 9381 verification equations accept although Gamma
// carries `gamma_torsion` and the public key `key_torsion`: the prover
// searches for a nonce whose challenge has the residue mod 8 it assumed
// when computing U and V.
struct TorsionProof {
  Bytes pk, pi;
};
TorsionProof torsion_proof(const Bytes& seed, const Bytes& alpha, const Point& gamma_torsion,
                           const Point& key_torsion);

}  // namespace quenfold::test::ed25519
