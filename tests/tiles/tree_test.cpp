// Tiles authenticated against a checkpoint, and the proofs and hashes
// computed from them, against an independent RFC 6962 builder; and every
// misbehaviour of a hostile log refused, the tile named, nothing accepted.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <thread>

#include <openssl/sha.h>

#include <functional>
#include <nlohmann/json.hpp>

#include "quenfold/tiles.h"
#include "support/testdata.h"
#include "support/tiled_log.h"

namespace quenfold {
namespace {

using Files = std::map<std::string, std::vector<std::uint8_t>>;

ByteView view(const std::vector<std::uint8_t>& b) { return {b.data(), b.size()}; }
ByteView view(const Hash32& h) { return {h.data(), h.size()}; }

// What a client fetches for `ids` from a log serving `files`.
std::vector<TileData> fetch(const Files& files, const std::vector<TileId>& ids) {
  std::vector<TileData> out;
  for (const TileId& id : ids) out.push_back({id, view(files.at(format_tile_path(id).value()))});
  return out;
}

std::vector<TileId> ids(const TilePlan& plan) { return {plan.begin(), plan.end()}; }

TiledTree tree_of(const test::TiledLog& log, std::uint64_t size, TileOptions options = {}) {
  const test::Hash root = log.root(size);
  return TiledTree::create(size, view(root), options).value();
}

std::vector<ByteView> views(const std::vector<Hash32>& hs) {
  std::vector<ByteView> out;
  for (const Hash32& h : hs) out.push_back(view(h));
  return out;
}

const nlohmann::json& subtree_vectors() {
  static const nlohmann::json doc = nlohmann::json::parse(
      test::read_file(test::testdata_path("real-logs/tiles/torchwood-subtree-vectors/vectors.json")));
  return doc;
}

const test::TiledLog& big_log() {
  static const test::TiledLog log = test::TiledLog::synthetic(70000 + 300, test::TiledLog::Kind::Bundles);
  return log;
}

// Sizes with full and partial tiles at one, two and three levels.
const std::vector<std::uint64_t> kSizes = {1, 2, 7, 255, 256, 257, 511, 4096, 65536, 65537, 70000};

TEST(TiledTree, ProofsFromTilesEqualTheRfcBuildersAndVerify) {
  const auto& log = big_log();
  std::mt19937_64 rng(7);
  for (std::uint64_t size : kSizes) {
    const Files files = log.files(size);
    TiledTree tree = tree_of(log, size);
    const test::Hash root = log.root(size);
    std::vector<std::uint64_t> indexes = {0, size - 1, size / 2};
    for (int i = 0; i < 3; ++i) indexes.push_back(rng() % size);
    for (std::uint64_t index : indexes) {
      tree = tree.with_tiles(fetch(files, tree.needed_for_inclusion(index))).value();
      ASSERT_TRUE(tree.needed_for_inclusion(index).empty());
      const auto proof = tree.inclusion_proof(index).value();
      const auto want = log.tree().inclusion_proof(index, size);
      ASSERT_EQ(proof.size(), want.size()) << size << " " << index;
      for (std::size_t i = 0; i < proof.size(); ++i) EXPECT_EQ(proof[i], want[i]) << size << " " << index;
      const Hash32 leaf = tree.leaf_hash(index).value();
      EXPECT_EQ(leaf, log.tree().leaf_hash(index));
      const auto pv = views(proof);
      EXPECT_TRUE(verify_inclusion(index, size, view(leaf), pv, view(root)).has_value());
    }
    std::vector<std::uint64_t> olds = {1, size, size - 1 > 0 ? size - 1 : 1, size / 3 + 1};
    for (int i = 0; i < 2; ++i) olds.push_back(1 + rng() % size);
    for (std::uint64_t old : olds) {
      tree = tree.with_tiles(fetch(files, tree.needed_for_consistency(old))).value();
      const auto proof = tree.consistency_proof(old).value();
      const auto want = log.tree().consistency_proof(old, size);
      ASSERT_EQ(proof.size(), want.size()) << size << " from " << old;
      for (std::size_t i = 0; i < proof.size(); ++i) EXPECT_EQ(proof[i], want[i]) << size << " from " << old;
      const test::Hash old_root = log.root(old);
      const auto pv = views(proof);
      EXPECT_TRUE(verify_consistency(old, size, pv, view(old_root), view(root)).has_value());
      EXPECT_TRUE(tree.check_older_root(old, view(old_root)).has_value());
      // Another tree's root at that size is not this log's past.
      test::Hash wrong = old_root;
      wrong[0] ^= 1;
      EXPECT_EQ(tree.check_older_root(old, view(wrong)).error().kind(), ErrorKind::RootMismatch);
    }
  }
}

TEST(TiledTree, OutOfRangeQuestionsAreErrorsNotGuesses) {
  const auto& log = big_log();
  const TiledTree tree = tree_of(log, 300).with_tiles(fetch(log.files(300), ids(TilePlan::whole_tree(300)))).value();
  EXPECT_EQ(tree.inclusion_proof(300).error().kind(), ErrorKind::LeafIndexOutOfRange);
  EXPECT_EQ(tree.leaf_hash(300).error().kind(), ErrorKind::LeafIndexOutOfRange);
  EXPECT_EQ(tree.consistency_proof(301).error().kind(), ErrorKind::TreeSizeRegression);
  EXPECT_EQ(tree.consistency_proof(0).error().kind(), ErrorKind::EmptyTreeConsistency);
  EXPECT_TRUE(tree.consistency_proof(300).value().empty());
  EXPECT_EQ(tree.subtree_hash(2, 6).error().kind(), ErrorKind::InvalidSubtree);
  EXPECT_EQ(tree.subtree_hash(256, 301).error().kind(), ErrorKind::InvalidSubtree);
  EXPECT_EQ(tree.subtree_hash(0, 0).value(), rfc6962_empty_root());
  // A tile that is needed and not held is named.
  const TiledTree bare = tree_of(log, 300);
  const auto missing = bare.leaf_hash(3);
  ASSERT_FALSE(missing.has_value());
  EXPECT_EQ(missing.error().message(), "tile tile/0/000 is missing");
}

TEST(TiledTree, CheckpointLimitsAndTheEmptyTree) {
  const Hash32 empty = rfc6962_empty_root();
  EXPECT_TRUE(TiledTree::create(0, view(empty)).has_value());
  EXPECT_TRUE(TiledTree::create(0, view(empty)).value().edge_authenticated());
  Hash32 other = empty;
  other[5] ^= 1;
  EXPECT_EQ(TiledTree::create(0, view(other)).error().kind(), ErrorKind::RootMismatch);
  EXPECT_EQ(TiledTree::create(UINT64_MAX, view(other), {.max_size = 1u << 30}).error().message(),
            "tree size 18446744073709551615 exceeds the audit limit 1073741824");
  EXPECT_EQ(TiledTree::create(10, ByteView(empty).first(31)).error().kind(), ErrorKind::InvalidHashLength);
  EXPECT_EQ(TiledTree::create(10, view(empty), {.min_index = 11}).error().kind(), ErrorKind::LeafIndexOutOfRange);
  // A checkpoint near 2^64: planning is lazy and exact.
  const TiledTree huge = TiledTree::create(UINT64_MAX, view(other)).value();
  const auto edge = huge.edge_tiles();
  ASSERT_EQ(edge.size(), 8u);
  EXPECT_EQ(format_tile_path(edge.front()).value(), "tile/7/000.p/255");
  EXPECT_EQ(format_tile_path(edge.back()).value(), "tile/0/x072/x057/x594/x037/x927/935.p/255");
  EXPECT_EQ(edge.back().index, UINT64_MAX >> 8);
  const auto needed = huge.needed_for_inclusion(12345);
  EXPECT_EQ(needed.size(), 8u + 7u);  // the edge, then one full tile per level below the top
  EXPECT_EQ(huge.subtree_hash(0, 4611686018427387904ull).error().kind(), ErrorKind::TileMissing);
  EXPECT_EQ(huge.subtree_hash(1, 4611686018427387905ull).error().kind(), ErrorKind::InvalidSubtree);
}

// One way a log can lie, applied to the files it serves for a tree of
// 70000 leaves; `expect` is the error's message.
struct Hostile {
  const char* what;
  std::function<void(Files&, std::vector<TileData>&)> tamper;
  ErrorKind kind;
  const char* message_part;
};

TEST(TiledTree, HostileLogsAreRefusedWithTheTileNamed) {
  const auto& log = big_log();
  const std::uint64_t size = 70000;
  const auto other = test::TiledLog::of_entries([] {
    std::vector<std::vector<std::uint8_t>> e;
    for (int i = 0; i < 70000; ++i) e.push_back({static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i >> 8), 1});
    return e;
  }());
  auto flip = [](const char* path, std::size_t at) {
    return [path, at](Files& f, std::vector<TileData>&) { f.at(path).at(at) ^= 0x20; };
  };
  const std::vector<Hostile> cases = {
      {"flipped byte, level-2 edge tile", flip("tile/2/000.p/1", 31), ErrorKind::TileHashMismatch,
       "tile tile/2/000.p/1 + tile/1/001.p/17 + tile/0/273.p/112 does not authenticate: the right-edge tiles do not hash to the checkpoint's root"},
      {"flipped byte, level-0 edge tile", flip("tile/0/273.p/112", 32 * 111), ErrorKind::TileHashMismatch,
       "right-edge tiles"},
      {"flipped byte, full level-1 tile", flip("tile/1/000", 4000), ErrorKind::TileHashMismatch,
       "tile tile/1/000 does not authenticate: its hashes do not hash to entry 0 of tile/2/000.p/1"},
      {"flipped byte, full level-0 tile", flip("tile/0/003", 8191), ErrorKind::TileHashMismatch,
       "tile tile/0/003 does not authenticate: its hashes do not hash to entry 3 of tile/1/000"},
      {"trailing byte", [](Files& f, auto&) { f.at("tile/0/003").push_back(0); }, ErrorKind::MalformedTile,
       "malformed tile tile/0/003: 8193 bytes, want exactly 8192"},
      {"short partial tile", [](Files& f, auto&) { f.at("tile/1/001.p/17").resize(32 * 16); },
       ErrorKind::MalformedTile, "malformed tile tile/1/001.p/17: 512 bytes, want exactly 544"},
      {"partial tile wider than the checkpoint implies",
       [](Files& f, std::vector<TileData>& given) {
         auto& b = f["tile/1/001.p/18"] = f.at("tile/1/001.p/17");
         b.resize(32 * 18);
         for (auto& d : given)
           if (d.id.level == 1 && d.id.width == 17) d = {{TileKind::Hash, 1, 1, 18}, view(b)};
       },
       ErrorKind::MalformedTile, "malformed tile tile/1/001.p/18: width 18, but a tree of size 70000 gives the tile width 17"},
      {"full tile where the tree has none",
       [](Files& f, std::vector<TileData>& given) {
         given.push_back({{TileKind::Hash, 0, 274, 256}, view(f.at("tile/0/003"))});
       },
       ErrorKind::MalformedTile, "a tree of size 70000 has no such tile"},
      {"missing edge tile",
       [](Files&, std::vector<TileData>& given) { std::erase_if(given, [](const TileData& d) { return d.id.level == 1 && d.id.is_partial(); }); },
       ErrorKind::TileMissing, "tile tile/1/001.p/17 is missing"},
      {"missing parent",
       [](Files&, std::vector<TileData>& given) {
         std::erase_if(given, [](const TileData& d) { return d.id.level == 1 && !d.id.is_partial(); });
       },
       ErrorKind::TileMissing, "tile tile/1/000 is missing"},
      {"a different tree behind the same checkpoint",
       [&other](Files& f, std::vector<TileData>&) {
         for (auto& [path, bytes] : other.files(70000))
           if (f.contains(path)) f[path] = bytes;
       },
       ErrorKind::TileHashMismatch, "the right-edge tiles do not hash to the checkpoint's root"},
      {"the same tile given twice, differently",
       [](Files& f, std::vector<TileData>& given) {
         auto& copy = f["copy"] = f.at("tile/0/003");
         copy[0] ^= 1;
         given.push_back({{TileKind::Hash, 0, 3, 256}, view(copy)});
       },
       ErrorKind::TileHashMismatch, "tile tile/0/003 does not authenticate: differs from the tile already authenticated"},
  };
  // Leaf 1000: the three edge tiles, then tile/1/000 and tile/0/003.
  for (const Hostile& c : cases) {
    Files files = log.files(size);
    const TiledTree tree = tree_of(log, size);
    const std::vector<TileId> ids = tree.needed_for_leaf(1000);
    ASSERT_EQ(ids.size(), 5u);
    std::vector<TileData> given;
    for (const TileId& id : ids) given.push_back({id, {}});
    c.tamper(files, given);
    for (TileData& d : given)
      if (d.bytes.empty()) d.bytes = view(files.at(format_tile_path(d.id).value()));
    const auto r = tree.with_tiles(given);
    ASSERT_FALSE(r.has_value()) << c.what;
    EXPECT_EQ(r.error().kind(), c.kind) << c.what << ": " << r.error().message();
    EXPECT_NE(r.error().message().find(c.message_part), std::string::npos) << c.what << ": " << r.error().message();
    // Nothing was accepted: the tree asked is still without any tile.
    EXPECT_FALSE(tree.edge_authenticated());
    EXPECT_FALSE(tree.tile(1, 0).has_value());
  }
  // The untampered batch goes through, as the control.
  Files files = log.files(size);
  const TiledTree tree = tree_of(log, size);
  const auto accepted = tree.with_tiles(fetch(files, tree.needed_for_leaf(1000)));
  ASSERT_TRUE(accepted.has_value());
  EXPECT_EQ(accepted->leaf_hash(1000).value(), log.tree().leaf_hash(1000));
  EXPECT_TRUE(accepted->needed_for_leaf(1000).empty());
}

TEST(TiledTree, AFullTileStandsInForADeletedPartialOne) {
  const auto& log = big_log();
  const std::uint64_t size = 70000;  // the log has since grown to 70300
  const Files now = log.files(70300);
  const Files then = log.files(size);
  const TiledTree tree = tree_of(log, size);
  std::vector<TileData> given;
  for (const TileId& id : tree.edge_tiles()) {
    // tile/0/273.p/112 is gone: its full tile is served instead.
    const std::string partial = format_tile_path(id).value();
    if (id.level == 0) {
      given.push_back({id.as_full(), view(now.at(format_tile_path(id.as_full()).value()))});
    } else {
      given.push_back({id, view(then.at(partial))});
    }
  }
  const TiledTree with = tree.with_tiles(given).value();
  const auto t = with.tile(0, 273).value();
  EXPECT_EQ(t.width(), 112u);
  EXPECT_EQ(t.hashes().back(), log.tree().leaf_hash(69999));
  // A stand-in of the wrong length is refused.
  std::vector<std::uint8_t> short_full(now.at("tile/0/273").begin(), now.at("tile/0/273").end() - 1);
  for (auto& d : given)
    if (d.id.level == 0) d.bytes = view(short_full);
  EXPECT_EQ(tree.with_tiles(given).error().kind(), ErrorKind::MalformedTile);
}

TEST(TiledTree, OneTreeSharedByCrawlerThreads) {
  // Four threads authenticate level-0 tiles against one tree holding the
  // tiles above, and compute proofs from copies extended with their tiles.
  const auto& log = big_log();
  const Files files = log.files(70000);
  const TiledTree base = tree_of(log, 70000);
  const TiledTree tree = base.with_tiles(fetch(files, base.needed_for_leaves(0, 70000))).value();
  // The answers computed on one thread, from a tree holding every tile.
  const TiledTree full = tree.with_tiles(fetch(files, ids(TilePlan::leaves(70000, 0, 70000)))).value();
  std::vector<std::vector<Hash32>> want;
  for (std::uint64_t n = 0; n < 274; ++n) want.push_back(full.inclusion_proof(n * 256).value());
  std::vector<int> failures(4, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (std::uint64_t n = static_cast<std::uint64_t>(t); n < 274; n += 4) {
        const TileId id = *tile_in_tree(70000, 0, n);
        const auto tile = tree.authenticate({id, view(files.at(format_tile_path(id).value()))});
        if (!tile || tile->hashes()[0] != log.tree().leaf_hash(n * 256)) ++failures[static_cast<std::size_t>(t)];
        const auto mine = tree.with_tiles(std::vector<TileData>{{id, view(files.at(format_tile_path(id).value()))}});
        const auto got = mine ? mine->inclusion_proof(n * 256) : std::unexpected(mine.error());
        if (!got || *got != want[n])
          ++failures[static_cast<std::size_t>(t)];
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(failures, std::vector<int>(4, 0));
  EXPECT_FALSE(tree.tile(0, 0).has_value());  // the shared tree itself never changed
}

TEST(TiledTree, SubtreeHashVectors) {
  // Leaf i of the 130-leaf tree is the single byte i. For end in [0, 130]
  // and start in [0, end], each valid subtree contributes the line
  // "[start, end) <hex hash>\n"; the digest of all lines is the vectors'.
  std::vector<std::vector<std::uint8_t>> entries;
  for (int i = 0; i < 130; ++i) entries.push_back({static_cast<std::uint8_t>(i)});
  const auto log = test::TiledLog::of_entries(entries);
  const Files files = log.files(130);
  const TiledTree tree = tree_of(log, 130).with_tiles(fetch(files, {TileId{TileKind::Hash, 0, 0, 130}})).value();
  std::string lines;
  for (std::uint64_t end = 0; end <= 130; ++end) {
    for (std::uint64_t start = 0; start <= end; ++start) {
      const auto h = tree.subtree_hash(start, end);
      if (!h) {
        ASSERT_EQ(h.error().kind(), ErrorKind::InvalidSubtree);
        continue;
      }
      lines += "[" + std::to_string(start) + ", " + std::to_string(end) + ") " + test::to_hex(*h) + "\n";
    }
  }
  std::array<std::uint8_t, 32> digest{};
  SHA256(reinterpret_cast<const std::uint8_t*>(lines.data()), lines.size(), digest.data());
  std::string want;
  for (const auto& a : subtree_vectors().at("accumulated"))
    if (a.at("name") == "AccumulatedSubtreeHash") want = a.at("sha256");
  EXPECT_EQ(test::to_hex(digest), want);
}

TEST(TiledTree, ValidSubtreeVectors) {
  const Hash32 root{};
  const TiledTree huge = TiledTree::create(UINT64_MAX, view(root)).value();
  int checked = 0;
  for (const auto& v : subtree_vectors().at("valid_subtree")) {
    const std::int64_t start = v.at("start");
    const std::uint64_t end = v.at("end");
    if (start < 0) continue;  // not representable as a u64 position
    // The vectors' 2^62 limit is their generator's own: [0, 2^62 + 1) is a subtree.
    const bool valid = v.at("valid").get<bool>() || v.contains("implementation_limit");
    const auto h = huge.subtree_hash(static_cast<std::uint64_t>(start), end);
    ++checked;
    if (valid && static_cast<std::uint64_t>(start) == end) {
      EXPECT_EQ(h.value(), rfc6962_empty_root());
      continue;
    }
    // Valid subtrees lack a tile here; invalid ones are refused before that.
    ASSERT_FALSE(h.has_value());
    EXPECT_EQ(h.error().kind(), valid ? ErrorKind::TileMissing : ErrorKind::InvalidSubtree) << start << " " << end;
  }
  EXPECT_EQ(checked, 15);
}

}  // namespace
}  // namespace quenfold
