// Builders for witness cosignatures (C2SP tlog-cosignature, cosignature/v1)
// and witness policies, written from the C2SP texts alone.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "support/notes.h"
#include "support/signers.h"

namespace quenfold::test {

// Standard base64 decoding (libsodium); throws on bad input.
Bytes from_base64(std::string_view text);

// A witness's Ed25519 key in its cosignature/v1 form: key data 0x04 || key.
class Cosigner {
 public:
  static Cosigner generate(std::string name, std::uint64_t seed);

  const std::string& name() const { return name_; }
  const Bytes& key_data() const { return key_data_; }
  std::uint32_t key_id() const { return key_id_of(name_, key_data_); }
  std::string verifier_key() const { return verifier_key_text(name_, key_data_); }

  // timestamp (8 bytes, big-endian) || Ed25519 over
  // "cosignature/v1\ntime <timestamp>\n" || body.
  Bytes cosign(std::string_view body, std::uint64_t timestamp) const;
  std::string cosignature_line(std::string_view body, std::uint64_t timestamp) const;

 private:
  std::string name_;
  Bytes key_data_;
  std::shared_ptr<Ed25519Signer> ed_;
};

}  // namespace quenfold::test
