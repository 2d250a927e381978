// What the tiled-log exports run (see operations.h): tile paths, lazy
// plans read by pages, the tree of a verified checkpoint and its tiles, the
// independent range hashing of a distributed audit and entry views.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "ffi/extension/tile_values.h"
#include "ffi/handle.h"
#include "quenfold/tiles.h"

namespace quenfold::ffi {

template <>
struct HandleType<TilePlan> {
  static constexpr std::uint64_t tag = 0x5146'5469'6c50'6c04;
  static constexpr const char* name = "TilePlan";
};
template <>
struct HandleType<TiledTree> {
  static constexpr std::uint64_t tag = 0x5146'5469'6c54'7205;
  static constexpr const char* name = "TiledTree";
};

}  // namespace quenfold::ffi

namespace quenfold::ffi::ext {

template <class T>
using TileRef = std::shared_ptr<const T>;
template <class T>
using TileResult = std::expected<T, Error>;
using Paths = std::vector<std::string_view>;
using Blobs = std::vector<ByteView>;

// The most tiles one page of a plan carries.
inline constexpr std::uint32_t kMaxPlanPage = 65536;

TileResult<TileId> parse_tile_path(std::string_view path);
TileResult<TileId> parse_sumdb_tile_path(std::string_view path);
TileResult<std::string> format_tile_path(TileKind kind, std::uint8_t level, std::uint64_t index, std::uint32_t width);
TileResult<std::string> format_sumdb_tile_path(TileKind kind, std::uint8_t level, std::uint64_t index,
                                               std::uint32_t width, std::uint8_t height);
TileResult<std::vector<SubtreeHash>> hash_tile_range(std::uint64_t tree_size, const Paths& paths, const Blobs& tiles);
TileResult<std::vector<SubtreeHash>> hash_entry_range(std::uint64_t tree_size, const Paths& paths, const Blobs& tiles);
TileResult<std::vector<SubtreeHash>> check_leaf_tiles(std::uint64_t tree_size, ByteView expected, const Paths& paths,
                                                      const Blobs& tiles, const Paths& entry_paths,
                                                      const Blobs& entries);
TileResult<std::vector<SubtreeHash>> combine_subtrees(std::uint64_t tree_size,
                                                      const std::vector<SubtreeHash>& subtrees);
TileResult<std::uint64_t> check_entries(std::string_view tile_path, ByteView tile, std::string_view entries_path,
                                        ByteView entries);
TileResult<EntryViews> parse_entry_bundle(std::string_view path, ByteView bundle);
TileResult<CtLeafViews> parse_data_tile(std::string_view path, ByteView data);

TileResult<TileRef<TilePlan>> tile_plan_whole_tree(std::uint64_t size, TileKind kind);
TileResult<TileRef<TilePlan>> tile_plan_growth(std::uint64_t old_size, std::uint64_t new_size, TileKind kind);
TileResult<TileRef<TilePlan>> tile_plan_leaves(std::uint64_t size, std::uint64_t begin, std::uint64_t end,
                                               TileKind kind, std::uint8_t level);
TileResult<std::uint64_t> tile_plan_count(const TileRef<TilePlan>& self);
TileResult<std::vector<TileId>> tile_plan_page(const TileRef<TilePlan>& self, std::uint64_t offset,
                                               std::uint32_t limit);
TileResult<std::vector<TilePlan::Segment>> tile_plan_segments(const TileRef<TilePlan>& self);

TileResult<TileRef<TiledTree>> tiled_tree_create(std::uint64_t size, ByteView root, std::uint64_t min_index,
                                                 std::uint64_t max_size);
TileResult<std::uint64_t> tiled_tree_size(const TileRef<TiledTree>& self);
TileResult<Hash32> tiled_tree_root(const TileRef<TiledTree>& self);
TileResult<std::vector<TileId>> tiled_tree_edge_tiles(const TileRef<TiledTree>& self);
TileResult<std::vector<TileId>> tiled_tree_needed_for_leaves(const TileRef<TiledTree>& self, std::uint64_t begin,
                                                             std::uint64_t end);
TileResult<std::vector<TileId>> tiled_tree_needed_for_subtree(const TileRef<TiledTree>& self, std::uint64_t start,
                                                              std::uint64_t end);
TileResult<std::vector<TileId>> tiled_tree_needed_for_inclusion(const TileRef<TiledTree>& self,
                                                                std::uint64_t index);
TileResult<std::vector<TileId>> tiled_tree_needed_for_consistency(const TileRef<TiledTree>& self,
                                                                  std::uint64_t old_size);
TileResult<TileRef<TiledTree>> tiled_tree_with_tiles(const TileRef<TiledTree>& self, const Paths& paths,
                                                     const Blobs& tiles);
TileResult<AuthenticatedTile> tiled_tree_authenticate(const TileRef<TiledTree>& self, std::string_view path,
                                                      ByteView tile);
TileResult<RangeAudit> tiled_tree_audit_leaves(const TileRef<TiledTree>& self, std::uint64_t begin,
                                               std::uint64_t end, const Paths& paths, const Blobs& tiles);
TileResult<Hash32> tiled_tree_leaf_hash(const TileRef<TiledTree>& self, std::uint64_t index);
TileResult<std::vector<Hash32>> tiled_tree_inclusion_proof(const TileRef<TiledTree>& self, std::uint64_t index);
TileResult<std::vector<Hash32>> tiled_tree_consistency_proof(const TileRef<TiledTree>& self,
                                                             std::uint64_t old_size);
TileResult<Hash32> tiled_tree_subtree_hash(const TileRef<TiledTree>& self, std::uint64_t start, std::uint64_t end);
TileResult<void> tiled_tree_check_older_root(const TileRef<TiledTree>& self, std::uint64_t old_size,
                                             ByteView old_root);
TileResult<void> tiled_tree_confirm_subtrees(const TileRef<TiledTree>& self,
                                             const std::vector<SubtreeHash>& subtrees);
TileResult<EntryViews> tiled_tree_verify_entry_bundle(const TileRef<TiledTree>& self, std::string_view tile_path,
                                                      ByteView tile, std::string_view bundle_path, ByteView bundle);
TileResult<CtLeafViews> tiled_tree_verify_data_tile(const TileRef<TiledTree>& self, std::string_view tile_path,
                                                    ByteView tile, std::string_view data_path, ByteView data);

}  // namespace quenfold::ffi::ext
