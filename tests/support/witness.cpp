#include "support/witness.h"

#include <sodium.h>

#include <stdexcept>

#include "crypto/hash.h"

namespace quenfold::test {

Bytes from_base64(std::string_view text) {
  if (sodium_init() < 0) throw std::runtime_error("libsodium");
  Bytes out(text.size());
  std::size_t len = 0;
  if (sodium_base642bin(out.data(), out.size(), text.data(), text.size(), nullptr, &len, nullptr,
                        sodium_base64_VARIANT_ORIGINAL) != 0)
    throw std::runtime_error("bad base64 in a fixture");
  out.resize(len);
  return out;
}

Cosigner Cosigner::generate(std::string name, std::uint64_t seed) {
  Cosigner c;
  c.name_ = std::move(name);
  c.ed_ = std::make_shared<Ed25519Signer>(Ed25519Signer::generate(seed));
  c.key_data_ = {0x04};
  c.key_data_.insert(c.key_data_.end(), c.ed_->public_key().begin(), c.ed_->public_key().end());
  return c;
}

Bytes Cosigner::cosign(std::string_view body, std::uint64_t timestamp) const {
  const std::string message = "cosignature/v1\ntime " + std::to_string(timestamp) + "\n" + std::string(body);
  Bytes out;
  for (int shift = 56; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(timestamp >> shift));
  const Bytes sig = ed_->sign(crypto::ByteView(reinterpret_cast<const std::uint8_t*>(message.data()), message.size()));
  out.insert(out.end(), sig.begin(), sig.end());
  return out;
}

std::string Cosigner::cosignature_line(std::string_view body, std::uint64_t timestamp) const {
  return signature_line(name_, key_id(), cosign(body, timestamp));
}

namespace {

void put_u64(Bytes& out, std::uint64_t v) {
  for (int shift = 56; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}
void put_short_text(Bytes& out, std::string_view text) {
  if (text.size() > 255) throw std::runtime_error("text longer than 255 bytes");
  out.push_back(static_cast<std::uint8_t>(text.size()));
  out.insert(out.end(), text.begin(), text.end());
}
crypto::ByteView view_of(std::string_view s) { return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()}; }

}  // namespace

SubtreeSigner SubtreeSigner::generate(std::string name, std::uint64_t seed) {
  SubtreeSigner s;
  s.name_ = std::move(name);
  s.ml_dsa_ = std::make_shared<MlDsa44Signer>(MlDsa44Signer::generate(seed));
  s.key_data_ = {0x06};
  s.key_data_.insert(s.key_data_.end(), s.ml_dsa_->public_key().begin(), s.ml_dsa_->public_key().end());
  return s;
}

Bytes SubtreeSigner::sign(std::string_view origin, std::uint64_t start, std::uint64_t end, const Bytes& hash,
                          std::uint64_t timestamp) const {
  static constexpr char kLabel[12] = {'s', 'u', 'b', 't', 'r', 'e', 'e', '/', 'v', '1', '\n', '\0'};
  Bytes message(kLabel, kLabel + sizeof kLabel);
  put_short_text(message, name_);
  put_u64(message, timestamp);
  put_short_text(message, origin);
  put_u64(message, start);
  put_u64(message, end);
  message.insert(message.end(), hash.begin(), hash.end());
  Bytes out;
  put_u64(out, timestamp);
  const Bytes sig = ml_dsa_->sign(message);
  out.insert(out.end(), sig.begin(), sig.end());
  return out;
}

std::string SubtreeSigner::checkpoint_line(std::string_view origin, std::uint64_t size, const Bytes& root,
                                           std::uint64_t timestamp) const {
  return signature_line(name_, key_id(), sign(origin, 0, size, root, timestamp));
}

Rfc6962Signer Rfc6962Signer::generate(std::string origin, std::uint64_t seed) {
  Rfc6962Signer s;
  s.origin_ = std::move(origin);
  s.p256_ = std::make_shared<P256Signer>(P256Signer::generate(seed));
  return s;
}

std::uint32_t Rfc6962Signer::key_id() const {
  const auto log_id = crypto::sha256({spki_der()});
  const std::uint8_t type[1] = {0x05};
  const auto digest = crypto::sha256({view_of(origin_), view_of("\n"), type, log_id});
  return static_cast<std::uint32_t>(digest[0]) << 24 | static_cast<std::uint32_t>(digest[1]) << 16 |
         static_cast<std::uint32_t>(digest[2]) << 8 | digest[3];
}

std::string Rfc6962Signer::verifier_key() const {
  Bytes data = {0x05};
  data.insert(data.end(), spki_der().begin(), spki_der().end());
  return verifier_key_text(origin_, key_id(), data);
}

Bytes Rfc6962Signer::sign(std::uint64_t size, const Bytes& root, std::uint64_t timestamp_ms) const {
  Bytes tree_head = {0x00, 0x01};  // v1, tree_hash
  put_u64(tree_head, timestamp_ms);
  put_u64(tree_head, size);
  tree_head.insert(tree_head.end(), root.begin(), root.end());
  const Bytes der = p256_->sign_der(tree_head);
  Bytes out;
  put_u64(out, timestamp_ms);
  out.push_back(4);  // sha256
  out.push_back(3);  // ecdsa
  out.push_back(static_cast<std::uint8_t>(der.size() >> 8));
  out.push_back(static_cast<std::uint8_t>(der.size()));
  out.insert(out.end(), der.begin(), der.end());
  return out;
}

std::string Rfc6962Signer::checkpoint_line(std::uint64_t size, const Bytes& root, std::uint64_t timestamp_ms) const {
  return signature_line(origin_, key_id(), sign(size, root, timestamp_ms));
}

namespace {

std::string hash_lines(const std::vector<std::array<std::uint8_t, 32>>& proof) {
  std::string out;
  for (const auto& h : proof) out += base64_of(Bytes(h.begin(), h.end())) + "\n";
  return out;
}

}  // namespace

std::string tlog_proof_text(const std::optional<Bytes>& extra, std::uint64_t index,
                            const std::vector<std::array<std::uint8_t, 32>>& proof, std::string_view note) {
  std::string out = "c2sp.org/tlog-proof@v1\n";
  if (extra) out += "extra " + base64_of(*extra) + "\n";
  out += "index " + std::to_string(index) + "\n";
  out += hash_lines(proof);
  out += "\n";
  out += note;
  return out;
}

std::string add_checkpoint_request(std::uint64_t old_size, const std::vector<std::array<std::uint8_t, 32>>& proof,
                                   std::string_view note) {
  return "old " + std::to_string(old_size) + "\n" + hash_lines(proof) + "\n" + std::string(note);
}

VerifierList verifier_list(const std::vector<std::string>& keys) {
  auto list = VerifierList::parse(std::span<const std::string>(keys));
  if (!list) throw std::runtime_error(list.error().message());
  return *list;
}

}  // namespace quenfold::test
