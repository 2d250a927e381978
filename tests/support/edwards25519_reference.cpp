#include "support/edwards25519_reference.h"

#include <sodium.h>

namespace quenfold::test::ed25519 {
namespace {

// 8^-1 mod L, computed once by libsodium (immutable afterwards).
const Scalar& inverse_of_eight() noexcept {
  static const Scalar inv = [] {
    Scalar eight{8};
    Scalar out{};
    crypto_core_ed25519_scalar_invert(out.data(), eight.data());
    return out;
  }();
  return inv;
}

}  // namespace

std::optional<Point> add(const Point& a, const Point& b) noexcept {
  Point r{};
  if (crypto_core_ed25519_add(r.data(), a.data(), b.data()) != 0) return std::nullopt;
  return r;
}

std::optional<Point> sub(const Point& a, const Point& b) noexcept {
  Point r{};
  if (crypto_core_ed25519_sub(r.data(), a.data(), b.data()) != 0) return std::nullopt;
  return r;
}

bool decodes(const Point& p) noexcept { return canonical(p).has_value(); }

std::optional<Point> canonical(const Point& p) noexcept { return add(p, kIdentity); }

std::optional<Point> mul_cofactor(const Point& p) noexcept {
  auto p2 = add(p, p);
  if (!p2) return std::nullopt;
  auto p4 = add(*p2, *p2);
  return add(*p4, *p4);
}

Point mul_base(const Scalar& k) noexcept {
  Point r{};
  // Refuses only a result at the identity (k ≡ 0 mod L), which is then the
  // answer.
  if (crypto_scalarmult_ed25519_base_noclamp(r.data(), k.data()) != 0) return kIdentity;
  return r;
}

std::optional<Point> mul_subgroup(const Scalar& k, const Point& p) noexcept {
  Point r{};
  if (crypto_scalarmult_ed25519_noclamp(r.data(), k.data(), p.data()) != 0) return std::nullopt;
  return r;
}

std::optional<Point> mul(const Scalar& k, const Point& p) noexcept {
  if (auto fast = mul_subgroup(k, p)) return fast;

  // Exact path for everything else that decodes. Write p = m + t with m in
  // the prime-order subgroup and t of order dividing 8. Then 8·p = 8·m, so
  // m = (8^-1 mod L)·(8·p), and k·p = (k·8^-1 mod L)·(8·p) + (k mod 8)·t.
  const auto q = mul_cofactor(p);
  if (!q) return std::nullopt;
  Point m = kIdentity;
  Point km = kIdentity;
  if (*q != kIdentity) {
    if (crypto_scalarmult_ed25519_noclamp(m.data(), inverse_of_eight().data(), q->data()) != 0)
      return std::nullopt;  // unreachable: q is a non-identity subgroup point
    Scalar k_over_8{};
    crypto_core_ed25519_scalar_mul(k_over_8.data(), k.data(), inverse_of_eight().data());
    if (crypto_scalarmult_ed25519_noclamp(km.data(), k_over_8.data(), q->data()) != 0)
      km = kIdentity;  // k ≡ 0 mod L
  }
  const auto t = sub(p, m);
  if (!t) return std::nullopt;
  Point kt = kIdentity;
  for (int i = 0; i < (k[0] & 7); ++i) {
    const auto next = add(kt, *t);
    if (!next) return std::nullopt;
    kt = *next;
  }
  return add(km, kt);
}

bool is_canonical_scalar(const Scalar& s) noexcept {
  std::array<std::uint8_t, 64> wide{};
  for (std::size_t i = 0; i < 32; ++i) wide[i] = s[i];
  return reduce(wide) == s;
}

Scalar reduce(const std::array<std::uint8_t, 64>& wide) noexcept {
  Scalar out{};
  crypto_core_ed25519_scalar_reduce(out.data(), wide.data());
  return out;
}

Scalar scalar_mul_add(const Scalar& a, const Scalar& b, const Scalar& c) noexcept {
  Scalar ab{};
  crypto_core_ed25519_scalar_mul(ab.data(), a.data(), b.data());
  Scalar out{};
  crypto_core_ed25519_scalar_add(out.data(), ab.data(), c.data());
  sodium_memzero(ab.data(), ab.size());
  return out;
}

}  // namespace quenfold::test::ed25519
