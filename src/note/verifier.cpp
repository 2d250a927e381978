#include "base/try.h"
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
    opened.signers.push_back(note::signer_of(*line.key, line.timestamp));
  opened.body = parsed_note.body();
  return opened;
}

}  // namespace quenfold
