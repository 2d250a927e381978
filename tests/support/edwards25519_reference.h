// Edwards25519 group operations over 32-byte point encodings, composed from
// libsodium's public primitives so that they accept every encoding that
// decodes to a curve point.
//
// Why a composition layer: libsodium's variable-base multiplication
// (crypto_scalarmult_ed25519_noclamp) refuses non-canonical encodings,
// small-order points and points with a torsion component, while RFC 9381
// decoding accepts any encoding for which an x coordinate exists
// (crypto_core_ed25519_add/sub accept exactly those). Points that the fast
// primitive refuses take an exact slow path here instead of being rejected.
//
// Test-only: the library itself verifies over libsodium's internal group
// arithmetic (crypto/edwards25519.h); these helpers build fixtures and the
// reference verifier that it is compared with.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace quenfold::test::ed25519 {

using Point = std::array<std::uint8_t, 32>;   // a compressed encoding
using Scalar = std::array<std::uint8_t, 32>;  // little-endian, < L unless noted

// (x, y) = (0, 1).
inline constexpr Point kIdentity = {1};

// Whether the encoding decodes to a curve point (an x exists for its y).
bool decodes(const Point& p) noexcept;
// The canonical encoding of the decoded point; nullopt if it does not decode.
std::optional<Point> canonical(const Point& p) noexcept;
// a + b and a - b; nullopt if either does not decode.
std::optional<Point> add(const Point& a, const Point& b) noexcept;
std::optional<Point> sub(const Point& a, const Point& b) noexcept;
// 8·p (three doublings); nullopt if p does not decode. The result is in the
// prime-order subgroup and is the identity exactly when p has small order.
std::optional<Point> mul_cofactor(const Point& p) noexcept;
// k·B for the standard base point B; k is any 256-bit value below 2^255.
Point mul_base(const Scalar& k) noexcept;
// k·p when libsodium's multiplication accepts p (the canonical encoding of
// a prime-order-subgroup point other than the identity) and k·p is not the
// identity; nullopt otherwise. Success also proves p has more than small
// order and that its encoding is canonical.
std::optional<Point> mul_subgroup(const Scalar& k, const Point& p) noexcept;
// k·p for any decodable p (k < 2^255; k·p is the integer multiple, so the
// torsion component of p is multiplied by k mod 8); nullopt if p does not
// decode.
std::optional<Point> mul(const Scalar& k, const Point& p) noexcept;

// Scalars modulo the group order L.
bool is_canonical_scalar(const Scalar& s) noexcept;            // s < L
Scalar reduce(const std::array<std::uint8_t, 64>& wide) noexcept;  // little-endian mod L
Scalar scalar_mul_add(const Scalar& a, const Scalar& b, const Scalar& c) noexcept;  // a·b + c mod L

}  // namespace quenfold::test::ed25519
