// Signers for the tests and the example generator (never part of the shared
// library). Keys are derived deterministically from a seed so that fixtures
// and examples are reproducible; OpenSSL signs every scheme.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "crypto/sign.h"

typedef struct evp_pkey_st EVP_PKEY;

namespace quenfold::test {

using Bytes = std::vector<std::uint8_t>;

// A key pair of one token version.
class TokenSigner {
 public:
  static TokenSigner generate(crypto::SignatureVersion version, std::uint64_t seed);
  ~TokenSigner();
  TokenSigner(TokenSigner&&) noexcept;
  TokenSigner& operator=(TokenSigner&&) noexcept;

  crypto::SignatureVersion version() const;
  Bytes public_key_token_bytes() const;  // tag || component keys
  std::string public_key_token() const;  // base64 of the above
  // tag || component signatures, each over context_message(context, message).
  Bytes sign_bytes(crypto::ByteView message, crypto::ByteView context) const;
  std::string sign(crypto::ByteView message, crypto::ByteView context) const;

 private:
  struct Impl;
  explicit TokenSigner(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

// A plain Ed25519 key (signed-note keys of type 0x01).
class Ed25519Signer {
 public:
  static Ed25519Signer generate(std::uint64_t seed);
  const Bytes& public_key() const { return public_key_; }
  Bytes sign(crypto::ByteView message) const;
  // A signature whose R is the identity (a small-order point) and whose
  // S = k*a mod L, with a the secret scalar and k = SHA-512(R || A || M) mod L,
  // so the cofactorless equation [S]B - [k]A = R still holds. Plain RFC 8032
  // verification accepts it; the strict check must not.
  Bytes sign_with_small_order_r(crypto::ByteView message) const;

 private:
  Bytes seed_;
  Bytes public_key_;
};

// An ML-DSA-44 key (pure, empty context, deterministic signing): the
// subtree/v1 signatures of logs and witnesses.
class MlDsa44Signer {
 public:
  static MlDsa44Signer generate(std::uint64_t seed);
  const Bytes& public_key() const { return public_key_; }  // 1312 bytes
  Bytes sign(crypto::ByteView message) const;               // 2420 bytes

 private:
  std::shared_ptr<EVP_PKEY> key_;
  Bytes public_key_;
};

// An ECDSA P-256 key with SHA-256 and RFC 6979 nonces, as RFC 6962 logs
// sign tree heads: the public key as a SubjectPublicKeyInfo DER, the
// signature as a DER ECDSA-Sig-Value.
class P256Signer {
 public:
  static P256Signer generate(std::uint64_t seed);
  const Bytes& spki_der() const { return spki_; }
  Bytes sign_der(crypto::ByteView message) const;

 private:
  std::shared_ptr<EVP_PKEY> key_;
  Bytes spki_;
};

}  // namespace quenfold::test
