#include "support/vrf_reference.h"

#include <openssl/bn.h>
#include <openssl/crypto.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/obj_mac.h>
#include <openssl/rand.h>
#include <sodium.h>
#include <sys/random.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>

#include "crypto/ossl.h"
#include "support/edwards25519_reference.h"

namespace quenfold::test {
namespace {

using crypto::ByteView;
using crypto::Bytes32;
using crypto::Bytes64;
using crypto::CryptoError;
using crypto::VrfVerdict;

ByteView one(const std::uint8_t& b) { return {&b, 1}; }

// --- ECVRF-EDWARDS25519-SHA512-TAI over libsodium's public API ---------------

namespace ed = ed25519;

constexpr std::uint8_t kEdSuite = 0x03;
constexpr std::size_t kEdKeyLen = 32;
constexpr std::size_t kEdProofLen = 80;
constexpr std::size_t kEdChallengeLen = 16;

// RFC 9381 section 5.4.1.1, try-and-increment: the first candidate among
// ctr = 0..255 that decodes to a point of more than small order, times the
// cofactor.
std::optional<ed::Point> ed_encode_to_curve(ByteView public_key, ByteView alpha) {
  static constexpr std::uint8_t kFront = 0x01, kBack = 0x00;
  for (unsigned ctr = 0; ctr < 256; ++ctr) {
    const auto c = static_cast<std::uint8_t>(ctr);
    const Bytes64 digest = crypto::sha512({one(kEdSuite), one(kFront), public_key, alpha, one(c), one(kBack)});
    ed::Point candidate{};
    std::copy_n(digest.begin(), candidate.size(), candidate.begin());
    const auto h = ed::mul_cofactor(candidate);
    if (h && *h != ed::kIdentity) return h;
  }
  return std::nullopt;
}

// RFC 9381 section 5.4.3: the first 16 bytes of SHA-512 over the five point
// encodings, as a little-endian scalar (zero-padded to 32 bytes).
ed::Scalar ed_challenge(const ed::Point& p1, const ed::Point& p2, const ed::Point& p3, const ed::Point& p4,
                        const ed::Point& p5) {
  static constexpr std::uint8_t kFront = 0x02, kBack = 0x00;
  const Bytes64 digest = crypto::sha512({one(kEdSuite), one(kFront), p1, p2, p3, p4, p5, one(kBack)});
  ed::Scalar c{};
  std::copy_n(digest.begin(), kEdChallengeLen, c.begin());
  return c;
}

// RFC 9381 section 5.2: beta = SHA-512(suite || 0x03 || 8·Gamma || 0x00).
Bytes64 ed_gamma_to_hash(const ed::Point& gamma_times_cofactor) {
  static constexpr std::uint8_t kFront = 0x03, kBack = 0x00;
  return crypto::sha512({one(kEdSuite), one(kFront), gamma_times_cofactor, one(kBack)});
}

ed::Point point_at(ByteView bytes, std::size_t offset) {
  ed::Point p{};
  std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(offset), p.size(), p.begin());
  return p;
}

// RFC 8032 key expansion: the clamped first half of SHA-512(seed) reduced
// mod L, and the second half as the nonce prefix. Wiped on destruction.
struct ExpandedSecret {
  ed::Scalar x{};
  std::array<std::uint8_t, 32> prefix{};

  explicit ExpandedSecret(ByteView seed) {
    Bytes64 h = crypto::sha512({seed});
    std::array<std::uint8_t, 64> wide{};
    std::copy_n(h.begin(), 32, wide.begin());
    std::copy_n(h.begin() + 32, 32, prefix.begin());
    wide[0] &= 0xF8;
    wide[31] &= 0x7F;
    wide[31] |= 0x40;
    x = ed::reduce(wide);
    sodium_memzero(wide.data(), wide.size());
    sodium_memzero(h.data(), h.size());
  }
  ~ExpandedSecret() {
    sodium_memzero(x.data(), x.size());
    sodium_memzero(prefix.data(), prefix.size());
  }
  ExpandedSecret(const ExpandedSecret&) = delete;
  ExpandedSecret& operator=(const ExpandedSecret&) = delete;
};

class ReferenceEdwards25519 final : public crypto::Vrf, public VrfProver {
 public:
  ReferenceEdwards25519() noexcept { [[maybe_unused]] const int rc = sodium_init(); }

  std::uint8_t suite_string() const noexcept override { return kEdSuite; }

  std::pair<Bytes, Bytes> generate_keypair() const override {
    Bytes secret(kEdKeyLen);
    std::size_t got = 0;
    while (got < secret.size()) {
      const ssize_t n = getrandom(secret.data() + got, secret.size() - got, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) throw std::runtime_error("OS CSPRNG unavailable");
      got += static_cast<std::size_t>(n);
    }
    auto pk = public_key_from_secret(secret);
    return {std::move(secret), std::move(*pk)};
  }

  std::expected<Bytes, CryptoError> public_key_from_secret(ByteView secret) const override {
    if (secret.size() != kEdKeyLen) return std::unexpected(CryptoError::invalid_length(kEdKeyLen, secret.size()));
    const ExpandedSecret sk(secret);
    const ed::Point y = ed::mul_base(sk.x);
    return Bytes(y.begin(), y.end());
  }

  std::expected<Bytes, CryptoError> prove(ByteView secret, ByteView alpha) const override {
    if (secret.size() != kEdKeyLen) return std::unexpected(CryptoError::invalid_length(kEdKeyLen, secret.size()));
    const ExpandedSecret sk(secret);
    const ed::Point y = ed::mul_base(sk.x);
    const auto h = ed_encode_to_curve(y, alpha);
    if (!h)
      return std::unexpected(CryptoError::vrf("hash-to-curve found no candidate point within the counter budget"));
    // h is a non-identity point of the prime-order subgroup: both
    // multiplications take the fast path and cannot fail.
    const auto gamma = ed::mul(sk.x, *h);

    // RFC 9381 section 5.4.2.2: k = SHA-512(prefix || H) mod L.
    Bytes64 nonce_hash = crypto::sha512({sk.prefix, *h});
    std::array<std::uint8_t, 64> wide{};
    std::copy(nonce_hash.begin(), nonce_hash.end(), wide.begin());
    ed::Scalar k = ed::reduce(wide);
    sodium_memzero(nonce_hash.data(), nonce_hash.size());
    sodium_memzero(wide.data(), wide.size());

    const ed::Point kb = ed::mul_base(k);
    const auto kh = ed::mul(k, *h);
    if (!gamma || !kh) {
      sodium_memzero(k.data(), k.size());
      throw std::runtime_error("edwards25519 multiplication failed on a subgroup point");
    }
    const ed::Scalar c = ed_challenge(y, *h, *gamma, kb, *kh);
    ed::Scalar s = ed::scalar_mul_add(c, sk.x, k);  // s = c·x + k mod L
    sodium_memzero(k.data(), k.size());

    Bytes pi;
    pi.reserve(kEdProofLen);
    pi.insert(pi.end(), gamma->begin(), gamma->end());
    pi.insert(pi.end(), c.begin(), c.begin() + kEdChallengeLen);
    pi.insert(pi.end(), s.begin(), s.end());
    sodium_memzero(s.data(), s.size());
    return pi;
  }

  // The reference decodes nothing ahead: its key object is the bytes.
  struct RawKey final : crypto::VrfPublicKey {
    Bytes bytes;
  };
  std::unique_ptr<const crypto::VrfPublicKey> decode_public_key(ByteView public_key) const override {
    auto key = std::make_unique<RawKey>();
    key->bytes.assign(public_key.begin(), public_key.end());
    return key;
  }
  std::expected<VrfVerdict, CryptoError> verify(const crypto::VrfPublicKey& key, ByteView alpha,
                                                ByteView proof) const override {
    return verify_bytes(dynamic_cast<const RawKey&>(key).bytes, alpha, proof);
  }

  std::expected<VrfVerdict, CryptoError> verify_bytes(ByteView public_key, ByteView alpha,
                                                      ByteView proof) const {
    if (public_key.size() != kEdKeyLen)
      return std::unexpected(CryptoError::invalid_length(kEdKeyLen, public_key.size()));
    if (proof.size() != kEdProofLen)
      return std::unexpected(CryptoError::invalid_length(kEdProofLen, proof.size()));
    const VrfVerdict not_valid{};

    const ed::Point gamma_bytes = point_at(proof, 0);
    ed::Scalar c{};
    std::copy_n(proof.begin() + 32, kEdChallengeLen, c.begin());
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

    const auto h = ed_encode_to_curve(public_key, alpha);
    if (!h) return not_valid;

    const auto sh = ed::mul(s, *h);
    if (!cy || !sh || !cgamma) return not_valid;
    const auto u = ed::sub(ed::mul_base(s), *cy);
    const auto v = ed::sub(*sh, *cgamma);
    if (!u || !v) return not_valid;

    const ed::Scalar expected = ed_challenge(y, *h, gamma, *u, *v);
    if (sodium_memcmp(expected.data(), c.data(), c.size()) != 0) return not_valid;

    const auto gamma8 = ed::mul_cofactor(gamma);
    if (!gamma8) return not_valid;
    return VrfVerdict{true, ed_gamma_to_hash(*gamma8)};
  }

  std::expected<Bytes64, CryptoError> proof_to_hash(ByteView proof) const override {
    if (proof.size() != kEdProofLen) return std::unexpected(CryptoError::invalid_length(kEdProofLen, proof.size()));
    const auto gamma8 = ed::mul_cofactor(point_at(proof, 0));
    if (!gamma8) return std::unexpected(CryptoError::vrf("proof Gamma is not a valid curve point"));
    return ed_gamma_to_hash(*gamma8);
  }
};

const ReferenceEdwards25519& reference_edwards25519() {
  static const ReferenceEdwards25519 suite;
  return suite;
}

// --- ECVRF-P256-SHA256-TAI prover ---------------------------------------------

using crypto::ossl::Bignum;
using crypto::ossl::BnCtx;
using crypto::ossl::EcGroup;
using crypto::ossl::EcPoint;
using crypto::ossl::SecretBignum;

constexpr std::uint8_t kP256Suite = 0x01;
constexpr std::size_t kP256PointLen = 33;
constexpr std::size_t kP256ScalarLen = 32;
constexpr std::size_t kP256ChallengeLen = 16;
using Point33 = std::array<std::uint8_t, kP256PointLen>;

[[noreturn]] void fail(const char* what) { throw std::runtime_error(what); }
void check(int ok) {
  if (ok != 1) fail("P-256 arithmetic failed");
}

struct P256 {
  EcGroup group{EC_GROUP_new_by_curve_name_ex(crypto::ossl::context(), nullptr, NID_X9_62_prime256v1)};
  Bignum order{BN_new()};
  P256() {
    if (!group || !order || EC_GROUP_get_order(group.get(), order.get(), nullptr) != 1)
      fail("OpenSSL cannot provide the P-256 group");
  }
  EcPoint point() const {
    EcPoint p{EC_POINT_new(group.get())};
    if (!p) fail("out of memory");
    return p;
  }
  Point33 encode(const EC_POINT* p, BN_CTX* ctx) const {
    Point33 out{};
    if (EC_POINT_point2oct(group.get(), p, POINT_CONVERSION_COMPRESSED, out.data(), out.size(), ctx) != out.size())
      fail("P-256 point encoding failed");
    return out;
  }
  std::array<std::uint8_t, kP256ScalarLen> scalar_bytes(const BIGNUM* n) const {
    std::array<std::uint8_t, kP256ScalarLen> out{};
    if (BN_bn2binpad(n, out.data(), static_cast<int>(out.size())) != static_cast<int>(out.size()))
      fail("P-256 scalar encoding failed");
    return out;
  }
};

const P256& p256() {
  static const P256 c;
  return c;
}

// RFC 9381 section 5.4.1.1, try and increment over even-y candidates.
std::optional<std::pair<EcPoint, Point33>> p256_encode_to_curve(ByteView public_key, ByteView alpha, BN_CTX* ctx) {
  const std::uint8_t front[] = {kP256Suite, 0x01};
  const std::uint8_t back = 0x00;
  Point33 candidate{};
  candidate[0] = 0x02;
  for (unsigned ctr = 0; ctr < 256; ++ctr) {
    const auto counter = static_cast<std::uint8_t>(ctr);
    const Bytes32 digest = crypto::sha256({front, public_key, alpha, one(counter), one(back)});
    std::copy(digest.begin(), digest.end(), candidate.begin() + 1);
    auto p = p256().point();
    ERR_set_mark();
    const bool decodes = EC_POINT_oct2point(p256().group.get(), p.get(), candidate.data(), candidate.size(), ctx) == 1;
    ERR_pop_to_mark();
    if (decodes && EC_POINT_is_at_infinity(p256().group.get(), p.get()) != 1)
      return std::make_pair(std::move(p), candidate);
  }
  return std::nullopt;
}

std::array<std::uint8_t, kP256ChallengeLen> p256_challenge(const Point33& p1, const Point33& p2, const Point33& p3,
                                                           const Point33& p4, const Point33& p5) {
  const std::uint8_t front[] = {kP256Suite, 0x02};
  const std::uint8_t back = 0x00;
  const Bytes32 d = crypto::sha256({front, p1, p2, p3, p4, p5, one(back)});
  std::array<std::uint8_t, kP256ChallengeLen> c{};
  std::copy_n(d.begin(), c.size(), c.begin());
  return c;
}

// The RFC 6979 section 3.2 nonce with HMAC-SHA-256, as RFC 9381 section
// 5.4.2.1 uses it, over the encoding of H. For P-256 with SHA-256, qlen and
// hlen are both 256, so bits2int is the plain big-endian reading.
SecretBignum rfc6979_nonce(const BIGNUM* x, ByteView h_string) {
  const P256& c = p256();
  auto x_octets = c.scalar_bytes(x);
  const Bytes32 h1 = crypto::sha256({h_string});
  Bignum z{BN_bin2bn(h1.data(), static_cast<int>(h1.size()), nullptr)};
  if (!z) fail("out of memory");
  if (BN_cmp(z.get(), c.order.get()) >= 0) check(BN_sub(z.get(), z.get(), c.order.get()));
  const auto h_octets = c.scalar_bytes(z.get());

  Bytes32 v;
  v.fill(0x01);
  Bytes32 k{};
  const std::uint8_t zero = 0x00, once = 0x01;
  k = crypto::hmac_sha256(k, {v, one(zero), x_octets, h_octets});
  v = crypto::hmac_sha256(k, {v});
  k = crypto::hmac_sha256(k, {v, one(once), x_octets, h_octets});
  v = crypto::hmac_sha256(k, {v});
  SecretBignum nonce{BN_secure_new()};
  if (!nonce) fail("out of memory");
  for (;;) {
    v = crypto::hmac_sha256(k, {v});
    if (BN_bin2bn(v.data(), static_cast<int>(v.size()), nonce.get()) == nullptr) fail("out of memory");
    if (!BN_is_zero(nonce.get()) && BN_cmp(nonce.get(), c.order.get()) < 0) break;
    k = crypto::hmac_sha256(k, {v, one(zero)});
    v = crypto::hmac_sha256(k, {v});
  }
  OPENSSL_cleanse(k.data(), k.size());
  OPENSSL_cleanse(v.data(), v.size());
  OPENSSL_cleanse(x_octets.data(), x_octets.size());
  return nonce;
}

// A secret key read as a scalar in [1, q-1].
std::expected<SecretBignum, CryptoError> p256_secret_scalar(ByteView secret) {
  if (secret.size() != kP256ScalarLen)
    return std::unexpected(CryptoError::invalid_length(kP256ScalarLen, secret.size()));
  SecretBignum x{BN_secure_new()};
  if (!x || BN_bin2bn(secret.data(), static_cast<int>(secret.size()), x.get()) == nullptr) fail("out of memory");
  if (BN_cmp(x.get(), p256().order.get()) >= 0)
    return std::unexpected(CryptoError::vrf("secret key is not a canonical P-256 scalar"));
  if (BN_is_zero(x.get())) return std::unexpected(CryptoError::vrf("secret key scalar is zero"));
  return x;
}

class P256Prover final : public VrfProver {
 public:
  std::uint8_t suite_string() const noexcept override { return kP256Suite; }

  std::pair<Bytes, Bytes> generate_keypair() const override {
    Bytes secret(kP256ScalarLen);
    for (;;) {
      if (RAND_priv_bytes_ex(crypto::ossl::context(), secret.data(), secret.size(), 0) != 1) fail("OS CSPRNG unavailable");
      auto pk = public_key_from_secret(secret);
      if (pk) return {std::move(secret), std::move(*pk)};
    }
  }

  std::expected<Bytes, CryptoError> public_key_from_secret(ByteView secret) const override {
    auto x = p256_secret_scalar(secret);
    if (!x) return std::unexpected(x.error());
    const BnCtx ctx{BN_CTX_new_ex(crypto::ossl::context())};
    auto y = p256().point();
    check(EC_POINT_mul(p256().group.get(), y.get(), x->get(), nullptr, nullptr, ctx.get()));
    const Point33 enc = p256().encode(y.get(), ctx.get());
    return Bytes(enc.begin(), enc.end());
  }

  std::expected<Bytes, CryptoError> prove(ByteView secret, ByteView alpha) const override {
    const P256& curve = p256();
    const EC_GROUP* g = curve.group.get();
    auto x = p256_secret_scalar(secret);
    if (!x) return std::unexpected(x.error());
    const BnCtx ctx{BN_CTX_new_ex(crypto::ossl::context())};
    if (!ctx) fail("out of memory");
    auto y = curve.point();
    check(EC_POINT_mul(g, y.get(), x->get(), nullptr, nullptr, ctx.get()));
    const Point33 y_enc = curve.encode(y.get(), ctx.get());
    auto h = p256_encode_to_curve(y_enc, alpha, ctx.get());
    if (!h)
      return std::unexpected(CryptoError::vrf("hash-to-curve found no candidate point within the counter budget"));
    auto gamma = curve.point();
    check(EC_POINT_mul(g, gamma.get(), nullptr, h->first.get(), x->get(), ctx.get()));
    auto k = rfc6979_nonce(x->get(), h->second);
    auto kb = curve.point();
    auto kh = curve.point();
    check(EC_POINT_mul(g, kb.get(), k.get(), nullptr, nullptr, ctx.get()));
    check(EC_POINT_mul(g, kh.get(), nullptr, h->first.get(), k.get(), ctx.get()));
    const Point33 gamma_enc = curve.encode(gamma.get(), ctx.get());
    const auto c = p256_challenge(y_enc, h->second, gamma_enc, curve.encode(kb.get(), ctx.get()),
                                  curve.encode(kh.get(), ctx.get()));
    // s = (k + c*x) mod q
    Bignum c_bn{BN_bin2bn(c.data(), static_cast<int>(c.size()), nullptr)};
    SecretBignum s{BN_secure_new()};
    if (!c_bn || !s) fail("out of memory");
    check(BN_mod_mul(s.get(), c_bn.get(), x->get(), curve.order.get(), ctx.get()));
    check(BN_mod_add(s.get(), s.get(), k.get(), curve.order.get(), ctx.get()));
    const auto s_bytes = curve.scalar_bytes(s.get());
    Bytes pi(gamma_enc.begin(), gamma_enc.end());
    pi.insert(pi.end(), c.begin(), c.end());
    pi.insert(pi.end(), s_bytes.begin(), s_bytes.end());
    return pi;
  }

  std::expected<Bytes64, CryptoError> proof_to_hash(ByteView proof) const override {
    constexpr std::size_t kProofLen = kP256PointLen + kP256ChallengeLen + kP256ScalarLen;
    if (proof.size() != kProofLen) return std::unexpected(CryptoError::invalid_length(kProofLen, proof.size()));
    const BnCtx ctx{BN_CTX_new_ex(crypto::ossl::context())};
    auto gamma = p256().point();
    ERR_set_mark();
    const bool decodes = (proof[0] == 0x02 || proof[0] == 0x03) &&
                         EC_POINT_oct2point(p256().group.get(), gamma.get(), proof.data(), kP256PointLen, ctx.get()) == 1;
    ERR_pop_to_mark();
    if (!decodes) return std::unexpected(CryptoError::vrf("proof Gamma is not a valid curve point"));
    const std::uint8_t front[] = {kP256Suite, 0x03};
    const std::uint8_t back = 0x00;
    const Bytes32 d = crypto::sha256({front, proof.first(kP256PointLen), one(back)});
    Bytes64 out{};
    std::copy(d.begin(), d.end(), out.begin());
    return out;
  }
};

}  // namespace

const VrfProver& ecvrf_edwards25519_prover() { return reference_edwards25519(); }

const VrfProver& ecvrf_p256_prover() {
  static const P256Prover prover;
  return prover;
}

const VrfProver& prover_for(const crypto::Vrf& verifier) {
  return verifier.suite_string() == kP256Suite ? ecvrf_p256_prover() : ecvrf_edwards25519_prover();
}

const crypto::Vrf& reference_ecvrf_edwards25519() { return reference_edwards25519(); }

}  // namespace quenfold::test
