// ECVRF-P256-SHA256-TAI (RFC 9381, suite string 0x01): points are 33-byte
// SEC1 compressed encodings, scalars 32-byte big-endian integers below the
// group order q, proofs Gamma (33) || c (16) || s (32). The group arithmetic
// is OpenSSL's; this file only combines it as RFC 9381 section 5 prescribes.
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/crypto.h>
#include <openssl/obj_mac.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>

#include "crypto/ossl.h"
#include "crypto/vrf.h"

namespace quenfold::crypto {
namespace {

constexpr std::uint8_t kSuite = 0x01;
constexpr std::size_t kPointLen = 33;
constexpr std::size_t kScalarLen = 32;
constexpr std::size_t kChallengeLen = 16;
constexpr std::size_t kProofLen = kPointLen + kChallengeLen + kScalarLen;
constexpr int kCounterBudget = 256;

using Point33 = std::array<std::uint8_t, kPointLen>;

// The curve and its order, built once; never modified afterwards, so every
// thread may use them through const pointers.
struct Curve {
  ossl::EcGroup group;
  ossl::Bignum order;
};

const Curve& curve() {
  static const Curve c = [] {
    Curve out{ossl::EcGroup{EC_GROUP_new_by_curve_name_ex(ossl::context(), nullptr, NID_X9_62_prime256v1)}, ossl::Bignum{BN_new()}};
    if (!out.group || !out.order || EC_GROUP_get_order(out.group.get(), out.order.get(), nullptr) != 1)
      ossl::fail("OpenSSL cannot provide the P-256 group");
    return out;
  }();
  return c;
}

const EC_GROUP* group() { return curve().group.get(); }
const BIGNUM* order() { return curve().order.get(); }

ossl::BnCtx new_ctx() {
  ossl::BnCtx ctx{BN_CTX_new_ex(ossl::context())};
  if (!ctx) ossl::fail("out of memory");
  return ctx;
}
ossl::EcPoint new_point() {
  ossl::EcPoint p{EC_POINT_new(group())};
  if (!p) ossl::fail("out of memory");
  return p;
}
void check(int ok) {
  if (ok != 1) ossl::fail("P-256 arithmetic failed");
}
ossl::Bignum bn_of(ByteView bytes) {
  ossl::Bignum b{BN_bin2bn(bytes.data(), static_cast<int>(bytes.size()), nullptr)};
  if (!b) ossl::fail("out of memory");
  return b;
}

// Only the two compressed forms decode: 0x02 (even y) and 0x03 (odd y)
// followed by an x coordinate below p that lies on the curve. OpenSSL rejects
// x >= p, so every accepted encoding is the canonical one.
std::optional<ossl::EcPoint> decode_point(ByteView bytes, BN_CTX* ctx) {
  if (bytes.size() != kPointLen || (bytes[0] != 0x02 && bytes[0] != 0x03)) return std::nullopt;
  auto p = new_point();
  // A failed decode is an answer, not an error: drop what OpenSSL queued for
  // it, and only that.
  ERR_set_mark();
  if (EC_POINT_oct2point(group(), p.get(), bytes.data(), bytes.size(), ctx) != 1) {
    ERR_pop_to_mark();
    return std::nullopt;
  }
  ERR_clear_last_mark();
  if (EC_POINT_is_at_infinity(group(), p.get()) == 1) return std::nullopt;
  return p;
}

Point33 encode_point(const EC_POINT* p, BN_CTX* ctx) {
  Point33 out{};
  if (EC_POINT_point2oct(group(), p, POINT_CONVERSION_COMPRESSED, out.data(), out.size(), ctx) !=
      out.size())
    ossl::fail("P-256 point encoding failed");
  return out;
}

// r = a*P + b*Q in one interleaved multiplication. EC_POINTs_mul is the only
// OpenSSL entry point that multiplies two arbitrary points together; it is
// deprecated in favour of EC_POINT_mul, which takes one, but sharing the
// doublings of the two products saves about a third of the cost of V.
int two_point_mul(EC_POINT* r, const EC_POINT* p, const BIGNUM* a, const EC_POINT* q, const BIGNUM* b,
                  BN_CTX* ctx) {
  const EC_POINT* points[] = {p, q};
  const BIGNUM* scalars[] = {a, b};
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  return EC_POINTs_mul(group(), r, nullptr, 2, points, scalars, ctx);
#pragma GCC diagnostic pop
}

struct CurvePoint {
  ossl::EcPoint point;
  Point33 encoding;
};

// RFC 9381 section 5.4.1.1, try and increment: the first counter whose
// digest, read as the x coordinate of an even-y point, lies on the curve.
std::optional<CurvePoint> encode_to_curve(ByteView public_key, ByteView alpha, BN_CTX* ctx) {
  const std::uint8_t front[] = {kSuite, 0x01};
  const std::uint8_t back = 0x00;
  Point33 candidate{};
  candidate[0] = 0x02;
  for (int ctr = 0; ctr < kCounterBudget; ++ctr) {
    const auto counter = static_cast<std::uint8_t>(ctr);
    const Bytes32 digest =
        sha256({front, public_key, alpha, ByteView(&counter, 1), ByteView(&back, 1)});
    std::memcpy(candidate.data() + 1, digest.data(), digest.size());
    if (auto p = decode_point(candidate, ctx)) return CurvePoint{std::move(*p), candidate};
  }
  return std::nullopt;
}

// RFC 9381 section 5.4.3: the first 16 bytes of SHA-256 over the suite, 0x02,
// the five encodings and 0x00.
std::array<std::uint8_t, kChallengeLen> challenge(const Point33& p1, const Point33& p2,
                                                  const Point33& p3, const Point33& p4,
                                                  const Point33& p5) {
  const std::uint8_t front[] = {kSuite, 0x02};
  const std::uint8_t back = 0x00;
  const Bytes32 d = sha256({front, p1, p2, p3, p4, p5, ByteView(&back, 1)});
  std::array<std::uint8_t, kChallengeLen> c{};
  std::copy_n(d.begin(), c.size(), c.begin());
  return c;
}

// RFC 9381 section 5.2 (cofactor 1): SHA-256 over the suite, 0x03, the
// encoding of Gamma and 0x00; the 64-byte output field carries it first and
// 32 zero bytes after it.
Bytes64 gamma_to_hash(const Point33& gamma) {
  const std::uint8_t front[] = {kSuite, 0x03};
  const std::uint8_t back = 0x00;
  const Bytes32 d = sha256({front, gamma, ByteView(&back, 1)});
  Bytes64 out{};
  std::copy(d.begin(), d.end(), out.begin());
  return out;
}

struct P256PublicKey final : VrfPublicKey {
  Bytes bytes;
  std::optional<ossl::EcPoint> point;  // empty when the bytes do not decode
};

class EcvrfP256 final : public Vrf {
 public:
  using Vrf::verify;
  std::uint8_t suite_string() const noexcept override { return kSuite; }

  std::unique_ptr<const VrfPublicKey> decode_public_key(ByteView public_key) const override {
    auto key = std::make_unique<P256PublicKey>();
    key->bytes.assign(public_key.begin(), public_key.end());
    if (public_key.size() == kPointLen) {
      auto ctx = new_ctx();
      key->point = decode_point(public_key, ctx.get());
    }
    return key;
  }

  std::expected<VrfVerdict, CryptoError> verify(const VrfPublicKey& decoded, ByteView alpha,
                                                ByteView proof) const override {
    const auto* key = dynamic_cast<const P256PublicKey*>(&decoded);
    if (key == nullptr) ossl::fail("a VRF key of another suite was passed to ECVRF-P256");
    const ByteView public_key = key->bytes;
    if (public_key.size() != kPointLen)
      return std::unexpected(CryptoError::invalid_length(kPointLen, public_key.size()));
    if (proof.size() != kProofLen)
      return std::unexpected(CryptoError::invalid_length(kProofLen, proof.size()));
    const VrfVerdict invalid{};
    if (!key->point) return invalid;
    const EC_POINT* y = key->point->get();
    auto ctx = new_ctx();
    auto gamma = decode_point(proof.first(kPointLen), ctx.get());
    if (!gamma) return invalid;
    const ByteView c_bytes = proof.subspan(kPointLen, kChallengeLen);
    auto s = bn_of(proof.subspan(kPointLen + kChallengeLen, kScalarLen));
    if (BN_cmp(s.get(), order()) >= 0) return invalid;
    auto h = encode_to_curve(public_key, alpha, ctx.get());
    if (!h) return invalid;

    // -c mod q; c < 2^128 < q.
    auto neg_c = bn_of(c_bytes);
    if (!BN_is_zero(neg_c.get())) check(BN_sub(neg_c.get(), order(), neg_c.get()));
    // U = s*B - c*Y
    auto u = new_point();
    check(EC_POINT_mul(group(), u.get(), s.get(), y, neg_c.get(), ctx.get()));
    // V = s*H - c*Gamma
    auto v = new_point();
    check(two_point_mul(v.get(), h->point.get(), s.get(), gamma->get(), neg_c.get(), ctx.get()));
    if (EC_POINT_is_at_infinity(group(), u.get()) == 1 || EC_POINT_is_at_infinity(group(), v.get()) == 1)
      return invalid;  // the identity has no 33-byte encoding, so no challenge can match

    Point33 y_enc{};
    Point33 gamma_enc{};
    std::copy(public_key.begin(), public_key.end(), y_enc.begin());
    std::copy_n(proof.begin(), kPointLen, gamma_enc.begin());
    const auto c2 = challenge(y_enc, h->encoding, gamma_enc, encode_point(u.get(), ctx.get()),
                              encode_point(v.get(), ctx.get()));
    if (!std::equal(c2.begin(), c2.end(), c_bytes.begin())) return invalid;
    return VrfVerdict{true, gamma_to_hash(gamma_enc)};
  }

  std::expected<Bytes64, CryptoError> proof_to_hash(ByteView proof) const override {
    if (proof.size() != kProofLen)
      return std::unexpected(CryptoError::invalid_length(kProofLen, proof.size()));
    auto ctx = new_ctx();
    if (!decode_point(proof.first(kPointLen), ctx.get()))
      return std::unexpected(CryptoError::vrf("proof Gamma is not a valid curve point"));
    Point33 gamma_enc{};
    std::copy_n(proof.begin(), kPointLen, gamma_enc.begin());
    return gamma_to_hash(gamma_enc);
  }
};

}  // namespace

const Vrf& ecvrf_p256() noexcept {
  static const EcvrfP256 instance;
  return instance;
}

}  // namespace quenfold::crypto
