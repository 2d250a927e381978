// Tile authentication beside its floor: the SHA-256 node hashes (65-byte
// inputs) that the same tiles require, through OpenSSL's low-level SHA-256
// with its state on the stack, measured interleaved in one run. A full tile
// of 256 hashes takes 255 node hashes to reach the hash its parent holds.
#include <benchmark/benchmark.h>
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/sha.h>

#include <map>

#include "measure.h"
#include "quenfold/tiles.h"
#include "support/tiled_log.h"

namespace {

using quenfold::ByteView;
using quenfold::TileData;
using quenfold::TileId;

struct Fixture {
  static constexpr std::uint64_t kSize = 70000;  // 273 full level-0 tiles, levels 0 to 2
  quenfold::test::TiledLog log = quenfold::test::TiledLog::synthetic(kSize, quenfold::test::TiledLog::Kind::Bundles);
  std::map<std::string, std::vector<std::uint8_t>> files = log.files(kSize);
  std::optional<quenfold::TiledTree> upper;  // edge and tile/1/000 held

  TileData tile(const TileId& id) const {
    const auto& b = files.at(quenfold::format_tile_path(id).value());
    return {id, ByteView(b.data(), b.size())};
  }
  Fixture() {
    const auto root = log.root(kSize);
    auto tree = quenfold::TiledTree::create(kSize, ByteView(root.data(), 32)).value();
    std::vector<TileData> given;
    for (const TileId& id : tree.needed_for_leaves(0, 65536)) given.push_back(tile(id));
    upper = tree.with_tiles(given).value();
  }
};

const Fixture& fixture() {
  static const Fixture f;
  return f;
}

// `n` node hashes of 65 bytes, each input depending on the last output.
bool node_hashes(int n) {
  std::uint8_t buf[65] = {1};
  std::uint8_t out[32];
  for (int i = 0; i < n; ++i) {
    SHA256_CTX ctx;
    SHA256_Init(&ctx);
    SHA256_Update(&ctx, buf, sizeof buf);
    SHA256_Final(out, &ctx);
    buf[1 + (i % 64)] = out[0];
  }
  benchmark::DoNotOptimize(out);
  return true;
}

// One full level-0 tile authenticated under its held parent.
void BM_Tiles_AuthenticateFullTile_VsPrimitives(benchmark::State& state) {
  const auto& f = fixture();
  const TileData t = f.tile({quenfold::TileKind::Hash, 0, 77, 256});
  quenfold::bench::ratio(
      state, [&] { return f.upper->authenticate(t).has_value(); }, [] { return node_hashes(255); });
}
BENCHMARK(BM_Tiles_AuthenticateFullTile_VsPrimitives)->MinTime(2.0);

// A worker's range: 64 full level-0 tiles folded into one subtree hash
// (64 * 255 + 63 node hashes).
void BM_Tiles_HashRange64_VsPrimitives(benchmark::State& state) {
  const auto& f = fixture();
  std::vector<TileData> tiles;
  for (std::uint64_t n = 64; n < 128; ++n) tiles.push_back(f.tile({quenfold::TileKind::Hash, 0, n, 256}));
  quenfold::bench::ratio(
      state, [&] { return quenfold::hash_tile_range(Fixture::kSize, tiles).value().size() == 1; },
      [] { return node_hashes(64 * 255 + 63); });
}
BENCHMARK(BM_Tiles_HashRange64_VsPrimitives)->MinTime(2.0);

// The right edge of the tree (three partial tiles, 112 + 17 + 1 hashes)
// folded into the checkpoint's root: 111 + 16 + 0 node hashes inside the
// tiles and 5 between the tree's perfect subtrees.
void BM_Tiles_AuthenticateEdge_VsPrimitives(benchmark::State& state) {
  const auto& f = fixture();
  const auto root = f.log.root(Fixture::kSize);
  const auto tree = quenfold::TiledTree::create(Fixture::kSize, ByteView(root.data(), 32)).value();
  std::vector<TileData> edge;
  for (const TileId& id : tree.edge_tiles()) edge.push_back(f.tile(id));
  quenfold::bench::ratio(
      state, [&] { return tree.with_tiles(edge).has_value(); }, [] { return node_hashes(111 + 16 + 5); });
}
BENCHMARK(BM_Tiles_AuthenticateEdge_VsPrimitives)->MinTime(2.0);

// An inclusion proof computed from held tiles (no tile hashed again beyond
// the runs inside tiles that the proof's subtrees need).
void BM_Tiles_InclusionProofFromTiles(benchmark::State& state) {
  const auto& f = fixture();
  const auto t = f.tile({quenfold::TileKind::Hash, 0, 77, 256});
  const auto tree = f.upper->with_tiles(std::vector<TileData>{t}).value();
  for (auto _ : state) {
    auto p = tree.inclusion_proof(77 * 256 + 5);
    if (!p) state.SkipWithError("no proof");
    benchmark::DoNotOptimize(p);
  }
}
BENCHMARK(BM_Tiles_InclusionProofFromTiles);

}  // namespace
