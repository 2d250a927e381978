#include "crypto/sign.h"

#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/params.h>
#include <openssl/x509.h>
#include <sodium.h>


#include "base/try.h"
#include "base/writer.h"
#include "crypto/base64.h"
#include "crypto/ossl.h"

namespace quenfold::crypto {
namespace {

// --- process-wide algorithm handles ----------------------------------------
//
// Fetched once, on first use (thread-safe static initialisation), and never
// modified afterwards. Without them every verification would look each
// algorithm up in the provider store again.

const EVP_SIGNATURE* fetch_signature(const char* name) {
  EVP_SIGNATURE* s = EVP_SIGNATURE_fetch(ossl::context(), name, nullptr);
  if (s == nullptr) ossl::fail("OpenSSL cannot provide a required signature algorithm");
  return s;
}

const EVP_SIGNATURE* ed25519_alg() {
  static const EVP_SIGNATURE* const s = fetch_signature("ED25519");
  return s;
}
const EVP_SIGNATURE* ed448_alg() {
  static const EVP_SIGNATURE* const s = fetch_signature("ED448");
  return s;
}
const EVP_SIGNATURE* ecdsa_sha512_alg() {
  static const EVP_SIGNATURE* const s = fetch_signature("ECDSA-SHA512");
  return s;
}
const EVP_SIGNATURE* ecdsa_sha256_alg() {
  static const EVP_SIGNATURE* const s = fetch_signature("ECDSA-SHA256");
  return s;
}
const EVP_SIGNATURE* ml_dsa_alg(MlDsaParameterSet set) {
  static const EVP_SIGNATURE* const s44 = fetch_signature("ML-DSA-44");
  static const EVP_SIGNATURE* const s65 = fetch_signature("ML-DSA-65");
  static const EVP_SIGNATURE* const s87 = fetch_signature("ML-DSA-87");
  switch (set) {
    case MlDsaParameterSet::MlDsa44: return s44;
    case MlDsaParameterSet::MlDsa65: return s65;
    case MlDsaParameterSet::MlDsa87: return s87;
  }
  return s87;
}

// FIPS 204 names and sizes of the three parameter sets.
struct MlDsaParameters {
  const char* name;
  std::size_t public_key_len;
  std::size_t signature_len;
};

constexpr MlDsaParameters ml_dsa_parameters(MlDsaParameterSet set) {
  switch (set) {
    case MlDsaParameterSet::MlDsa44: return {"ML-DSA-44", 1312, 2420};
    case MlDsaParameterSet::MlDsa65: return {"ML-DSA-65", 1952, 3309};
    case MlDsaParameterSet::MlDsa87: return {"ML-DSA-87", 2592, 4627};
  }
  return {"ML-DSA-87", 0, 0};
}

bool sodium_ready() {
  static const bool ready = sodium_init() >= 0;
  return ready;
}

// Imports a public key of the named type from OSSL_PARAMs; null when the
// bytes are not a valid key of that type.
ossl::EvpPkey import_public(const char* type, OSSL_PARAM* params) {
  ossl::EvpPkeyCtx ctx{EVP_PKEY_CTX_new_from_name(ossl::context(), type, nullptr)};
  if (!ctx) ossl::fail("out of memory");
  EVP_PKEY* raw = nullptr;
  if (EVP_PKEY_fromdata_init(ctx.get()) != 1 ||
      EVP_PKEY_fromdata(ctx.get(), &raw, EVP_PKEY_PUBLIC_KEY, params) != 1)
    return nullptr;
  return ossl::EvpPkey{raw};
}

ossl::EvpPkey import_raw_public(const char* type, ByteView key) {
  OSSL_PARAM params[] = {
      OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY,
                                        const_cast<std::uint8_t*>(key.data()), key.size()),
      OSSL_PARAM_construct_end()};
  return import_public(type, params);
}

// One-shot message verification under a pre-fetched signature algorithm.
bool verify_message(const EVP_PKEY* key, const EVP_SIGNATURE* alg, ByteView message, ByteView signature,
                    const OSSL_PARAM* params = nullptr) {
  if (key == nullptr) return false;
  ossl::EvpPkeyCtx ctx{EVP_PKEY_CTX_new_from_pkey(ossl::context(), const_cast<EVP_PKEY*>(key), nullptr)};
  if (!ctx) ossl::fail("out of memory");
  if (EVP_PKEY_verify_message_init(ctx.get(), const_cast<EVP_SIGNATURE*>(alg), params) != 1) return false;
  // An empty message is passed as a non-null pointer of length zero.
  static const std::uint8_t kEmpty = 0;
  const std::uint8_t* m = message.empty() ? &kEmpty : message.data();
  return EVP_PKEY_verify(ctx.get(), signature.data(), signature.size(), m, message.size()) == 1;
}

// --- the six token kinds -------------------------------------------------------
//
// A decoded token is the version tag, the classical component (absent for
// ML-DSA alone) and the ML-DSA component, in that order, for keys and
// signatures alike. Every length and split offset follows from this table.

enum class Classical : std::uint8_t { None, Ed25519, Ed448, EcdsaP521 };

constexpr std::size_t classical_key_len(Classical c) {
  switch (c) {
    case Classical::None: return 0;
    case Classical::Ed25519: return 32;
    case Classical::Ed448: return 57;
    case Classical::EcdsaP521: return 133;  // SEC1 uncompressed
  }
  return 0;
}
constexpr std::size_t classical_signature_len(Classical c) {
  switch (c) {
    case Classical::None: return 0;
    case Classical::Ed25519: return 64;
    case Classical::Ed448: return 114;
    case Classical::EcdsaP521: return 132;  // r || s
  }
  return 0;
}

constexpr std::size_t kTagLen = 1;

struct TokenKind {
  std::uint8_t tag;
  TokenFamily family;
  SecurityCategory category;
  Classical classical;
  MlDsaParameterSet ml_dsa;

  constexpr std::size_t public_key_len() const {
    return kTagLen + classical_key_len(classical) + ml_dsa_parameters(ml_dsa).public_key_len;
  }
  constexpr std::size_t signature_len() const {
    return kTagLen + classical_signature_len(classical) + ml_dsa_parameters(ml_dsa).signature_len;
  }
};

constexpr TokenKind kTokenKinds[] = {
    {0x01, TokenFamily::Ed25519Hybrid, SecurityCategory::Cat2, Classical::Ed25519, MlDsaParameterSet::MlDsa44},
    {0x02, TokenFamily::Ed25519Hybrid, SecurityCategory::Cat3, Classical::Ed25519, MlDsaParameterSet::MlDsa65},
    {0x03, TokenFamily::Ed25519Hybrid, SecurityCategory::Cat5, Classical::Ed25519, MlDsaParameterSet::MlDsa87},
    {0x10, TokenFamily::MlDsaAlone, SecurityCategory::Cat5, Classical::None, MlDsaParameterSet::MlDsa87},
    {0x13, TokenFamily::MatchedHybrid, SecurityCategory::Cat3, Classical::Ed448, MlDsaParameterSet::MlDsa65},
    {0x14, TokenFamily::MatchedHybrid, SecurityCategory::Cat5, Classical::EcdsaP521, MlDsaParameterSet::MlDsa87},
};

const TokenKind* kind_of(std::uint8_t tag) noexcept {
  for (const TokenKind& k : kTokenKinds)
    if (k.tag == tag) return &k;
  return nullptr;
}

const TokenKind* kind_of(ByteView token) noexcept { return token.empty() ? nullptr : kind_of(token[0]); }

// The CNSA-2.0 class: a known tag outside the Ed25519-hybrid family.
bool is_cnsa_class(ByteView token) {
  const TokenKind* k = kind_of(token);
  return k != nullptr && k->family != TokenFamily::Ed25519Hybrid;
}

bool verify_classical(Classical c, ByteView key, ByteView message, ByteView signature) {
  switch (c) {
    case Classical::None: return true;
    case Classical::Ed25519: return verify_ed25519(key, message, signature);
    case Classical::Ed448: return verify_ed448(key, message, signature);
    case Classical::EcdsaP521: return verify_ecdsa_p521_sha512(key, message, signature);
  }
  return false;
}

// Both tokens are of `kind` and of its exact lengths. Both components are
// always computed: the result must not reveal which one failed through its
// timing.
bool verify_components(const TokenKind& kind, ByteView cm, ByteView sig, ByteView key) {
  const std::size_t key_split = kTagLen + classical_key_len(kind.classical);
  const std::size_t sig_split = kTagLen + classical_signature_len(kind.classical);
  const bool classical = verify_classical(kind.classical, key.subspan(kTagLen, key_split - kTagLen), cm,
                                          sig.subspan(kTagLen, sig_split - kTagLen));
  const bool pq = verify_ml_dsa(kind.ml_dsa, key.subspan(key_split), cm, sig.subspan(sig_split));
  return classical && pq;
}

// RFC 8032 verification of raw key and signature bytes of the scheme's
// lengths; any other length is simply not a signature.
bool verify_eddsa(Classical scheme, const char* key_type, const EVP_SIGNATURE* (*alg)(), ByteView public_key,
                  ByteView message, ByteView signature) {
  if (public_key.size() != classical_key_len(scheme) || signature.size() != classical_signature_len(scheme))
    return false;
  const auto key = import_raw_public(key_type, public_key);
  return verify_message(key.get(), alg(), message, signature);
}

bool has_lengths_of(const TokenKind& kind, ByteView sig, ByteView key) {
  return sig.size() == kind.signature_len() && key.size() == kind.public_key_len();
}

}  // namespace

const char* name_of(SecurityCategory c) noexcept {
  switch (c) {
    case SecurityCategory::Cat2: return "Cat2";
    case SecurityCategory::Cat3: return "Cat3";
    case SecurityCategory::Cat5: return "Cat5";
  }
  return "?";
}

std::optional<TokenShape> token_shape(std::uint8_t tag) noexcept {
  const TokenKind* k = kind_of(tag);
  if (k == nullptr) return std::nullopt;
  return TokenShape{k->family, k->category, k->public_key_len(), k->signature_len()};
}

std::optional<std::size_t> expected_public_key_len(std::uint8_t tag) noexcept {
  const TokenKind* k = kind_of(tag);
  return k == nullptr ? std::nullopt : std::optional(k->public_key_len());
}

std::optional<std::size_t> expected_signature_len(std::uint8_t tag) noexcept {
  const TokenKind* k = kind_of(tag);
  return k == nullptr ? std::nullopt : std::optional(k->signature_len());
}

std::expected<SignatureVersion, CryptoError> parse_version_tag(ByteView token) {
  const TokenKind* k = kind_of(token);
  if (k != nullptr && k->family == TokenFamily::Ed25519Hybrid) return static_cast<SignatureVersion>(k->tag);
  return std::unexpected(CryptoError::signature("unknown or missing signature version tag"));
}

std::vector<std::uint8_t> context_message(ByteView context, ByteView message) {
  encoding::Writer out(8 + context.size() + message.size());
  out.prefixed(8, context).bytes(message);
  return out.take();
}

std::expected<bool, CryptoError> verify_token(ByteView message, ByteView context,
                                              std::string_view signature_token,
                                              std::string_view public_key_token) {
  auto sig = base64::decode(signature_token);
  if (!sig) return std::unexpected(CryptoError::base64(std::move(sig.error())));
  auto key = base64::decode(public_key_token);
  if (!key) return std::unexpected(CryptoError::base64(std::move(key.error())));
  // Only the classic-hybrid class reads version tags, and only there can an
  // unknown or missing tag be an error.
  if (!is_cnsa_class(*sig) && !is_cnsa_class(*key)) {
    QUENFOLD_CHECK(parse_version_tag(*sig));
    QUENFOLD_CHECK(parse_version_tag(*key));
  }
  return verify_token_bytes(message, context, *sig, *key);
}

bool verify_token_bytes(ByteView message, ByteView context, ByteView s, ByteView k) {
  if (is_cnsa_class(s)) {
    // The CNSA-2.0 class: the tags agree and both lengths are the version's.
    const TokenKind& kind = *kind_of(s);
    if (k.empty() || k[0] != kind.tag || !has_lengths_of(kind, s, k)) return false;
    return verify_components(kind, context_message(context, message), s, k);
  }
  if (is_cnsa_class(k)) return false;

  // Both tags must be Ed25519-hybrid and the same; an unknown or missing one
  // is an error of verify_token, a plain "not verified" here.
  const auto sig_version = parse_version_tag(s);
  const auto key_version = parse_version_tag(k);
  if (!sig_version || !key_version || *sig_version != *key_version) return false;
  const TokenKind& kind = *kind_of(s);
  if (!has_lengths_of(kind, s, k)) return false;
  return verify_components(kind, context_message(context, message), s, k);
}

bool verify_ed25519_strict(ByteView public_key, ByteView message, ByteView signature) {
  if (public_key.size() != crypto_sign_PUBLICKEYBYTES || signature.size() != crypto_sign_BYTES) return false;
  if (!sodium_ready()) ossl::fail("libsodium failed to initialise");
  // libsodium's verifier applies exactly the strict rules: S < L, R and A
  // not of small order, A a canonical encoding of a curve point, and the
  // cofactorless equation compared on encodings (an R that is not a point
  // encoding can never equal an encoded result).
  static const std::uint8_t kEmpty = 0;
  const std::uint8_t* m = message.empty() ? &kEmpty : message.data();
  return crypto_sign_verify_detached(signature.data(), m, message.size(), public_key.data()) == 0;
}

bool verify_ed25519(ByteView public_key, ByteView message, ByteView signature) {
  return verify_eddsa(Classical::Ed25519, "ED25519", ed25519_alg, public_key, message, signature);
}

bool verify_ed448(ByteView public_key, ByteView message, ByteView signature) {
  return verify_eddsa(Classical::Ed448, "ED448", ed448_alg, public_key, message, signature);
}

bool verify_ecdsa_p521_sha512(ByteView public_key, ByteView message, ByteView signature) {
  // Only the uncompressed SEC1 form (0x04 || X || Y); OpenSSL would also
  // take the hybrid forms 0x06/0x07, which have the same length.
  if (public_key.size() != classical_key_len(Classical::EcdsaP521) || public_key[0] != 0x04 ||
      signature.size() != classical_signature_len(Classical::EcdsaP521))
    return false;
  char group[] = "P-521";
  OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, group, 0),
      OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY,
                                        const_cast<std::uint8_t*>(public_key.data()), public_key.size()),
      OSSL_PARAM_construct_end()};
  const auto key = import_public("EC", params);
  if (!key) return false;

  // OpenSSL verifies DER-encoded signatures: re-encode r and s.
  ossl::EcdsaSig sig{ECDSA_SIG_new()};
  ossl::Bignum r{BN_bin2bn(signature.data(), 66, nullptr)};
  ossl::Bignum s{BN_bin2bn(signature.data() + 66, 66, nullptr)};
  if (!sig || !r || !s) ossl::fail("out of memory");
  if (ECDSA_SIG_set0(sig.get(), r.get(), s.get()) != 1) ossl::fail("ecdsa signature assembly failed");
  (void)r.release();
  (void)s.release();
  unsigned char* der = nullptr;
  const int der_len = i2d_ECDSA_SIG(sig.get(), &der);
  if (der_len <= 0) ossl::fail("ecdsa signature encoding failed");
  const ossl::OpensslBytes der_owner(der);
  return verify_message(key.get(), ecdsa_sha512_alg(), message,
                        ByteView(der, static_cast<std::size_t>(der_len)));
}

namespace {

// The P-256 key of a DER SubjectPublicKeyInfo that is consumed exactly;
// null for anything else.
ossl::EvpPkey p256_key_of(ByteView spki_der) {
  const unsigned char* p = spki_der.data();
  if (spki_der.empty() || spki_der.size() > 1024) return nullptr;
  ossl::EvpPkey key{d2i_PUBKEY_ex(nullptr, &p, static_cast<long>(spki_der.size()), ossl::context(), nullptr)};
  if (!key || p != spki_der.data() + spki_der.size() || EVP_PKEY_is_a(key.get(), "EC") != 1) return nullptr;
  char group[32] = {};
  std::size_t len = 0;
  if (EVP_PKEY_get_utf8_string_param(key.get(), OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof group, &len) != 1 ||
      std::string_view(group, len) != "prime256v1")
    return nullptr;
  return key;
}

}  // namespace

bool is_ecdsa_p256_spki(ByteView spki_der) { return p256_key_of(spki_der) != nullptr; }

bool verify_ecdsa_p256_sha256(ByteView spki_der, ByteView message, ByteView der_signature) {
  const auto key = p256_key_of(spki_der);
  // OpenSSL refuses a signature whose DER does not re-encode to itself.
  return key && !der_signature.empty() && verify_message(key.get(), ecdsa_sha256_alg(), message, der_signature);
}

struct EcdsaP256Key::Decoded {
  ossl::EvpPkey key;
};

std::optional<EcdsaP256Key> EcdsaP256Key::from_spki(ByteView spki_der) {
  auto key = p256_key_of(spki_der);
  if (!key) return std::nullopt;
  return EcdsaP256Key(std::make_shared<const Decoded>(Decoded{std::move(key)}));
}

bool EcdsaP256Key::verify_sha256(ByteView message, ByteView der_signature) const {
  return !der_signature.empty() && verify_message(decoded_->key.get(), ecdsa_sha256_alg(), message, der_signature);
}

bool verify_ml_dsa(MlDsaParameterSet set, ByteView public_key, ByteView message, ByteView signature,
                   ByteView context) {
  const MlDsaParameters parameters = ml_dsa_parameters(set);
  if (public_key.size() != parameters.public_key_len || signature.size() != parameters.signature_len ||
      context.size() > 255)
    return false;
  const auto key = import_raw_public(parameters.name, public_key);
  if (context.empty()) return verify_message(key.get(), ml_dsa_alg(set), message, signature);
  OSSL_PARAM params[] = {
      OSSL_PARAM_construct_octet_string(OSSL_SIGNATURE_PARAM_CONTEXT_STRING,
                                        const_cast<std::uint8_t*>(context.data()), context.size()),
      OSSL_PARAM_construct_end()};
  return verify_message(key.get(), ml_dsa_alg(set), message, signature, params);
}

}  // namespace quenfold::crypto
