// Tile paths and tree shapes: the checksum database's path and new-tile
// vectors, the tlog-tiles spelling rules at their bounds, and the tiles of
// trees of every size up to 2^64 - 1.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <set>

#include "quenfold/tiles.h"
#include "support/testdata.h"
#include "support/tiled_log.h"

namespace quenfold {
namespace {

using nlohmann::json;

const json& sumdb_vectors() {
  static const json doc =
      json::parse(test::read_file(test::testdata_path("real-logs/tiles/golang-mod-tlog-vectors/vectors.json")));
  return doc;
}

TEST(TilePaths, ChecksumDatabasePathVectors) {
  for (const json& v : sumdb_vectors().at("tile_paths")) {
    const std::string path = v.at("path");
    const auto t = parse_tile_path(path, TilePathForm::Sumdb);
    ASSERT_EQ(t.has_value(), v.at("valid").get<bool>()) << path;
    if (!t) {
      EXPECT_EQ(t.error().kind(), ErrorKind::MalformedTilePath);
      EXPECT_NE(t.error().message().find(path), std::string::npos) << t.error().message();
      continue;
    }
    EXPECT_EQ(t->height, v.at("height").get<int>()) << path;
    // The vectors write the data tile as level -1.
    const int level = v.at("level");
    EXPECT_EQ(t->kind, level == -1 ? TileKind::Data : TileKind::Hash) << path;
    if (level >= 0) {
      EXPECT_EQ(t->level, level) << path;
    }
    EXPECT_EQ(t->index, v.at("index").get<std::uint64_t>()) << path;
    EXPECT_EQ(t->width, v.at("width").get<std::uint32_t>()) << path;
    EXPECT_EQ(format_tile_path(*t, TilePathForm::Sumdb).value(), path);
    // No checksum-database path of another height reads as a tlog path.
    if (t->height != kTileHeight) {
      EXPECT_FALSE(parse_tile_path(path, TilePathForm::Tlog).has_value()) << path;
    }
  }
}

TEST(TilePaths, NewTileCountVectors) {
  // Tile height 10: the tiles whose contents differ between the two sizes.
  for (const json& v : sumdb_vectors().at("new_tiles")) {
    const TilePlan plan = TilePlan::growth(v.at("old"), v.at("new"), TileKind::Hash, 10);
    EXPECT_EQ(plan.count(), v.at("want").get<std::uint64_t>()) << v.dump();
    std::uint64_t walked = 0;
    for (const TileId& t : plan) {
      EXPECT_EQ(t.height, 10);
      ++walked;
    }
    EXPECT_EQ(walked, plan.count());
  }
}

TEST(TilePaths, TlogSpellingAtItsBounds) {
  struct Case {
    std::string path;
    bool valid;
    TileId want{};
  };
  const std::vector<Case> cases = {
      {"tile/0/000", true, {TileKind::Hash, 0, 0, 256}},
      {"tile/0/001.p/44", true, {TileKind::Hash, 0, 1, 44}},
      {"tile/63/999", true, {TileKind::Hash, 63, 999, 256}},
      {"tile/2/x001/x234/067.p/255", true, {TileKind::Hash, 2, 1234067, 255}},
      {"tile/0/x018/x446/x744/x073/x709/x551/615", true, {TileKind::Hash, 0, UINT64_MAX, 256}},
      {"tile/entries/x001/000.p/1", true, {TileKind::Entries, 0, 1000, 1}},
      {"tile/data/005", true, {TileKind::Data, 0, 5, 256}},
      {"tile/0/x018/x446/x744/x073/x709/x551/616", false},  // 2^64
      {"tile/0/x001/x018/x446/x744/x073/x709/x551/615", false},  // 8 groups
      {"tile/64/000", false},
      {"tile/00/000", false},
      {"tile/-1/000", false},
      {"tile/0/000.p/256", false},
      {"tile/0/000.p/0", false},
      {"tile/0/000.p/044", false},
      {"tile/0/000.p", false},
      {"tile/0/000.p/4/5", false},
      {"tile/0/x000/001", false},
      {"tile/0/001/234", false},
      {"tile/0/1", false},
      {"tile/0/0001", false},
      {"tile/0/x001", false},
      {"tile/0/000/", false},
      {"tile/0/", false},
      {"tile/0", false},
      {"tiles/0/000", false},
      {"/tile/0/000", false},
      {"tile/8/0/000", false},  // the checksum-database form is not a tlog path
      {"tile/entries/1/000", false},
      {"tile/0/00a", false},
      {"tile/0/+01", false},
  };
  for (const Case& c : cases) {
    const auto t = parse_tile_path(c.path);
    ASSERT_EQ(t.has_value(), c.valid) << c.path;
    if (!c.valid) {
      EXPECT_EQ(t.error().kind(), ErrorKind::MalformedTilePath) << c.path;
      continue;
    }
    EXPECT_EQ(*t, c.want) << c.path;
    EXPECT_EQ(format_tile_path(*t).value(), c.path);
    // The builder's independent spelling agrees.
    const std::string level = c.want.kind == TileKind::Entries ? "entries"
                              : c.want.kind == TileKind::Data  ? "data"
                                                               : std::to_string(c.want.level);
    EXPECT_EQ(test::tlog_path(level, c.want.index, c.want.width), c.path);
  }
  // Checksum-database widths at small heights: below 2^H only (a bound
  // under 10 once let any single digit through).
  for (const auto& [path, valid] : std::vector<std::pair<std::string, bool>>{
           {"tile/1/0/000.p/1", true}, {"tile/1/0/000.p/2", false}, {"tile/1/0/000.p/9", false},
           {"tile/2/0/000.p/3", true}, {"tile/2/0/000.p/4", false}, {"tile/30/63/000.p/1073741823", true},
           {"tile/30/0/000.p/1073741824", false}, {"tile/31/0/000", false}, {"tile/0/0/000", false}}) {
    const auto t = parse_tile_path(path, TilePathForm::Sumdb);
    EXPECT_EQ(t.has_value(), valid) << path;
    if (t) {
      EXPECT_EQ(format_tile_path(*t, TilePathForm::Sumdb).value(), path);
    }
  }
  // What cannot be written is refused rather than misspelt.
  EXPECT_FALSE(format_tile_path(TileId{TileKind::Hash, 64, 0, 256}).has_value());
  EXPECT_FALSE(format_tile_path(TileId{TileKind::Hash, 0, 0, 0}).has_value());
  EXPECT_FALSE(format_tile_path(TileId{TileKind::Hash, 0, 0, 257}).has_value());
  EXPECT_FALSE(format_tile_path(TileId{TileKind::Entries, 0, 0, 256}, TilePathForm::Sumdb).has_value());
  EXPECT_FALSE(format_tile_path(TileId{TileKind::Hash, 0, 0, 16, 4}, TilePathForm::Tlog).has_value());
}

TEST(TileShapes, TheTreesOfTheStandardAndTheU64Edge) {
  struct Case {
    std::uint64_t size;
    std::vector<std::pair<std::uint64_t, std::uint32_t>> per_level;  // (full tiles, partial width), level 0 up
  };
  const std::vector<Case> cases = {
      {0, {}},
      {1, {{0, 1}}},
      {256, {{1, 0}, {0, 1}}},
      {70000, {{273, 112}, {1, 17}, {0, 1}}},  // the tlog-tiles example
      {65536, {{256, 0}, {1, 0}, {0, 1}}},
      {UINT64_MAX,
       {{UINT64_MAX >> 8, 255},
        {UINT64_MAX >> 16, 255},
        {UINT64_MAX >> 24, 255},
        {UINT64_MAX >> 32, 255},
        {UINT64_MAX >> 40, 255},
        {UINT64_MAX >> 48, 255},
        {UINT64_MAX >> 56, 255},
        {0, 255}}},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(tile_level_count(c.size), c.per_level.size()) << c.size;
    std::uint64_t tiles = 0;
    for (std::uint8_t l = 0; l < 10; ++l) {
      const auto [full, partial] = l < c.per_level.size() ? c.per_level[l] : std::pair<std::uint64_t, std::uint32_t>{0, 0};
      EXPECT_EQ(full_tile_count(c.size, l), full) << c.size << " level " << int(l);
      EXPECT_EQ(partial_tile_width(c.size, l), partial) << c.size << " level " << int(l);
      tiles += full + (partial > 0);
      // The partial tile sits right after the full ones, and nothing after it.
      const auto edge = tile_in_tree(c.size, l, full);
      EXPECT_EQ(edge.has_value(), partial > 0);
      if (edge) {
        EXPECT_EQ(edge->width, partial);
      }
      EXPECT_FALSE(tile_in_tree(c.size, l, full + 1).has_value());
    }
    const TilePlan plan = TilePlan::whole_tree(c.size);
    EXPECT_EQ(plan.count(), tiles) << c.size;
    if (!plan.empty()) {
      // Top level first: the first tile named is the top partial tile.
      EXPECT_EQ((*plan.begin()).level, c.per_level.size() - 1);
    }
  }
}

TEST(TileShapes, PlansNameExactlyTheFilesALogServes) {
  const auto log = test::TiledLog::synthetic(70000, test::TiledLog::Kind::Bundles);
  for (std::uint64_t size : {1ull, 255ull, 256ull, 257ull, 65535ull, 65536ull, 65793ull, 70000ull}) {
    const auto files = log.files(size);
    std::set<std::string> planned;
    for (TileKind kind : {TileKind::Hash, TileKind::Entries}) {
      for (const TileId& t : TilePlan::whole_tree(size, kind)) {
        const std::string path = format_tile_path(t).value();
        ASSERT_TRUE(files.contains(path)) << size << " " << path;
        EXPECT_EQ(files.at(path).size(), t.kind == TileKind::Hash ? 32u * t.width : files.at(path).size());
        planned.insert(path);
      }
    }
    EXPECT_EQ(planned.size(), files.size()) << size;
    // Growing to the full log: the growth plan is the set of files whose
    // bytes differ.
    const auto later = log.files(70000);
    std::set<std::string> changed;
    for (const auto& [path, bytes] : later) {
      const auto t = parse_tile_path(path).value();
      if (t.kind != TileKind::Hash) continue;
      // A tile is "the same" when the same index at full width existed with the same bytes.
      const auto before = tile_in_tree(size, t.level, t.index);
      if (!before || before->width != t.width) changed.insert(path);
    }
    std::set<std::string> grown;
    for (const TileId& t : TilePlan::growth(size, 70000)) grown.insert(format_tile_path(t).value());
    EXPECT_EQ(grown, changed) << size;
  }
}

TEST(TileShapes, LeafRangesAndPlansOverRangesStayInsideU64) {
  EXPECT_EQ(tile_leaf_range({TileKind::Hash, 7, 0, 255}), (LeafRange{0, 255ull << 56}));
  EXPECT_FALSE(tile_leaf_range({TileKind::Hash, 7, 1, 256}).has_value());
  EXPECT_FALSE(tile_leaf_range({TileKind::Hash, 8, 0, 1}).has_value());
  EXPECT_EQ(tile_leaf_range({TileKind::Hash, 1, 3, 17}), (LeafRange{3 * 65536, 3 * 65536 + 17 * 256}));
  EXPECT_FALSE(tile_leaf_range({TileKind::Hash, 0, UINT64_MAX, 256}).has_value());

  // Level-0 and level-1 tiles over leaves [1000, 70000) of the 70000 tree.
  const TilePlan l0 = TilePlan::leaves(70000, 1000, 70000);
  EXPECT_EQ(l0.count(), 274u - 3u);
  EXPECT_EQ((*l0.begin()).index, 3u);
  const TilePlan l1 = TilePlan::leaves(70000, 1000, 70000, TileKind::Hash, 1);
  ASSERT_EQ(l1.count(), 2u);
  auto it = l1.begin();
  EXPECT_EQ(*it, (TileId{TileKind::Hash, 1, 0, 256}));
  EXPECT_EQ(*++it, (TileId{TileKind::Hash, 1, 1, 17}));
  // A huge tree costs nothing to plan.
  const TilePlan huge = TilePlan::leaves(UINT64_MAX, 0, UINT64_MAX);
  EXPECT_EQ(huge.count(), (UINT64_MAX >> 8) + 1);
  EXPECT_EQ(TilePlan::whole_tree(UINT64_MAX).segments().size(), 8u);
}

}  // namespace
}  // namespace quenfold
