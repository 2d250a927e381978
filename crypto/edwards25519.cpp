#include "crypto/edwards25519.h"

#include <algorithm>
#include <cstring>

namespace quenfold::crypto::ed25519 {
namespace {

// libsodium keeps its doubling private to its own translation unit; this is
// the same formula (dbl-2008-hwcd, as in ref10) over its field operations:
// r = 2·p as a completed point.
void double_p2(ge25519_p1p1* r, const ge25519_p2* p) noexcept {
  fe25519 t0;
  fe25519_sq(r->X, p->X);
  fe25519_sq(r->Z, p->Y);
  fe25519_sq2(r->T, p->Z);
  fe25519_add(r->Y, p->X, p->Y);
  fe25519_sq(t0, r->Y);
  fe25519_add(r->Y, r->Z, r->X);
  fe25519_sub(r->Z, r->Z, r->X);
  fe25519_sub(r->X, t0, r->Y);
  fe25519_sub(r->T, r->T, r->Z);
}

void to_p2(ge25519_p2* r, const ge25519_p3* p) noexcept {
  fe25519_copy(r->X, p->X);
  fe25519_copy(r->Y, p->Y);
  fe25519_copy(r->Z, p->Z);
}

void identity_p2(ge25519_p2* r) noexcept {
  fe25519_0(r->X);
  fe25519_1(r->Y);
  fe25519_1(r->Z);
}

// The field prime p = 2^255 - 19 and p - 1, little-endian.
constexpr Encoding kPrime = {0xed, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff,
                             0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff,
                             0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x7f};

// Width-5 non-adjacent form of k < 2^255: digits in {0, ±1, ±3, ..., ±15},
// k = Σ digit[i]·2^i, at most one non-zero digit in any five consecutive
// positions.
using Naf = std::array<std::int8_t, 256>;
constexpr unsigned kWindow = 5;
constexpr std::size_t kTableSize = 1u << (kWindow - 2);  // odd multiples 1P .. 15P

Naf non_adjacent_form(const Scalar& k) noexcept {
  std::array<std::uint64_t, 5> limbs{};
  for (std::size_t i = 0; i < 32; ++i) limbs[i / 8] |= std::uint64_t{k[i]} << (8 * (i % 8));
  constexpr std::uint64_t width = std::uint64_t{1} << kWindow;
  constexpr std::uint64_t mask = width - 1;
  Naf naf{};
  std::size_t pos = 0;
  std::uint64_t carry = 0;
  while (pos < naf.size()) {
    const std::size_t limb = pos / 64, bit = pos % 64;
    std::uint64_t bits = limbs[limb] >> bit;
    if (bit + kWindow > 64) bits |= limbs[limb + 1] << (64 - bit);
    const std::uint64_t window = carry + (bits & mask);
    if ((window & 1) == 0) {
      // Even: no digit here; a carry stays pending (its bit was a 1).
      ++pos;
      continue;
    }
    if (window < width / 2) {
      carry = 0;
      naf[pos] = static_cast<std::int8_t>(window);
    } else {
      carry = 1;
      naf[pos] = static_cast<std::int8_t>(static_cast<int>(window) - static_cast<int>(width));
    }
    pos += kWindow;
  }
  return naf;
}

// 1·p, 3·p, ..., 15·p.
std::array<ge25519_cached, kTableSize> odd_multiples(const ge25519_p3& p) noexcept {
  std::array<ge25519_cached, kTableSize> table;
  ge25519_p2 p2;
  to_p2(&p2, &p);
  ge25519_p1p1 t;
  double_p2(&t, &p2);
  ge25519_p3 twice;
  ge25519_p1p1_to_p3(&twice, &t);
  ge25519_p3_to_cached(&table[0], &p);
  for (std::size_t i = 1; i < table.size(); ++i) {
    ge25519_add(&t, &twice, &table[i - 1]);
    ge25519_p3 next;
    ge25519_p1p1_to_p3(&next, &t);
    ge25519_p3_to_cached(&table[i], &next);
  }
  return table;
}

// t (completed) += digit·P from the table of P's odd multiples.
void add_digit(ge25519_p1p1* t, std::int8_t digit, const std::array<ge25519_cached, kTableSize>& table) noexcept {
  if (digit == 0) return;
  ge25519_p3 u;
  ge25519_p1p1_to_p3(&u, t);
  if (digit > 0) {
    ge25519_add(t, &u, &table[static_cast<std::size_t>(digit / 2)]);
  } else {
    ge25519_sub(t, &u, &table[static_cast<std::size_t>(-digit / 2)]);
  }
}

}  // namespace

std::optional<Point> decode(const Encoding& bytes) noexcept {
  Point p;
  if (ge25519_frombytes(&p.p3, bytes.data()) != 0) return std::nullopt;
  return p;
}

Encoding encode(const Point& p) noexcept {
  Encoding out;
  ge25519_p3_tobytes(out.data(), &p.p3);
  return out;
}

bool is_canonical_encoding(const Encoding& bytes) noexcept {
  Encoding y = bytes;
  y[31] &= 0x7F;
  // y < p: compare from the most significant byte.
  if (!std::lexicographical_compare(y.rbegin(), y.rend(), kPrime.rbegin(), kPrime.rend())) return false;
  if ((bytes[31] & 0x80) == 0) return true;
  // x = 0 exactly when y = 1 or y = p - 1; its encoding has no sign bit.
  Encoding p_minus_1 = kPrime;
  p_minus_1[0] = static_cast<std::uint8_t>(p_minus_1[0] - 1);
  return y != kIdentityEncoding && y != p_minus_1;
}

Point times_cofactor(const Point& p) noexcept {
  ge25519_p2 q;
  to_p2(&q, &p.p3);
  ge25519_p1p1 t;
  double_p2(&t, &q);
  ge25519_p1p1_to_p2(&q, &t);
  double_p2(&t, &q);
  ge25519_p1p1_to_p2(&q, &t);
  double_p2(&t, &q);
  Point out;
  ge25519_p1p1_to_p3(&out.p3, &t);
  return out;
}

bool is_identity(const Point& p) noexcept {
  fe25519 y_minus_z;
  fe25519_sub(y_minus_z, p.p3.Y, p.p3.Z);
  return fe25519_iszero(p.p3.X) && fe25519_iszero(y_minus_z);
}

Point negate(const Point& p) noexcept {
  Point out = p;
  fe25519_neg(out.p3.X, p.p3.X);
  fe25519_neg(out.p3.T, p.p3.T);
  return out;
}

bool is_canonical_scalar(const Scalar& s) noexcept { return sc25519_is_canonical(s.data()) == 1; }

Encoding double_base_times(const Scalar& a, const Point& a_point, const Scalar& b) noexcept {
  ge25519_p2 r;
  ge25519_double_scalarmult_vartime(&r, a.data(), &a_point.p3, b.data());
  Encoding out;
  ge25519_tobytes(out.data(), &r);
  return out;
}

Encoding two_point_times(const Scalar& a, const Point& a_point, const Scalar& b, const Point& b_point) noexcept {
  const Naf a_naf = non_adjacent_form(a);
  const Naf b_naf = non_adjacent_form(b);
  std::size_t top = a_naf.size();
  while (top > 0 && a_naf[top - 1] == 0 && b_naf[top - 1] == 0) --top;

  ge25519_p2 r;
  identity_p2(&r);
  if (top > 0) {
    const auto a_table = odd_multiples(a_point.p3);
    const auto b_table = odd_multiples(b_point.p3);
    for (std::size_t i = top; i-- > 0;) {
      ge25519_p1p1 t;
      double_p2(&t, &r);
      add_digit(&t, a_naf[i], a_table);
      add_digit(&t, b_naf[i], b_table);
      ge25519_p1p1_to_p2(&r, &t);
    }
  }
  Encoding out;
  ge25519_tobytes(out.data(), &r);
  return out;
}

}  // namespace quenfold::crypto::ed25519
