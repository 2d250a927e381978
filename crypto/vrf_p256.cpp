// ECVRF-P256-SHA256-TAI (RFC 9381, suite string 0x01): points are 33-byte
// SEC1 compressed encodings, scalars 32-byte big-endian integers below the
// group order q, proofs Gamma (33) || c (16) || s (32). The group arithmetic
// is OpenSSL's; this file only combines it as RFC 9381 section 5 prescribes.
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/crypto.h>
#include <openssl/obj_mac.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>

#include "crypto/ecvrf_domain.h"
#include "crypto/ossl.h"
#include "crypto/vrf.h"

namespace quenfold::crypto {
namespace {

// RFC 9381 section 5.5: suite_string of ECVRF-P256-SHA256-TAI.
constexpr std::uint8_t kSuiteString = 0x01;
constexpr std::size_t kPointLen = 33;
constexpr std::size_t kScalarLen = 32;
constexpr std::size_t kChallengeLen = 16;
constexpr std::size_t kProofLen = kPointLen + kChallengeLen + kScalarLen;
constexpr int kCounterBudget = 256;

using Point33 = std::array<std::uint8_t, kPointLen>;

void check(int ok) {
  if (ok != 1) ossl::fail("P-256 arithmetic failed");
}

// The curve, its order, and Montgomery arithmetic modulo the field prime p
// with the curve's constants in Montgomery form, built once; never modified
// afterwards, so every thread may use them. OpenSSL's Montgomery functions
// take the BN_MONT_CTX through a non-const pointer but only read it.
struct Curve {
  ossl::EcGroup group;
  ossl::Bignum order;
  ossl::Bignum p;
  ossl::BnMontCtx mont;
  ossl::Bignum b_mont;      // the curve's b
  ossl::Bignum three_mont;  // -a: P-256 has a = -3
};

const Curve& curve() {
  static const Curve c = [] {
    Curve out{ossl::EcGroup{EC_GROUP_new_by_curve_name_ex(ossl::context(), nullptr, NID_X9_62_prime256v1)},
              ossl::Bignum{BN_new()},
              ossl::Bignum{BN_new()},
              ossl::BnMontCtx{BN_MONT_CTX_new()},
              ossl::Bignum{BN_new()},
              ossl::Bignum{BN_new()}};
    ossl::BnCtx ctx{BN_CTX_new_ex(ossl::context())};
    ossl::Bignum a{BN_new()};
    if (!out.group || !out.order || !out.p || !out.mont || !out.b_mont || !out.three_mont || !ctx || !a ||
        EC_GROUP_get_order(out.group.get(), out.order.get(), nullptr) != 1 ||
        EC_GROUP_get_curve(out.group.get(), out.p.get(), a.get(), out.b_mont.get(), ctx.get()) != 1 ||
        BN_MONT_CTX_set(out.mont.get(), out.p.get(), ctx.get()) != 1 || BN_set_word(out.three_mont.get(), 3) != 1 ||
        BN_add_word(a.get(), 3) != 1 || BN_cmp(a.get(), out.p.get()) != 0 ||
        BN_to_montgomery(out.b_mont.get(), out.b_mont.get(), out.mont.get(), ctx.get()) != 1 ||
        BN_to_montgomery(out.three_mont.get(), out.three_mont.get(), out.mont.get(), ctx.get()) != 1)
      ossl::fail("OpenSSL cannot provide the P-256 group");
    return out;
  }();
  return c;
}

const EC_GROUP* group() { return curve().group.get(); }
const BIGNUM* order() { return curve().order.get(); }

// Scratch numbers from a BN_CTX frame, released together.
class BnFrame {
 public:
  explicit BnFrame(BN_CTX* ctx) : ctx_(ctx) { BN_CTX_start(ctx_); }
  ~BnFrame() { BN_CTX_end(ctx_); }
  BnFrame(const BnFrame&) = delete;
  BnFrame& operator=(const BnFrame&) = delete;
  BIGNUM* get() {
    BIGNUM* b = BN_CTX_get(ctx_);
    if (b == nullptr) ossl::fail("out of memory");
    return b;
  }

 private:
  BN_CTX* ctx_;
};

// r = a*b in Montgomery form, fully reduced below p.
void mont_mul(BIGNUM* r, const BIGNUM* a, const BIGNUM* b, BN_CTX* ctx) {
  check(BN_mod_mul_montgomery(r, a, b, curve().mont.get(), ctx));
}
void mont_sqr_n(BIGNUM* r, int n, BN_CTX* ctx) {
  for (int i = 0; i < n; ++i) mont_mul(r, r, r, ctx);
}

// r = a^((p+1)/4), the square root of a when a is a square (p is 3 mod 4),
// in Montgomery form. (p+1)/4 = 2^254 - 2^222 + 2^190 + 2^94: 32 one bits
// and then two single ones, which this chain covers with 253 squarings and 7
// multiplications. BN_mod_sqrt spends about 320 operations and a fresh
// Montgomery setup on the same exponent, and a verification decodes up to
// three points.
void sqrt_candidate(BIGNUM* r, const BIGNUM* a, BN_CTX* ctx) {
  BnFrame f(ctx);
  BIGNUM* prev = f.get();
  check(BN_copy(r, a) != nullptr);  // a^(2^1 - 1)
  for (int ones = 1; ones < 32; ones *= 2) {
    check(BN_copy(prev, r) != nullptr);
    mont_sqr_n(r, ones, ctx);
    mont_mul(r, r, prev, ctx);  // a^(2^(2*ones) - 1)
  }
  mont_sqr_n(r, 32, ctx);
  mont_mul(r, r, a, ctx);
  mont_sqr_n(r, 96, ctx);
  mont_mul(r, r, a, ctx);
  mont_sqr_n(r, 94, ctx);
}

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
ossl::Bignum bn_of(ByteView bytes) {
  ossl::Bignum b{BN_bin2bn(bytes.data(), static_cast<int>(bytes.size()), nullptr)};
  if (!b) ossl::fail("out of memory");
  return b;
}

// Only the two compressed forms decode: 0x02 (even y) and 0x03 (odd y)
// followed by an x coordinate below p for which x^3 - 3x + b is a square.
// x >= p is refused, so every accepted encoding is the canonical one: the
// same points OpenSSL's EC_POINT_oct2point accepts, without its generic
// square root.
std::optional<ossl::EcPoint> decode_point(ByteView bytes, BN_CTX* ctx) {
  if (bytes.size() != kPointLen || (bytes[0] != 0x02 && bytes[0] != 0x03)) return std::nullopt;
  const Curve& k = curve();
  BnFrame f(ctx);
  BIGNUM* x = f.get();
  BIGNUM* xm = f.get();
  BIGNUM* rhs = f.get();
  BIGNUM* root = f.get();
  BIGNUM* square = f.get();
  check(BN_bin2bn(bytes.data() + 1, kPointLen - 1, x) != nullptr);
  if (BN_cmp(x, k.p.get()) >= 0) return std::nullopt;
  check(BN_to_montgomery(xm, x, k.mont.get(), ctx));
  mont_mul(rhs, xm, xm, ctx);
  check(BN_mod_sub_quick(rhs, rhs, k.three_mont.get(), k.p.get()));
  mont_mul(rhs, rhs, xm, ctx);
  check(BN_mod_add_quick(rhs, rhs, k.b_mont.get(), k.p.get()));
  sqrt_candidate(root, rhs, ctx);
  mont_mul(square, root, root, ctx);
  if (BN_cmp(square, rhs) != 0) return std::nullopt;  // not a square: no point has this x
  BIGNUM* y = root;
  check(BN_from_montgomery(y, root, k.mont.get(), ctx));
  if (BN_is_odd(y) != (bytes[0] == 0x03)) {
    if (BN_is_zero(y)) return std::nullopt;  // zero has no odd root
    check(BN_sub(y, k.p.get(), y));
  }
  // OpenSSL checks the point against the curve equation once more.
  auto p = new_point();
  check(EC_POINT_set_affine_coordinates(group(), p.get(), x, y, ctx));
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
  const std::uint8_t front[] = {kSuiteString, ecvrf::kEncodeToCurveDomainSeparatorFront};
  const std::uint8_t back = ecvrf::kEncodeToCurveDomainSeparatorBack;
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

// RFC 9381 section 5.4.3: the first 16 bytes of SHA-256 over suite_string,
// 0x02, the five encodings and 0x00.
std::array<std::uint8_t, kChallengeLen> challenge(const Point33& p1, const Point33& p2,
                                                  const Point33& p3, const Point33& p4,
                                                  const Point33& p5) {
  const std::uint8_t front[] = {kSuiteString, ecvrf::kChallengeGenerationDomainSeparatorFront};
  const std::uint8_t back = ecvrf::kChallengeGenerationDomainSeparatorBack;
  const Bytes32 d = sha256({front, p1, p2, p3, p4, p5, ByteView(&back, 1)});
  std::array<std::uint8_t, kChallengeLen> c{};
  std::copy_n(d.begin(), c.size(), c.begin());
  return c;
}

// RFC 9381 section 5.2 (cofactor 1): SHA-256 over suite_string, 0x03, the
// encoding of Gamma and 0x00; the 64-byte output field carries it first and
// 32 zero bytes after it.
Bytes64 gamma_to_hash(const Point33& gamma) {
  const std::uint8_t front[] = {kSuiteString, ecvrf::kProofToHashDomainSeparatorFront};
  const std::uint8_t back = ecvrf::kProofToHashDomainSeparatorBack;
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
  std::uint8_t suite_string() const noexcept override { return kSuiteString; }

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
