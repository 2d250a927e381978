// Pieces shared by the tile subsystem's files: checked shifts, the Merkle
// hashing of runs of tile hashes, and the representations behind the public
// handles.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "base/try.h"
#include "quenfold/tiles.h"

namespace quenfold {

struct AuthenticatedTile::Impl {
  TileId id;
  std::vector<Hash32> hashes;
  LeafRange leaves;
};

// Held tiles keyed by (level, index).
using TileKey = std::pair<std::uint8_t, std::uint64_t>;

struct TiledTree::State {
  std::uint64_t size = 0;
  Hash32 root{};
  TileOptions options;
  bool edge_authenticated = false;
  std::map<TileKey, AuthenticatedTile> tiles;
};

namespace tiles {

// v >> s, 0 once the shift reaches the width of the type.
inline std::uint64_t shr(std::uint64_t v, unsigned s) noexcept { return s >= 64 ? 0 : v >> s; }

// v << s, nullopt when bits would be lost.
inline std::optional<std::uint64_t> checked_shl(std::uint64_t v, unsigned s) noexcept {
  if (v == 0) return std::uint64_t{0};
  if (s >= 64 || v > (UINT64_MAX >> s)) return std::nullopt;
  return v << s;
}

// A tile's path for messages: its tlog form (the checksum-database form for
// another height), or a description when it cannot be written.
std::string path_of(const TileId& tile);

// SHA-256(0x01 || left || right), hashed as one 65-byte piece.
Hash32 node(const Hash32& left, const Hash32& right) noexcept;
// SHA-256(0x00 || data).
Hash32 leaf(ByteView data) noexcept;
// The Merkle tree hash of a power-of-two number (1 to 256) of hashes.
Hash32 perfect_root(std::span<const Hash32> hashes) noexcept;
// The RFC 6962 Merkle tree hash of one or more consecutive subtree hashes
// given as (hash, log2 of size) pairs, largest first: the right fold.
Hash32 fold_right(std::span<const Hash32> perfect_roots) noexcept;
// The hashes in a tile's bytes (32 each; `bytes` holds at least count).
std::vector<Hash32> read_hashes(ByteView bytes, std::uint32_t count);

AuthenticatedTile make_tile(const TileId& id, std::vector<Hash32> hashes);

// The checks of a given hash tile against the tree of `size` leaves: its
// kind and height, that the tree has it, its width (the tree's, or the full
// width in place of a partial tile) and its exact length. The result is the
// tile's id in the tree and its first `width` hashes.
struct ShapedTile {
  TileId id;  // the width the tree implies
  std::vector<Hash32> hashes;
};
std::expected<ShapedTile, Error> shape(std::uint64_t size, const TileData& data);

// The tile of `size` at the coordinates of `id` with the width the tree
// implies, or the entry tile's width for `kind` Entries/Data, checked the
// same way as shape(); the width the caller may use is returned.
std::expected<TileId, Error> entry_tile_shape(std::uint64_t size, const TileData& data);

}  // namespace tiles
}  // namespace quenfold
