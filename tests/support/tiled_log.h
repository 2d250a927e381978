// A tiled log written from its records alone, for the tile tests: the hash
// tiles of every level (full, and the partial tiles of any tree size), the
// tlog-tiles entry bundles or the static-ct-api data tiles, keyed by their
// paths. Paths, tile bytes, TileLeaf encodings and hashes are produced here
// from the formats' definitions (RFC 6962 hashing through the independent
// MerkleTree builder), not through the library.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "support/merkle_tree.h"

namespace quenfold::test {

// One static-ct-api entry, before encoding.
struct CtEntry {
  bool precert = false;
  std::uint64_t timestamp = 0;
  std::vector<std::uint8_t> certificate;      // x509: the certificate; precert: the TBSCertificate
  std::vector<std::uint8_t> issuer_key_hash;  // precert: 32 bytes
  std::vector<std::uint8_t> pre_certificate;  // precert
  std::vector<std::vector<std::uint8_t>> issuers;  // the chain's certificates (fingerprinted)
};

// The TimestampedEntry bytes of `e` with a leaf_index extension of `index`.
std::vector<std::uint8_t> timestamped_entry(const CtEntry& e, std::uint64_t index);
// The TileLeaf bytes: TimestampedEntry, pre_certificate, fingerprints.
std::vector<std::uint8_t> tile_leaf(const CtEntry& e, std::uint64_t index);
// A deterministic entry for position i (precert for odd i), with a one- or
// two-certificate chain.
CtEntry sample_ct_entry(std::uint64_t i);

// A path in the tlog form, written here from the format's definition:
// "tile/<L>/<N>[.p/<W>]" with N in x-prefixed three-digit groups; L may be
// "entries" or "data".
std::string tlog_path(const std::string& level, std::uint64_t index, std::uint32_t width = 256);

class TiledLog {
 public:
  enum class Kind { Bundles, StaticCt };

  // Entry i is the text "entry <i>" (bundles) or sample_ct_entry(i).
  static TiledLog synthetic(std::uint64_t n, Kind kind);
  // Bundles of the given entries.
  static TiledLog of_entries(const std::vector<std::vector<std::uint8_t>>& entries);

  std::uint64_t size() const { return tree_.size(); }
  const MerkleTree& tree() const { return tree_; }
  Hash root(std::uint64_t size) const { return tree_.root(size); }
  // The hash at `level` and position j: MTH of leaves [j * 256^level, (j+1) * 256^level).
  const Hash& level_hash(unsigned level, std::uint64_t j) const { return levels_.at(level).at(j); }

  // Every file a log of `size` entries serves (size <= this->size()): full
  // tiles, the partial tile of each level, and the entry bundles or data
  // tiles, full and partial.
  std::map<std::string, std::vector<std::uint8_t>> files(std::uint64_t size) const;
  // One hash tile of a tree of `size` at its implied width (full when
  // index < the level's full-tile count).
  std::vector<std::uint8_t> hash_tile(std::uint64_t size, unsigned level, std::uint64_t index) const;
  // The entry bundle or data tile `index` of a tree of `size`.
  std::vector<std::uint8_t> entry_tile(std::uint64_t size, std::uint64_t index) const;
  // Record i as it appears in a bundle (its bytes) or data tile (TileLeaf).
  const std::vector<std::uint8_t>& record(std::uint64_t i) const { return records_.at(i); }
  Kind kind() const { return kind_; }

 private:
  void add(std::vector<std::uint8_t> record, const Hash& leaf_hash);
  void build_levels();

  Kind kind_ = Kind::Bundles;
  MerkleTree tree_;
  std::vector<std::vector<std::uint8_t>> records_;
  std::vector<std::vector<Hash>> levels_;
};

}  // namespace quenfold::test
