#include <algorithm>

#include "core/try.h"
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

std::size_t VerifierList::size() const noexcept { return keys_->size(); }

std::span<const note::VerifierKey> VerifierList::parsed() const noexcept { return *keys_; }

std::vector<Signer> VerifierList::keys() const {
  std::vector<Signer> out;
  out.reserve(keys_->size());
  for (const auto& k : *keys_) out.push_back(Signer{k.name, k.key_id, note::key_type_of(k.kind), std::nullopt});
  return out;
}

std::expected<OpenedNote, Error> VerifierList::open(std::string_view note_text) const {
  QUENFOLD_TRY(const auto parsed_note, note::SignedNote::parse(note_text));
  OpenedNote opened;
  // A line that repeats one already verified (same key, same signature
  // bytes) counts again without a second signature check.
  std::vector<const note::NoteSignature*> checked;
  for (const note::NoteSignature& sig : parsed_note.signatures()) {
    const note::VerifierKey* key = note::find_key(*keys_, sig);
    if (key == nullptr) continue;  // lines from keys outside the list are ignored
    const auto same =
        std::find_if(checked.begin(), checked.end(), [&](const note::NoteSignature* c) { return *c == sig; });
    if (same != checked.end()) {
      opened.signers.push_back(opened.signers[static_cast<std::size_t>(same - checked.begin())]);
      checked.push_back(&sig);
      continue;
    }
    std::optional<std::uint64_t> timestamp;
    if (!note::verify_line(*key, parsed_note.body(), sig, timestamp))
      return std::unexpected(Error::invalid_signature(sig.name, sig.key_id));
    opened.signers.push_back(Signer{key->name, key->key_id, note::key_type_of(key->kind), timestamp});
    checked.push_back(&sig);
  }
  if (opened.signers.empty()) return std::unexpected(Error::no_trusted_signature());
  opened.body = parsed_note.body();
  return opened;
}

}  // namespace quenfold
