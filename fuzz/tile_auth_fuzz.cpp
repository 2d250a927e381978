// Tile authentication: a tree size and root, then tiles as (path, bytes)
// pairs, then a leaf index and an older size. Whatever a tree accepts must
// yield proofs that the RFC 6962 verifiers accept under the same root: a
// tile that slipped through unauthenticated would show as a proof that
// does not verify. Seeds are honest logs of a few hundred entries.
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "quenfold/merkle.h"
#include "quenfold/tiles.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  quenfold::fuzz::FuzzInput in(data, size);
  const std::uint64_t tree_size = in.u64();
  const auto root = in.field();
  const auto items = in.list();
  const std::uint64_t index = in.u64();
  const std::uint64_t old_size = in.u64();
  auto tree = quenfold::TiledTree::create(tree_size, root, {.max_size = std::uint64_t{1} << 40});
  if (!tree) return 0;
  std::vector<quenfold::TileData> tiles;
  for (std::size_t i = 0; i + 1 < items.size(); i += 2) {
    const auto id = quenfold::parse_tile_path(std::string(items[i].begin(), items[i].end()));
    if (id) tiles.push_back({*id, items[i + 1]});
  }
  const auto held = tree->with_tiles(tiles);
  if (!held) return 0;
  std::vector<quenfold::ByteView> views;
  if (const auto leaf = held->leaf_hash(index)) {
    if (const auto proof = held->inclusion_proof(index)) {
      for (const auto& h : *proof) views.emplace_back(h);
      if (!quenfold::verify_inclusion(index, tree_size, *leaf, views, root)) std::abort();
    }
  }
  if (const auto proof = held->consistency_proof(old_size); proof && old_size < tree_size) {
    const auto old_root = held->subtree_hash(0, old_size);
    if (!old_root) std::abort();  // the same tiles give the old root
    views.clear();
    for (const auto& h : *proof) views.emplace_back(h);
    if (!quenfold::verify_consistency(old_size, tree_size, views, *old_root, root)) std::abort();
  }
  return 0;
}
