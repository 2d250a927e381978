#include "note/signed_note.h"

#include <algorithm>

#include "base/try.h"
#include "crypto/sign.h"
#include "encoding/base64.h"
#include "encoding/context.h"
#include "base/reader.h"
#include "base/writer.h"
#include "encoding/text.h"
#include "quenfold/note.h"

namespace quenfold::note {
namespace {

// U+2014 EM DASH followed by a space.
constexpr std::string_view kLinePrefix = "\xE2\x80\x94 ";

Error malformed(std::string detail) { return Error::malformed_signed_note(std::move(detail)); }

std::expected<NoteSignature, Error> parse_line(std::string_view line) {
  if (line.size() < kLinePrefix.size() || !line.starts_with(kLinePrefix))
    return std::unexpected(malformed("signature line missing '\xE2\x80\x94 ' prefix: " + encoding::echoed(line)));
  const std::string_view rest = line.substr(kLinePrefix.size());
  const std::size_t space = rest.find(' ');
  if (space == std::string_view::npos) return std::unexpected(malformed("signature line missing space"));
  const std::string_view name = rest.substr(0, space);
  const std::string_view blob_text = rest.substr(space + 1);
  if (!is_valid_key_name(name) || blob_text.empty())
    return std::unexpected(malformed("invalid signature line name/blob: " + encoding::echoed(line)));
  QUENFOLD_TRY(const Bytes blob, encoding::base64_decode(blob_text));
  if (blob.size() <= 4) return std::unexpected(malformed("signature blob too short"));
  encoding::Reader r(blob);
  const std::uint32_t key_id = *r.u32("key id");  // at least 5 bytes remain
  const ByteView sig = r.rest();
  return NoteSignature{std::string(name), key_id, Bytes(sig.begin(), sig.end())};
}

}  // namespace

std::expected<SignedNote, Error> SignedNote::parse(std::string_view text) {
  const bool forbidden = std::any_of(text.begin(), text.end(), [](char c) {
    const auto b = static_cast<unsigned char>(c);
    return b < 0x20 && b != 0x0A;
  });
  if (forbidden) return std::unexpected(malformed("note contains a forbidden control character"));

  const std::size_t sep = text.rfind("\n\n");
  if (sep == std::string_view::npos) return std::unexpected(malformed("missing blank-line signature separator"));
  const std::string_view body = text.substr(0, sep + 1);
  const std::string_view block = text.substr(sep + 2);
  if (block.empty() || block.back() != '\n')
    return std::unexpected(malformed("signature block is empty or unterminated"));

  std::vector<NoteSignature> signatures;
  std::size_t start = 0;
  while (start < block.size()) {
    const std::size_t end = block.find('\n', start);  // found: the block ends in '\n'
    QUENFOLD_TRY(NoteSignature sig, parse_line(block.substr(start, end - start)));
    signatures.push_back(std::move(sig));
    if (signatures.size() > kMaxSignatures) return std::unexpected(malformed("too many signatures"));
    start = end + 1;
  }
  return SignedNote(std::string(body), std::move(signatures));
}

std::string cosignature_v1_message(std::uint64_t timestamp, std::string_view body) {
  std::string message(kCosignatureV1Header);
  message += "time " + std::to_string(timestamp) + "\n";
  message += body;
  return message;
}

const VerifierKey* find_key(std::span<const VerifierKey> keys, const NoteSignature& sig) noexcept {
  const auto key = std::find_if(keys.begin(), keys.end(), [&](const VerifierKey& k) {
    return k.key_id == sig.key_id && k.name == sig.name;
  });
  return key == keys.end() ? nullptr : &*key;
}

std::optional<Bytes> subtree_v1_message(std::string_view cosigner, std::uint64_t timestamp, std::string_view origin,
                                        std::uint64_t start, std::uint64_t end, ByteView hash) {
  // opaque cosigner_name<1..2^8-1> and log_origin<1..2^8-1>: a name or an
  // origin that does not fit has no message, so no signature can cover it.
  if (cosigner.empty() || cosigner.size() > 255 || origin.empty() || origin.size() > 255 || hash.size() != 32)
    return std::nullopt;
  encoding::Writer w;
  w.bytes(kSubtreeV1Label).prefixed(1, cosigner).u64(timestamp).prefixed(1, origin).u64(start).u64(end).bytes(hash);
  return w.take();
}

Bytes rfc6962_tree_head_message(std::uint64_t timestamp, std::uint64_t size, ByteView root) {
  constexpr std::uint8_t kV1 = 0, kTreeHash = 1;
  encoding::Writer w;
  w.u8(kV1).u8(kTreeHash).u64(timestamp).u64(size).bytes(root);
  return w.take();
}

namespace {

// RFC 5246 SignatureAndHashAlgorithm of an ECDSA P-256 tree head signature.
constexpr std::uint8_t kHashSha256 = 4;
constexpr std::uint8_t kSignatureEcdsa = 3;

bool verify_rfc6962(const VerifierKey& key, const NoteSignature& sig, const CheckpointHead& head, SignedTime& time) {
  // static-ct-api: the key is named after the origin, and a checkpoint it
  // signs carries no extension lines (the tree head could not cover them).
  if (key.name != head.origin || !head.extensions.empty()) return false;
  encoding::Reader r(sig.signature);
  const auto timestamp = r.u64("timestamp");
  const auto hash = r.u8("hash algorithm");
  const auto algorithm = r.u8("signature algorithm");
  const auto length = r.u16("signature length");
  if (!timestamp || !hash || !algorithm || !length || *hash != kHashSha256 || *algorithm != kSignatureEcdsa)
    return false;
  const auto der = r.bytes(*length, "signature");
  if (!der || !r.empty()) return false;
  const Bytes message = rfc6962_tree_head_message(*timestamp, head.size, head.root);
  const bool ok = key.ecdsa ? key.ecdsa->verify_sha256(message, *der)
                            : crypto::verify_ecdsa_p256_sha256(key.public_key, message, *der);
  if (!ok) return false;
  time.millis = *timestamp;
  return true;
}

bool verify_subtree_v1(const VerifierKey& key, const NoteSignature& sig, const CheckpointHead& head,
                       SignedTime& time) {
  if (sig.signature.size() != 8 + kMlDsa44SignatureLength) return false;
  encoding::Reader r(sig.signature);
  const std::uint64_t t = *r.u64("timestamp");  // 2428 bytes remain
  if (t > kMaxCosignatureTimestamp) return false;
  // A checkpoint is the subtree [0, size): a signature over any other start
  // never stands for it.
  const auto message = subtree_v1_message(key.name, t, head.origin, 0, head.size, head.root);
  if (!message || !crypto::verify_ml_dsa(crypto::MlDsaParameterSet::MlDsa44, key.public_key, *message, r.rest()))
    return false;
  if (t != 0) time.seconds = t;  // a time of 0 claims none
  return true;
}

}  // namespace

bool verify_line(const VerifierKey& key, std::string_view body, const NoteSignature& sig, SignedTime& time,
                 const CheckpointHead* checkpoint) {
  switch (key.kind) {
    case KeyKind::Ed25519:
      return sig.signature.size() == 64 &&
             crypto::verify_ed25519_strict(key.public_key, encoding::bytes_of(body), sig.signature);
    case KeyKind::Composite:
      // The token check on the raw bytes: the same answer as verify_token
      // on their base64 encodings (which always decode back to them),
      // with a token error counted as a signature that does not verify.
      return crypto::verify_token_bytes(encoding::bytes_of(body), encoding::bytes_of(kSignedNoteContext),
                                        sig.signature, key.public_key);
    case KeyKind::CosignatureV1: {
      if (sig.signature.size() != kCosignatureV1Length) return false;
      encoding::Reader r(sig.signature);
      const std::uint64_t t = *r.u64("timestamp");  // 72 bytes remain
      if (t > kMaxCosignatureTimestamp) return false;
      const std::string message = cosignature_v1_message(t, body);
      if (!crypto::verify_ed25519_strict(key.public_key, encoding::bytes_of(message), r.rest())) return false;
      time.seconds = t;
      return true;
    }
    case KeyKind::Rfc6962:
      return checkpoint != nullptr && verify_rfc6962(key, sig, *checkpoint, time);
    case KeyKind::SubtreeV1:
      return checkpoint != nullptr && verify_subtree_v1(key, sig, *checkpoint, time);
  }
  return false;
}

std::expected<std::vector<VerifiedLine>, Error> SignedNote::verify(std::span<const VerifierKey> keys) const {
  QUENFOLD_TRY(auto verified, verify_known([&](const NoteSignature& sig) { return find_key(keys, sig); }));
  if (verified.empty()) return std::unexpected(Error::no_trusted_signature());
  return verified;
}

}  // namespace quenfold::note

namespace quenfold {

std::expected<std::uint32_t, Error> verify_signed_note(std::string_view note_text,
                                                       std::span<const std::string_view> vkeys) {
  QUENFOLD_TRY(const auto keys, note::parse_verifier_keys(vkeys));
  QUENFOLD_TRY(const note::SignedNote parsed, note::SignedNote::parse(note_text));
  QUENFOLD_TRY(const auto verified, parsed.verify(keys));
  return static_cast<std::uint32_t>(verified.size());
}

}  // namespace quenfold
