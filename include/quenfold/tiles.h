// Tiled transparency logs (C2SP tlog-tiles, the static-ct-api monitoring
// tiles, and the checksum-database form of the same hash tiles): tile
// coordinates, authentication of tiles against a verified checkpoint, RFC
// 6962 proofs and subtree hashes computed from authenticated tiles, and the
// log's entries checked against the level-0 hashes.
//
// The library performs no I/O and calls nothing back: it names the tiles it
// needs (TileId, TilePlan), the caller fetches them however it likes and hands
// their bytes in (TileData). A tile is trusted only once its hashes lead to
// the checkpoint's root:
//
//   - the right-edge (partial) tiles, one per level, by folding them into the
//     root of the tree's complete subtrees and comparing it with the root the
//     checkpoint signs;
//   - every other tile through the hash its parent tile (already trusted)
//     holds for it.
//
// Every value here is immutable once built (TileRangeHasher, a builder that a
// single worker owns, excepted) and may be shared between threads; TiledTree
// copies are cheap and share their tiles.
//
// Typical use, for a checkpoint `head` already verified with a
// CheckpointVerifier:
//
//   auto tree = TiledTree::create(head, {.min_index = 0, .max_size = cap});
//   for (const TileId& id : tree->needed_for_consistency(old.size)) fetch(id);
//   tree = tree->with_tiles(fetched);             // edge + what the proof needs
//   auto ok = tree->check_older_root(old.size, old.root);
//   for (TileId id : TilePlan::leaves(head.size, old.size, head.size)) ...
//     auto tile = tree->authenticate({id, bytes});  // under held parents
//     auto entries = verify_entry_bundle(*tile, {bundle_id, bundle_bytes});
#pragma once

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <iterator>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "quenfold/error.h"
#include "quenfold/merkle.h"
#include "quenfold/types.h"

namespace quenfold {

// ---------------------------------------------------------------------------
// Coordinates
// ---------------------------------------------------------------------------

// log2 of the number of hashes in a full tile of tlog-tiles and static-ct-api
// logs (and of the checksum database's hash tiles).
inline constexpr std::uint8_t kTileHeight = 8;
// Hashes in a full tile, and entries in a full entry bundle or data tile.
inline constexpr std::uint32_t kTileWidth = 256;
// Bytes in a full hash tile: 256 SHA-256 hashes.
inline constexpr std::size_t kFullTileBytes = 8192;
// The highest level a tile path may name (tlog-tiles: 0 to 63).
inline constexpr std::uint8_t kMaxTileLevel = 63;
// The greatest height a checksum-database path may carry.
inline constexpr std::uint8_t kMaxSumdbTileHeight = 30;

enum class TileKind : std::uint8_t {
  Hash,     // tile/<L>/<N>: Merkle tree hashes at level L
  Entries,  // tile/entries/<N>: an entry bundle (uint16 length-prefixed entries)
  Data,     // tile/data/<N>: static-ct-api TileLeaf records; in the
            // checksum-database form tile/<H>/data/<N>, its record tiles
};

// How a tile is written as a path (relative to the log's prefix).
enum class TilePathForm : std::uint8_t {
  // tlog-tiles and static-ct-api: tile/<L>/<N>[.p/<W>],
  // tile/entries/<N>[.p/<W>], tile/data/<N>[.p/<W>]; height 8.
  Tlog,
  // The checksum database: tile/<H>/<L>/<N>[.p/<W>], tile/<H>/data/<N>[.p/<W>],
  // with the tile height H (1 to 30) in the path; its hash tiles are
  // served with H = 8 (tile/8/<L>/<N>).
  Sumdb,
};

// One tile: what it holds, where, and how many hashes or entries.
//
// <N> is written in zero-padded groups of three digits, every group but the
// last prefixed with 'x' (1234067 is x001/x234/067); a partial tile adds
// .p/<W>. Only the canonical spelling of a tile parses: no leading zeroes,
// no empty or over-long groups, no x000 leading group, no .p/<W> with W
// equal to the full width.
struct TileId {
  TileKind kind = TileKind::Hash;
  // Hash tiles: 0 to 63 (a tree of fewer than 2^64 leaves has tiles only up
  // to level 7). Entry bundles and data tiles: 0.
  std::uint8_t level = 0;
  // N: the tile's position within its level.
  std::uint64_t index = 0;
  // Hashes (or entries) in the tile: 1 to full_width().
  std::uint32_t width = kTileWidth;
  // log2 of a full tile's width: 8 except in checksum-database paths.
  std::uint8_t height = kTileHeight;

  std::uint32_t full_width() const noexcept { return std::uint32_t{1} << height; }
  bool is_partial() const noexcept { return width < full_width(); }
  // The same tile at its full width (what stands in once a partial tile has
  // been deleted).
  TileId as_full() const noexcept {
    TileId t = *this;
    t.width = full_width();
    return t;
  }

  friend bool operator==(const TileId&, const TileId&) = default;
  friend auto operator<=>(const TileId&, const TileId&) = default;
};

// Leaves [begin, end) of the log.
struct LeafRange {
  std::uint64_t begin = 0;
  std::uint64_t end = 0;
  friend bool operator==(const LeafRange&, const LeafRange&) = default;
};

// The path of a tile, relative to the log's prefix ("tile/0/x001/234.p/7").
// A tile that `form` cannot write (an entry bundle in the checksum-database
// form, a tlog tile of height other than 8, a width of 0 or above the full
// width, a level above 63) is MalformedTilePath.
std::expected<std::string, Error> format_tile_path(const TileId& tile, TilePathForm form = TilePathForm::Tlog);

// Parses a path written by format_tile_path in `form`, exactly: anything
// that format_tile_path would not write back byte for byte is
// MalformedTilePath, naming the path. An index needs at most 7 groups and
// must fit 64 bits.
std::expected<TileId, Error> parse_tile_path(std::string_view path, TilePathForm form = TilePathForm::Tlog);

// The leaves a tile spans: [index * W_full^(level+1), + width * W_full^level)
// with W_full = 2^height; nullopt when that does not fit 64 bits (no tile of
// a real tree is such).
std::optional<LeafRange> tile_leaf_range(const TileId& tile) noexcept;

// ---------------------------------------------------------------------------
// Which tiles a tree has
// ---------------------------------------------------------------------------

// Full tiles at `level` in a tree of `size` leaves: size / 2^(height*(level+1)).
// 0 wherever the shift reaches 64 bits.
std::uint64_t full_tile_count(std::uint64_t size, std::uint8_t level, std::uint8_t height = kTileHeight) noexcept;
// Width of the partial tile at `level` (size / 2^(height*level) mod 2^height),
// 0 when the level has none.
std::uint32_t partial_tile_width(std::uint64_t size, std::uint8_t level,
                                 std::uint8_t height = kTileHeight) noexcept;
// Levels holding at least one tile: 0 for the empty tree, at most 8 for
// height 8.
std::uint8_t tile_level_count(std::uint64_t size, std::uint8_t height = kTileHeight) noexcept;
// The hash tile (level, index) of a tree of `size`, with the width the size
// implies; nullopt when the tree has no such tile. `kind` Entries or Data
// gives the entry bundle or data tile beside level 0 (level must be 0).
std::optional<TileId> tile_in_tree(std::uint64_t size, std::uint8_t level, std::uint64_t index,
                                   TileKind kind = TileKind::Hash, std::uint8_t height = kTileHeight) noexcept;

// A lazy, ordered list of tiles: a few segments (one per level at most)
// from which each TileId is computed on demand, so that a plan over a tree
// of any u64 size costs nothing to make. Levels come top-down (a tile's
// parent before the tile), indexes ascending within a level. Immutable.
// Its iterators refer to the plan: keep the plan alive (not a temporary)
// while iterating, and compare iterators of the same plan only.
class TilePlan {
 public:
  // Every tile of a tree of `size` leaves, full and partial, at every level
  // (of `kind` Entries or Data: every entry bundle or data tile).
  static TilePlan whole_tree(std::uint64_t size, TileKind kind = TileKind::Hash,
                             std::uint8_t height = kTileHeight);
  // The tiles whose contents differ between a tree of `old_size` and one of
  // `new_size` leaves (what a follower fetches as the log grows); empty
  // when new_size <= old_size.
  static TilePlan growth(std::uint64_t old_size, std::uint64_t new_size, TileKind kind = TileKind::Hash,
                         std::uint8_t height = kTileHeight);
  // The tiles at `level` (or the entry bundles / data tiles) holding leaves
  // [begin, end) of a tree of `size`; clamped to the tree (end > size
  // counts as size; begin >= end gives an empty plan).
  static TilePlan leaves(std::uint64_t size, std::uint64_t begin, std::uint64_t end,
                         TileKind kind = TileKind::Hash, std::uint8_t level = 0, std::uint8_t height = kTileHeight);

  class iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = TileId;
    using difference_type = std::ptrdiff_t;
    using pointer = const TileId*;
    using reference = TileId;

    iterator() = default;
    TileId operator*() const noexcept;
    iterator& operator++() noexcept;
    iterator operator++(int) noexcept {
      iterator old = *this;
      ++*this;
      return old;
    }
    friend bool operator==(const iterator& a, const iterator& b) noexcept {
      return a.plan_ == b.plan_ && a.segment_ == b.segment_ && a.offset_ == b.offset_;
    }

   private:
    friend class TilePlan;
    const TilePlan* plan_ = nullptr;
    std::size_t segment_ = 0;
    std::uint64_t offset_ = 0;
  };

  iterator begin() const noexcept;
  iterator end() const noexcept;
  bool empty() const noexcept { return segment_count_ == 0; }
  // Number of tiles (at most about 2^56 for height 8: it fits 64 bits).
  std::uint64_t count() const noexcept;

  // One level's run of tiles: indexes [first, first + count), all full but
  // the last, which is `last_width` wide.
  struct Segment {
    TileKind kind = TileKind::Hash;
    std::uint8_t level = 0;
    std::uint8_t height = kTileHeight;
    std::uint64_t first = 0;
    std::uint64_t count = 0;
    std::uint32_t last_width = 0;
  };
  std::span<const Segment> segments() const noexcept { return {segments_.data(), segment_count_}; }

 private:
  std::array<Segment, 64> segments_{};
  std::size_t segment_count_ = 0;
};

// ---------------------------------------------------------------------------
// Authentication
// ---------------------------------------------------------------------------

// A tile as the caller fetched it: the id it was requested under and its
// bytes (borrowed for the duration of the call). A hash tile is exactly
// 32 * id.width bytes. Where a right-edge partial tile has been deleted, its
// full tile (id.as_full(), exactly 8192 bytes) may be given instead: only
// its first W hashes are used.
struct TileData {
  TileId id;
  ByteView bytes;
};

// A hash tile whose hashes were shown to be those of the tree of one
// checkpoint. Only the library makes them. Its id carries the width the
// tree implies (for a full tile standing in for a deleted partial tile, the
// partial width: the extra hashes are dropped). Immutable; copies share
// the hashes.
class AuthenticatedTile {
 public:
  const TileId& id() const noexcept;
  std::uint32_t width() const noexcept { return id().width; }
  std::span<const Hash32> hashes() const noexcept;
  // The leaves the tile spans in the tree it was authenticated in.
  LeafRange leaves() const noexcept;

  struct Impl;  // opaque: defined by the library
  explicit AuthenticatedTile(std::shared_ptr<const Impl> impl) noexcept : impl_(std::move(impl)) {}

 private:
  std::shared_ptr<const Impl> impl_;
};

// What a caller allows about a log.
struct TileOptions {
  // The log's minimum index (tlog-tiles pruning; no endpoint publishes it,
  // so it comes from the caller's policy). A full tile whose leaves all lie
  // below it (end index <= min_index) may be missing and is reported as
  // pruned; a missing tile above it is a failure. Must not exceed the tree
  // size.
  std::uint64_t min_index = 0;
  // The largest tree the caller will audit: a checkpoint of a greater size
  // is refused (TreeTooLarge) before any tile is planned.
  std::uint64_t max_size = UINT64_MAX;
};

// A subtree's hash: MTH(D[start:end]) for a valid subtree [start, end)
// (start a multiple of the smallest power of two >= end - start).
struct SubtreeHash {
  std::uint64_t start = 0;
  std::uint64_t end = 0;
  Hash32 hash{};
  friend bool operator==(const SubtreeHash&, const SubtreeHash&) = default;
};

// Level-0 tiles checked over a range of leaves: which leaves are now
// verified and how many tiles the log was allowed not to serve.
struct RangeAudit {
  // The range asked for, clamped to the tree.
  LeafRange requested;
  // The end part of `requested` whose every tile was served and
  // authenticated (from the end of the last tile not authenticated on); all
  // of `requested` when the log served everything; empty (begin == end ==
  // requested.end) when the last tile was pruned.
  LeafRange verified;
  // Tiles of `requested` not served, or served below the minimum index
  // whose parent was pruned: all of them lie below the minimum index.
  std::uint64_t pruned_tiles = 0;
  // The level-0 tiles authenticated, in index order.
  std::vector<AuthenticatedTile> tiles;
};

// The tree of one verified checkpoint and the tiles authenticated for it so
// far. Immutable: adding tiles returns a new tree that shares the old one's
// tiles. Nothing unauthenticated is ever held.
class TiledTree {
 public:
  // From a checkpoint the caller verified (its signature and origin): size
  // and 32-byte root. TreeTooLarge above options.max_size;
  // InvalidHashLength for a root of another length; LeafIndexOutOfRange
  // (min_index, size) when min_index exceeds the size. An empty tree must
  // carry the empty root (RootMismatch).
  static std::expected<TiledTree, Error> create(const CheckpointHead& head, TileOptions options = {});
  static std::expected<TiledTree, Error> create(std::uint64_t size, ByteView root, TileOptions options = {});

  std::uint64_t size() const noexcept;
  const Hash32& root() const noexcept;
  const TileOptions& options() const noexcept;

  // The right-edge tiles: the partial tile of every level that has one,
  // top level first. Empty for a tree of 0 leaves.
  std::vector<TileId> edge_tiles() const;
  // True once the edge has been authenticated (always for the empty tree).
  bool edge_authenticated() const noexcept;

  // The tiles, not yet held, that the operation needs, parents before
  // children, the edge first while it is not authenticated. Empty when the
  // operation can be answered now. Out-of-range arguments give the tiles of
  // nothing (the operation itself reports the error).
  std::vector<TileId> needed_for_tile(const TileId& tile) const;
  std::vector<TileId> needed_for_leaf(std::uint64_t index) const;
  std::vector<TileId> needed_for_inclusion(std::uint64_t index) const;
  // (for consistency_proof and check_older_root alike)
  std::vector<TileId> needed_for_consistency(std::uint64_t old_size) const;
  std::vector<TileId> needed_for_subtree(std::uint64_t start, std::uint64_t end) const;
  std::vector<TileId> needed_for_subtrees(std::span<const SubtreeHash> subtrees) const;
  // The tiles above level 0 (and the edge) that audit_leaves(begin, end, ...)
  // needs to authenticate the level-0 tiles of the range; tiles that lie
  // wholly below the minimum index are left out (the log may have pruned
  // them).
  std::vector<TileId> needed_for_leaves(std::uint64_t begin, std::uint64_t end) const;

  // Authenticates `tiles` (any order: the edge by folding, the others under
  // their parents, held or in the same batch) and returns the tree holding
  // them too. All or nothing: the first tile that fails is the error, naming
  // it (TileHashMismatch, MalformedTile), and nothing is added. A tile that
  // cannot be reached from the checkpoint (its parent neither held nor
  // given) is TileMissing naming that parent; a tile the tree does not have
  // is MalformedTile.
  std::expected<TiledTree, Error> with_tiles(std::span<const TileData> tiles) const;

  // Authenticates one hash tile under the tiles held (its parent, or the
  // edge), without keeping it: the way a crawler checks many level-0 tiles
  // from many threads against one tree.
  std::expected<AuthenticatedTile, Error> authenticate(const TileData& tile) const;

  // The tile held at (level, index), if any.
  std::optional<AuthenticatedTile> tile(std::uint8_t level, std::uint64_t index) const;

  // Level-0 tiles for leaves [begin, end) (clamped to the tree), given in
  // `served`, authenticated under the tiles held (see needed_for_leaves); a
  // tile of the range not in `served` is pruned when its end index is at
  // most options().min_index, and TileMissing otherwise (a log must not hide
  // entries by calling them pruned). Only TilePlan::leaves(size(), begin,
  // end) tiles are accepted in `served`, each once (another is
  // MalformedTile); a served tile that does not authenticate is refused even
  // below the minimum index.
  std::expected<RangeAudit, Error> audit_leaves(std::uint64_t begin, std::uint64_t end,
                                                std::span<const TileData> served) const;

  // Hashes and proofs computed from the tiles held; a tile that is needed
  // and not held is TileMissing naming it. They equal what an honest log
  // would serve: verify_inclusion / verify_consistency accept them under
  // root().
  //
  // LeafIndexOutOfRange for index >= size().
  std::expected<Hash32, Error> leaf_hash(std::uint64_t index) const;
  std::expected<std::vector<Hash32>, Error> inclusion_proof(std::uint64_t index) const;
  // RFC 6962 consistency proof from the tree of `old_size` leaves to this
  // one: TreeSizeRegression above size(), EmptyTreeConsistency for 0, empty
  // for size().
  std::expected<std::vector<Hash32>, Error> consistency_proof(std::uint64_t old_size) const;
  // MTH(D[start:end]) for a valid subtree with end <= size(); InvalidSubtree
  // otherwise. The empty subtree hashes to SHA-256("").
  std::expected<Hash32, Error> subtree_hash(std::uint64_t start, std::uint64_t end) const;
  // That the tree of `old_size` leaves had root `old_root` (a checkpoint
  // seen earlier): its root is computed from the tiles held and compared
  // (RootMismatch), which is what verifying a consistency proof from it
  // would establish.
  std::expected<void, Error> check_older_root(std::uint64_t old_size, ByteView old_root) const;

  // Checks subtree hashes computed elsewhere (hash_tile_range, by workers
  // of a distributed audit) against the tiles held: each must equal
  // subtree_hash(start, end) (TileHashMismatch naming the range otherwise).
  // The workers' tiles are authenticated once this succeeds.
  std::expected<void, Error> confirm_subtrees(std::span<const SubtreeHash> subtrees) const;

  struct State;  // opaque: defined by the library

 private:
  explicit TiledTree(std::shared_ptr<const State> state) noexcept : state_(std::move(state)) {}
  std::shared_ptr<const State> state_;
};

// The independent half of a distributed audit: consecutive tiles of one
// level of a tree of `tree_size` leaves folded into the hashes of the
// largest aligned subtrees covering them (one hash when the range is one
// whole subtree). Nothing here is trusted: the result stands once
// TiledTree::confirm_subtrees accepts it. Each tile must be the one the plan
// implies next, with the width the tree size implies (or the full tile in
// place of a deleted partial one) and exactly its bytes (MalformedTile).
// A builder owned by one worker: not to be shared between threads.
class TileRangeHasher {
 public:
  // Tiles at `level` starting with tile `first_index`.
  TileRangeHasher(std::uint64_t tree_size, std::uint8_t level, std::uint64_t first_index);
  ~TileRangeHasher();
  TileRangeHasher(TileRangeHasher&&) noexcept;
  TileRangeHasher& operator=(TileRangeHasher&&) noexcept;

  // The next tile.
  std::expected<void, Error> add(const TileData& tile);
  // Level-0 hashes given as the entries they hash (an entry bundle or a data
  // tile standing for the level-0 tile; the leaf hashes are computed).
  std::expected<void, Error> add_entries(const TileData& bundle);
  // The next level-0 tile, checked as it goes in: its hashes must hash to
  // `expected` (what the authenticated tiles above hold for it: its slot in
  // the level-1 tile, or for the right-edge tile the hash of its leaves;
  // TileHashMismatch naming the tile), and `entries`, when given, must be
  // its entry bundle or data tile with every entry hashing to its slot
  // (as verify_entry_bundle and verify_data_tile check it).
  std::expected<void, Error> add_checked(const TileData& tile, const Hash32& expected,
                                         const TileData* entries = nullptr);
  // The subtree hashes of everything added, in leaf order.
  std::vector<SubtreeHash> finish() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// One-shot form: `tiles` consecutive at one level, from its first tile on.
std::expected<std::vector<SubtreeHash>, Error> hash_tile_range(std::uint64_t tree_size,
                                                               std::span<const TileData> tiles);

// A worker's whole share of a distributed audit in one pass: consecutive
// level-0 tiles, each checked against its hash from the tiles above
// (`expected`, one per tile) and, when `entries` is not empty, against its
// entry bundle or data tile (one per tile), folded into the range's subtree
// hashes. Each leaf is hashed once, as a single-process audit hashes it.
// The first tile or entry at fault is the error, named; a count that
// differs from the tiles' is MalformedTile.
std::expected<std::vector<SubtreeHash>, Error> check_leaf_tiles(std::uint64_t tree_size,
                                                                std::span<const Hash32> expected,
                                                                std::span<const TileData> tiles,
                                                                std::span<const TileData> entries = {});

// ---------------------------------------------------------------------------
// Entries
// ---------------------------------------------------------------------------

// One entry of an entry bundle: its position in the log and its bytes (a
// view into the bundle the caller passed in).
struct BundleEntry {
  std::uint64_t index = 0;
  ByteView data;
};

// Reads an entry bundle (tile/entries/<N>[.p/<W>]) without checking it
// against anything: exactly id.width big-endian uint16 length-prefixed
// entries and no trailing bytes (MalformedTile naming the bundle and the
// entry).
std::expected<std::vector<BundleEntry>, Error> parse_entry_bundle(const TileData& bundle);

// Reads the bundle and checks that each entry's RFC 6962 leaf hash equals
// its slot in the authenticated level-0 tile of the same index
// (TileHashMismatch naming the bundle and the entry's index). A full
// bundle may stand in for a deleted partial one: its first W entries are
// checked and returned.
std::expected<std::vector<BundleEntry>, Error> verify_entry_bundle(const AuthenticatedTile& level0,
                                                                  const TileData& bundle);

// RFC 6962 LogEntryType.
enum class CtEntryType : std::uint16_t { X509 = 0, Precert = 1 };

// One static-ct-api TileLeaf, as views into the data tile.
struct CtTileLeaf {
  std::uint64_t index = 0;  // position in the log
  // The TimestampedEntry (RFC 6962 section 3.4), verbatim; the MerkleTreeLeaf
  // is 0x00 0x00 followed by these bytes.
  ByteView timestamped_entry;
  std::uint64_t timestamp = 0;
  CtEntryType entry_type = CtEntryType::X509;
  // X509: the certificate. Precert: the TBSCertificate of the PreCert.
  ByteView certificate;
  // Precert only: SHA-256 of the issuer's public key (32 bytes).
  ByteView issuer_key_hash;
  // The CtExtensions, raw, and the leaf_index extension's value.
  ByteView extensions;
  std::uint64_t leaf_index = 0;
  // Precert only: the submitted precertificate.
  ByteView pre_certificate;
  // SHA-256 fingerprints of the issuers in the submitted chain (32 bytes
  // each), leaf side first.
  std::vector<ByteView> chain;
  // SHA-256(0x00 || MerkleTreeLeaf).
  Hash32 leaf_hash{};
};

// Reads a static-ct-api data tile (tile/data/<N>[.p/<W>]): exactly id.width
// TileLeaf records and no trailing bytes, each with a leaf_index extension
// equal to its position (MalformedTile naming the tile and the entry).
std::expected<std::vector<CtTileLeaf>, Error> parse_data_tile(const TileData& data);

// Reads the data tile and checks every leaf hash against its slot in the
// authenticated level-0 tile (TileHashMismatch naming the entry). A full data tile may stand
// in for a deleted partial one.
std::expected<std::vector<CtTileLeaf>, Error> verify_data_tile(const AuthenticatedTile& level0, const TileData& data);

// That `issuer` (the DER the log serves at issuer/<fingerprint>) hashes to
// `fingerprint` (32 bytes; InvalidHashLength otherwise): TileHashMismatch
// naming issuer/<fingerprint in lowercase hex> when it does not.
std::expected<void, Error> verify_issuer(ByteView fingerprint, ByteView issuer);

}  // namespace quenfold
