#include "support/signers.h"

#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>
#include <openssl/param_build.h>
#include <openssl/x509.h>
#include <sodium.h>

#include <stdexcept>

#include "crypto/hash.h"
#include "crypto/ossl.h"

namespace quenfold::test {
namespace {

namespace ossl = crypto::ossl;

[[noreturn]] void fail(const std::string& what) { throw std::runtime_error("signer: " + what); }

// Private key material for one component of one signer: the first `n` bytes
// of SHA-512 chains over a domain string, the version tag, the seed and the
// component name. Fixed seeds therefore give fixed keys.
Bytes derive(std::uint8_t tag, std::uint64_t seed, std::string_view component, std::size_t n) {
  Bytes seed_be(8);
  for (int i = 0; i < 8; ++i) seed_be[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(seed >> (56 - 8 * i));
  const std::string domain = "quenfold test signer key";
  const std::uint8_t tag_byte[1] = {tag};
  Bytes out;
  std::uint8_t counter = 0;
  while (out.size() < n) {
    const std::uint8_t ctr[1] = {counter++};
    const auto block = crypto::sha512({crypto::ByteView(reinterpret_cast<const std::uint8_t*>(domain.data()), domain.size()),
                                       tag_byte, seed_be,
                                       crypto::ByteView(reinterpret_cast<const std::uint8_t*>(component.data()), component.size()),
                                       ctr});
    out.insert(out.end(), block.begin(), block.end());
  }
  out.resize(n);
  return out;
}

ossl::EvpPkey raw_private(const char* type, const Bytes& priv) {
  ossl::EvpPkey key{EVP_PKEY_new_raw_private_key_ex(ossl::context(), type, nullptr, priv.data(), priv.size())};
  if (!key) fail(std::string("cannot build ") + type + " key");
  return key;
}

Bytes raw_public(const EVP_PKEY* key) {
  std::size_t len = 0;
  if (EVP_PKEY_get_raw_public_key(key, nullptr, &len) != 1) fail("no raw public key");
  Bytes out(len);
  if (EVP_PKEY_get_raw_public_key(key, out.data(), &len) != 1) fail("no raw public key");
  out.resize(len);
  return out;
}

ossl::EvpPkey ml_dsa_from_seed(const char* name, const Bytes& seed) {
  ossl::EvpPkeyCtx ctx{EVP_PKEY_CTX_new_from_name(ossl::context(), name, nullptr)};
  if (!ctx || EVP_PKEY_keygen_init(ctx.get()) != 1) fail("ml-dsa keygen init");
  OSSL_PARAM params[] = {
      OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_ML_DSA_SEED, const_cast<std::uint8_t*>(seed.data()), seed.size()),
      OSSL_PARAM_construct_end()};
  if (EVP_PKEY_CTX_set_params(ctx.get(), params) != 1) fail("ml-dsa seed");
  EVP_PKEY* raw = nullptr;
  if (EVP_PKEY_generate(ctx.get(), &raw) != 1) fail("ml-dsa keygen");
  return ossl::EvpPkey{raw};
}

// A P-521 key whose private scalar is derived from the seed, with its public
// point computed so that the key pair is complete.
ossl::EvpPkey p521_from_seed(const Bytes& material) {
  ossl::EcGroup group{EC_GROUP_new_by_curve_name_ex(ossl::context(), nullptr, NID_secp521r1)};
  ossl::BnCtx bn_ctx{BN_CTX_new_ex(ossl::context())};
  ossl::Bignum priv{BN_bin2bn(material.data(), static_cast<int>(material.size()), nullptr)};
  ossl::Bignum order_minus_one{BN_dup(EC_GROUP_get0_order(group.get()))};
  if (!group || !bn_ctx || !priv || !order_minus_one) fail("p-521 setup");
  BN_sub_word(order_minus_one.get(), 1);
  // priv in [1, n-1]
  if (BN_nnmod(priv.get(), priv.get(), order_minus_one.get(), bn_ctx.get()) != 1 || BN_add_word(priv.get(), 1) != 1)
    fail("p-521 scalar");
  ossl::EcPoint pub{EC_POINT_new(group.get())};
  if (!pub || EC_POINT_mul(group.get(), pub.get(), priv.get(), nullptr, nullptr, bn_ctx.get()) != 1) fail("p-521 point");
  Bytes pub_bytes(133);
  if (EC_POINT_point2oct(group.get(), pub.get(), POINT_CONVERSION_UNCOMPRESSED, pub_bytes.data(), pub_bytes.size(),
                         bn_ctx.get()) != pub_bytes.size())
    fail("p-521 encoding");

  ossl::ParamBld bld{OSSL_PARAM_BLD_new()};
  if (!bld || OSSL_PARAM_BLD_push_utf8_string(bld.get(), OSSL_PKEY_PARAM_GROUP_NAME, "P-521", 0) != 1 ||
      OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_PRIV_KEY, priv.get()) != 1 ||
      OSSL_PARAM_BLD_push_octet_string(bld.get(), OSSL_PKEY_PARAM_PUB_KEY, pub_bytes.data(), pub_bytes.size()) != 1)
    fail("p-521 params");
  ossl::Params params{OSSL_PARAM_BLD_to_param(bld.get())};
  ossl::EvpPkeyCtx ctx{EVP_PKEY_CTX_new_from_name(ossl::context(), "EC", nullptr)};
  EVP_PKEY* raw = nullptr;
  if (!params || !ctx || EVP_PKEY_fromdata_init(ctx.get()) != 1 ||
      EVP_PKEY_fromdata(ctx.get(), &raw, EVP_PKEY_KEYPAIR, params.get()) != 1)
    fail("p-521 key");
  return ossl::EvpPkey{raw};
}

Bytes ec_public(const EVP_PKEY* key) {
  Bytes out(133);
  std::size_t len = 0;
  if (EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_PUB_KEY, out.data(), out.size(), &len) != 1 ||
      len != 133 || out[0] != 0x04)
    fail("p-521 public key");
  return out;
}

// Ed25519 / Ed448: one-shot EdDSA (pure, empty context).
Bytes sign_eddsa(EVP_PKEY* key, crypto::ByteView message) {
  ossl::EvpMdCtx ctx{EVP_MD_CTX_new()};
  if (!ctx || EVP_DigestSignInit_ex(ctx.get(), nullptr, nullptr, ossl::context(), nullptr, key, nullptr) != 1)
    fail("eddsa init");
  std::size_t len = 0;
  if (EVP_DigestSign(ctx.get(), nullptr, &len, message.data(), message.size()) != 1) fail("eddsa size");
  Bytes sig(len);
  if (EVP_DigestSign(ctx.get(), sig.data(), &len, message.data(), message.size()) != 1) fail("eddsa sign");
  sig.resize(len);
  return sig;
}

// ML-DSA, pure, empty context string, deterministic signing (FIPS 204
// "deterministic" variant: rnd = 0^32), so fixtures are reproducible.
Bytes sign_ml_dsa(EVP_PKEY* key, const char* name, crypto::ByteView message) {
  ossl::EvpSignature alg{EVP_SIGNATURE_fetch(ossl::context(), name, nullptr)};
  ossl::EvpPkeyCtx ctx{EVP_PKEY_CTX_new_from_pkey(ossl::context(), key, nullptr)};
  int deterministic = 1;
  OSSL_PARAM params[] = {OSSL_PARAM_construct_int(OSSL_SIGNATURE_PARAM_DETERMINISTIC, &deterministic),
                         OSSL_PARAM_construct_end()};
  if (!alg || !ctx || EVP_PKEY_sign_message_init(ctx.get(), alg.get(), params) != 1) fail("ml-dsa init");
  std::size_t len = 0;
  if (EVP_PKEY_sign(ctx.get(), nullptr, &len, message.data(), message.size()) != 1) fail("ml-dsa size");
  Bytes sig(len);
  if (EVP_PKEY_sign(ctx.get(), sig.data(), &len, message.data(), message.size()) != 1) fail("ml-dsa sign");
  sig.resize(len);
  return sig;
}

// ECDSA P-521 / SHA-512 with RFC 6979 nonces, returned as raw r || s.
Bytes sign_ecdsa_p521(EVP_PKEY* key, crypto::ByteView message) {
  ossl::EvpMdCtx ctx{EVP_MD_CTX_new()};
  EVP_PKEY_CTX* pctx = nullptr;
  if (!ctx || EVP_DigestSignInit_ex(ctx.get(), &pctx, "SHA512", ossl::context(), nullptr, key, nullptr) != 1)
    fail("ecdsa init");
  unsigned int nonce_type = 1;
  OSSL_PARAM params[] = {OSSL_PARAM_construct_uint(OSSL_SIGNATURE_PARAM_NONCE_TYPE, &nonce_type),
                         OSSL_PARAM_construct_end()};
  if (EVP_PKEY_CTX_set_params(pctx, params) != 1) fail("ecdsa nonce type");
  std::size_t len = 0;
  if (EVP_DigestSign(ctx.get(), nullptr, &len, message.data(), message.size()) != 1) fail("ecdsa size");
  Bytes der(len);
  if (EVP_DigestSign(ctx.get(), der.data(), &len, message.data(), message.size()) != 1) fail("ecdsa sign");
  const unsigned char* p = der.data();
  ossl::EcdsaSig sig{d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(len))};
  if (!sig) fail("ecdsa decode");
  Bytes out(132);
  if (BN_bn2binpad(ECDSA_SIG_get0_r(sig.get()), out.data(), 66) != 66 ||
      BN_bn2binpad(ECDSA_SIG_get0_s(sig.get()), out.data() + 66, 66) != 66)
    fail("ecdsa r/s");
  return out;
}

const char* ml_dsa_name(crypto::SignatureVersion v) {
  using V = crypto::SignatureVersion;
  switch (v) {
    case V::MlDsa44Ed25519: return "ML-DSA-44";
    case V::MlDsa65Ed25519:
    case V::MlDsa65Ed448: return "ML-DSA-65";
    default: return "ML-DSA-87";
  }
}

enum class Classical { None, Ed25519, Ed448, P521 };

Classical classical_of(crypto::SignatureVersion v) {
  using V = crypto::SignatureVersion;
  switch (v) {
    case V::MlDsa44Ed25519:
    case V::MlDsa65Ed25519:
    case V::MlDsa87Ed25519: return Classical::Ed25519;
    case V::MlDsa87: return Classical::None;
    case V::MlDsa65Ed448: return Classical::Ed448;
    case V::MlDsa87EcdsaP521: return Classical::P521;
  }
  return Classical::None;
}

void append(Bytes& out, const Bytes& b) { out.insert(out.end(), b.begin(), b.end()); }

std::string b64(const Bytes& b) {
  std::string out(sodium_base64_ENCODED_LEN(b.size(), sodium_base64_VARIANT_ORIGINAL), '\0');
  sodium_bin2base64(out.data(), out.size(), b.data(), b.size(), sodium_base64_VARIANT_ORIGINAL);
  out.resize(out.size() - 1);  // terminating NUL
  return out;
}

}  // namespace

struct TokenSigner::Impl {
  crypto::SignatureVersion version;
  Classical classical;
  ossl::EvpPkey classical_key;  // null for ML-DSA-87 alone
  ossl::EvpPkey ml_dsa_key;
  Bytes public_token;
};

TokenSigner::TokenSigner(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
TokenSigner::~TokenSigner() = default;
TokenSigner::TokenSigner(TokenSigner&&) noexcept = default;
TokenSigner& TokenSigner::operator=(TokenSigner&&) noexcept = default;

TokenSigner TokenSigner::generate(crypto::SignatureVersion version, std::uint64_t seed) {
  const auto tag = static_cast<std::uint8_t>(version);
  auto impl = std::make_unique<Impl>();
  impl->version = version;
  impl->classical = classical_of(version);
  impl->ml_dsa_key = ml_dsa_from_seed(ml_dsa_name(version), derive(tag, seed, "ml-dsa", 32));
  impl->public_token.push_back(tag);
  switch (impl->classical) {
    case Classical::None: break;
    case Classical::Ed25519:
      impl->classical_key = raw_private("ED25519", derive(tag, seed, "ed25519", 32));
      append(impl->public_token, raw_public(impl->classical_key.get()));
      break;
    case Classical::Ed448:
      impl->classical_key = raw_private("ED448", derive(tag, seed, "ed448", 57));
      append(impl->public_token, raw_public(impl->classical_key.get()));
      break;
    case Classical::P521:
      impl->classical_key = p521_from_seed(derive(tag, seed, "p-521", 66));
      append(impl->public_token, ec_public(impl->classical_key.get()));
      break;
  }
  append(impl->public_token, raw_public(impl->ml_dsa_key.get()));
  return TokenSigner(std::move(impl));
}

crypto::SignatureVersion TokenSigner::version() const { return impl_->version; }
Bytes TokenSigner::public_key_token_bytes() const { return impl_->public_token; }
std::string TokenSigner::public_key_token() const { return b64(impl_->public_token); }

Bytes TokenSigner::sign_bytes(crypto::ByteView message, crypto::ByteView context) const {
  const auto cm = crypto::context_message(context, message);
  Bytes out{static_cast<std::uint8_t>(impl_->version)};
  switch (impl_->classical) {
    case Classical::None: break;
    case Classical::Ed25519:
    case Classical::Ed448: append(out, sign_eddsa(impl_->classical_key.get(), cm)); break;
    case Classical::P521: append(out, sign_ecdsa_p521(impl_->classical_key.get(), cm)); break;
  }
  append(out, sign_ml_dsa(impl_->ml_dsa_key.get(), ml_dsa_name(impl_->version), cm));
  return out;
}

std::string TokenSigner::sign(crypto::ByteView message, crypto::ByteView context) const {
  return b64(sign_bytes(message, context));
}

Ed25519Signer Ed25519Signer::generate(std::uint64_t seed) {
  Ed25519Signer s;
  s.seed_ = derive(0x01, seed, "note-ed25519", 32);
  s.public_key_ = raw_public(raw_private("ED25519", s.seed_).get());
  return s;
}

Bytes Ed25519Signer::sign(crypto::ByteView message) const {
  return sign_eddsa(raw_private("ED25519", seed_).get(), message);
}

Bytes Ed25519Signer::sign_with_small_order_r(crypto::ByteView message) const {
  if (sodium_init() < 0) fail("libsodium");
  // The secret scalar a: the clamped first half of SHA-512(seed) (RFC 8032
  // section 5.1.5), reduced modulo L.
  const auto h = crypto::sha512({seed_});
  std::uint8_t wide[64] = {};
  std::copy(h.begin(), h.begin() + 32, wide);
  wide[0] &= 248;
  wide[31] &= 127;
  wide[31] |= 64;
  std::uint8_t a[32];
  crypto_core_ed25519_scalar_reduce(a, wide);

  // R = the identity point, encoded as y = 1.
  Bytes sig(64, 0);
  sig[0] = 1;
  const auto k_wide = crypto::sha512({crypto::ByteView(sig.data(), 32), public_key_, message});
  std::uint8_t k[32];
  crypto_core_ed25519_scalar_reduce(k, k_wide.data());
  crypto_core_ed25519_scalar_mul(sig.data() + 32, k, a);
  return sig;
}

MlDsa44Signer MlDsa44Signer::generate(std::uint64_t seed) {
  MlDsa44Signer s;
  auto key = ml_dsa_from_seed("ML-DSA-44", derive(0x44, seed, "subtree ml-dsa-44", 32));
  s.public_key_ = raw_public(key.get());
  s.key_.reset(key.release(), EVP_PKEY_free);
  return s;
}

Bytes MlDsa44Signer::sign(crypto::ByteView message) const { return sign_ml_dsa(key_.get(), "ML-DSA-44", message); }

P256Signer P256Signer::generate(std::uint64_t seed) {
  // A private scalar in [1, n-1] derived from the seed, and its public point.
  ossl::EcGroup group{EC_GROUP_new_by_curve_name_ex(ossl::context(), nullptr, NID_X9_62_prime256v1)};
  ossl::BnCtx bn_ctx{BN_CTX_new_ex(ossl::context())};
  const Bytes material = derive(0x62, seed, "rfc6962 p-256", 40);
  ossl::Bignum priv{BN_bin2bn(material.data(), static_cast<int>(material.size()), nullptr)};
  ossl::Bignum order_minus_one{BN_dup(EC_GROUP_get0_order(group.get()))};
  if (!group || !bn_ctx || !priv || !order_minus_one) fail("p-256 setup");
  BN_sub_word(order_minus_one.get(), 1);
  if (BN_mod(priv.get(), priv.get(), order_minus_one.get(), bn_ctx.get()) != 1) fail("p-256 scalar");
  BN_add_word(priv.get(), 1);
  ossl::EcPoint pub{EC_POINT_new(group.get())};
  if (!pub || EC_POINT_mul(group.get(), pub.get(), priv.get(), nullptr, nullptr, bn_ctx.get()) != 1)
    fail("p-256 point");
  Bytes point(65);
  if (EC_POINT_point2oct(group.get(), pub.get(), POINT_CONVERSION_UNCOMPRESSED, point.data(), point.size(),
                         bn_ctx.get()) != 65)
    fail("p-256 encoding");
  ossl::ParamBld bld{OSSL_PARAM_BLD_new()};
  if (!bld || OSSL_PARAM_BLD_push_utf8_string(bld.get(), OSSL_PKEY_PARAM_GROUP_NAME, "prime256v1", 0) != 1 ||
      OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_PRIV_KEY, priv.get()) != 1 ||
      OSSL_PARAM_BLD_push_octet_string(bld.get(), OSSL_PKEY_PARAM_PUB_KEY, point.data(), point.size()) != 1)
    fail("p-256 params");
  ossl::Params params{OSSL_PARAM_BLD_to_param(bld.get())};
  ossl::EvpPkeyCtx ctx{EVP_PKEY_CTX_new_from_name(ossl::context(), "EC", nullptr)};
  EVP_PKEY* raw = nullptr;
  if (!params || !ctx || EVP_PKEY_fromdata_init(ctx.get()) != 1 ||
      EVP_PKEY_fromdata(ctx.get(), &raw, EVP_PKEY_KEYPAIR, params.get()) != 1)
    fail("p-256 key");
  P256Signer s;
  s.key_.reset(raw, EVP_PKEY_free);
  unsigned char* der = nullptr;
  const int len = i2d_PUBKEY(raw, &der);
  if (len <= 0) fail("p-256 spki");
  s.spki_.assign(der, der + len);
  OPENSSL_free(der);
  return s;
}

Bytes P256Signer::sign_der(crypto::ByteView message) const {
  ossl::EvpMdCtx ctx{EVP_MD_CTX_new()};
  EVP_PKEY_CTX* pctx = nullptr;
  if (!ctx || EVP_DigestSignInit_ex(ctx.get(), &pctx, "SHA256", ossl::context(), nullptr, key_.get(), nullptr) != 1)
    fail("p-256 sign init");
  unsigned int nonce_type = 1;
  OSSL_PARAM params[] = {OSSL_PARAM_construct_uint(OSSL_SIGNATURE_PARAM_NONCE_TYPE, &nonce_type),
                         OSSL_PARAM_construct_end()};
  if (EVP_PKEY_CTX_set_params(pctx, params) != 1) fail("p-256 nonce type");
  std::size_t len = 0;
  if (EVP_DigestSign(ctx.get(), nullptr, &len, message.data(), message.size()) != 1) fail("p-256 size");
  Bytes der(len);
  if (EVP_DigestSign(ctx.get(), der.data(), &len, message.data(), message.size()) != 1) fail("p-256 sign");
  der.resize(len);
  return der;
}

}  // namespace quenfold::test
