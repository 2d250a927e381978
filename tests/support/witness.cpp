#include "support/witness.h"

#include <sodium.h>

#include <stdexcept>

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

}  // namespace quenfold::test
