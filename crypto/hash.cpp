#include "crypto/hash.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <stdexcept>

#include "crypto/ossl.h"

namespace quenfold::crypto {
namespace ossl {

[[noreturn]] void fail(const char* what) { throw std::runtime_error(what); }

namespace {
const EVP_MD* fetch(const char* name) {
  const EVP_MD* md = EVP_MD_fetch(nullptr, name, nullptr);
  if (md == nullptr) fail("OpenSSL cannot provide a required digest");
  return md;
}
}  // namespace

const EVP_MD* sha256() noexcept {
  static const EVP_MD* const md = fetch("SHA2-256");
  return md;
}
const EVP_MD* sha512() noexcept {
  static const EVP_MD* const md = fetch("SHA2-512");
  return md;
}
const EVP_MD* sha3_512() noexcept {
  static const EVP_MD* const md = fetch("SHA3-512");
  return md;
}

}  // namespace ossl

namespace {

const EVP_MD* md_of(Hasher::Algorithm a) {
  switch (a) {
    case Hasher::Algorithm::Sha256: return ossl::sha256();
    case Hasher::Algorithm::Sha512: return ossl::sha512();
    case Hasher::Algorithm::Sha3_512: return ossl::sha3_512();
  }
  return ossl::sha256();
}

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

Bytes32 sha256(std::initializer_list<ByteView> pieces) { return digest<32>(ossl::sha256(), pieces); }
Bytes64 sha512(std::initializer_list<ByteView> pieces) { return digest<64>(ossl::sha512(), pieces); }
Bytes64 sha3_512(std::initializer_list<ByteView> pieces) {
  return digest<64>(ossl::sha3_512(), pieces);
}

Bytes32 hmac_sha256(ByteView key, std::initializer_list<ByteView> pieces) {
  static EVP_MAC* const mac = [] {
    EVP_MAC* m = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
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
    : impl_(new Impl{md_of(algorithm), ossl::EvpMdCtx{EVP_MD_CTX_new()}}),
      size_(algorithm == Algorithm::Sha256 ? 32 : 64) {
  if (!impl_->ctx || EVP_DigestInit_ex2(impl_->ctx.get(), impl_->md, nullptr) != 1)
    ossl::fail("digest init failed");
}

Hasher::~Hasher() = default;

Hasher& Hasher::update(ByteView data) {
  if (!data.empty() && EVP_DigestUpdate(impl_->ctx.get(), data.data(), data.size()) != 1)
    ossl::fail("digest update failed");
  return *this;
}

void Hasher::finish(std::span<std::uint8_t> out) {
  if (out.size() != size_) ossl::fail("digest output of the wrong size");
  unsigned int len = 0;
  if (EVP_DigestFinal_ex(impl_->ctx.get(), out.data(), &len) != 1 ||
      EVP_DigestInit_ex2(impl_->ctx.get(), impl_->md, nullptr) != 1)
    ossl::fail("digest final failed");
}

}  // namespace quenfold::crypto
