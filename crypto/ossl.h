// RAII ownership of OpenSSL handles, the library's own OpenSSL library
// context and process-wide, immutable algorithm handles fetched from it.
// Only code under crypto/ includes this header.
#pragma once

#include <openssl/bn.h>
#include <openssl/crypto.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

#include <memory>

namespace quenfold::crypto::ossl {

template <auto Free>
struct Deleter {
  template <class T>
  void operator()(T* p) const noexcept {
    Free(p);
  }
};

using EvpPkey = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY_free>>;
using EvpPkeyCtx = std::unique_ptr<EVP_PKEY_CTX, Deleter<EVP_PKEY_CTX_free>>;
using EvpMdCtx = std::unique_ptr<EVP_MD_CTX, Deleter<EVP_MD_CTX_free>>;
using EvpMac = std::unique_ptr<EVP_MAC, Deleter<EVP_MAC_free>>;
using EvpMacCtx = std::unique_ptr<EVP_MAC_CTX, Deleter<EVP_MAC_CTX_free>>;
using EvpSignature = std::unique_ptr<EVP_SIGNATURE, Deleter<EVP_SIGNATURE_free>>;
using Bignum = std::unique_ptr<BIGNUM, Deleter<BN_free>>;
// For secret scalars: zeroes the digits before releasing them.
using SecretBignum = std::unique_ptr<BIGNUM, Deleter<BN_clear_free>>;
using BnCtx = std::unique_ptr<BN_CTX, Deleter<BN_CTX_free>>;
using BnMontCtx = std::unique_ptr<BN_MONT_CTX, Deleter<BN_MONT_CTX_free>>;
using EcGroup = std::unique_ptr<EC_GROUP, Deleter<EC_GROUP_free>>;
using EcPoint = std::unique_ptr<EC_POINT, Deleter<EC_POINT_free>>;
using EcdsaSig = std::unique_ptr<ECDSA_SIG, Deleter<ECDSA_SIG_free>>;
using ParamBld = std::unique_ptr<OSSL_PARAM_BLD, Deleter<OSSL_PARAM_BLD_free>>;
using Params = std::unique_ptr<OSSL_PARAM, Deleter<OSSL_PARAM_free>>;

// Memory that OpenSSL allocated for the caller (i2d_* output and the like).
inline void free_openssl_bytes(unsigned char* p) noexcept { OPENSSL_free(p); }
using OpensslBytes = std::unique_ptr<unsigned char, Deleter<free_openssl_bytes>>;

// The library context every OpenSSL call of the library runs in, created on
// first use (thread-safe static initialisation) and never modified or freed
// afterwards. The library is loaded into other people's processes: a host
// may configure OpenSSL's default context through OPENSSL_CONF, a
// system-wide configuration or a FIPS setup, activating providers that lack
// algorithms this library needs. This context reads no configuration file,
// has OpenSSL's default provider loaded explicitly, and is the only place
// algorithms are fetched from, so the answers never depend on the host.
// Throws (see fail) when the context cannot be created.
OSSL_LIB_CTX* context();

// Algorithms fetched once per process from context(). An implicit fetch on
// every call costs several hundred nanoseconds, which dominates small
// proofs. The handles are never modified after the fetch. Throw (see fail)
// when the algorithm cannot be had; a later call tries again.
const EVP_MD* sha512();
const EVP_MD* sha3_512();

// Throws std::runtime_error when OpenSSL cannot provide a mandatory
// algorithm or allocation; the boundary turns that into an internal failure
// (status 2 with this text), so no function on such a path is noexcept.
[[noreturn]] void fail(const char* what);

}  // namespace quenfold::crypto::ossl
