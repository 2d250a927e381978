#include "support/edwards25519_cases.h"

#include <sodium.h>

#include <algorithm>
#include <set>
#include <stdexcept>

#include "crypto/hash.h"

namespace quenfold::test::ed25519 {
namespace {

Point point_of(const crypto::Bytes64& digest) {
  Point p{};
  std::copy_n(digest.begin(), p.size(), p.begin());
  return p;
}

// The field prime p = 2^255 - 19, little-endian.
constexpr Point kPrime = {0xed, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff,
                          0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff,
                          0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x7f};

// k·p for k < 8, by repeated addition.
Point small_multiple(unsigned k, const Point& p) {
  Point acc = kIdentity;
  for (unsigned i = 0; i < k; ++i) acc = *add(acc, p);
  return acc;
}

}  // namespace

Scalar scalar_of(std::uint64_t v) {
  Scalar s{};
  for (std::size_t i = 0; i < 8; ++i) s[i] = static_cast<std::uint8_t>(v >> (8 * i));
  return s;
}

Scalar add256(const Scalar& a, const Scalar& b) {
  Scalar out{};
  unsigned carry = 0;
  for (std::size_t i = 0; i < out.size(); ++i) {
    const unsigned sum = a[i] + b[i] + carry;
    out[i] = static_cast<std::uint8_t>(sum);
    carry = sum >> 8;
  }
  return out;
}

Point double_and_add(const Scalar& k, const Point& p) {
  Point acc = kIdentity;
  for (int bit = 255; bit >= 0; --bit) {
    acc = *add(acc, acc);
    if ((k[static_cast<std::size_t>(bit / 8)] >> (bit % 8)) & 1) acc = *add(acc, p);
  }
  return acc;
}

const std::array<Point, 8>& torsion_points() {
  static const std::array<Point, 8> points = [] {
    // The torsion component of a hashed curve point: P - (8^-1 mod L)·(8·P);
    // the first one of order 8.
    Scalar eight{8}, inv8{};
    crypto_core_ed25519_scalar_invert(inv8.data(), eight.data());
    for (std::uint64_t i = 0;; ++i) {
      const Point candidate = point_of(crypto::sha512({scalar_of(i)}));
      const auto q = mul_cofactor(candidate);
      if (!q || *q == kIdentity) continue;
      Point m{};
      if (crypto_scalarmult_ed25519_noclamp(m.data(), inv8.data(), q->data()) != 0) continue;
      const Point t = *sub(candidate, m);
      if (small_multiple(4, t) == kIdentity) continue;
      std::array<Point, 8> out{};
      for (unsigned k = 0; k < 8; ++k) out[k] = small_multiple(k, t);
      return out;
    }
  }();
  return points;
}

std::optional<Point> non_canonical_twin(const Point& e) {
  Point y = e;
  y[31] &= 0x7F;
  if (y[0] >= 19 || !std::all_of(y.begin() + 1, y.end(), [](std::uint8_t b) { return b == 0; }))
    return std::nullopt;
  Point out = add256(y, kPrime);
  out[31] = static_cast<std::uint8_t>((out[31] & 0x7F) | (e[31] & 0x80));
  return out;
}

const std::vector<Point>& small_order_encodings() {
  static const std::vector<Point> encodings = [] {
    std::set<Point> out;
    for (const Point& t : torsion_points()) {
      Point flipped = t;
      flipped[31] ^= 0x80;
      for (const Point& e : {t, flipped}) {
        if (decodes(e)) out.insert(e);
        if (auto twin = non_canonical_twin(e); twin && decodes(*twin)) out.insert(*twin);
      }
    }
    return std::vector<Point>(out.begin(), out.end());
  }();
  return encodings;
}

std::vector<Point> non_canonical_encodings() {
  std::vector<Point> out;
  for (std::uint8_t y = 0; y < 19; ++y) {
    for (const std::uint8_t sign : {std::uint8_t{0x00}, std::uint8_t{0x80}}) {
      Point e{y};
      e[31] = sign;
      out.push_back(*non_canonical_twin(e));
    }
  }
  return out;
}

Point undecodable_point() {
  for (std::uint8_t y = 2;; ++y) {
    const Point e{y};
    if (!decodes(e)) return e;
  }
}

Scalar secret_scalar(const Bytes& seed) {
  const auto h = crypto::sha512({seed});
  std::array<std::uint8_t, 64> wide{};
  std::copy_n(h.begin(), 32, wide.begin());
  wide[0] &= 0xF8;
  wide[31] = static_cast<std::uint8_t>((wide[31] & 0x7F) | 0x40);
  return reduce(wide);
}

Point hash_to_curve(const Point& pk, const Bytes& alpha) {
  for (unsigned ctr = 0; ctr < 256; ++ctr) {
    Bytes in = {0x03, 0x01};
    in.insert(in.end(), pk.begin(), pk.end());
    in.insert(in.end(), alpha.begin(), alpha.end());
    in.push_back(static_cast<std::uint8_t>(ctr));
    in.push_back(0x00);
    const auto h = mul_cofactor(point_of(crypto::sha512({in})));
    if (h && *h != kIdentity) return *h;
  }
  throw std::runtime_error("no candidate");
}

TorsionProof torsion_proof(const Bytes& seed, const Bytes& alpha, const Point& gamma_torsion,
                           const Point& key_torsion) {
  const Scalar x = secret_scalar(seed);
  const Point y = *add(mul_base(x), key_torsion);
  const Point h = hash_to_curve(y, alpha);
  const Point gamma = *add(*mul(x, h), gamma_torsion);
  for (std::uint64_t n = 1;; ++n) {
    std::array<std::uint8_t, 64> wide{};
    const auto d = crypto::sha512({scalar_of(n), seed});
    std::copy(d.begin(), d.end(), wide.begin());
    const Scalar k = reduce(wide);
    const Point kb = mul_base(k);
    const Point kh = *mul(k, h);
    for (unsigned r = 0; r < 8; ++r) {
      // U = k·B - r·key_torsion, V = k·H - r·gamma_torsion: what the
      // verifier computes when c ≡ r (mod 8).
      const Point u = *sub(kb, small_multiple(r, key_torsion));
      const Point v = *sub(kh, small_multiple(r, gamma_torsion));
      Bytes in = {0x03, 0x02};
      for (const Point* p : {&y, &h, &gamma, &u, &v}) in.insert(in.end(), p->begin(), p->end());
      in.push_back(0x00);
      const auto digest = crypto::sha512({in});
      if ((digest[0] & 7) != r) continue;
      Scalar c{};
      std::copy_n(digest.begin(), 16, c.begin());
      const Scalar s = scalar_mul_add(c, x, k);
      Bytes pi(gamma.begin(), gamma.end());
      pi.insert(pi.end(), c.begin(), c.begin() + 16);
      pi.insert(pi.end(), s.begin(), s.end());
      return {Bytes(y.begin(), y.end()), pi};
    }
  }
}

}  // namespace quenfold::test::ed25519
