// Placeholder bodies while the tile subsystem is written: every operation
// reports that it is not available yet.
#include "quenfold/tiles.h"

namespace quenfold {
namespace {
Error not_yet() { return Error::tile_missing("(not implemented yet)"); }
}  // namespace

std::expected<std::string, Error> format_tile_path(const TileId&, TilePathForm) { return std::unexpected(not_yet()); }
std::expected<TileId, Error> parse_tile_path(std::string_view, TilePathForm) { return std::unexpected(not_yet()); }
std::optional<LeafRange> tile_leaf_range(const TileId&) noexcept { return std::nullopt; }
std::uint64_t full_tile_count(std::uint64_t, std::uint8_t, std::uint8_t) noexcept { return 0; }
std::uint32_t partial_tile_width(std::uint64_t, std::uint8_t, std::uint8_t) noexcept { return 0; }
std::uint8_t tile_level_count(std::uint64_t, std::uint8_t) noexcept { return 0; }
std::optional<TileId> tile_in_tree(std::uint64_t, std::uint8_t, std::uint64_t, TileKind, std::uint8_t) noexcept {
  return std::nullopt;
}
TilePlan TilePlan::whole_tree(std::uint64_t, TileKind, std::uint8_t) { return {}; }
TilePlan TilePlan::growth(std::uint64_t, std::uint64_t, TileKind, std::uint8_t) { return {}; }
TilePlan TilePlan::leaves(std::uint64_t, std::uint64_t, std::uint64_t, TileKind, std::uint8_t, std::uint8_t) {
  return {};
}
TileId TilePlan::iterator::operator*() const noexcept { return {}; }
TilePlan::iterator& TilePlan::iterator::operator++() noexcept { return *this; }
TilePlan::iterator TilePlan::begin() const noexcept { return {}; }
TilePlan::iterator TilePlan::end() const noexcept { return {}; }
std::uint64_t TilePlan::count() const noexcept { return 0; }

struct AuthenticatedTile::Impl {
  TileId id;
  std::vector<Hash32> hashes;
  LeafRange leaves;
};
const TileId& AuthenticatedTile::id() const noexcept { return impl_->id; }
std::span<const Hash32> AuthenticatedTile::hashes() const noexcept { return impl_->hashes; }
LeafRange AuthenticatedTile::leaves() const noexcept { return impl_->leaves; }

struct TiledTree::State {
  std::uint64_t size = 0;
  Hash32 root{};
  TileOptions options;
};
std::expected<TiledTree, Error> TiledTree::create(const CheckpointHead&, TileOptions) {
  return std::unexpected(not_yet());
}
std::expected<TiledTree, Error> TiledTree::create(std::uint64_t, ByteView, TileOptions) {
  return std::unexpected(not_yet());
}
std::uint64_t TiledTree::size() const noexcept { return state_->size; }
const Hash32& TiledTree::root() const noexcept { return state_->root; }
const TileOptions& TiledTree::options() const noexcept { return state_->options; }
std::vector<TileId> TiledTree::edge_tiles() const { return {}; }
bool TiledTree::edge_authenticated() const noexcept { return false; }
std::vector<TileId> TiledTree::needed_for_tile(const TileId&) const { return {}; }
std::vector<TileId> TiledTree::needed_for_leaf(std::uint64_t) const { return {}; }
std::vector<TileId> TiledTree::needed_for_inclusion(std::uint64_t) const { return {}; }
std::vector<TileId> TiledTree::needed_for_consistency(std::uint64_t) const { return {}; }
std::vector<TileId> TiledTree::needed_for_subtree(std::uint64_t, std::uint64_t) const { return {}; }
std::vector<TileId> TiledTree::needed_for_subtrees(std::span<const SubtreeHash>) const { return {}; }
std::vector<TileId> TiledTree::needed_for_leaves(std::uint64_t, std::uint64_t) const { return {}; }
std::expected<TiledTree, Error> TiledTree::with_tiles(std::span<const TileData>) const {
  return std::unexpected(not_yet());
}
std::expected<AuthenticatedTile, Error> TiledTree::authenticate(const TileData&) const {
  return std::unexpected(not_yet());
}
std::optional<AuthenticatedTile> TiledTree::tile(std::uint8_t, std::uint64_t) const { return std::nullopt; }
std::expected<RangeAudit, Error> TiledTree::audit_leaves(std::uint64_t, std::uint64_t,
                                                         std::span<const TileData>) const {
  return std::unexpected(not_yet());
}
std::expected<Hash32, Error> TiledTree::leaf_hash(std::uint64_t) const { return std::unexpected(not_yet()); }
std::expected<std::vector<Hash32>, Error> TiledTree::inclusion_proof(std::uint64_t) const {
  return std::unexpected(not_yet());
}
std::expected<std::vector<Hash32>, Error> TiledTree::consistency_proof(std::uint64_t) const {
  return std::unexpected(not_yet());
}
std::expected<Hash32, Error> TiledTree::subtree_hash(std::uint64_t, std::uint64_t) const {
  return std::unexpected(not_yet());
}
std::expected<void, Error> TiledTree::check_older_root(std::uint64_t, ByteView) const {
  return std::unexpected(not_yet());
}
std::expected<void, Error> TiledTree::confirm_subtrees(std::span<const SubtreeHash>) const {
  return std::unexpected(not_yet());
}

struct TileRangeHasher::Impl {};
TileRangeHasher::TileRangeHasher(std::uint64_t, std::uint8_t, std::uint64_t) : impl_(std::make_unique<Impl>()) {}
TileRangeHasher::~TileRangeHasher() = default;
TileRangeHasher::TileRangeHasher(TileRangeHasher&&) noexcept = default;
TileRangeHasher& TileRangeHasher::operator=(TileRangeHasher&&) noexcept = default;
std::expected<void, Error> TileRangeHasher::add(const TileData&) { return std::unexpected(not_yet()); }
std::expected<void, Error> TileRangeHasher::add_entries(const TileData&) { return std::unexpected(not_yet()); }
std::vector<SubtreeHash> TileRangeHasher::finish() const { return {}; }
std::expected<std::vector<SubtreeHash>, Error> hash_tile_range(std::uint64_t, std::span<const TileData>) {
  return std::unexpected(not_yet());
}

std::expected<std::vector<BundleEntry>, Error> parse_entry_bundle(const TileData&) {
  return std::unexpected(not_yet());
}
std::expected<std::vector<BundleEntry>, Error> verify_entry_bundle(const AuthenticatedTile&, const TileData&) {
  return std::unexpected(not_yet());
}
std::expected<std::vector<CtTileLeaf>, Error> parse_data_tile(const TileData&) { return std::unexpected(not_yet()); }
std::expected<std::vector<CtTileLeaf>, Error> verify_data_tile(const AuthenticatedTile&, const TileData&) {
  return std::unexpected(not_yet());
}
std::expected<void, Error> verify_issuer(ByteView, ByteView) { return std::unexpected(not_yet()); }

}  // namespace quenfold
