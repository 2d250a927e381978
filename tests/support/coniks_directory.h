// A CONIKS directory for tests and examples (never part of the shared
// library): inserts identities with values, publishes the root of the
// depth-256 sparse Merkle tree and produces presence and absence proofs in
// the canonical bytes, with compressed authentication paths. Its tree is
// computed from the definitions (labels, leaf material, empty subtrees)
// independently of the verifier's hasher. Keys and openings derive from a
// seed, so fixtures are reproducible.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "crypto/hash.h"

namespace quenfold::test {

using Bytes = std::vector<std::uint8_t>;
using ConiksNode = crypto::Bytes64;
using ConiksIndex = std::array<std::uint8_t, 32>;

// The fields of a lookup proof, so that tests can alter one and serialize.
struct ConiksProofParts {
  bool presence = true;
  Bytes vrf_proof;
  Bytes value;    // presence only
  Bytes opening;  // presence only
  std::array<std::uint8_t, 32> bitmap{};
  std::vector<ConiksNode> siblings;  // for the set bits, from the root down

  Bytes serialize() const;
};

class ConiksDirectory {
 public:
  ConiksDirectory(std::string namespace_name, std::uint64_t seed);

  const std::string& namespace_name() const { return ns_; }
  const Bytes& vrf_public() const { return vrf_public_; }
  std::size_t size() const { return entries_.size(); }

  // Adds or replaces the identity's value (its opening is derived from the
  // seed, the identity and the value).
  void insert(const Bytes& identity, const Bytes& value);
  bool contains(const Bytes& identity) const;

  ConiksNode root() const;
  // The root of an empty directory of this namespace.
  ConiksNode empty_root() const { return empty_[0]; }
  ConiksIndex index_of(const Bytes& identity) const;

  // Presence proof (identity must be present) and absence proof (it must
  // not be); throws otherwise. With `explicit_empty_siblings` every sibling
  // is spelled out, empty subtrees included (all bitmap bits set).
  ConiksProofParts lookup_parts(const Bytes& identity, bool explicit_empty_siblings = false) const;
  ConiksProofParts absence_parts(const Bytes& identity, bool explicit_empty_siblings = false) const;
  Bytes lookup_proof(const Bytes& identity) const { return lookup_parts(identity).serialize(); }
  Bytes absence_proof(const Bytes& identity) const { return absence_parts(identity).serialize(); }

  // The root that `parts`, a proof for `identity`, proves: its leaf (the
  // entry's, or the empty leaf for an absence proof) folded up its path,
  // missing siblings taken as empty subtrees. Lets a benchmark stand
  // sibling values in for subtrees of identities it never computes.
  ConiksNode root_of(const Bytes& identity, const ConiksProofParts& parts) const;

 private:
  struct Entry {
    Bytes identity, value, opening, vrf_proof;
    ConiksIndex index;
  };
  Bytes alpha(const Bytes& identity) const;
  Bytes vrf_proof_of(const Bytes& identity) const;
  ConiksNode leaf_hash(const Entry& e) const;
  ConiksNode node_hash(const ConiksNode& left, const ConiksNode& right) const;
  // The value of the subtree at `depth` whose root lies on the path of
  // `index` (the first `depth` bits of `index` select it).
  ConiksNode subtree(std::size_t depth, const ConiksIndex& index) const;
  // Recomputes the non-empty subtrees after insertions (lazily).
  void rebuild() const;
  void path_of(const ConiksIndex& index, bool explicit_empty, ConiksProofParts& parts) const;

  std::string ns_;
  Bytes vrf_secret_;
  Bytes vrf_public_;
  Bytes opening_seed_;
  std::vector<ConiksNode> empty_;  // Z[0..256]
  std::map<ConiksIndex, Entry> entries_;
  // Every non-empty subtree: (depth, index with the bits below depth cleared).
  mutable std::map<std::pair<std::size_t, ConiksIndex>, ConiksNode> nodes_;
  mutable bool dirty_ = false;
};

}  // namespace quenfold::test
