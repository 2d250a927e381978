#include "support/notes.h"

#include <sodium.h>

#include <cstdio>
#include <stdexcept>

namespace quenfold::test {

std::string base64_of(const Bytes& data) {
  if (sodium_init() < 0) throw std::runtime_error("libsodium");
  std::string out(sodium_base64_ENCODED_LEN(data.size(), sodium_base64_VARIANT_ORIGINAL), '\0');
  sodium_bin2base64(out.data(), out.size(), data.data(), data.size(), sodium_base64_VARIANT_ORIGINAL);
  out.resize(out.size() - 1);  // the terminating NUL
  return out;
}

std::uint32_t key_id_of(std::string_view name, const Bytes& key_data) {
  crypto_hash_sha256_state st;
  crypto_hash_sha256_init(&st);
  crypto_hash_sha256_update(&st, reinterpret_cast<const unsigned char*>(name.data()), name.size());
  const unsigned char lf = '\n';
  crypto_hash_sha256_update(&st, &lf, 1);
  crypto_hash_sha256_update(&st, key_data.data(), key_data.size());
  unsigned char digest[crypto_hash_sha256_BYTES];
  crypto_hash_sha256_final(&st, digest);
  return (std::uint32_t{digest[0]} << 24) | (std::uint32_t{digest[1]} << 16) | (std::uint32_t{digest[2]} << 8) |
         digest[3];
}

namespace {
std::string hex8(std::uint32_t v) {
  char buf[9];
  std::snprintf(buf, sizeof buf, "%08x", v);
  return buf;
}
}  // namespace

std::string verifier_key_text(std::string_view name, std::uint32_t key_id, const Bytes& key_data) {
  return std::string(name) + "+" + hex8(key_id) + "+" + base64_of(key_data);
}

std::string verifier_key_text(std::string_view name, const Bytes& key_data) {
  return verifier_key_text(name, key_id_of(name, key_data), key_data);
}

std::string signature_line(std::string_view name, std::uint32_t key_id, const Bytes& signature) {
  Bytes blob{static_cast<std::uint8_t>(key_id >> 24), static_cast<std::uint8_t>(key_id >> 16),
             static_cast<std::uint8_t>(key_id >> 8), static_cast<std::uint8_t>(key_id)};
  blob.insert(blob.end(), signature.begin(), signature.end());
  return "\xE2\x80\x94 " + std::string(name) + " " + base64_of(blob) + "\n";
}

NoteSigner NoteSigner::ed25519(std::string name, std::uint64_t seed) {
  NoteSigner s;
  s.name_ = std::move(name);
  s.ed_ = std::make_shared<Ed25519Signer>(Ed25519Signer::generate(seed));
  s.key_data_ = {0x01};
  s.key_data_.insert(s.key_data_.end(), s.ed_->public_key().begin(), s.ed_->public_key().end());
  return s;
}

NoteSigner NoteSigner::composite(std::string name, crypto::SignatureVersion version, std::uint64_t seed) {
  NoteSigner s;
  s.name_ = std::move(name);
  s.token_ = std::make_shared<TokenSigner>(TokenSigner::generate(version, seed));
  s.key_data_ = {0xFF};
  s.key_data_.insert(s.key_data_.end(), kCompositeKeyLabelText.begin(), kCompositeKeyLabelText.end());
  const Bytes token = s.token_->public_key_token_bytes();
  s.key_data_.insert(s.key_data_.end(), token.begin(), token.end());
  return s;
}

Bytes NoteSigner::sign(std::string_view body) const {
  const crypto::ByteView msg(reinterpret_cast<const std::uint8_t*>(body.data()), body.size());
  if (ed_) return ed_->sign(msg);
  const crypto::ByteView ctx(reinterpret_cast<const std::uint8_t*>(kSignedNoteContextText.data()),
                             kSignedNoteContextText.size());
  return token_->sign_bytes(msg, ctx);
}

std::string NoteSigner::signature_line(std::string_view body) const {
  return test::signature_line(name_, key_id(), sign(body));
}

std::string signed_note(std::string_view body, const std::vector<const NoteSigner*>& signers) {
  std::string out(body);
  out += "\n";
  for (const NoteSigner* s : signers) out += s->signature_line(body);
  return out;
}

std::string checkpoint_body(std::string_view origin, std::uint64_t size, const Bytes& root,
                            const std::vector<std::string>& extensions) {
  std::string out = std::string(origin) + "\n" + std::to_string(size) + "\n" + base64_of(root) + "\n";
  for (const auto& e : extensions) out += e + "\n";
  return out;
}

}  // namespace quenfold::test
