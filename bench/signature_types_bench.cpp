// Checkpoints signed with the key types beyond the C ABI's, against the one
// signature verification each must cost: an RFC 6962 (0x05) checkpoint
// against one ECDSA P-256 verification with its key parsed once, and an
// ML-DSA-44 subtree/v1 (0x06) checkpoint against one ML-DSA-44
// verification. What lies between them is the note and checkpoint parsing,
// the key's decoding and the signed message's construction.
#include <benchmark/benchmark.h>

#include <openssl/evp.h>
#include <openssl/x509.h>

#include "measure.h"
#include "quenfold/checkpoint_verifier.h"
#include "support/witness.h"

namespace {

using quenfold::test::Bytes;

const std::string kOrigin = "bench.example/static-ct";

Bytes tree_head(std::uint64_t timestamp, std::uint64_t size, const Bytes& root) {
  Bytes m = {0x00, 0x01};
  for (int s = 56; s >= 0; s -= 8) m.push_back(static_cast<std::uint8_t>(timestamp >> s));
  for (int s = 56; s >= 0; s -= 8) m.push_back(static_cast<std::uint8_t>(size >> s));
  m.insert(m.end(), root.begin(), root.end());
  return m;
}

void BM_Rfc6962Checkpoint_VsEcdsaP256(benchmark::State& state) {
  const auto log = quenfold::test::Rfc6962Signer::generate(kOrigin, 71);
  const Bytes root(32, 0x3c);
  const std::uint64_t size = 123456789, timestamp = 1767139200000;
  const std::string note =
      quenfold::test::checkpoint_body(kOrigin, size, root) + "\n" + log.checkpoint_line(size, root, timestamp);
  const quenfold::CheckpointVerifier verifier(kOrigin, quenfold::test::verifier_list({log.verifier_key()}));
  // The floor: the same signature over the same tree head, the key parsed
  // once.
  const Bytes message = tree_head(timestamp, size, root);
  const Bytes signed_line = log.sign(size, root, timestamp);
  const Bytes der(signed_line.begin() + 12, signed_line.end());  // after timestamp, algorithms, length
  const unsigned char* p = log.spki_der().data();
  EVP_PKEY* key = d2i_PUBKEY(nullptr, &p, static_cast<long>(log.spki_der().size()));
  quenfold::bench::ratio(
      state, [&] { return verifier.verify(note).has_value(); },
      [&] {
        EVP_MD_CTX* ctx = EVP_MD_CTX_new();
        const bool ok = EVP_DigestVerifyInit(ctx, nullptr, EVP_sha256(), nullptr, key) == 1 &&
                        EVP_DigestVerify(ctx, der.data(), der.size(), message.data(), message.size()) == 1;
        EVP_MD_CTX_free(ctx);
        return ok;
      });
  EVP_PKEY_free(key);
}
BENCHMARK(BM_Rfc6962Checkpoint_VsEcdsaP256)->MinTime(2.0);

void BM_SubtreeCheckpoint_VsMlDsa44(benchmark::State& state) {
  const auto log = quenfold::test::SubtreeSigner::generate(kOrigin, 72);
  const Bytes root(32, 0x3d);
  const std::uint64_t size = 123456789;
  const std::string note =
      quenfold::test::checkpoint_body(kOrigin, size, root) + "\n" + log.checkpoint_line(kOrigin, size, root, 0);
  const quenfold::CheckpointVerifier verifier(kOrigin, quenfold::test::verifier_list({log.verifier_key()}));
  // The floor: one ML-DSA-44 verification of the same message and signature.
  const auto ml = quenfold::test::MlDsa44Signer::generate(72);
  const Bytes signed_line = log.sign(kOrigin, 0, size, root, 0);
  const Bytes signature(signed_line.begin() + 8, signed_line.end());
  Bytes message = {'s', 'u', 'b', 't', 'r', 'e', 'e', '/', 'v', '1', '\n', '\0'};
  message.push_back(static_cast<std::uint8_t>(kOrigin.size()));
  message.insert(message.end(), kOrigin.begin(), kOrigin.end());
  for (int s = 0; s < 8; ++s) message.push_back(0);  // timestamp 0
  message.push_back(static_cast<std::uint8_t>(kOrigin.size()));
  message.insert(message.end(), kOrigin.begin(), kOrigin.end());
  for (int s = 0; s < 8; ++s) message.push_back(0);  // start 0
  for (int s = 56; s >= 0; s -= 8) message.push_back(static_cast<std::uint8_t>(size >> s));
  message.insert(message.end(), root.begin(), root.end());
  quenfold::bench::ratio(
      state, [&] { return verifier.verify(note).has_value(); },
      [&] {
        return quenfold::crypto::verify_ml_dsa(quenfold::crypto::MlDsaParameterSet::MlDsa44, ml.public_key(), message,
                                               signature);
      });
}
BENCHMARK(BM_SubtreeCheckpoint_VsMlDsa44)->MinTime(2.0);

}  // namespace
