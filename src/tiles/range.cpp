// Range hashing for audits split across workers: consecutive tiles of one
// level folded into the roots of the largest aligned subtrees they cover.
//
// The subtrees are kept as a stack, like a binary counter: each run of a
// tile's hashes enters as a perfect subtree, and two neighbours of equal size
// merge into their parent exactly when the left one starts on a multiple of
// the doubled size. What remains is, left to right, the unique decomposition
// of the covered range into maximal aligned subtrees, each of which
// TiledTree::subtree_hash can recompute from the tiles above.
#include <array>

#include "tiles/internal.h"

namespace quenfold {

struct TileRangeHasher::Impl {
  std::uint64_t tree_size = 0;
  std::uint8_t level = 0;
  std::uint64_t next_index = 0;
  struct Node {
    std::uint64_t start;
    unsigned log_size;
    Hash32 hash;
  };
  std::vector<Node> stack;

  void push(std::uint64_t start, unsigned log_size, const Hash32& hash) {
    stack.push_back({start, log_size, hash});
    while (stack.size() >= 2) {
      const Node& right = stack[stack.size() - 1];
      const Node& left = stack[stack.size() - 2];
      if (left.log_size != right.log_size || left.log_size >= 63) break;
      if ((left.start & ((std::uint64_t{2} << left.log_size) - 1)) != 0) break;
      const Node merged{left.start, left.log_size + 1, tiles::node(left.hash, right.hash)};
      stack.pop_back();
      stack.back() = merged;
    }
  }

  // A tile's first `width` hashes at level `level`, tile `index`, split into
  // the perfect subtrees they cover, largest first (at most 9: 256 and
  // fewer hashes are a sum of distinct powers of two up to 2^8).
  struct Runs {
    std::array<Node, 9> node;
    std::size_t count = 0;
  };
  Runs runs(std::uint64_t index, std::span<const Hash32> hashes) const {
    const unsigned unit = 8u * level;  // log2 of the leaves under one hash
    Runs out;
    std::size_t offset = 0;
    for (unsigned j = 9; j-- > 0;) {
      const std::size_t run = std::size_t{1} << j;
      if (!(hashes.size() & run)) continue;
      // Inside the tree: the position fits 64 bits (at level 7 the only
      // tile is index 0, and a shift by 64 is not taken).
      const std::uint64_t start = tiles::checked_shl(index, unit + 8).value_or(0) + (std::uint64_t{offset} << unit);
      out.node[out.count++] = {start, unit + j, tiles::perfect_root(hashes.subspan(offset, run))};
      offset += run;
    }
    return out;
  }

  void add_runs(const Runs& r) {
    for (std::size_t i = 0; i < r.count; ++i) push(r.node[i].start, r.node[i].log_size, r.node[i].hash);
    ++next_index;
  }

  void add_hashes(std::uint64_t index, std::span<const Hash32> hashes) { add_runs(runs(index, hashes)); }

  std::expected<void, Error> expect_next(const TileData& t) const {
    if (t.id.index != next_index || t.id.level != level)
      return std::unexpected(Error::malformed_tile(
          tiles::path_of(t.id), "out of order: the range continues with tile " + std::to_string(next_index) +
                                    " at level " + std::to_string(level)));
    return {};
  }
};

TileRangeHasher::TileRangeHasher(std::uint64_t tree_size, std::uint8_t level, std::uint64_t first_index)
    : impl_(std::make_unique<Impl>()) {
  impl_->tree_size = tree_size;
  impl_->level = level;
  impl_->next_index = first_index;
}
TileRangeHasher::~TileRangeHasher() = default;
TileRangeHasher::TileRangeHasher(TileRangeHasher&&) noexcept = default;
TileRangeHasher& TileRangeHasher::operator=(TileRangeHasher&&) noexcept = default;

std::expected<void, Error> TileRangeHasher::add(const TileData& tile) {
  QUENFOLD_CHECK(impl_->expect_next(tile));
  QUENFOLD_TRY(const auto shaped, tiles::shape(impl_->tree_size, tile));
  impl_->add_hashes(shaped.id.index, shaped.hashes);
  return {};
}

std::expected<void, Error> TileRangeHasher::add_entries(const TileData& bundle) {
  QUENFOLD_CHECK(impl_->expect_next(bundle));
  QUENFOLD_TRY(const TileId implied, tiles::entry_tile_shape(impl_->tree_size, bundle));
  std::vector<Hash32> hashes;
  if (bundle.id.kind == TileKind::Entries) {
    QUENFOLD_TRY(const auto entries, parse_entry_bundle(bundle));
    for (std::uint32_t i = 0; i < implied.width; ++i) hashes.push_back(tiles::leaf(entries[i].data));
  } else {
    QUENFOLD_TRY(const auto leaves, parse_data_tile(bundle));
    for (std::uint32_t i = 0; i < implied.width; ++i) hashes.push_back(leaves[i].leaf_hash);
  }
  impl_->add_hashes(implied.index, hashes);
  return {};
}

std::expected<void, Error> TileRangeHasher::add_checked(const TileData& tile, const Hash32& expected,
                                                        const TileData* entries) {
  if (tile.id.kind != TileKind::Hash || tile.id.level != 0)
    return std::unexpected(Error::malformed_tile(tiles::path_of(tile.id), "not a level-0 hash tile"));
  QUENFOLD_CHECK(impl_->expect_next(tile));
  QUENFOLD_TRY(auto shaped, tiles::shape(impl_->tree_size, tile));
  const Impl::Runs runs = impl_->runs(shaped.id.index, shaped.hashes);
  // The tile's own hash: its one perfect subtree, or for a partial tile
  // RFC 6962's right fold of its runs.
  Hash32 mine = runs.node[0].hash;
  if (runs.count > 1) {
    std::array<Hash32, 9> roots;
    for (std::size_t i = 0; i < runs.count; ++i) roots[i] = runs.node[i].hash;
    mine = tiles::fold_right(std::span(roots).first(runs.count));
  }
  if (mine != expected) {
    const std::uint64_t index = shaped.id.index;
    if (!shaped.id.is_partial()) {
      const auto parent = tile_in_tree(impl_->tree_size, 1, index >> 8);
      return std::unexpected(Error::tile_hash_mismatch(
          tiles::path_of(tile.id), "its hashes do not hash to entry " + std::to_string(index & 255) + " of " +
                                       (parent ? tiles::path_of(*parent) : std::string("the tile above"))));
    }
    return std::unexpected(Error::tile_hash_mismatch(
        tiles::path_of(tile.id), "its hashes do not hash to the hash of leaves [" + std::to_string(index << 8) +
                                     ", " + std::to_string((index << 8) + shaped.id.width) +
                                     ") that the tiles above hold"));
  }
  if (entries != nullptr) {
    const AuthenticatedTile level0 = tiles::make_tile(shaped.id, std::move(shaped.hashes));
    if (entries->id.kind == TileKind::Data) {
      QUENFOLD_CHECK(verify_data_tile(level0, *entries));
    } else {
      QUENFOLD_CHECK(verify_entry_bundle(level0, *entries));
    }
  }
  impl_->add_runs(runs);
  return {};
}

std::vector<SubtreeHash> TileRangeHasher::finish() const {
  std::vector<SubtreeHash> out;
  for (const auto& n : impl_->stack) out.push_back({n.start, n.start + (std::uint64_t{1} << n.log_size), n.hash});
  return out;
}

std::expected<std::vector<SubtreeHash>, Error> hash_tile_range(std::uint64_t tree_size,
                                                               std::span<const TileData> tiles) {
  if (tiles.empty()) return std::vector<SubtreeHash>{};
  TileRangeHasher h(tree_size, tiles[0].id.level, tiles[0].id.index);
  for (const TileData& t : tiles) {
    if (t.id.kind == TileKind::Hash) {
      QUENFOLD_CHECK(h.add(t));
    } else {
      QUENFOLD_CHECK(h.add_entries(t));
    }
  }
  return h.finish();
}

std::expected<std::vector<SubtreeHash>, Error> check_leaf_tiles(std::uint64_t tree_size,
                                                                std::span<const Hash32> expected,
                                                                std::span<const TileData> tiles,
                                                                std::span<const TileData> entries) {
  if (tiles.empty() && expected.empty() && entries.empty()) return std::vector<SubtreeHash>{};
  if (tiles.empty() || expected.size() != tiles.size() || (!entries.empty() && entries.size() != tiles.size()))
    return std::unexpected(Error::malformed_tile(
        tiles.empty() ? std::string("no tile") : tiles::path_of(tiles[0].id),
        std::to_string(tiles.size()) + " tiles given with " + std::to_string(expected.size()) +
            " expected hashes and " + std::to_string(entries.size()) + " entry tiles"));
  TileRangeHasher h(tree_size, 0, tiles[0].id.index);
  for (std::size_t i = 0; i < tiles.size(); ++i)
    QUENFOLD_CHECK(h.add_checked(tiles[i], expected[i], entries.empty() ? nullptr : &entries[i]));
  return h.finish();
}

}  // namespace quenfold
