#include "crypto/sign.h"

#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/params.h>
#include <sodium.h>


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

const char* ml_dsa_name(MlDsaParameterSet set) {
  switch (set) {
    case MlDsaParameterSet::MlDsa44: return "ML-DSA-44";
    case MlDsaParameterSet::MlDsa65: return "ML-DSA-65";
    case MlDsaParameterSet::MlDsa87: return "ML-DSA-87";
  }
  return "ML-DSA-87";
}

std::size_t ml_dsa_public_key_len(MlDsaParameterSet set) {
  switch (set) {
    case MlDsaParameterSet::MlDsa44: return 1312;
    case MlDsaParameterSet::MlDsa65: return 1952;
    case MlDsaParameterSet::MlDsa87: return 2592;
  }
  return 0;
}
std::size_t ml_dsa_signature_len(MlDsaParameterSet set) {
  switch (set) {
    case MlDsaParameterSet::MlDsa44: return 2420;
    case MlDsaParameterSet::MlDsa65: return 3309;
    case MlDsaParameterSet::MlDsa87: return 4627;
  }
  return 0;
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

constexpr std::uint8_t kTagMlDsa44Ed25519 = 0x01;
constexpr std::uint8_t kTagMlDsa65Ed25519 = 0x02;
constexpr std::uint8_t kTagMlDsa87Ed25519 = 0x03;
constexpr std::uint8_t kTagMlDsa87 = 0x10;
constexpr std::uint8_t kTagMlDsa65Ed448 = 0x13;
constexpr std::uint8_t kTagMlDsa87EcdsaP521 = 0x14;

bool is_cnsa_class(std::uint8_t tag) {
  return tag == kTagMlDsa87 || tag == kTagMlDsa65Ed448 || tag == kTagMlDsa87EcdsaP521;
}

MlDsaParameterSet classic_hybrid_ml_dsa(SignatureVersion v) {
  switch (v) {
    case SignatureVersion::MlDsa44Ed25519: return MlDsaParameterSet::MlDsa44;
    case SignatureVersion::MlDsa65Ed25519: return MlDsaParameterSet::MlDsa65;
    default: return MlDsaParameterSet::MlDsa87;
  }
}

std::size_t known_len(std::optional<std::size_t> v, const char* invariant) {
  if (!v) ossl::fail(invariant);
  return *v;
}

// The CNSA-2.0 class: the tags agree and both lengths are the version's.
bool verify_cnsa(ByteView cm, ByteView sig, ByteView key) {
  const std::uint8_t tag = sig[0];
  if (key.empty() || key[0] != tag) return false;
  const std::size_t key_len = known_len(expected_public_key_len(tag), "known tag always has an expected public-key length");
  const std::size_t sig_len = known_len(expected_signature_len(tag), "known tag always has an expected signature length");
  if (key.size() != key_len || sig.size() != sig_len) return false;
  switch (tag) {
    case kTagMlDsa87:
      return verify_ml_dsa(MlDsaParameterSet::MlDsa87, key.subspan(1), cm, sig.subspan(1));
    case kTagMlDsa65Ed448: {
      // Both halves are always computed: the result must not reveal which
      // one failed through its timing.
      const bool classical = verify_ed448(key.subspan(1, 57), cm, sig.subspan(1, 114));
      const bool pq = verify_ml_dsa(MlDsaParameterSet::MlDsa65, key.subspan(58), cm, sig.subspan(115));
      return classical && pq;
    }
    case kTagMlDsa87EcdsaP521: {
      const bool classical = verify_ecdsa_p521_sha512(key.subspan(1, 133), cm, sig.subspan(1, 132));
      const bool pq = verify_ml_dsa(MlDsaParameterSet::MlDsa87, key.subspan(134), cm, sig.subspan(133));
      return classical && pq;
    }
    default: return false;
  }
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

std::optional<TokenProfile> token_profile(std::uint8_t tag) noexcept {
  switch (tag) {
    case kTagMlDsa44Ed25519: return TokenProfile{CheckpointSuite::Hybrid, SecurityCategory::Cat2};
    case kTagMlDsa65Ed25519: return TokenProfile{CheckpointSuite::Hybrid, SecurityCategory::Cat3};
    case kTagMlDsa87Ed25519: return TokenProfile{CheckpointSuite::Hybrid, SecurityCategory::Cat5};
    case kTagMlDsa87: return TokenProfile{CheckpointSuite::PureCnsa2, SecurityCategory::Cat5};
    case kTagMlDsa65Ed448: return TokenProfile{CheckpointSuite::HybridMatched, SecurityCategory::Cat3};
    case kTagMlDsa87EcdsaP521: return TokenProfile{CheckpointSuite::HybridMatched, SecurityCategory::Cat5};
    default: return std::nullopt;
  }
}

std::optional<std::size_t> expected_public_key_len(std::uint8_t tag) noexcept {
  switch (tag) {
    case kTagMlDsa44Ed25519: return 1 + 32 + 1312;
    case kTagMlDsa65Ed25519: return 1 + 32 + 1952;
    case kTagMlDsa87Ed25519: return 1 + 32 + 2592;
    case kTagMlDsa87: return 1 + 2592;
    case kTagMlDsa65Ed448: return 1 + 57 + 1952;
    case kTagMlDsa87EcdsaP521: return 1 + 133 + 2592;
    default: return std::nullopt;
  }
}

std::optional<std::size_t> expected_signature_len(std::uint8_t tag) noexcept {
  switch (tag) {
    case kTagMlDsa44Ed25519: return 1 + 64 + 2420;
    case kTagMlDsa65Ed25519: return 1 + 64 + 3309;
    case kTagMlDsa87Ed25519: return 1 + 64 + 4627;
    case kTagMlDsa87: return 1 + 4627;
    case kTagMlDsa65Ed448: return 1 + 114 + 3309;
    case kTagMlDsa87EcdsaP521: return 1 + 132 + 4627;
    default: return std::nullopt;
  }
}

std::expected<SignatureVersion, CryptoError> parse_version_tag(ByteView token) {
  if (!token.empty()) {
    switch (token[0]) {
      case kTagMlDsa44Ed25519: return SignatureVersion::MlDsa44Ed25519;
      case kTagMlDsa65Ed25519: return SignatureVersion::MlDsa65Ed25519;
      case kTagMlDsa87Ed25519: return SignatureVersion::MlDsa87Ed25519;
      default: break;
    }
  }
  return std::unexpected(CryptoError::signature("unknown or missing signature version tag"));
}

std::vector<std::uint8_t> context_message(ByteView context, ByteView message) {
  std::vector<std::uint8_t> out;
  out.reserve(8 + context.size() + message.size());
  const std::uint64_t n = context.size();
  for (int i = 7; i >= 0; --i) out.push_back(static_cast<std::uint8_t>(n >> (8 * i)));
  out.insert(out.end(), context.begin(), context.end());
  out.insert(out.end(), message.begin(), message.end());
  return out;
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
  const bool cnsa_sig = !sig->empty() && is_cnsa_class((*sig)[0]);
  const bool cnsa_key = !key->empty() && is_cnsa_class((*key)[0]);
  if (!cnsa_sig && !cnsa_key) {
    if (auto v = parse_version_tag(*sig); !v) return std::unexpected(v.error());
    if (auto v = parse_version_tag(*key); !v) return std::unexpected(v.error());
  }
  return verify_token_bytes(message, context, *sig, *key);
}

bool verify_token_bytes(ByteView message, ByteView context, ByteView s, ByteView k) {
  if (!s.empty() && is_cnsa_class(s[0])) return verify_cnsa(context_message(context, message), s, k);
  if (!k.empty() && is_cnsa_class(k[0])) return false;

  // Both tags must be classic-hybrid; an unknown or missing one is an error
  // of verify_token, a plain "not verified" here.
  const auto sig_version = parse_version_tag(s);
  const auto key_version = parse_version_tag(k);
  if (!sig_version || !key_version || *sig_version != *key_version) return false;
  const auto tag = static_cast<std::uint8_t>(*sig_version);
  const std::size_t key_len = known_len(expected_public_key_len(tag), "known tag always has an expected public-key length");
  const std::size_t sig_len = known_len(expected_signature_len(tag), "known tag always has an expected signature length");
  if (s.size() != sig_len || k.size() != key_len) return false;

  // Both parts are always computed.
  const auto cm = context_message(context, message);
  const bool classical = verify_ed25519(k.subspan(1, 32), cm, s.subspan(1, 64));
  const bool pq = verify_ml_dsa(classic_hybrid_ml_dsa(*sig_version), k.subspan(33), cm, s.subspan(65));
  return classical && pq;
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
  if (public_key.size() != 32 || signature.size() != 64) return false;
  const auto key = import_raw_public("ED25519", public_key);
  return verify_message(key.get(), ed25519_alg(), message, signature);
}

bool verify_ed448(ByteView public_key, ByteView message, ByteView signature) {
  if (public_key.size() != 57 || signature.size() != 114) return false;
  const auto key = import_raw_public("ED448", public_key);
  return verify_message(key.get(), ed448_alg(), message, signature);
}

bool verify_ecdsa_p521_sha512(ByteView public_key, ByteView message, ByteView signature) {
  // Only the uncompressed SEC1 form (0x04 || X || Y); OpenSSL would also
  // take the hybrid forms 0x06/0x07, which have the same length.
  if (public_key.size() != 133 || public_key[0] != 0x04 || signature.size() != 132) return false;
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

bool verify_ml_dsa(MlDsaParameterSet set, ByteView public_key, ByteView message, ByteView signature,
                   ByteView context) {
  if (public_key.size() != ml_dsa_public_key_len(set) || signature.size() != ml_dsa_signature_len(set) ||
      context.size() > 255)
    return false;
  const auto key = import_raw_public(ml_dsa_name(set), public_key);
  if (context.empty()) return verify_message(key.get(), ml_dsa_alg(set), message, signature);
  OSSL_PARAM params[] = {
      OSSL_PARAM_construct_octet_string(OSSL_SIGNATURE_PARAM_CONTEXT_STRING,
                                        const_cast<std::uint8_t*>(context.data()), context.size()),
      OSSL_PARAM_construct_end()};
  return verify_message(key.get(), ml_dsa_alg(set), message, signature, params);
}

}  // namespace quenfold::crypto
