#include "crypto/ossl.h"

#include <openssl/crypto.h>
#include <openssl/provider.h>

#include <stdexcept>

namespace quenfold::crypto::ossl {

[[noreturn]] void fail(const char* what) { throw std::runtime_error(what); }

namespace {

OSSL_LIB_CTX* make_context() {
  // libcrypto is linked into this library privately (its symbols hidden),
  // so its process-wide state is this library's own. Never let that copy
  // read a configuration file: OPENSSL_CONF and OPENSSLDIR describe the
  // host's OpenSSL, not this one. Has no effect once libcrypto was
  // initialised otherwise, which only a program linking the core archive
  // directly can do; the context below does not depend on it.
  OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG, nullptr);

  // A fresh library context loads no configuration; the default provider is
  // built into the archive (no module is ever loaded from OPENSSL_MODULES).
  OSSL_LIB_CTX* ctx = OSSL_LIB_CTX_new();
  if (ctx == nullptr) fail("OpenSSL cannot create the library's context");
  if (OSSL_PROVIDER_load(ctx, "default") == nullptr) {
    OSSL_LIB_CTX_free(ctx);
    fail("OpenSSL cannot load its default provider into the library's context");
  }
  // The provider stays loaded and the context alive for the life of the
  // process: algorithm handles fetched from it are shared by every call.
  return ctx;
}

}  // namespace

OSSL_LIB_CTX* context() {
  static OSSL_LIB_CTX* const ctx = make_context();
  return ctx;
}

}  // namespace quenfold::crypto::ossl
