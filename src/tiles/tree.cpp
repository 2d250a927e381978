// Authentication of hash tiles against a checkpoint, and the hashes and
// proofs computed from them.
//
// A tree of n leaves splits into perfect subtrees, one for each bit of n, the
// largest on the left, and its RFC 6962 root is the right fold of their
// roots. In tile terms the level-l partial tile (width w_l, the l-th base-256
// digit of n) holds the roots of w_l perfect subtrees of 256^l leaves, and
// the binary digits of w_l group them into the tree's perfect subtrees of
// 2^k * 256^l leaves. Folding every partial tile's hashes therefore
// reproduces the root the checkpoint signs, which authenticates every one of
// them at once; a full tile is then authenticated by its Merkle tree hash
// being the entry its parent tile (one level up) holds for it.
//
// Any valid subtree [start, end) (start a multiple of the power of two that
// bounds end - start) is a run of perfect subtrees of sizes 2^k, largest
// first, each aligned to its size; a perfect subtree of 2^k leaves is the
// Merkle tree hash of 2^(k mod 8) consecutive hashes of one tile at level
// k / 8. Inclusion and consistency proofs (RFC 6962 section 2.1) are lists of
// such subtrees, so every hash a proof needs comes from at most a few tiles.
#include <algorithm>
#include <bit>
#include <cstring>
#include <set>

#include "crypto/hash.h"
#include "encoding/text.h"
#include "tiles/internal.h"

namespace quenfold {
namespace tiles {

Hash32 node(const Hash32& left, const Hash32& right) noexcept {
  std::array<std::uint8_t, 65> buf;
  buf[0] = 0x01;
  std::memcpy(buf.data() + 1, left.data(), 32);
  std::memcpy(buf.data() + 33, right.data(), 32);
  return crypto::sha256({ByteView(buf)});
}

Hash32 leaf(ByteView data) noexcept {
  static constexpr std::uint8_t kPrefix = 0x00;
  return crypto::sha256({ByteView(&kPrefix, 1), data});
}

Hash32 perfect_root(std::span<const Hash32> hashes) noexcept {
  std::size_t n = hashes.size();
  if (n == 1) return hashes[0];
  std::array<Hash32, 128> level;
  for (std::size_t i = 0; i < n / 2; ++i) level[i] = node(hashes[2 * i], hashes[2 * i + 1]);
  for (n /= 2; n > 1; n /= 2)
    for (std::size_t i = 0; i < n / 2; ++i) level[i] = node(level[2 * i], level[2 * i + 1]);
  return level[0];
}

Hash32 fold_right(std::span<const Hash32> perfect_roots) noexcept {
  Hash32 r = perfect_roots.back();
  for (std::size_t i = perfect_roots.size() - 1; i-- > 0;) r = node(perfect_roots[i], r);
  return r;
}

std::vector<Hash32> read_hashes(ByteView bytes, std::uint32_t count) {
  std::vector<Hash32> out(count);
  for (std::uint32_t i = 0; i < count; ++i) std::memcpy(out[i].data(), bytes.data() + 32 * std::size_t{i}, 32);
  return out;
}

AuthenticatedTile make_tile(const TileId& id, std::vector<Hash32> hashes) {
  auto impl = std::make_shared<AuthenticatedTile::Impl>();
  impl->id = id;
  impl->hashes = std::move(hashes);
  impl->leaves = tile_leaf_range(id).value_or(LeafRange{});
  return AuthenticatedTile(std::move(impl));
}

// The tile a tree of `size` has at `id`'s place, when `id` names it at its
// width (or, for a partial tile, at the full width standing in for it).
std::expected<TileId, Error> implied_tile(std::uint64_t size, const TileId& id) {
  const auto implied = tile_in_tree(size, id.level, id.index, id.kind);
  if (!implied)
    return std::unexpected(Error::malformed_tile(path_of(id), "a tree of size " + std::to_string(size) +
                                                                   " has no such tile"));
  if (id.width != implied->width && !(implied->is_partial() && id.width == kTileWidth))
    return std::unexpected(Error::malformed_tile(
        path_of(id), "width " + std::to_string(id.width) + ", but a tree of size " + std::to_string(size) +
                         " gives the tile width " + std::to_string(implied->width)));
  return *implied;
}

std::expected<ShapedTile, Error> shape(std::uint64_t size, const TileData& data) {
  const TileId& id = data.id;
  if (id.kind != TileKind::Hash || id.height != kTileHeight)
    return std::unexpected(Error::malformed_tile(path_of(id), "not a hash tile of height 8"));
  QUENFOLD_TRY(const TileId implied, implied_tile(size, id));
  const std::size_t want = 32 * std::size_t{id.width};
  if (data.bytes.size() != want)
    return std::unexpected(Error::malformed_tile(
        path_of(id), std::to_string(data.bytes.size()) + " bytes, want exactly " + std::to_string(want)));
  return ShapedTile{implied, read_hashes(data.bytes, implied.width)};
}

std::expected<TileId, Error> entry_tile_shape(std::uint64_t size, const TileData& data) {
  const TileId& id = data.id;
  if (id.kind == TileKind::Hash || id.level != 0 || id.height != kTileHeight)
    return std::unexpected(Error::malformed_tile(path_of(id), "not an entry bundle or data tile"));
  return implied_tile(size, id);
}

}  // namespace tiles

// --- AuthenticatedTile ----------------------------------------------------------

const TileId& AuthenticatedTile::id() const noexcept { return impl_->id; }
std::span<const Hash32> AuthenticatedTile::hashes() const noexcept { return impl_->hashes; }
LeafRange AuthenticatedTile::leaves() const noexcept { return impl_->leaves; }

// --- TiledTree -------------------------------------------------------------------

namespace {

using tiles::path_of;
using Tiles = std::map<TileKey, AuthenticatedTile>;

// A subtree [start, end) of the tree.
struct Range {
  std::uint64_t start;
  std::uint64_t end;
};

bool valid_subtree(std::uint64_t start, std::uint64_t end, std::uint64_t size) {
  if (start > end || end > size) return false;
  if (start == end) return true;
  const std::uint64_t n = end - start;
  if (n > (std::uint64_t{1} << 63)) return start == 0;  // bit_ceil(n) is 2^64
  return (start & (std::bit_ceil(n) - 1)) == 0;
}

// The perfect subtrees of a valid subtree, largest first: (start, log2 size).
std::vector<std::pair<std::uint64_t, unsigned>> perfect_parts(Range r) {
  std::vector<std::pair<std::uint64_t, unsigned>> parts;
  std::uint64_t pos = r.start;
  const std::uint64_t n = r.end - r.start;
  for (unsigned k = 64; k-- > 0;) {
    if ((n >> k) & 1) {
      parts.emplace_back(pos, k);
      pos += std::uint64_t{1} << k;
    }
  }
  return parts;
}

// The tile (level k / 8) holding the perfect subtree of 2^k leaves at pos,
// and the run of its hashes that make it.
struct PerfectLocation {
  std::uint8_t level;
  std::uint64_t tile;
  std::uint32_t offset;
  std::uint32_t count;
};
PerfectLocation locate(std::uint64_t pos, unsigned k) {
  const unsigned level = k / 8;
  const std::uint64_t q = tiles::shr(pos, 8 * level);
  return {static_cast<std::uint8_t>(level), q >> 8, static_cast<std::uint32_t>(q & 255), 1u << (k % 8)};
}

// RFC 6962 PATH: the audit path's subtrees from the leaf's sibling upwards.
std::vector<Range> inclusion_ranges(std::uint64_t index, std::uint64_t size) {
  std::vector<Range> top_down;
  std::uint64_t lo = 0, hi = size;
  while (hi - lo > 1) {
    const std::uint64_t k = std::bit_floor(hi - lo - 1);
    if (index < lo + k) {
      top_down.push_back({lo + k, hi});
      hi = lo + k;
    } else {
      top_down.push_back({lo, lo + k});
      lo += k;
    }
  }
  std::reverse(top_down.begin(), top_down.end());
  return top_down;
}

// RFC 6962 SUBPROOF(m, D[lo:hi], b), m counted from lo.
void subproof(std::uint64_t m, std::uint64_t lo, std::uint64_t hi, bool b, std::vector<Range>& out) {
  if (m == hi - lo) {
    if (!b) out.push_back({lo, hi});
    return;
  }
  const std::uint64_t k = std::bit_floor(hi - lo - 1);
  if (m <= k) {
    subproof(m, lo, lo + k, b, out);
    out.push_back({lo + k, hi});
  } else {
    subproof(m - k, lo + k, hi, false, out);
    out.push_back({lo, lo + k});
  }
}

std::string edge_names(const std::vector<TileId>& edge) {
  std::string out;
  for (const TileId& t : edge) {
    if (!out.empty()) out += " + ";
    out += path_of(t);
  }
  return out;
}

// The root the edge hashes fold to; `edge` top level first, as edge_tiles().
Hash32 fold_edge(const std::vector<std::vector<Hash32>>& edge) {
  std::vector<Hash32> roots;
  for (const auto& hashes : edge) {
    std::size_t offset = 0;
    for (unsigned j = 9; j-- > 0;) {
      const std::size_t run = std::size_t{1} << j;
      if (hashes.size() & run) {
        roots.push_back(tiles::perfect_root(std::span(hashes).subspan(offset, run)));
        offset += run;
      }
    }
  }
  return tiles::fold_right(roots);
}

}  // namespace

// The authentication and lookup logic over a tree state and the tiles of a
// batch being added.
class TiledTreeOps {
 public:
  explicit TiledTreeOps(const TiledTree::State& s) : s_(s) {}

  std::vector<TileId> edge() const {
    std::vector<TileId> out;
    for (std::uint8_t level = tile_level_count(s_.size); level-- > 0;)
      if (partial_tile_width(s_.size, level) > 0) out.push_back(*tile_in_tree(s_.size, level, full_tile_count(s_.size, level)));
    return out;
  }

  const AuthenticatedTile* find(const Tiles& held, std::uint8_t level, std::uint64_t index) const {
    auto it = held.find({level, index});
    return it == held.end() ? nullptr : &it->second;
  }

  std::string tree_path(std::uint8_t level, std::uint64_t index) const {
    if (auto t = tile_in_tree(s_.size, level, index)) return path_of(*t);
    return path_of(TileId{TileKind::Hash, level, index, kTileWidth, kTileHeight});
  }

  // A full tile under its parent, looked up in `held`.
  std::expected<AuthenticatedTile, Error> under_parent(const Tiles& held, const TileData& given,
                                                       tiles::ShapedTile shaped) const {
    const TileId& id = shaped.id;
    const std::uint8_t parent_level = static_cast<std::uint8_t>(id.level + 1);
    const std::uint64_t parent_index = id.index >> 8;
    const AuthenticatedTile* parent = find(held, parent_level, parent_index);
    if (parent == nullptr) return std::unexpected(Error::tile_missing(tree_path(parent_level, parent_index)));
    const std::uint32_t slot = static_cast<std::uint32_t>(id.index & 255);
    if (tiles::perfect_root(shaped.hashes) != parent->hashes()[slot])
      return std::unexpected(Error::tile_hash_mismatch(
          path_of(given.id), "its hashes do not hash to entry " + std::to_string(slot) + " of " +
                                 path_of(parent->id())));
    return tiles::make_tile(id, std::move(shaped.hashes));
  }

  // A tile given again: it must say what the held one says.
  std::expected<void, Error> same_as_held(const AuthenticatedTile& held, const TileData& given,
                                          const tiles::ShapedTile& shaped) const {
    if (!std::ranges::equal(held.hashes(), shaped.hashes))
      return std::unexpected(
          Error::tile_hash_mismatch(path_of(given.id), "differs from the tile already authenticated"));
    return {};
  }

  // Adds a batch to `held` (a copy the caller owns).
  std::expected<bool, Error> add(Tiles& held, bool edge_done, std::span<const TileData> batch) const {
    std::vector<std::pair<const TileData*, tiles::ShapedTile>> full, partial;
    for (const TileData& d : batch) {
      QUENFOLD_TRY(auto shaped, tiles::shape(s_.size, d));
      (shaped.id.is_partial() ? partial : full).emplace_back(&d, std::move(shaped));
    }
    if (!partial.empty()) {
      if (edge_done) {
        for (auto& [d, shaped] : partial)
          QUENFOLD_CHECK(same_as_held(*find(held, shaped.id.level, shaped.id.index), *d, shaped));
      } else {
        const std::vector<TileId> edge_ids = edge();
        std::vector<std::vector<Hash32>> hashes;
        for (const TileId& e : edge_ids) {
          auto it = std::ranges::find_if(partial, [&](const auto& p) { return p.second.id == e; });
          if (it == partial.end()) return std::unexpected(Error::tile_missing(path_of(e)));
          hashes.push_back(it->second.hashes);
        }
        if (fold_edge(hashes) != s_.root)
          return std::unexpected(Error::tile_hash_mismatch(
              edge_names(edge_ids), "the right-edge tiles do not hash to the checkpoint's root"));
        for (std::size_t i = 0; i < edge_ids.size(); ++i)
          held.insert_or_assign({edge_ids[i].level, edge_ids[i].index}, tiles::make_tile(edge_ids[i], hashes[i]));
        // Every other copy in the batch must agree with the one folded.
        for (auto& [d, shaped] : partial)
          QUENFOLD_CHECK(same_as_held(*find(held, shaped.id.level, shaped.id.index), *d, shaped));
        edge_done = true;
      }
    }
    std::ranges::stable_sort(full, std::greater<>{}, [](const auto& p) { return p.second.id.level; });
    for (auto& [d, shaped] : full) {
      if (const AuthenticatedTile* have = find(held, shaped.id.level, shaped.id.index)) {
        QUENFOLD_CHECK(same_as_held(*have, *d, shaped));
        continue;
      }
      const TileKey key{shaped.id.level, shaped.id.index};
      QUENFOLD_TRY(auto tile, under_parent(held, *d, std::move(shaped)));
      held.emplace(key, std::move(tile));
    }
    return edge_done;
  }

  // The tiles on the way from (level, index) up to a held or edge tile.
  void chain(std::uint8_t level, std::uint64_t index, std::set<TileKey>& out) const {
    while (level <= 7) {
      if (s_.tiles.contains({level, index})) return;
      const auto t = tile_in_tree(s_.size, level, index);
      if (!t || t->is_partial()) return;  // not in the tree, or part of the edge
      out.insert({level, index});
      ++level;
      index >>= 8;
    }
  }

  void subtree_chain(Range r, std::set<TileKey>& out) const {
    if (!valid_subtree(r.start, r.end, s_.size)) return;
    for (auto [pos, k] : perfect_parts(r)) {
      const PerfectLocation loc = locate(pos, k);
      chain(loc.level, loc.tile, out);
    }
  }

  std::vector<TileId> listing(const std::set<TileKey>& keys) const {
    std::vector<TileId> out;
    if (!s_.edge_authenticated) out = edge();
    std::vector<TileKey> sorted(keys.begin(), keys.end());
    std::ranges::sort(sorted, [](const TileKey& a, const TileKey& b) {
      return a.first != b.first ? a.first > b.first : a.second < b.second;
    });
    for (const TileKey& k : sorted) out.push_back(*tile_in_tree(s_.size, k.first, k.second));
    return out;
  }

  std::expected<Hash32, Error> perfect_hash(std::uint64_t pos, unsigned k) const {
    const PerfectLocation loc = locate(pos, k);
    const AuthenticatedTile* t = find(s_.tiles, loc.level, loc.tile);
    if (t == nullptr) return std::unexpected(Error::tile_missing(tree_path(loc.level, loc.tile)));
    return tiles::perfect_root(t->hashes().subspan(loc.offset, loc.count));
  }

  std::expected<Hash32, Error> subtree(Range r) const {
    if (!valid_subtree(r.start, r.end, s_.size)) return std::unexpected(Error::invalid_subtree(r.start, r.end));
    if (r.start == r.end) return rfc6962_empty_root();
    std::vector<Hash32> roots;
    for (auto [pos, k] : perfect_parts(r)) {
      QUENFOLD_TRY(auto h, perfect_hash(pos, k));
      roots.push_back(h);
    }
    return tiles::fold_right(roots);
  }

  std::expected<std::vector<Hash32>, Error> hashes_of(const std::vector<Range>& ranges) const {
    std::vector<Hash32> out;
    out.reserve(ranges.size());
    for (const Range& r : ranges) {
      QUENFOLD_TRY(auto h, subtree(r));
      out.push_back(h);
    }
    return out;
  }

 private:
  const TiledTree::State& s_;
};

std::expected<TiledTree, Error> TiledTree::create(const CheckpointHead& head, TileOptions options) {
  return create(head.size, head.root, options);
}

std::expected<TiledTree, Error> TiledTree::create(std::uint64_t size, ByteView root, TileOptions options) {
  if (size > options.max_size) return std::unexpected(Error::tree_too_large(size, options.max_size));
  if (root.size() != 32) return std::unexpected(Error::invalid_hash_length(root.size(), 32));
  if (options.min_index > size) return std::unexpected(Error::leaf_index_out_of_range(options.min_index, size));
  auto state = std::make_shared<State>();
  state->size = size;
  std::copy(root.begin(), root.end(), state->root.begin());
  state->options = options;
  if (size == 0) {
    if (state->root != rfc6962_empty_root()) return std::unexpected(Error::root_mismatch());
    state->edge_authenticated = true;
  }
  return TiledTree(std::move(state));
}

std::uint64_t TiledTree::size() const noexcept { return state_->size; }
const Hash32& TiledTree::root() const noexcept { return state_->root; }
const TileOptions& TiledTree::options() const noexcept { return state_->options; }
std::vector<TileId> TiledTree::edge_tiles() const { return TiledTreeOps(*state_).edge(); }
bool TiledTree::edge_authenticated() const noexcept { return state_->edge_authenticated; }

std::vector<TileId> TiledTree::needed_for_tile(const TileId& tile) const {
  std::set<TileKey> keys;
  if (tile.kind == TileKind::Hash && tile.height == kTileHeight) TiledTreeOps(*state_).chain(tile.level, tile.index, keys);
  return TiledTreeOps(*state_).listing(keys);
}

std::vector<TileId> TiledTree::needed_for_leaf(std::uint64_t index) const {
  std::set<TileKey> keys;
  if (index < size()) TiledTreeOps(*state_).chain(0, index >> 8, keys);
  return TiledTreeOps(*state_).listing(keys);
}

std::vector<TileId> TiledTree::needed_for_inclusion(std::uint64_t index) const {
  std::set<TileKey> keys;
  const TiledTreeOps ops(*state_);
  if (index < size()) {
    ops.chain(0, index >> 8, keys);
    for (const Range& r : inclusion_ranges(index, size())) ops.subtree_chain(r, keys);
  }
  return ops.listing(keys);
}

std::vector<TileId> TiledTree::needed_for_consistency(std::uint64_t old_size) const {
  std::set<TileKey> keys;
  const TiledTreeOps ops(*state_);
  if (old_size > 0 && old_size < size()) {
    std::vector<Range> ranges;
    subproof(old_size, 0, size(), true, ranges);
    ranges.push_back({0, old_size});  // the old root, for check_older_root
    for (const Range& r : ranges) ops.subtree_chain(r, keys);
  }
  return ops.listing(keys);
}

std::vector<TileId> TiledTree::needed_for_subtree(std::uint64_t start, std::uint64_t end) const {
  std::set<TileKey> keys;
  const TiledTreeOps ops(*state_);
  ops.subtree_chain({start, end}, keys);
  return ops.listing(keys);
}

std::vector<TileId> TiledTree::needed_for_subtrees(std::span<const SubtreeHash> subtrees) const {
  std::set<TileKey> keys;
  const TiledTreeOps ops(*state_);
  for (const SubtreeHash& s : subtrees) ops.subtree_chain({s.start, s.end}, keys);
  return ops.listing(keys);
}

std::vector<TileId> TiledTree::needed_for_leaves(std::uint64_t begin, std::uint64_t end) const {
  std::set<TileKey> keys;
  const TiledTreeOps ops(*state_);
  const std::uint64_t full = full_tile_count(size(), 0);
  end = std::min(end, size());
  if (begin < end) {
    // Level-0 tiles that may not be pruned, and that have a parent (the
    // partial tile is part of the edge).
    const std::uint64_t first = std::max(begin >> 8, options().min_index >> 8);
    const std::uint64_t last = std::min((end - 1) >> 8, full == 0 ? 0 : full - 1);
    if (full > 0 && first <= last)
      for (std::uint64_t parent = first >> 8; parent <= (last >> 8); ++parent) ops.chain(1, parent, keys);
  }
  return ops.listing(keys);
}

std::expected<TiledTree, Error> TiledTree::with_tiles(std::span<const TileData> batch) const {
  auto next = std::make_shared<State>(*state_);
  QUENFOLD_TRY(const bool edge_done, TiledTreeOps(*state_).add(next->tiles, state_->edge_authenticated, batch));
  next->edge_authenticated = edge_done;
  return TiledTree(std::move(next));
}

std::expected<AuthenticatedTile, Error> TiledTree::authenticate(const TileData& tile) const {
  const TiledTreeOps ops(*state_);
  QUENFOLD_TRY(auto shaped, tiles::shape(size(), tile));
  const TileKey key{shaped.id.level, shaped.id.index};
  if (const AuthenticatedTile* have = ops.find(state_->tiles, key.first, key.second)) {
    QUENFOLD_CHECK(ops.same_as_held(*have, tile, shaped));
    return *have;
  }
  if (!shaped.id.is_partial()) return ops.under_parent(state_->tiles, tile, std::move(shaped));
  // An edge not authenticated yet: only a one-tile edge stands by itself
  // (otherwise TileMissing names another edge tile).
  Tiles held;
  QUENFOLD_TRY(const bool done, ops.add(held, false, std::span(&tile, 1)));
  (void)done;
  return held.at(key);
}

std::optional<AuthenticatedTile> TiledTree::tile(std::uint8_t level, std::uint64_t index) const {
  if (const AuthenticatedTile* t = TiledTreeOps(*state_).find(state_->tiles, level, index)) return *t;
  return std::nullopt;
}

std::expected<RangeAudit, Error> TiledTree::audit_leaves(std::uint64_t begin, std::uint64_t end,
                                                         std::span<const TileData> served) const {
  RangeAudit out;
  end = std::min(end, size());
  begin = std::min(begin, end);
  out.requested = {begin, end};
  out.verified = {end, end};
  const TilePlan plan = TilePlan::leaves(size(), begin, end);
  if (plan.empty()) {
    if (!served.empty()) return std::unexpected(Error::malformed_tile(path_of(served[0].id), "not a level-0 tile of the range"));
    out.verified = out.requested;
    return out;
  }
  const TilePlan::Segment seg = plan.segments()[0];
  const std::uint64_t last = seg.first + seg.count - 1;
  // Full level-0 tiles below this index lie wholly below the minimum index.
  const std::uint64_t prunable_end = std::max(seg.first, std::min(last + 1, options().min_index >> 8));

  std::map<std::uint64_t, const TileData*> by_index;
  for (const TileData& d : served) {
    if (d.id.kind != TileKind::Hash || d.id.level != 0 || d.id.index < seg.first || d.id.index > last)
      return std::unexpected(Error::malformed_tile(
          path_of(d.id), "not a level-0 tile of leaves [" + std::to_string(begin) + ", " + std::to_string(end) + ")"));
    if (!by_index.emplace(d.id.index, &d).second)
      return std::unexpected(Error::malformed_tile(path_of(d.id), "given twice"));
  }
  // Every tile from the minimum index on must be there.
  std::uint64_t expect = prunable_end;
  for (auto it = by_index.lower_bound(prunable_end); it != by_index.end(); ++it, ++expect)
    if (it->first != expect) break;
  if (expect <= last) return std::unexpected(Error::tile_missing(TiledTreeOps(*state_).tree_path(0, expect)));

  // The highest tile index not authenticated, if any.
  std::optional<std::uint64_t> gap;
  if (prunable_end > seg.first && by_index.size() < (last - seg.first + 1)) {
    // Some tile below prunable_end is absent: find the highest.
    std::uint64_t probe = prunable_end;
    auto it = by_index.lower_bound(prunable_end);
    while (probe > seg.first) {
      if (it == by_index.begin() || std::prev(it)->first != probe - 1) {
        gap = probe - 1;
        break;
      }
      --it;
      --probe;
    }
  }
  for (const auto& [index, d] : by_index) {
    auto tile = authenticate(*d);
    if (!tile) {
      // Below the minimum index the tile's parent may be pruned too.
      if (index < prunable_end && tile.error().kind() == ErrorKind::TileMissing) {
        ++out.pruned_tiles;
        if (!gap || *gap < index) gap = index;
        continue;
      }
      return std::unexpected(std::move(tile.error()));
    }
    out.tiles.push_back(std::move(*tile));
  }
  out.pruned_tiles += (last - seg.first + 1) - by_index.size();
  out.verified.begin = gap ? std::min(end, std::max(begin, (*gap + 1) << 8)) : begin;
  return out;
}

std::expected<Hash32, Error> TiledTree::leaf_hash(std::uint64_t index) const {
  if (index >= size()) return std::unexpected(Error::leaf_index_out_of_range(index, size()));
  return TiledTreeOps(*state_).perfect_hash(index, 0);
}

std::expected<std::vector<Hash32>, Error> TiledTree::inclusion_proof(std::uint64_t index) const {
  if (index >= size()) return std::unexpected(Error::leaf_index_out_of_range(index, size()));
  return TiledTreeOps(*state_).hashes_of(inclusion_ranges(index, size()));
}

std::expected<std::vector<Hash32>, Error> TiledTree::consistency_proof(std::uint64_t old_size) const {
  if (old_size > size()) return std::unexpected(Error::tree_size_regression(old_size, size()));
  if (old_size == 0) return std::unexpected(Error::empty_tree_consistency());
  std::vector<Range> ranges;
  subproof(old_size, 0, size(), true, ranges);
  return TiledTreeOps(*state_).hashes_of(ranges);
}

std::expected<Hash32, Error> TiledTree::subtree_hash(std::uint64_t start, std::uint64_t end) const {
  return TiledTreeOps(*state_).subtree({start, end});
}

std::expected<void, Error> TiledTree::check_older_root(std::uint64_t old_size, ByteView old_root) const {
  if (old_root.size() != 32) return std::unexpected(Error::invalid_hash_length(old_root.size(), 32));
  if (old_size > size()) return std::unexpected(Error::tree_size_regression(old_size, size()));
  QUENFOLD_TRY(const Hash32 h, subtree_hash(0, old_size));
  if (!std::ranges::equal(h, old_root)) return std::unexpected(Error::root_mismatch());
  return {};
}

std::expected<void, Error> TiledTree::confirm_subtrees(std::span<const SubtreeHash> subtrees) const {
  for (const SubtreeHash& s : subtrees) {
    QUENFOLD_TRY(const Hash32 h, subtree_hash(s.start, s.end));
    if (h != s.hash) {
      const TiledTreeOps ops(*state_);
      std::string name = ops.tree_path(0, s.start >> 8);
      if (s.end > s.start && ((s.end - 1) >> 8) != (s.start >> 8)) name += " to " + ops.tree_path(0, (s.end - 1) >> 8);
      return std::unexpected(Error::tile_hash_mismatch(
          name, "the hash of leaves [" + std::to_string(s.start) + ", " + std::to_string(s.end) +
                    ") differs from the one the tiles above hold"));
    }
  }
  return {};
}

}  // namespace quenfold
