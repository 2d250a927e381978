#include "checkpoint/open.h"

#include <algorithm>

#include "checkpoint/checkpoint.h"
#include "base/try.h"
#include "encoding/text.h"

namespace quenfold::checkpoint {
namespace {

std::string index_key(std::string_view name, std::uint32_t key_id) {
  std::string k(name);
  k.push_back('\n');
  for (int shift = 24; shift >= 0; shift -= 8) k.push_back(static_cast<char>(key_id >> shift & 0xFF));
  return k;
}

const note::VerifierKey* find_in(std::span<const note::VerifierKey> keys, const KeyIndex* index,
                                 const note::NoteSignature& sig) {
  if (index == nullptr) return note::find_key(keys, sig);
  const auto at = index->find(sig);
  return at ? &keys[*at] : nullptr;
}

bool in(std::span<const note::VerifierKey> keys, const note::VerifierKey* key) {
  return !keys.empty() && key >= keys.data() && key < keys.data() + keys.size();
}

Signer signer_of(const note::VerifiedLine& line) { return note::signer_of(*line.key, line.timestamp); }

std::string quorum_failure(const std::vector<Signer>& cosigners) {
  std::string detail =
      std::to_string(cosigners.size()) + " valid cosignature" + (cosigners.size() == 1 ? "" : "s");
  for (std::size_t i = 0; i < cosigners.size(); ++i)
    detail += (i == 0 ? " (" : ", ") + encoding::echoed(cosigners[i].name);
  if (!cosigners.empty()) detail += ")";
  return detail;
}

}  // namespace

KeyIndex::KeyIndex(std::span<const note::VerifierKey> keys) {
  by_id_.reserve(keys.size());
  for (std::size_t i = 0; i < keys.size(); ++i) by_id_.try_emplace(index_key(keys[i].name, keys[i].key_id), i);
}

std::optional<std::size_t> KeyIndex::find(const note::NoteSignature& sig) const {
  const auto it = by_id_.find(index_key(sig.name, sig.key_id));
  if (it == by_id_.end()) return std::nullopt;
  return it->second;
}

bool Quorum::holds(const std::vector<bool>& cosigned) const {
  std::vector<bool> node_holds(nodes.size(), false);
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    const Node& node = nodes[i];
    if (node.witness) {
      node_holds[i] = cosigned[*node.witness];
    } else {
      const auto count = static_cast<std::size_t>(
          std::count_if(node.members.begin(), node.members.end(), [&](std::size_t m) { return node_holds[m]; }));
      node_holds[i] = count >= node.k;
    }
  }
  return node_holds[root];
}

std::expected<OpenedCheckpoint, Error> open_checkpoint(std::string_view note_text, const Trust& trust) {
  QUENFOLD_TRY(const auto parsed, note::SignedNote::parse(note_text));
  // A log key is looked up first: should a witness key share a log key's
  // name and id, the line is the log's.
  QUENFOLD_TRY(const auto lines, parsed.verify_known([&](const note::NoteSignature& sig) {
    const note::VerifierKey* key = find_in(trust.log_keys, trust.log_index, sig);
    return key != nullptr ? key : find_in(trust.witness_keys, trust.witness_index, sig);
  }));

  OpenedCheckpoint out;
  std::vector<bool> cosigned(trust.witness_keys.size(), false);
  for (const note::VerifiedLine& line : lines) {
    if (in(trust.log_keys, line.key)) {
      out.log_signers.push_back(signer_of(line));
      continue;
    }
    const auto w = static_cast<std::size_t>(line.key - trust.witness_keys.data());
    if (cosigned[w]) continue;  // each witness counts once
    cosigned[w] = true;
    out.cosigners.push_back(signer_of(line));
  }
  if (trust.require_log && out.log_signers.empty()) return std::unexpected(Error::no_trusted_signature());

  QUENFOLD_TRY(out.head, parse_checkpoint_body(parsed.body()));
  if (trust.log_named_by_origin) {
    std::erase_if(out.log_signers, [&](const Signer& s) { return s.name != out.head.origin; });
    if (trust.require_log && out.log_signers.empty()) return std::unexpected(Error::no_trusted_signature());
  }
  if (trust.origin && out.head.origin != *trust.origin)
    return std::unexpected(Error::origin_mismatch(out.head.origin, std::string(*trust.origin)));
  if (trust.quorum != nullptr && !trust.quorum->holds(cosigned))
    return std::unexpected(Error::witness_quorum_not_met(quorum_failure(out.cosigners)));
  out.body = parsed.body();
  return out;
}

}  // namespace quenfold::checkpoint
