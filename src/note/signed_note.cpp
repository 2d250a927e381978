#include "note/signed_note.h"

#include <algorithm>

#include "base/try.h"
#include "crypto/sign.h"
#include "encoding/base64.h"
#include "encoding/context.h"
#include "base/reader.h"
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

bool verify_line(const VerifierKey& key, std::string_view body, const NoteSignature& sig,
                 std::optional<std::uint64_t>& timestamp) {
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
      timestamp = t;
      return true;
    }
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
