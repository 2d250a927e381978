// Edwards25519 group operations for ECVRF verification, over libsodium's own
// ref10 arithmetic (its point representations and operations, from the
// private header of the libsodium source the build compiles). Everything
// here is variable time: verification handles public data only.
//
// Only crypto/vrf.cpp and the tests of crypto/ include this header.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "crypto/sodium_ref10.h"

namespace quenfold::crypto::ed25519 {

using Encoding = std::array<std::uint8_t, 32>;  // compressed Edwards-Y
using Scalar = std::array<std::uint8_t, 32>;    // little-endian

// (x, y) = (0, 1).
inline constexpr Encoding kIdentityEncoding = {1};

// A curve point in extended coordinates.
struct Point {
  ge25519_p3 p3;
};

// Compressed Edwards-Y decoding as RFC 8032 section 5.1.3 describes it, minus
// its canonicity checks: any 32 bytes for which an x exists decode (y at or
// above p, and the sign bit on x = 0, included).
std::optional<Point> decode(const Encoding& bytes) noexcept;
// The canonical encoding.
Encoding encode(const Point& p) noexcept;
// Whether `bytes` is the canonical encoding of a point it decodes to, so that
// it equals its own re-encoding: y below p, and no sign bit on x = 0.
bool is_canonical_encoding(const Encoding& bytes) noexcept;
// 8·p, by three doublings.
Point times_cofactor(const Point& p) noexcept;
bool is_identity(const Point& p) noexcept;
Point negate(const Point& p) noexcept;
// s < L.
bool is_canonical_scalar(const Scalar& s) noexcept;

// The encoding of a·A + b·B, B the standard base point. a and b below 2^255;
// A any point (its torsion component is multiplied by a as an integer).
Encoding double_base_times(const Scalar& a, const Point& a_point, const Scalar& b) noexcept;
// The encoding of a·A + b·P, both points arbitrary, in one interleaved
// (Straus) pass over width-5 non-adjacent forms of a and b (below 2^255).
Encoding two_point_times(const Scalar& a, const Point& a_point, const Scalar& b, const Point& b_point) noexcept;

}  // namespace quenfold::crypto::ed25519
