#include "base/try.h"
#include "crypto/sign.h"
#include "encoding/base64.h"
#include "encoding/text.h"
#include "note/signed_note.h"
#include "note/verifier_key.h"
#include "quenfold/verifier.h"

namespace quenfold {
namespace {

using KeySet = std::shared_ptr<const std::vector<note::VerifierKey>>;

template <class Text>
std::expected<KeySet, Error> parse_all(std::span<const Text> texts) {
  auto keys = std::make_shared<std::vector<note::VerifierKey>>();
  keys->reserve(texts.size());
  for (std::size_t i = 0; i < texts.size(); ++i) {
    const std::string_view text = texts[i];
    auto key = note::VerifierKey::parse_any(text);
    if (!key) {
      return std::unexpected(Error::malformed_verifier_key(i + 1, std::string(text.substr(0, text.find('+'))),
                                                           note::key_failure_reason(key.error())));
    }
    keys->push_back(std::move(*key));
  }
  return keys;
}

}  // namespace

const char* name_of(KeyType t) noexcept {
  switch (t) {
    case KeyType::Ed25519:
      return "ed25519";
    case KeyType::Composite:
      return "composite";
    case KeyType::CosignatureV1:
      return "cosignature/v1";
    case KeyType::Rfc6962:
      return "rfc6962";
    case KeyType::SubtreeV1:
      return "subtree/v1";
  }
  return "unknown";
}

VerifierList::VerifierList() : keys_(std::make_shared<const std::vector<note::VerifierKey>>()) {}

VerifierList::VerifierList(std::shared_ptr<const std::vector<note::VerifierKey>> keys) : keys_(std::move(keys)) {}

std::expected<VerifierList, Error> VerifierList::parse(std::span<const std::string_view> vkeys) {
  QUENFOLD_TRY(auto keys, parse_all(vkeys));
  return VerifierList(std::move(keys));
}

std::expected<VerifierList, Error> VerifierList::parse(std::span<const std::string> vkeys) {
  QUENFOLD_TRY(auto keys, parse_all(vkeys));
  return VerifierList(std::move(keys));
}

VerifierList VerifierList::of(std::vector<note::VerifierKey> keys) {
  return VerifierList(std::make_shared<const std::vector<note::VerifierKey>>(std::move(keys)));
}

std::size_t VerifierList::size() const noexcept { return keys_->size(); }

std::span<const note::VerifierKey> VerifierList::parsed() const noexcept { return *keys_; }

std::vector<Signer> VerifierList::keys() const {
  std::vector<Signer> out;
  out.reserve(keys_->size());
  for (const auto& k : *keys_) out.push_back(note::signer_of(k));
  return out;
}

std::expected<OpenedNote, Error> VerifierList::open(std::string_view note_text) const {
  QUENFOLD_TRY(const auto parsed_note, note::SignedNote::parse(note_text));
  QUENFOLD_TRY(const auto lines, parsed_note.verify(*keys_));
  OpenedNote opened;
  opened.signers.reserve(lines.size());
  for (const note::VerifiedLine& line : lines)
    opened.signers.push_back(note::signer_of(*line.key, line.time));
  opened.body = parsed_note.body();
  return opened;
}

std::expected<std::string, Error> rfc6962_verifier_key(std::string_view origin, std::string_view spki_base64) {
  const auto fail = [&](std::string reason) {
    return std::unexpected(Error::malformed_verifier_key(1, std::string(origin), std::move(reason)));
  };
  if (!note::is_valid_key_name(origin)) return fail("the origin is not a valid key name");
  auto spki = encoding::base64_decode(spki_base64);
  if (!spki) return fail("public key is not valid base64");
  if (!crypto::is_ecdsa_p256_spki(*spki)) return fail("public key is not an ECDSA P-256 SubjectPublicKeyInfo");
  Bytes data{note::kRfc6962KeyType};
  data.insert(data.end(), spki->begin(), spki->end());
  return std::string(origin) + "+" + encoding::hex_fixed(note::rfc6962_key_id(origin, *spki), 8) + "+" +
         encoding::base64_encode(data);
}

}  // namespace quenfold
