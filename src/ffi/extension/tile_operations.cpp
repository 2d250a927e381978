#include "ffi/extension/tile_operations.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <string>

#include "base/try.h"
#include "quenfold/merkle.h"

namespace quenfold::ffi::ext {

namespace {

template <class T>
TileRef<T> shared(T value) {
  return std::make_shared<const T>(std::move(value));
}

// Tiles arrive as parallel lists of canonical paths and bytes; the views
// borrow from the argument buffers for the duration of the call.
TileResult<std::vector<TileData>> tile_data(const Paths& paths, const Blobs& tiles) {
  if (paths.size() != tiles.size())
    return std::unexpected(Error::malformed_tile("", std::to_string(paths.size()) + " paths for " +
                                                         std::to_string(tiles.size()) + " tiles"));
  std::vector<TileData> out;
  out.reserve(paths.size());
  for (std::size_t i = 0; i < paths.size(); ++i) {
    QUENFOLD_TRY(const TileId id, quenfold::parse_tile_path(paths[i]));
    out.push_back({id, tiles[i]});
  }
  return out;
}

TileResult<TileData> one_tile(std::string_view path, ByteView bytes) {
  QUENFOLD_TRY(const TileId id, quenfold::parse_tile_path(path));
  return TileData{id, bytes};
}

bool power_of_two(std::uint64_t n) { return std::has_single_bit(n); }

// `left` and `right` are the two halves of one RFC 6962 subtree: `left` a
// full subtree of 2^k leaves starting at a multiple of 2^(k+1), `right`
// directly after it and no larger.
bool siblings(const SubtreeHash& left, const SubtreeHash& right) {
  const std::uint64_t n = left.end - left.start;
  return left.end == right.start && power_of_two(n) && right.end - right.start <= n &&
         (n > (UINT64_MAX >> 1) || left.start % (n << 1) == 0);
}

SubtreeHash parent(const SubtreeHash& left, const SubtreeHash& right) {
  return {left.start, right.end, rfc6962_node_hash(left.hash, right.hash)};
}

}  // namespace

TileResult<TileId> parse_tile_path(std::string_view path) { return quenfold::parse_tile_path(path); }

TileResult<TileId> parse_sumdb_tile_path(std::string_view path) {
  return quenfold::parse_tile_path(path, TilePathForm::Sumdb);
}

TileResult<std::string> format_tile_path(TileKind kind, std::uint8_t level, std::uint64_t index,
                                         std::uint32_t width) {
  return quenfold::format_tile_path(TileId{kind, level, index, width, kTileHeight});
}

TileResult<std::string> format_sumdb_tile_path(TileKind kind, std::uint8_t level, std::uint64_t index,
                                               std::uint32_t width, std::uint8_t height) {
  return quenfold::format_tile_path(TileId{kind, level, index, width, height}, TilePathForm::Sumdb);
}

TileResult<std::vector<SubtreeHash>> hash_tile_range(std::uint64_t tree_size, const Paths& paths,
                                                     const Blobs& tiles) {
  QUENFOLD_TRY(const auto data, tile_data(paths, tiles));
  return quenfold::hash_tile_range(tree_size, data);
}

TileResult<std::vector<SubtreeHash>> hash_entry_range(std::uint64_t tree_size, const Paths& paths,
                                                      const Blobs& tiles) {
  QUENFOLD_TRY(const auto data, tile_data(paths, tiles));
  if (data.empty()) return std::vector<SubtreeHash>{};
  TileRangeHasher hasher(tree_size, 0, data.front().id.index);
  for (const TileData& t : data) QUENFOLD_CHECK(hasher.add_entries(t));
  return hasher.finish();
}

TileResult<std::vector<SubtreeHash>> check_leaf_tiles(std::uint64_t tree_size, ByteView expected, const Paths& paths,
                                                      const Blobs& tiles, const Paths& entry_paths,
                                                      const Blobs& entries) {
  if (expected.size() != 32 * paths.size())
    return std::unexpected(Error::invalid_hash_length(expected.size(), 32 * paths.size()));
  QUENFOLD_TRY(const auto data, tile_data(paths, tiles));
  QUENFOLD_TRY(const auto entry_data, tile_data(entry_paths, entries));
  std::vector<Hash32> hashes(paths.size());
  for (std::size_t i = 0; i < hashes.size(); ++i) std::memcpy(hashes[i].data(), expected.data() + 32 * i, 32);
  return quenfold::check_leaf_tiles(tree_size, hashes, data, entry_data);
}

// Equal siblings are joined as they arrive; what is left once the tree's
// last leaf is in is its right edge, folded from the right as RFC 6962's
// MTH splits it. Before that a smaller right part may still grow.
TileResult<std::vector<SubtreeHash>> combine_subtrees(std::uint64_t tree_size, const std::vector<SubtreeHash>& subtrees) {
  std::vector<SubtreeHash> stack;
  for (const SubtreeHash& s : subtrees) {
    const std::uint64_t n = s.end - s.start;
    const std::uint64_t span = std::bit_ceil(std::max<std::uint64_t>(n, 1));
    if (s.end <= s.start || (span != 0 && s.start % span != 0))
      return std::unexpected(Error::invalid_subtree(s.start, s.end));
    if (!stack.empty() && stack.back().end != s.start) return std::unexpected(Error::invalid_subtree(s.start, s.end));
    stack.push_back(s);
    while (stack.size() >= 2 &&
           stack[stack.size() - 2].end - stack[stack.size() - 2].start == stack.back().end - stack.back().start &&
           siblings(stack[stack.size() - 2], stack.back())) {
      const SubtreeHash joined = parent(stack[stack.size() - 2], stack.back());
      stack.pop_back();
      stack.back() = joined;
    }
  }
  while (!stack.empty() && stack.back().end == tree_size && stack.size() >= 2 &&
         siblings(stack[stack.size() - 2], stack.back())) {
    const SubtreeHash joined = parent(stack[stack.size() - 2], stack.back());
    stack.pop_back();
    stack.back() = joined;
  }
  return stack;
}

TileResult<std::uint64_t> check_entries(std::string_view tile_path, ByteView tile, std::string_view entries_path,
                                        ByteView entries) {
  QUENFOLD_TRY(const TileData level0, one_tile(tile_path, tile));
  QUENFOLD_TRY(const TileData bundle, one_tile(entries_path, entries));
  if (level0.id.kind != TileKind::Hash || level0.id.level != 0 || bundle.id.kind == TileKind::Hash ||
      bundle.id.index != level0.id.index)
    return std::unexpected(Error::malformed_tile(std::string(entries_path),
                                                 "checked against " + std::string(tile_path) +
                                                     ", which is not its level-0 tile"));
  std::vector<Hash32> leaves;
  if (bundle.id.kind == TileKind::Entries) {
    QUENFOLD_TRY(const auto parsed, quenfold::parse_entry_bundle(bundle));
    for (const BundleEntry& e : parsed) leaves.push_back(rfc6962_leaf_hash(e.data));
  } else {
    QUENFOLD_TRY(const auto parsed, quenfold::parse_data_tile(bundle));
    for (const CtTileLeaf& l : parsed) leaves.push_back(l.leaf_hash);
  }
  // The level-0 tile may be full where a deleted partial bundle stands in,
  // and a full bundle may stand for a partial tile: the tile's width counts.
  const std::size_t n = std::min<std::size_t>(leaves.size(), level0.id.width);
  if (tile.size() != std::size_t{level0.id.width} * sizeof(Hash32) || leaves.size() < level0.id.width)
    return std::unexpected(Error::malformed_tile(std::string(tile_path),
                                                 std::to_string(tile.size()) + " bytes for " +
                                                     std::to_string(level0.id.width) + " hashes and " +
                                                     std::to_string(leaves.size()) + " entries"));
  for (std::size_t i = 0; i < n; ++i) {
    const ByteView slot = tile.subspan(i * sizeof(Hash32), sizeof(Hash32));
    if (!std::equal(leaves[i].begin(), leaves[i].end(), slot.begin()))
      return std::unexpected(Error::tile_hash_mismatch(
          std::string(entries_path), "entry " + std::to_string((bundle.id.index << 8) + i) +
                                         " does not hash to its slot in " + std::string(tile_path)));
  }
  return n;
}

TileResult<EntryViews> parse_entry_bundle(std::string_view path, ByteView bundle) {
  QUENFOLD_TRY(const TileData t, one_tile(path, bundle));
  QUENFOLD_TRY(auto entries, quenfold::parse_entry_bundle(t));
  return EntryViews{bundle.data(), std::move(entries)};
}

TileResult<CtLeafViews> parse_data_tile(std::string_view path, ByteView data) {
  QUENFOLD_TRY(const TileData t, one_tile(path, data));
  QUENFOLD_TRY(auto leaves, quenfold::parse_data_tile(t));
  return CtLeafViews{data.data(), std::move(leaves)};
}

TileResult<TileRef<TilePlan>> tile_plan_whole_tree(std::uint64_t size, TileKind kind) {
  return shared(TilePlan::whole_tree(size, kind));
}

TileResult<TileRef<TilePlan>> tile_plan_growth(std::uint64_t old_size, std::uint64_t new_size, TileKind kind) {
  return shared(TilePlan::growth(old_size, new_size, kind));
}

TileResult<TileRef<TilePlan>> tile_plan_leaves(std::uint64_t size, std::uint64_t begin, std::uint64_t end,
                                               TileKind kind, std::uint8_t level) {
  return shared(TilePlan::leaves(size, begin, end, kind, level));
}

TileResult<std::uint64_t> tile_plan_count(const TileRef<TilePlan>& self) { return self->count(); }

// A page is found by skipping whole segments, then counting within one: no
// tile before `offset` is computed.
TileResult<std::vector<TileId>> tile_plan_page(const TileRef<TilePlan>& self, std::uint64_t offset,
                                               std::uint32_t limit) {
  std::vector<TileId> out;
  std::uint64_t want = std::min(limit, kMaxPlanPage);
  out.reserve(want);
  for (const TilePlan::Segment& s : self->segments()) {
    if (want == 0) break;
    if (offset >= s.count) {
      offset -= s.count;
      continue;
    }
    for (std::uint64_t i = offset; i < s.count && want > 0; ++i, --want) {
      const bool last = i + 1 == s.count;
      out.push_back(TileId{s.kind, s.level, s.first + i, last ? s.last_width : (std::uint32_t{1} << s.height),
                           s.height});
    }
    offset = 0;
  }
  return out;
}

TileResult<std::vector<TilePlan::Segment>> tile_plan_segments(const TileRef<TilePlan>& self) {
  const auto s = self->segments();
  return std::vector<TilePlan::Segment>(s.begin(), s.end());
}

TileResult<TileRef<TiledTree>> tiled_tree_create(std::uint64_t size, ByteView root, std::uint64_t min_index,
                                                 std::uint64_t max_size) {
  QUENFOLD_TRY(auto tree, TiledTree::create(size, root, TileOptions{min_index, max_size}));
  return shared(std::move(tree));
}

TileResult<std::uint64_t> tiled_tree_size(const TileRef<TiledTree>& self) { return self->size(); }
TileResult<Hash32> tiled_tree_root(const TileRef<TiledTree>& self) { return self->root(); }
TileResult<std::vector<TileId>> tiled_tree_edge_tiles(const TileRef<TiledTree>& self) { return self->edge_tiles(); }

TileResult<std::vector<TileId>> tiled_tree_needed_for_leaves(const TileRef<TiledTree>& self, std::uint64_t begin,
                                                             std::uint64_t end) {
  return self->needed_for_leaves(begin, end);
}

TileResult<std::vector<TileId>> tiled_tree_needed_for_subtree(const TileRef<TiledTree>& self, std::uint64_t start,
                                                              std::uint64_t end) {
  return self->needed_for_subtree(start, end);
}

TileResult<std::vector<TileId>> tiled_tree_needed_for_inclusion(const TileRef<TiledTree>& self,
                                                                std::uint64_t index) {
  return self->needed_for_inclusion(index);
}

TileResult<std::vector<TileId>> tiled_tree_needed_for_consistency(const TileRef<TiledTree>& self,
                                                                  std::uint64_t old_size) {
  return self->needed_for_consistency(old_size);
}

TileResult<TileRef<TiledTree>> tiled_tree_with_tiles(const TileRef<TiledTree>& self, const Paths& paths,
                                                     const Blobs& tiles) {
  QUENFOLD_TRY(const auto data, tile_data(paths, tiles));
  QUENFOLD_TRY(auto tree, self->with_tiles(data));
  return shared(std::move(tree));
}

TileResult<AuthenticatedTile> tiled_tree_authenticate(const TileRef<TiledTree>& self, std::string_view path,
                                                      ByteView tile) {
  QUENFOLD_TRY(const TileData t, one_tile(path, tile));
  return self->authenticate(t);
}

TileResult<RangeAudit> tiled_tree_audit_leaves(const TileRef<TiledTree>& self, std::uint64_t begin,
                                               std::uint64_t end, const Paths& paths, const Blobs& tiles) {
  QUENFOLD_TRY(const auto data, tile_data(paths, tiles));
  return self->audit_leaves(begin, end, data);
}

TileResult<Hash32> tiled_tree_leaf_hash(const TileRef<TiledTree>& self, std::uint64_t index) {
  return self->leaf_hash(index);
}

TileResult<std::vector<Hash32>> tiled_tree_inclusion_proof(const TileRef<TiledTree>& self, std::uint64_t index) {
  return self->inclusion_proof(index);
}

TileResult<std::vector<Hash32>> tiled_tree_consistency_proof(const TileRef<TiledTree>& self,
                                                             std::uint64_t old_size) {
  return self->consistency_proof(old_size);
}

TileResult<Hash32> tiled_tree_subtree_hash(const TileRef<TiledTree>& self, std::uint64_t start, std::uint64_t end) {
  return self->subtree_hash(start, end);
}

TileResult<void> tiled_tree_check_older_root(const TileRef<TiledTree>& self, std::uint64_t old_size,
                                             ByteView old_root) {
  return self->check_older_root(old_size, old_root);
}

TileResult<void> tiled_tree_confirm_subtrees(const TileRef<TiledTree>& self,
                                             const std::vector<SubtreeHash>& subtrees) {
  return self->confirm_subtrees(subtrees);
}

TileResult<EntryViews> tiled_tree_verify_entry_bundle(const TileRef<TiledTree>& self, std::string_view tile_path,
                                                      ByteView tile, std::string_view bundle_path, ByteView bundle) {
  QUENFOLD_TRY(const TileData level0, one_tile(tile_path, tile));
  QUENFOLD_TRY(const TileData b, one_tile(bundle_path, bundle));
  QUENFOLD_TRY(const AuthenticatedTile authenticated, self->authenticate(level0));
  QUENFOLD_TRY(auto entries, verify_entry_bundle(authenticated, b));
  return EntryViews{bundle.data(), std::move(entries)};
}

TileResult<CtLeafViews> tiled_tree_verify_data_tile(const TileRef<TiledTree>& self, std::string_view tile_path,
                                                    ByteView tile, std::string_view data_path, ByteView data) {
  QUENFOLD_TRY(const TileData level0, one_tile(tile_path, tile));
  QUENFOLD_TRY(const TileData d, one_tile(data_path, data));
  QUENFOLD_TRY(const AuthenticatedTile authenticated, self->authenticate(level0));
  QUENFOLD_TRY(auto leaves, verify_data_tile(authenticated, d));
  return CtLeafViews{data.data(), std::move(leaves)};
}

}  // namespace quenfold::ffi::ext
