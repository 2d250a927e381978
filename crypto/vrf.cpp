// ECVRF-EDWARDS25519-SHA512-TAI (RFC 9381, suite string 0x03).
//
// Group arithmetic is libsodium's, through crypto/edwards25519.h, which
// decodes every encoding RFC 9381 decodes (any y for which an x exists) and
// multiplies points with a torsion component exactly. SHA-512 is OpenSSL's.
#include <sodium.h>

#include "crypto/edwards25519.h"
#include "crypto/hash.h"
#include "crypto/vrf.h"

namespace quenfold::crypto {
namespace {

namespace ed = ed25519;

constexpr std::uint8_t kSuite = 0x03;
constexpr std::size_t kKeyLen = 32;
constexpr std::size_t kProofLen = 80;
constexpr std::size_t kChallengeLen = 16;

ByteView one(const std::uint8_t& b) { return {&b, 1}; }

// RFC 9381 section 5.4.1.1, try-and-increment: the first candidate among
// ctr = 0..255 that decodes to a point of more than small order, times the
// cofactor.
std::optional<ed::Point> encode_to_curve(ByteView public_key, ByteView alpha) {
  static constexpr std::uint8_t kFront = 0x01, kBack = 0x00;
  for (unsigned ctr = 0; ctr < 256; ++ctr) {
    const auto c = static_cast<std::uint8_t>(ctr);
    const Bytes64 digest = sha512({one(kSuite), one(kFront), public_key, alpha, one(c), one(kBack)});
    ed::Point candidate{};
    for (std::size_t i = 0; i < candidate.size(); ++i) candidate[i] = digest[i];
    const auto h = ed::mul_cofactor(candidate);
    if (h && *h != ed::kIdentity) return h;
  }
  return std::nullopt;
}

// RFC 9381 section 5.4.3: the first 16 bytes of SHA-512 over the five point
// encodings, as a little-endian scalar (zero-padded to 32 bytes).
ed::Scalar challenge(const ed::Point& p1, const ed::Point& p2, const ed::Point& p3, const ed::Point& p4,
                     const ed::Point& p5) {
  static constexpr std::uint8_t kFront = 0x02, kBack = 0x00;
  const Bytes64 digest = sha512({one(kSuite), one(kFront), p1, p2, p3, p4, p5, one(kBack)});
  ed::Scalar c{};
  for (std::size_t i = 0; i < kChallengeLen; ++i) c[i] = digest[i];
  return c;
}

// RFC 9381 section 5.2: beta = SHA-512(suite || 0x03 || 8·Gamma || 0x00).
Bytes64 gamma_to_hash(const ed::Point& gamma_times_cofactor) {
  static constexpr std::uint8_t kFront = 0x03, kBack = 0x00;
  return sha512({one(kSuite), one(kFront), gamma_times_cofactor, one(kBack)});
}

ed::Point point_at(ByteView bytes, std::size_t offset) {
  ed::Point p{};
  for (std::size_t i = 0; i < p.size(); ++i) p[i] = bytes[offset + i];
  return p;
}

class EcvrfEdwards25519 final : public Vrf {
 public:
  EcvrfEdwards25519() noexcept {
    // The group primitives used here need no initialisation (they select no
    // CPU-specific implementation), so a failure is harmless; calling it
    // once keeps to libsodium's contract.
    [[maybe_unused]] const int rc = sodium_init();
  }

  std::uint8_t suite_string() const noexcept override { return kSuite; }

  std::expected<VrfVerdict, CryptoError> verify(ByteView public_key, ByteView alpha,
                                                ByteView proof) const override {
    if (public_key.size() != kKeyLen)
      return std::unexpected(CryptoError::invalid_length(kKeyLen, public_key.size()));
    if (proof.size() != kProofLen)
      return std::unexpected(CryptoError::invalid_length(kProofLen, proof.size()));
    const VrfVerdict not_valid{};

    // Cheap rejections first; every failure below is the same answer.
    const ed::Point gamma_bytes = point_at(proof, 0);
    ed::Scalar c{};
    for (std::size_t i = 0; i < kChallengeLen; ++i) c[i] = proof[32 + i];
    const ed::Scalar s = point_at(proof, 48);
    if (!ed::is_canonical_scalar(s)) return not_valid;

    // Y must decode and must not have small order; Gamma must decode. When
    // libsodium's subgroup multiplication accepts a point, that proves all
    // of it (and that the encoding is canonical, so it is its own
    // re-encoding); other points take the exact path.
    const ed::Point y_bytes = point_at(public_key, 0);
    ed::Point y = y_bytes;
    auto cy = ed::mul_subgroup(c, y_bytes);
    if (!cy) {
      const auto decoded = ed::canonical(y_bytes);
      if (!decoded) return not_valid;
      const auto y8 = ed::mul_cofactor(*decoded);
      if (!y8 || *y8 == ed::kIdentity) return not_valid;
      y = *decoded;
      cy = ed::mul(c, y);
    }
    ed::Point gamma = gamma_bytes;
    auto cgamma = ed::mul_subgroup(c, gamma_bytes);
    if (!cgamma) {
      const auto decoded = ed::canonical(gamma_bytes);
      if (!decoded) return not_valid;
      gamma = *decoded;
      cgamma = ed::mul(c, gamma);
    }

    const auto h = encode_to_curve(public_key, alpha);
    if (!h) return not_valid;

    const auto sh = ed::mul(s, *h);
    if (!cy || !sh || !cgamma) return not_valid;
    const auto u = ed::sub(ed::mul_base(s), *cy);
    const auto v = ed::sub(*sh, *cgamma);
    if (!u || !v) return not_valid;

    const ed::Scalar expected = challenge(y, *h, gamma, *u, *v);
    if (sodium_memcmp(expected.data(), c.data(), c.size()) != 0) return not_valid;

    const auto gamma8 = ed::mul_cofactor(gamma);
    if (!gamma8) return not_valid;
    return VrfVerdict{true, gamma_to_hash(*gamma8)};
  }

  std::expected<Bytes64, CryptoError> proof_to_hash(ByteView proof) const override {
    if (proof.size() != kProofLen)
      return std::unexpected(CryptoError::invalid_length(kProofLen, proof.size()));
    const auto gamma8 = ed::mul_cofactor(point_at(proof, 0));
    if (!gamma8) return std::unexpected(CryptoError::vrf("proof Gamma is not a valid curve point"));
    return gamma_to_hash(*gamma8);
  }
};

}  // namespace

const Vrf& ecvrf_edwards25519() noexcept {
  static const EcvrfEdwards25519 suite;
  return suite;
}

}  // namespace quenfold::crypto
