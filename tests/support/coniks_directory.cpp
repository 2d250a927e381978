#include "support/coniks_directory.h"

#include <algorithm>
#include <stdexcept>

#include "crypto/vrf.h"
#include "support/vrf_reference.h"
#include "encoding/context.h"

namespace quenfold::test {
namespace {

void put_u32(Bytes& out, std::size_t v) {
  for (int i = 3; i >= 0; --i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

bool bit(const ConiksIndex& index, std::size_t i) { return (index[i / 8] >> (7 - i % 8)) & 1; }

// The index with every bit from position `depth` on cleared: the name of
// the subtree at `depth` on its path.
ConiksIndex prefix(const ConiksIndex& index, std::size_t depth) {
  ConiksIndex out{};
  for (std::size_t i = 0; i < depth; ++i)
    if (bit(index, i)) out[i / 8] = static_cast<std::uint8_t>(out[i / 8] | (0x80 >> (i % 8)));
  return out;
}

ConiksIndex flip(const ConiksIndex& index, std::size_t i) {
  ConiksIndex out = index;
  out[i / 8] = static_cast<std::uint8_t>(out[i / 8] ^ (0x80 >> (i % 8)));
  return out;
}

crypto::Bytes64 context_hash(const std::string& label, const Bytes& data) {
  return encoding::sha3_512_with_context(label, data);
}

}  // namespace

Bytes ConiksProofParts::serialize() const {
  Bytes out{static_cast<std::uint8_t>(presence ? 0x01 : 0x00)};
  put_u32(out, vrf_proof.size());
  out.insert(out.end(), vrf_proof.begin(), vrf_proof.end());
  if (presence) {
    put_u32(out, value.size());
    out.insert(out.end(), value.begin(), value.end());
    out.insert(out.end(), opening.begin(), opening.end());
  }
  out.insert(out.end(), bitmap.begin(), bitmap.end());
  for (const auto& s : siblings) out.insert(out.end(), s.begin(), s.end());
  return out;
}

ConiksDirectory::ConiksDirectory(std::string namespace_name, std::uint64_t seed) : ns_(std::move(namespace_name)) {
  Bytes seed_bytes(8);
  for (std::size_t i = 0; i < 8; ++i) seed_bytes[i] = static_cast<std::uint8_t>(seed >> (8 * i));
  const std::string vrf_tag = "coniks test directory vrf key", opening_tag = "coniks test directory openings";
  const auto sk = crypto::sha256({encoding::bytes_of(vrf_tag), seed_bytes});
  vrf_secret_.assign(sk.begin(), sk.end());
  vrf_public_ = *ecvrf_edwards25519_prover().public_key_from_secret(vrf_secret_);
  const auto os = crypto::sha256({encoding::bytes_of(opening_tag), seed_bytes});
  opening_seed_.assign(os.begin(), os.end());

  // Z[256] is the empty leaf; Z[d-1] = node(Z[d], Z[d]).
  empty_.resize(257);
  empty_[256] = context_hash(ns_ + "/coniks-empty/v1", {});
  for (std::size_t d = 256; d > 0; --d) empty_[d - 1] = node_hash(empty_[d], empty_[d]);
}

Bytes ConiksDirectory::alpha(const Bytes& identity) const {
  Bytes a;
  put_u32(a, ns_.size());
  a.insert(a.end(), ns_.begin(), ns_.end());
  a.insert(a.end(), identity.begin(), identity.end());
  return a;
}

Bytes ConiksDirectory::vrf_proof_of(const Bytes& identity) const {
  auto pi = ecvrf_edwards25519_prover().prove(vrf_secret_, alpha(identity));
  if (!pi) throw std::runtime_error("vrf prove failed: " + pi.error().message());
  return *pi;
}

ConiksIndex ConiksDirectory::index_of(const Bytes& identity) const {
  const auto beta = ecvrf_edwards25519_prover().proof_to_hash(vrf_proof_of(identity));
  ConiksIndex index{};
  std::copy_n(beta->begin(), index.size(), index.begin());
  return index;
}

void ConiksDirectory::insert(const Bytes& identity, const Bytes& value) {
  Entry e;
  e.identity = identity;
  e.value = value;
  const auto opening = crypto::sha256({opening_seed_, alpha(identity), value});
  e.opening.assign(opening.begin(), opening.end());
  e.vrf_proof = vrf_proof_of(identity);
  const auto beta = ecvrf_edwards25519_prover().proof_to_hash(e.vrf_proof);
  std::copy_n(beta->begin(), e.index.size(), e.index.begin());
  entries_[e.index] = std::move(e);
  dirty_ = true;
}

bool ConiksDirectory::contains(const Bytes& identity) const { return entries_.count(index_of(identity)) != 0; }

ConiksNode ConiksDirectory::leaf_hash(const Entry& e) const {
  Bytes opening_value = e.opening;
  opening_value.insert(opening_value.end(), e.value.begin(), e.value.end());
  const auto commitment = context_hash(ns_ + "/coniks-commitment/v1", opening_value);
  Bytes leaf{0x03};
  leaf.insert(leaf.end(), e.index.begin(), e.index.end());
  leaf.insert(leaf.end(), commitment.begin(), commitment.end());
  return context_hash(ns_ + "/coniks-leaf/v1", leaf);
}

ConiksNode ConiksDirectory::node_hash(const ConiksNode& left, const ConiksNode& right) const {
  Bytes data(left.begin(), left.end());
  data.insert(data.end(), right.begin(), right.end());
  return context_hash(ns_ + "/coniks-node/v1", data);
}

ConiksNode ConiksDirectory::subtree(std::size_t depth, const ConiksIndex& index) const {
  rebuild();
  const auto it = nodes_.find({depth, prefix(index, depth)});
  return it == nodes_.end() ? empty_[depth] : it->second;
}

void ConiksDirectory::rebuild() const {
  if (!dirty_) return;
  dirty_ = false;
  // Bottom-up over the non-empty subtrees only: level 256 holds the leaves,
  // each level above pairs the children of the subtrees below.
  nodes_.clear();
  for (const auto& [index, e] : entries_) nodes_[{256, index}] = leaf_hash(e);
  for (std::size_t d = 256; d > 0; --d) {
    for (const auto& [index, e] : entries_) {
      const auto key = std::pair{d - 1, prefix(index, d - 1)};
      if (nodes_.count(key)) continue;
      const ConiksIndex left = prefix(index, d - 1);
      const ConiksIndex right = flip(left, d - 1);
      nodes_[key] = node_hash(subtree(d, left), subtree(d, right));
    }
  }
}

ConiksNode ConiksDirectory::root() const { return subtree(0, ConiksIndex{}); }

void ConiksDirectory::path_of(const ConiksIndex& index, bool explicit_empty, ConiksProofParts& parts) const {
  rebuild();
  for (std::size_t i = 0; i < 256; ++i) {
    // The sibling at depth i + 1: the other child of the node at depth i.
    const ConiksIndex sibling = flip(prefix(index, i + 1), i);
    const bool present = nodes_.count({i + 1, sibling}) != 0;
    if (!present && !explicit_empty) continue;
    parts.bitmap[i / 8] = static_cast<std::uint8_t>(parts.bitmap[i / 8] | (0x80 >> (i % 8)));
    parts.siblings.push_back(subtree(i + 1, sibling));
  }
}

ConiksProofParts ConiksDirectory::lookup_parts(const Bytes& identity, bool explicit_empty_siblings) const {
  const auto it = entries_.find(index_of(identity));
  if (it == entries_.end()) throw std::invalid_argument("identity is not in the directory");
  ConiksProofParts parts;
  parts.presence = true;
  parts.vrf_proof = it->second.vrf_proof;
  parts.value = it->second.value;
  parts.opening = it->second.opening;
  path_of(it->first, explicit_empty_siblings, parts);
  return parts;
}

ConiksProofParts ConiksDirectory::absence_parts(const Bytes& identity, bool explicit_empty_siblings) const {
  const ConiksIndex index = index_of(identity);
  if (entries_.count(index)) throw std::invalid_argument("identity is in the directory");
  ConiksProofParts parts;
  parts.presence = false;
  parts.vrf_proof = vrf_proof_of(identity);
  path_of(index, explicit_empty_siblings, parts);
  return parts;
}

ConiksNode ConiksDirectory::root_of(const Bytes& identity, const ConiksProofParts& parts) const {
  const ConiksIndex index = index_of(identity);
  ConiksNode current = parts.presence ? leaf_hash(entries_.at(index)) : empty_[256];
  std::size_t next = parts.siblings.size();  // siblings are listed from the root down
  for (std::size_t i = 256; i-- > 0;) {
    const bool explicit_sibling = (parts.bitmap[i / 8] & (0x80 >> (i % 8))) != 0;
    if (explicit_sibling && next == 0) throw std::invalid_argument("bitmap names more siblings than given");
    const ConiksNode sibling = explicit_sibling ? parts.siblings[--next] : empty_[i + 1];
    current = bit(index, i) ? node_hash(sibling, current) : node_hash(current, sibling);
  }
  return current;
}

}  // namespace quenfold::test
