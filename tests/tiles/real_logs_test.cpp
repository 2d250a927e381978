// Real tiled logs: a Tessera log at every size from 0 to 15 (signed
// checkpoints, partial tiles and bundles), and a Sunlight mirror's 300-entry
// tree with full and partial tiles at two levels.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "quenfold/checkpoint.h"
#include "quenfold/tiles.h"
#include "support/testdata.h"

namespace quenfold {
namespace {

using nlohmann::json;

std::string tessera(const std::string& rel) { return test::testdata_path("real-logs/tiles/tessera-testdata-log/" + rel); }

ByteView view(const std::string& s) { return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()}; }

TEST(RealTiledLogs, TesseraEverySizeWithProofsBetweenThem) {
  const json source = json::parse(test::read_file(tessera("SOURCE.json")));
  const std::string vkey = source.at("verifier_key");
  const std::vector<std::string_view> keys = {vkey};
  std::vector<CheckpointHead> heads;
  for (std::size_t n = 0; n <= 15; ++n) {
    const auto head = checkpoint_verify(test::read_file(tessera("checkpoint." + std::to_string(n))), keys);
    ASSERT_TRUE(head.has_value()) << n;
    ASSERT_EQ(head->size, n);
    heads.push_back(*head);
  }
  for (std::size_t n = 1; n <= 15; ++n) {
    const TiledTree tree = TiledTree::create(heads[n]).value();
    const auto edge = tree.edge_tiles();
    ASSERT_EQ(edge.size(), 1u);
    const std::string path = format_tile_path(edge[0]).value();
    EXPECT_EQ(path, "tile/0/000.p/" + std::to_string(n));
    const std::string tile = test::read_file(tessera(path));
    const TiledTree held = tree.with_tiles(std::vector<TileData>{{edge[0], view(tile)}}).value();
    // The bundle's entries are the log's, in order.
    const TileId bundle_id{TileKind::Entries, 0, 0, static_cast<std::uint32_t>(n)};
    const std::string bundle = test::read_file(tessera(format_tile_path(bundle_id).value()));
    const auto entries = verify_entry_bundle(held.tile(0, 0).value(), {bundle_id, view(bundle)}).value();
    ASSERT_EQ(entries.size(), n);
    for (std::size_t i = 0; i < n; ++i)
      EXPECT_EQ(std::string(entries[i].data.begin(), entries[i].data.end()), source.at("entries").at(i).get<std::string>());
    // Every older checkpoint is this log's past.
    for (std::size_t m = 1; m < n; ++m) {
      const auto proof = held.consistency_proof(m).value();
      std::vector<ByteView> pv;
      for (const auto& h : proof) pv.push_back(ByteView(h));
      EXPECT_TRUE(verify_consistency(m, n, pv, heads[m].root, heads[n].root).has_value()) << m << " " << n;
      EXPECT_TRUE(held.check_older_root(m, heads[m].root).has_value());
    }
    // The tile of another size is refused: too short, too long, or (cut to
    // the right length) hashing to another root.
    if (n > 1) {
      const std::string smaller = test::read_file(tessera("tile/0/000.p/" + std::to_string(n - 1)));
      EXPECT_EQ(tree.with_tiles(std::vector<TileData>{{edge[0], view(smaller)}}).error().kind(), ErrorKind::MalformedTile);
    }
  }
  EXPECT_TRUE(TiledTree::create(heads[0]).value().edge_tiles().empty());
}

TEST(RealTiledLogs, SunlightMirrorTwoLevels) {
  const std::string dir = test::testdata_path(
      "real-logs/tiles/sunlight-skylight/witness/mirror/000de184301123b9278c086a7d9f68c9577e83872224c197058fd90784ea9706/");
  const json source = json::parse(test::read_file(test::testdata_path("real-logs/tiles/sunlight-skylight/SOURCE.json")));
  const std::string note = source.at("artefacts")
                               .at("witness/mirror/000de184301123b9278c086a7d9f68c9577e83872224c197058fd90784ea9706/")
                               .at("checkpoint");
  // The mirror's note carries only its cosignature: the body is read as is.
  const auto head = checkpoint_parse(note.substr(0, note.find("\n\n") + 1)).value();
  ASSERT_EQ(head.size, 300u);
  const TiledTree tree = TiledTree::create(head).value();
  std::vector<std::string> bytes;
  std::vector<TileId> ids = tree.needed_for_inclusion(17);
  for (const TileId& id : ids) bytes.push_back(test::read_file(dir + format_tile_path(id).value()));
  std::vector<TileData> given;
  for (std::size_t i = 0; i < ids.size(); ++i) given.push_back({ids[i], view(bytes[i])});
  EXPECT_EQ(ids.size(), 3u);  // tile/1/000.p/1, tile/0/001.p/44, tile/0/000
  const TiledTree held = tree.with_tiles(given).value();
  for (std::uint64_t i : {0u, 17u, 255u, 256u, 299u}) {
    const std::string record = "record " + std::to_string(i);
    EXPECT_EQ(held.leaf_hash(i).value(), rfc6962_leaf_hash(view(record))) << i;
    const auto proof = held.inclusion_proof(i).value();
    std::vector<ByteView> pv;
    for (const auto& h : proof) pv.push_back(ByteView(h));
    const Hash32 leaf = rfc6962_leaf_hash(view(record));
    EXPECT_TRUE(verify_inclusion(i, 300, leaf, pv, head.root).has_value()) << i;
  }
  // The static-ct checkpoint of the same origin and size claims a made-up
  // root: the mirror's tiles do not authenticate under it.
  const std::string ct = source.at("artefacts").at("tree/").at("checkpoint");
  const auto ct_head = checkpoint_parse(ct.substr(0, ct.find("\n\n") + 1)).value();
  const auto refused = TiledTree::create(ct_head).value().with_tiles(given);
  ASSERT_FALSE(refused.has_value());
  EXPECT_EQ(refused.error().kind(), ErrorKind::TileHashMismatch);
}

}  // namespace
}  // namespace quenfold
