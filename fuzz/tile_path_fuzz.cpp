// Tile paths in both forms: a byte choosing the form, a tree size, then the
// path text. Whatever parses must format back to the same bytes (only the
// canonical spelling is accepted), and the tile's leaf range and its place
// in a tree of the given size must be computable without overflow.
#include <cstdlib>
#include <string>

#include "fuzz_input.h"
#include "quenfold/tiles.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  quenfold::fuzz::FuzzInput in(data, size);
  const auto form = (in.u8() & 1) != 0 ? quenfold::TilePathForm::Sumdb : quenfold::TilePathForm::Tlog;
  const std::uint64_t tree_size = in.u64();
  const std::string path = in.text();
  const auto tile = quenfold::parse_tile_path(path, form);
  if (!tile) return 0;
  const auto again = quenfold::format_tile_path(*tile, form);
  if (!again || *again != path) std::abort();
  if (const auto range = quenfold::tile_leaf_range(*tile); range && range->end < range->begin) std::abort();
  if (const auto t = quenfold::tile_in_tree(tree_size, tile->level, tile->index, tile->kind, tile->height)) {
    if (t->width < 1 || t->width > t->full_width()) std::abort();
  }
  return 0;
}
