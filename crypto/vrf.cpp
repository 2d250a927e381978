// ECVRF-EDWARDS25519-SHA512-TAI verification (RFC 9381, suite string 0x03).
//
// Group arithmetic is libsodium's own ref10 code, through
// crypto/edwards25519.h: one decoding per point, s·B - c·Y in libsodium's
// double-scalar multiplication and s·H - c·Gamma in one interleaved pass.
// Decoding accepts every encoding for which an x exists, and points with a
// torsion component are multiplied as they are (c as an integer), so that
// the answers are RFC 9381's for every input. SHA-512 is OpenSSL's.
#include <algorithm>

#include "crypto/ecvrf_domain.h"
#include "crypto/edwards25519.h"
#include "crypto/hash.h"
#include "crypto/ossl.h"
#include "crypto/vrf.h"

namespace quenfold::crypto {
namespace {

namespace ed = ed25519;

// RFC 9381 section 5.5: suite_string of ECVRF-EDWARDS25519-SHA512-TAI.
constexpr std::uint8_t kSuiteString = 0x03;
constexpr std::size_t kKeyLen = 32;
constexpr std::size_t kProofLen = 80;
constexpr std::size_t kChallengeLen = 16;
constexpr std::size_t kGammaOffset = 0;
constexpr std::size_t kChallengeOffset = 32;
constexpr std::size_t kScalarOffset = 48;
constexpr unsigned kCounterBudget = 256;

ByteView one(const std::uint8_t& b) { return {&b, 1}; }

ed::Encoding encoding_at(ByteView bytes, std::size_t offset) {
  ed::Encoding e{};
  std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(offset), e.size(), e.begin());
  return e;
}

// The encoding a challenge hashes for a decoded point: the received bytes
// when they are canonical (the common case, no field inversion), the
// re-encoding otherwise.
ed::Encoding canonical_encoding(const ed::Encoding& received, const ed::Point& decoded) {
  return ed::is_canonical_encoding(received) ? received : ed::encode(decoded);
}

struct HashedPoint {
  ed::Point point;
  ed::Encoding encoding;
};

// RFC 9381 section 5.4.1.1, try and increment: the first candidate among
// ctr = 0..255 that decodes to a point of more than small order, times the
// cofactor.
std::optional<HashedPoint> encode_to_curve(Hasher& sha512, ByteView public_key, ByteView alpha) {
  for (unsigned ctr = 0; ctr < kCounterBudget; ++ctr) {
    const auto c = static_cast<std::uint8_t>(ctr);
    sha512.update(one(kSuiteString)).update(one(ecvrf::kEncodeToCurveDomainSeparatorFront));
    sha512.update(public_key).update(alpha).update(one(c));
    const Bytes64 digest = sha512.update(one(ecvrf::kEncodeToCurveDomainSeparatorBack)).finish();
    const auto candidate = ed::decode(encoding_at(digest, 0));
    if (!candidate) continue;
    const ed::Point h = ed::times_cofactor(*candidate);
    if (ed::is_identity(h)) continue;
    return HashedPoint{h, ed::encode(h)};
  }
  return std::nullopt;
}

// RFC 9381 section 5.4.3: the first 16 bytes of SHA-512 over the five point
// encodings.
std::array<std::uint8_t, kChallengeLen> challenge(Hasher& sha512, const ed::Encoding& p1,
                                                  const ed::Encoding& p2, const ed::Encoding& p3,
                                                  const ed::Encoding& p4, const ed::Encoding& p5) {
  sha512.update(one(kSuiteString)).update(one(ecvrf::kChallengeGenerationDomainSeparatorFront));
  for (const ed::Encoding* p : {&p1, &p2, &p3, &p4, &p5}) sha512.update(*p);
  const Bytes64 digest = sha512.update(one(ecvrf::kChallengeGenerationDomainSeparatorBack)).finish();
  std::array<std::uint8_t, kChallengeLen> c{};
  std::copy_n(digest.begin(), c.size(), c.begin());
  return c;
}

// RFC 9381 section 5.2: beta = SHA-512(suite_string || 0x03 || 8·Gamma || 0x00).
Bytes64 gamma_to_hash(Hasher& sha512, const ed::Point& gamma) {
  const ed::Encoding gamma8 = ed::encode(ed::times_cofactor(gamma));
  sha512.update(one(kSuiteString)).update(one(ecvrf::kProofToHashDomainSeparatorFront)).update(gamma8);
  return sha512.update(one(ecvrf::kProofToHashDomainSeparatorBack)).finish();
}

struct Edwards25519PublicKey final : VrfPublicKey {
  Bytes bytes;
  // Set when the bytes decode to a point of more than small order (the
  // only keys a proof can verify under), with the encoding challenges hash.
  std::optional<ed::Point> y;
  ed::Encoding y_encoding{};
};

class EcvrfEdwards25519 final : public Vrf {
 public:
  using Vrf::verify;
  std::uint8_t suite_string() const noexcept override { return kSuiteString; }

  std::unique_ptr<const VrfPublicKey> decode_public_key(ByteView public_key) const override {
    auto key = std::make_unique<Edwards25519PublicKey>();
    key->bytes.assign(public_key.begin(), public_key.end());
    if (public_key.size() == kKeyLen) {
      const ed::Encoding y_bytes = encoding_at(public_key, 0);
      const auto y = ed::decode(y_bytes);
      if (y && !ed::is_identity(ed::times_cofactor(*y))) {
        key->y = *y;
        key->y_encoding = canonical_encoding(y_bytes, *y);
      }
    }
    return key;
  }

  std::expected<VrfVerdict, CryptoError> verify(const VrfPublicKey& decoded, ByteView alpha,
                                                ByteView proof) const override {
    const auto* key = dynamic_cast<const Edwards25519PublicKey*>(&decoded);
    if (key == nullptr) ossl::fail("a VRF key of another suite was passed to ECVRF-EDWARDS25519");
    const ByteView public_key = key->bytes;
    if (public_key.size() != kKeyLen)
      return std::unexpected(CryptoError::invalid_length(kKeyLen, public_key.size()));
    if (proof.size() != kProofLen)
      return std::unexpected(CryptoError::invalid_length(kProofLen, proof.size()));
    const VrfVerdict not_valid{};

    // Y must decode and must not have small order (decided with the key);
    // Gamma must decode.
    if (!key->y) return not_valid;
    const ed::Point& y = *key->y;
    const ed::Encoding gamma_bytes = encoding_at(proof, kGammaOffset);
    const auto gamma = ed::decode(gamma_bytes);
    if (!gamma) return not_valid;
    // c is 16 bytes read as a little-endian integer; s must be below L.
    ed::Scalar c{};
    std::copy_n(proof.begin() + kChallengeOffset, kChallengeLen, c.begin());
    const ed::Scalar s = encoding_at(proof, kScalarOffset);
    if (!ed::is_canonical_scalar(s)) return not_valid;

    // One SHA-512 context for every hash of the call.
    Hasher sha512(Hasher::Algorithm::Sha512);
    const auto h = encode_to_curve(sha512, public_key, alpha);
    if (!h) return not_valid;

    // U = s·B - c·Y and V = s·H - c·Gamma, with c multiplying -Y and -Gamma.
    const ed::Encoding u = ed::double_base_times(c, ed::negate(y), s);
    const ed::Encoding v = ed::two_point_times(s, h->point, c, ed::negate(*gamma));

    const auto expected = challenge(sha512, key->y_encoding, h->encoding,
                                    canonical_encoding(gamma_bytes, *gamma), u, v);
    if (!std::equal(expected.begin(), expected.end(), c.begin())) return not_valid;
    return VrfVerdict{true, gamma_to_hash(sha512, *gamma)};
  }

  std::expected<Bytes64, CryptoError> proof_to_hash(ByteView proof) const override {
    if (proof.size() != kProofLen)
      return std::unexpected(CryptoError::invalid_length(kProofLen, proof.size()));
    const auto gamma = ed::decode(encoding_at(proof, kGammaOffset));
    if (!gamma) return std::unexpected(CryptoError::vrf("proof Gamma is not a valid curve point"));
    Hasher sha512(Hasher::Algorithm::Sha512);
    return gamma_to_hash(sha512, *gamma);
  }
};

}  // namespace

const Vrf& ecvrf_edwards25519() noexcept {
  static const EcvrfEdwards25519 suite;
  return suite;
}

}  // namespace quenfold::crypto
