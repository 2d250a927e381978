// Entry bundles and static-ct data tiles checked against their level-0
// tiles; range audits with pruning; subtree summaries of worker ranges
// confirmed against the tiles above.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>

#include "quenfold/tiles.h"
#include "support/tiled_log.h"

namespace quenfold {
namespace {

using Files = std::map<std::string, std::vector<std::uint8_t>>;
using test::TiledLog;

ByteView view(const std::vector<std::uint8_t>& b) { return {b.data(), b.size()}; }

std::vector<TileData> fetch(const Files& files, const std::vector<TileId>& ids) {
  std::vector<TileData> out;
  for (const TileId& id : ids) out.push_back({id, view(files.at(format_tile_path(id).value()))});
  return out;
}

std::vector<TileId> ids(const TilePlan& plan) { return {plan.begin(), plan.end()}; }

TiledTree tree_of(const TiledLog& log, std::uint64_t size, TileOptions options = {}) {
  const test::Hash root = log.root(size);
  return TiledTree::create(size, ByteView(root.data(), 32), options).value();
}

TileId entry_id(const TiledLog& log, std::uint64_t size, std::uint64_t index) {
  return *tile_in_tree(size, 0, index, log.kind() == TiledLog::Kind::Bundles ? TileKind::Entries : TileKind::Data);
}

TEST(Entries, EveryEntryOfEveryTileMatchesItsSlot) {
  for (auto kind : {TiledLog::Kind::Bundles, TiledLog::Kind::StaticCt}) {
    const auto log = TiledLog::synthetic(700, kind);
    for (std::uint64_t size : {1ull, 256ull, 700ull}) {
      const Files files = log.files(size);
      const TiledTree tree = tree_of(log, size).with_tiles(fetch(files, ids(TilePlan::whole_tree(size)))).value();
      std::uint64_t seen = 0;
      for (std::uint64_t n = 0; n <= (size - 1) / 256; ++n) {
        const TileId id = entry_id(log, size, n);
        const TileData data{id, view(files.at(format_tile_path(id).value()))};
        const AuthenticatedTile level0 = tree.tile(0, n).value();
        if (kind == TiledLog::Kind::Bundles) {
          const auto entries = verify_entry_bundle(level0, data).value();
          ASSERT_EQ(entries.size(), id.width);
          for (const auto& e : entries) {
            EXPECT_EQ(e.index, seen++);
            EXPECT_EQ(std::vector<std::uint8_t>(e.data.begin(), e.data.end()), log.record(e.index));
          }
        } else {
          const auto leaves = verify_data_tile(level0, data).value();
          ASSERT_EQ(leaves.size(), id.width);
          for (const auto& l : leaves) {
            const test::CtEntry want = test::sample_ct_entry(seen);
            EXPECT_EQ(l.index, seen);
            EXPECT_EQ(l.leaf_index, seen);
            EXPECT_EQ(l.timestamp, want.timestamp);
            EXPECT_EQ(l.entry_type, want.precert ? CtEntryType::Precert : CtEntryType::X509);
            EXPECT_EQ(std::vector<std::uint8_t>(l.certificate.begin(), l.certificate.end()), want.certificate);
            EXPECT_EQ(std::vector<std::uint8_t>(l.pre_certificate.begin(), l.pre_certificate.end()), want.pre_certificate);
            EXPECT_EQ(std::vector<std::uint8_t>(l.timestamped_entry.begin(), l.timestamped_entry.end()),
                      test::timestamped_entry(want, seen));
            ASSERT_EQ(l.chain.size(), want.issuers.size());
            for (std::size_t i = 0; i < l.chain.size(); ++i) {
              EXPECT_TRUE(verify_issuer(l.chain[i], view(want.issuers[i])).has_value());
              EXPECT_EQ(verify_issuer(l.chain[i], view(want.certificate)).error().kind(), ErrorKind::TileHashMismatch);
            }
            ++seen;
          }
        }
      }
      EXPECT_EQ(seen, size);
    }
  }
}

// A bundle or data tile a hostile log altered, checked against the honest
// level-0 tile.
struct BadEntries {
  const char* what;
  TiledLog::Kind kind;
  std::function<std::vector<std::uint8_t>(const TiledLog&)> bytes;  // tile 0 of a 300-entry tree
  ErrorKind error;
  const char* message;
};

std::vector<std::uint8_t> bundle_with(const TiledLog& log, std::uint64_t changed, std::vector<std::uint8_t> entry) {
  std::vector<std::uint8_t> out;
  for (std::uint64_t i = 0; i < 256; ++i) {
    const auto& e = i == changed ? entry : log.record(i);
    out.push_back(static_cast<std::uint8_t>(e.size() >> 8));
    out.push_back(static_cast<std::uint8_t>(e.size()));
    out.insert(out.end(), e.begin(), e.end());
  }
  return out;
}

std::vector<std::uint8_t> data_tile_with(const TiledLog& log, std::uint64_t changed, std::vector<std::uint8_t> leaf) {
  std::vector<std::uint8_t> out;
  for (std::uint64_t i = 0; i < 256; ++i) {
    const auto& e = i == changed ? leaf : log.record(i);
    out.insert(out.end(), e.begin(), e.end());
  }
  return out;
}

TEST(Entries, HostileBundlesAndDataTilesAreRefused) {
  using K = TiledLog::Kind;
  const std::vector<BadEntries> cases = {
      {"entry not matching its slot", K::Bundles,
       [](const TiledLog& l) { return bundle_with(l, 17, {'e', 'v', 'i', 'l'}); }, ErrorKind::TileHashMismatch,
       "tile tile/entries/000 does not authenticate: entry 17 does not hash to its slot in tile/0/000"},
      {"trailing bytes", K::Bundles,
       [](const TiledLog& l) {
         auto b = l.entry_tile(300, 0);
         b.push_back(0);
         return b;
       },
       ErrorKind::MalformedTile, "malformed tile tile/entries/000: 1 trailing bytes after its 256 entries"},
      {"one entry short", K::Bundles,
       [](const TiledLog& l) {
         auto b = l.entry_tile(300, 0);
         b.resize(b.size() - l.record(255).size() - 2);
         return b;
       },
       ErrorKind::MalformedTile, "entry 255: entry length truncated"},
      {"length prefix beyond the tile", K::Bundles,
       [](const TiledLog& l) {
         auto b = l.entry_tile(300, 0);
         b.resize(b.size() - 1);
         return b;
       },
       ErrorKind::MalformedTile, "entry 255: entry truncated"},
      {"data tile entry not matching its slot", K::StaticCt,
       [](const TiledLog&) {
         const auto l = TiledLog::synthetic(300, K::StaticCt);
         auto e = test::sample_ct_entry(9);
         e.timestamp += 1;
         return data_tile_with(l, 9, test::tile_leaf(e, 9));
       },
       ErrorKind::TileHashMismatch, "entry 9 does not hash to its slot in tile/0/000"},
      {"leaf_index not the entry's position", K::StaticCt,
       [](const TiledLog& l) { return data_tile_with(l, 4, test::tile_leaf(test::sample_ct_entry(4), 5)); },
       ErrorKind::MalformedTile, "malformed tile tile/data/000: entry 4 (at byte"},
      {"unknown entry type", K::StaticCt,
       [](const TiledLog& l) {
         auto b = l.entry_tile(300, 0);
         b[9] = 7;  // entry 0's entry_type, after its 8-byte timestamp
         return b;
       },
       ErrorKind::MalformedTile, "entry 0 (at byte 0): unknown entry_type 7"},
      {"chain not whole fingerprints", K::StaticCt,
       [](const TiledLog& l) {
         auto leaf = test::tile_leaf(test::sample_ct_entry(2), 2);
         leaf.push_back(0xAA);                      // one byte more in the chain
         leaf[leaf.size() - 34] += 1;               // and its length says so
         return data_tile_with(l, 2, leaf);
       },
       ErrorKind::MalformedTile, "certificate_chain of 33 bytes"},
  };
  for (const BadEntries& c : cases) {
    const auto log = TiledLog::synthetic(300, c.kind);
    const Files files = log.files(300);
    const TiledTree tree = tree_of(log, 300).with_tiles(fetch(files, {{TileKind::Hash, 1, 0, 1}, {TileKind::Hash, 0, 1, 44}, {TileKind::Hash, 0, 0, 256}})).value();
    const auto bytes = c.bytes(log);
    const TileData data{entry_id(log, 300, 0), view(bytes)};
    const AuthenticatedTile level0 = tree.tile(0, 0).value();
    const auto err = c.kind == K::Bundles ? verify_entry_bundle(level0, data).error()
                                          : verify_data_tile(level0, data).error();
    EXPECT_EQ(err.kind(), c.error) << c.what << ": " << err.message();
    EXPECT_NE(err.message().find(c.message), std::string::npos) << c.what << ": " << err.message();
    // The range hasher refuses the same bytes before hashing anything.
    TileRangeHasher h(300, 0, 0);
    if (c.error == ErrorKind::MalformedTile) {
      EXPECT_FALSE(h.add_entries(data).has_value()) << c.what;
    }
  }
}

TEST(Audit, PrunedTilesBelowTheMinimumIndexAndNoneAbove) {
  const auto log = TiledLog::synthetic(70000, TiledLog::Kind::Bundles);
  const Files files = log.files(70000);
  const TileOptions options{.min_index = 1000};  // tiles 0, 1, 2 end at or below it
  const TiledTree base = tree_of(log, 70000, options);
  const TiledTree tree = base.with_tiles(fetch(files, base.needed_for_leaves(0, 70000))).value();
  EXPECT_TRUE(tree.needed_for_leaves(0, 70000).empty());
  const std::vector<TileId> all = ids(TilePlan::leaves(70000, 0, 70000));

  struct Case {
    const char* what;
    std::vector<std::uint64_t> withheld;
    std::optional<std::string> missing;  // the error, when one
    std::uint64_t pruned;
    LeafRange verified;
  };
  const std::vector<Case> cases = {
      {"everything served", {}, std::nullopt, 0, {0, 70000}},
      {"the pruned prefix withheld", {0, 1, 2}, std::nullopt, 3, {768, 70000}},
      {"one pruned tile withheld", {1}, std::nullopt, 1, {512, 70000}},
      {"the tile holding the minimum index withheld", {3}, "tile tile/0/003 is missing", 0, {}},
      {"a tile far above withheld", {200}, "tile tile/0/200 is missing", 0, {}},
      {"the partial tile withheld", {273}, "tile tile/0/273.p/112 is missing", 0, {}},
  };
  for (const Case& c : cases) {
    std::vector<TileId> served;
    for (const TileId& id : all)
      if (std::ranges::find(c.withheld, id.index) == c.withheld.end()) served.push_back(id);
    const auto r = tree.audit_leaves(0, 70000, fetch(files, served));
    if (c.missing) {
      ASSERT_FALSE(r.has_value()) << c.what;
      EXPECT_EQ(r.error().message(), *c.missing) << c.what;
      continue;
    }
    ASSERT_TRUE(r.has_value()) << c.what << ": " << r.error().message();
    EXPECT_EQ(r->pruned_tiles, c.pruned) << c.what;
    EXPECT_EQ(r->verified, c.verified) << c.what;
    EXPECT_EQ(r->tiles.size(), served.size()) << c.what;
  }
  // A served tile that is wrong is refused even below the minimum index.
  auto tampered = files;
  tampered.at("tile/0/001")[5] ^= 1;
  const auto r = tree.audit_leaves(0, 70000, fetch(tampered, all));
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().kind(), ErrorKind::TileHashMismatch);
  EXPECT_NE(r.error().message().find("tile/0/001"), std::string::npos);
}

TEST(RangeAudit, WorkerSummariesConfirmAgainstTheTilesAbove) {
  const auto log = TiledLog::synthetic(70000, TiledLog::Kind::Bundles);
  const Files files = log.files(70000);
  const TiledTree base = tree_of(log, 70000);
  // Workers take level-0 tiles [0, 64), [64, 256), [256, 274) (the last with
  // the partial tile: 16 + 1 tiles, then 64 + 32 + 16 leaves) and the entry
  // bundles of [128, 130).
  struct Work {
    std::uint64_t first, end;
    bool bundles;
    std::size_t summary;  // hashes in the summary
  };
  const std::vector<Work> work = {{0, 64, false, 1}, {64, 256, false, 2}, {256, 274, false, 5}, {128, 130, true, 1}};
  for (const Work& w : work) {
    std::vector<TileData> tiles;
    for (std::uint64_t n = w.first; n < w.end; ++n) {
      const TileId id = *tile_in_tree(70000, 0, n, w.bundles ? TileKind::Entries : TileKind::Hash);
      tiles.push_back({id, view(files.at(format_tile_path(id).value()))});
    }
    const auto summary = hash_tile_range(70000, tiles).value();
    EXPECT_EQ(summary.size(), w.summary) << w.first;
    EXPECT_EQ(summary.front().start, w.first * 256);
    EXPECT_EQ(summary.back().end, std::min<std::uint64_t>(w.end * 256, 70000));
    // The driver holds only what the summary's subtrees need: tiles above level 0 (and the edge).
    const auto needed = base.needed_for_subtrees(summary);
    for (const TileId& id : needed) EXPECT_TRUE(id.level > 0 || id.is_partial()) << format_tile_path(id).value();
    const TiledTree driver = base.with_tiles(fetch(files, needed)).value();
    EXPECT_TRUE(driver.confirm_subtrees(summary).has_value()) << w.first;
    // A worker that hashed a tampered tile is caught, its range named.
    auto bad = summary;
    bad.back().hash[0] ^= 1;
    const auto err = driver.confirm_subtrees(bad);
    ASSERT_FALSE(err.has_value());
    EXPECT_EQ(err.error().kind(), ErrorKind::TileHashMismatch);
  }
  // Out of order or a foreign tile is refused by the worker itself.
  TileRangeHasher h(70000, 0, 5);
  EXPECT_EQ(h.add({{TileKind::Hash, 0, 6, 256}, view(files.at("tile/0/006"))}).error().kind(), ErrorKind::MalformedTile);
  EXPECT_EQ(h.add({{TileKind::Hash, 0, 5, 256}, view(files.at("tile/0/006")).first(8000)}).error().kind(),
            ErrorKind::MalformedTile);
  EXPECT_TRUE(h.add({{TileKind::Hash, 0, 5, 256}, view(files.at("tile/0/005"))}).has_value());

  // At the top of a tree of 2^64 - 1 leaves: the level-7 tile's 255 hashes
  // (each 2^56 leaves) fold into subtrees of 2^63, 2^62, ... 2^56 leaves.
  const std::vector<std::uint8_t> top(255 * 32, 0x5A);
  const auto sums = hash_tile_range(UINT64_MAX, std::vector<TileData>{{{TileKind::Hash, 7, 0, 255}, view(top)}}).value();
  ASSERT_EQ(sums.size(), 8u);
  std::uint64_t at = 0;
  for (std::size_t i = 0; i < sums.size(); ++i) {
    EXPECT_EQ(sums[i].start, at);
    EXPECT_EQ(sums[i].end - sums[i].start, std::uint64_t{1} << (63 - i));
    at = sums[i].end;
  }
  EXPECT_EQ(at, 255ull << 56);
}

// A worker's whole share checked in one pass: the same summary as
// hash_tile_range when everything holds, else the first tile or entry at
// fault, named, whichever kind of log and wherever in the range.
TEST(RangeAudit, CheckLeafTilesNamesTheFirstFault) {
  struct Case {
    const char* what;
    TiledLog::Kind kind;
    std::uint64_t size;
    bool entries;
    std::function<void(std::vector<Hash32>&, Files&)> spoil;
    ErrorKind error;  // TileHashMismatch or MalformedTile; unused when `named` is empty
    std::string named, detail;
  };
  auto flip = [](std::vector<std::uint8_t>& b, std::size_t at) { b.at(at) ^= 1; };
  const std::vector<Case> cases = {
      {"honest bundles", TiledLog::Kind::Bundles, 70000, true, nullptr, {}, "", ""},
      {"honest hash tiles", TiledLog::Kind::Bundles, 70000, false, nullptr, {}, "", ""},
      {"honest data tiles", TiledLog::Kind::StaticCt, 700, true, nullptr, {}, "", ""},
      {"a flipped full tile", TiledLog::Kind::Bundles, 70000, false,
       [&](auto&, Files& f) { flip(f.at("tile/0/263"), 100); }, ErrorKind::TileHashMismatch, "tile/0/263",
       "its hashes do not hash to entry 7 of tile/1/001.p/17"},
      {"a flipped right-edge tile", TiledLog::Kind::StaticCt, 700, false,
       [&](auto&, Files& f) { flip(f.at("tile/0/002.p/188"), 5); }, ErrorKind::TileHashMismatch,
       "tile/0/002.p/188", "the hash of leaves [512, 700)"},
      {"an expected hash that differs", TiledLog::Kind::Bundles, 70000, false,
       [](std::vector<Hash32>& e, Files&) { e.at(3)[0] ^= 1; }, ErrorKind::TileHashMismatch, "tile/0/003",
       "entry 3 of tile/1/000"},
      {"a tampered entry", TiledLog::Kind::Bundles, 70000, true,
       [&](auto&, Files& f) { flip(f.at("tile/entries/100"), 10); }, ErrorKind::TileHashMismatch,
       "tile/entries/100", "entry 25600 does not hash"},
      {"a tampered data tile", TiledLog::Kind::StaticCt, 700, true,
       [&](auto&, Files& f) { flip(f.at("tile/data/001"), 20); }, ErrorKind::TileHashMismatch, "tile/data/001",
       "does not hash to its slot in tile/0/001"},
      {"a bundle with a byte more", TiledLog::Kind::Bundles, 70000, true,
       [&](auto&, Files& f) { f.at("tile/entries/005").push_back(0); }, ErrorKind::MalformedTile,
       "tile/entries/005", "1 trailing bytes"},
      {"a hash missing", TiledLog::Kind::Bundles, 70000, false, [](std::vector<Hash32>& e, Files&) { e.pop_back(); },
       ErrorKind::MalformedTile, "tile/0/000", "with 273 expected hashes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto log = TiledLog::synthetic(c.size, c.kind);
    Files files = log.files(c.size);
    // What the driver hands the worker: each tile's hash from the tiles above.
    const TiledTree tree = tree_of(log, c.size).with_tiles(fetch(files, tree_of(log, c.size).edge_tiles())).value();
    std::vector<Hash32> expected;
    const std::uint64_t count = (c.size + 255) / 256;
    for (std::uint64_t n = 0; n < count; ++n)
      expected.push_back(n < c.size / 256 ? log.level_hash(1, n) : tree.subtree_hash(n * 256, c.size).value());
    const std::vector<TileData> honest = fetch(files, ids(TilePlan::leaves(c.size, 0, c.size, TileKind::Hash, 0)));
    const auto want = hash_tile_range(c.size, honest).value();
    if (c.spoil) c.spoil(expected, files);
    const std::vector<TileData> tiles = fetch(files, ids(TilePlan::leaves(c.size, 0, c.size, TileKind::Hash, 0)));
    const TileKind ek = c.kind == TiledLog::Kind::Bundles ? TileKind::Entries : TileKind::Data;
    const std::vector<TileData> entries =
        c.entries ? fetch(files, ids(TilePlan::leaves(c.size, 0, c.size, ek, 0))) : std::vector<TileData>{};
    const auto got = check_leaf_tiles(c.size, expected, tiles, entries);
    if (c.named.empty()) {
      ASSERT_TRUE(got.has_value()) << got.error().message();
      EXPECT_EQ(*got, want);
      EXPECT_TRUE(tree.with_tiles(fetch(files, tree.needed_for_subtrees(*got))).value().confirm_subtrees(*got));
      continue;
    }
    ASSERT_FALSE(got.has_value());
    EXPECT_EQ(got.error().kind(), c.error) << got.error().message();
    EXPECT_NE(got.error().message().find(c.named), std::string::npos) << got.error().message();
    EXPECT_NE(got.error().message().find(c.detail), std::string::npos) << got.error().message();
  }
}

}  // namespace
}  // namespace quenfold
