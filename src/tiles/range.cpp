// Range hashing for audits split across workers: consecutive tiles of one
// level folded into the roots of the largest aligned subtrees they cover.
//
// The subtrees are kept as a stack, like a binary counter: each run of a
// tile's hashes enters as a perfect subtree, and two neighbours of equal size
// merge into their parent exactly when the left one starts on a multiple of
// the doubled size. What remains is, left to right, the unique decomposition
// of the covered range into maximal aligned subtrees, each of which
// TiledTree::subtree_hash can recompute from the tiles above.
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

  // A tile's first `width` hashes at level `level`, at tile index `index`.
  void add_hashes(std::uint64_t index, std::span<const Hash32> hashes) {
    const unsigned unit = 8u * level;  // log2 of the leaves under one hash
    std::size_t offset = 0;
    for (unsigned j = 9; j-- > 0;) {
      const std::size_t run = std::size_t{1} << j;
      if (!(hashes.size() & run)) continue;
      // Inside the tree: the position fits 64 bits (at level 7 the only
      // tile is index 0, and a shift by 64 is not taken).
      const std::uint64_t start = tiles::checked_shl(index, unit + 8).value_or(0) + (std::uint64_t{offset} << unit);
      push(start, unit + j, tiles::perfect_root(hashes.subspan(offset, run)));
      offset += run;
    }
    ++next_index;
  }

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

}  // namespace quenfold
