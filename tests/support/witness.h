// Builders for witness cosignatures (C2SP tlog-cosignature, cosignature/v1)
// and witness policies, written from the C2SP texts alone.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>
#include <string>
#include <string_view>

#include "quenfold/verifier.h"
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

// A subtree/v1 (ML-DSA-44) signer of C2SP tlog-cosignature: a witness, or
// a log signing its own checkpoints this way. Key data 0x06 || key.
class SubtreeSigner {
 public:
  static SubtreeSigner generate(std::string name, std::uint64_t seed);
  const std::string& name() const { return name_; }
  std::uint32_t key_id() const { return key_id_of(name_, key_data_); }
  std::string verifier_key() const { return verifier_key_text(name_, key_data_); }

  // timestamp || ML-DSA-44 over "subtree/v1\n\0" || u8 len || name ||
  // timestamp || u8 len || origin || start || end || hash.
  Bytes sign(std::string_view origin, std::uint64_t start, std::uint64_t end, const Bytes& hash,
             std::uint64_t timestamp) const;
  // The line for a checkpoint: the subtree [0, size) with its root.
  std::string checkpoint_line(std::string_view origin, std::uint64_t size, const Bytes& root,
                              std::uint64_t timestamp) const;

 private:
  std::string name_;
  Bytes key_data_;
  std::shared_ptr<MlDsa44Signer> ml_dsa_;
};

// An RFC 6962 log signing checkpoints as C2SP static-ct-api says: the key
// is named after the origin, its key id is SHA-256(origin || 0x0A || 0x05
// || log ID)[:4] with log ID = SHA-256(SubjectPublicKeyInfo DER), and the
// signature is the tree head's millisecond timestamp and a digitally-signed
// TreeHeadSignature.
class Rfc6962Signer {
 public:
  static Rfc6962Signer generate(std::string origin, std::uint64_t seed);
  const std::string& origin() const { return origin_; }
  const Bytes& spki_der() const { return p256_->spki_der(); }
  std::uint32_t key_id() const;
  std::string verifier_key() const;  // origin+keyid+base64(0x05 || SPKI)
  Bytes sign(std::uint64_t size, const Bytes& root, std::uint64_t timestamp_ms) const;
  std::string checkpoint_line(std::uint64_t size, const Bytes& root, std::uint64_t timestamp_ms) const;

 private:
  std::string origin_;
  std::shared_ptr<P256Signer> p256_;
};

// The text of a C2SP tlog-proof: the header, "extra <base64>" when extra
// data is given, "index <index>", one base64 line per proof hash, an empty
// line and the checkpoint note as given.
std::string tlog_proof_text(const std::optional<Bytes>& extra, std::uint64_t index,
                            const std::vector<std::array<std::uint8_t, 32>>& proof, std::string_view note);

// The body of a C2SP tlog-witness add-checkpoint request: "old <size>",
// one base64 line per consistency proof hash, an empty line, the note.
std::string add_checkpoint_request(std::uint64_t old_size, const std::vector<std::array<std::uint8_t, 32>>& proof,
                                   std::string_view note);

// A VerifierList of these key texts; throws with the library's message when
// one does not parse (a fixture that is wrong, not a case under test).
VerifierList verifier_list(const std::vector<std::string>& keys);

}  // namespace quenfold::test
