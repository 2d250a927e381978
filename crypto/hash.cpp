#include "crypto/hash.h"

// SHA-256 uses OpenSSL's low-level interface, deprecated since 3.0 in favour
// of EVP but still built and maintained. The reason is measured, not taste:
// every EVP_DigestInit_ex2 on a fresh context and every EVP_MD_CTX_free takes
// or drops a reference on the process-wide EVP_MD, and with two threads
// verifying inclusion proofs that one cache line travelled between the
// cores on each call (2-thread throughput 1.5x the 1-thread throughput,
// instead of 2x). A SHA256_CTX on the stack shares nothing.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/sha.h>

#include <stdexcept>

#include "crypto/ossl.h"

namespace quenfold::crypto {
namespace ossl {

namespace {
const EVP_MD* fetch(const char* name) {
  const EVP_MD* md = EVP_MD_fetch(context(), name, nullptr);
  if (md == nullptr) fail("OpenSSL cannot provide a required digest");
  return md;
}
}  // namespace

const EVP_MD* sha512() {
  static const EVP_MD* const md = fetch("SHA2-512");
  return md;
}
const EVP_MD* sha3_512() {
  static const EVP_MD* const md = fetch("SHA3-512");
  return md;
}

}  // namespace ossl

namespace {

template <std::size_t N>
std::array<std::uint8_t, N> digest(const EVP_MD* md, std::initializer_list<ByteView> pieces) {
  ossl::EvpMdCtx ctx{EVP_MD_CTX_new()};
  if (!ctx) ossl::fail("out of memory");
  std::array<std::uint8_t, N> out{};
  if (EVP_DigestInit_ex2(ctx.get(), md, nullptr) != 1) ossl::fail("digest init failed");
  for (ByteView p : pieces) {
    if (!p.empty() && EVP_DigestUpdate(ctx.get(), p.data(), p.size()) != 1)
      ossl::fail("digest update failed");
  }
  unsigned int len = 0;
  if (EVP_DigestFinal_ex(ctx.get(), out.data(), &len) != 1 || len != N)
    ossl::fail("digest final failed");
  return out;
}

}  // namespace

Bytes32 sha256(std::initializer_list<ByteView> pieces) {
#ifdef OPENSSL_NO_DEPRECATED_3_0
  // An OpenSSL configured without its deprecated interfaces: EVP gives the
  // same digest, with the shared-reference cost described at the top.
  static const EVP_MD* const md = ossl::fetch("SHA2-256");
  return digest<32>(md, pieces);
#else
  SHA256_CTX ctx;
  if (SHA256_Init(&ctx) != 1) ossl::fail("digest init failed");
  for (ByteView p : pieces) {
    if (!p.empty() && SHA256_Update(&ctx, p.data(), p.size()) != 1) ossl::fail("digest update failed");
  }
  Bytes32 out{};
  if (SHA256_Final(out.data(), &ctx) != 1) ossl::fail("digest final failed");
  return out;
#endif
}
Bytes64 sha512(std::initializer_list<ByteView> pieces) { return digest<64>(ossl::sha512(), pieces); }
Bytes64 sha3_512(std::initializer_list<ByteView> pieces) {
  return digest<64>(ossl::sha3_512(), pieces);
}

Bytes32 hmac_sha256(ByteView key, std::initializer_list<ByteView> pieces) {
  static EVP_MAC* const mac = [] {
    EVP_MAC* m = EVP_MAC_fetch(ossl::context(), "HMAC", nullptr);
    if (m == nullptr) ossl::fail("OpenSSL cannot provide HMAC");
    return m;
  }();
  ossl::EvpMacCtx ctx{EVP_MAC_CTX_new(mac)};
  if (!ctx) ossl::fail("out of memory");
  char digest_name[] = "SHA2-256";
  OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest_name, 0),
      OSSL_PARAM_construct_end()};
  if (EVP_MAC_init(ctx.get(), key.data(), key.size(), params) != 1) ossl::fail("hmac init failed");
  for (ByteView p : pieces) {
    if (!p.empty() && EVP_MAC_update(ctx.get(), p.data(), p.size()) != 1)
      ossl::fail("hmac update failed");
  }
  Bytes32 out{};
  std::size_t len = 0;
  if (EVP_MAC_final(ctx.get(), out.data(), &len, out.size()) != 1 || len != out.size())
    ossl::fail("hmac final failed");
  return out;
}

struct Hasher::Impl {
  const EVP_MD* md;
  ossl::EvpMdCtx ctx;
};

Hasher::Hasher(Algorithm algorithm)
    : impl_(new Impl{algorithm == Algorithm::Sha512 ? ossl::sha512() : ossl::sha3_512(),
                     ossl::EvpMdCtx{EVP_MD_CTX_new()}}) {
  if (!impl_->ctx) ossl::fail("out of memory");
  if (EVP_DigestInit_ex2(impl_->ctx.get(), impl_->md, nullptr) != 1) ossl::fail("digest init failed");
}

Hasher::~Hasher() = default;

Hasher& Hasher::copy_state_from(const Hasher& other) {
  // Into a live context of the same digest the copy reuses the context's
  // own state: no allocation and no new reference on the digest.
  if (EVP_MD_CTX_copy_ex(impl_->ctx.get(), other.impl_->ctx.get()) != 1) ossl::fail("digest copy failed");
  return *this;
}

Hasher& Hasher::update(ByteView data) {
  if (!data.empty() && EVP_DigestUpdate(impl_->ctx.get(), data.data(), data.size()) != 1)
    ossl::fail("digest update failed");
  return *this;
}

Bytes64 Hasher::finish() {
  Bytes64 out{};
  unsigned int len = 0;
  // Re-initialising with the digest the context already holds takes no new
  // reference on it.
  if (EVP_DigestFinal_ex(impl_->ctx.get(), out.data(), &len) != 1 || len != out.size() ||
      EVP_DigestInit_ex2(impl_->ctx.get(), nullptr, nullptr) != 1)
    ossl::fail("digest final failed");
  return out;
}

}  // namespace quenfold::crypto
