// Entry bundles and static-ct data tiles: a byte choosing the kind, the
// tile's index and width, then its bytes. Each parsed entry must be a view
// inside the input; the range hasher must accept exactly what the parser
// accepts for a tree in which the tile is the last one.
#include <cstdlib>

#include "fuzz_input.h"
#include "quenfold/tiles.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  quenfold::fuzz::FuzzInput in(data, size);
  const bool bundle = (in.u8() & 1) != 0;
  const std::uint64_t index = in.u64() >> 9;  // a tile of some tree
  const std::uint32_t width = std::uint32_t{in.u8()} + 1;
  const auto bytes = in.field();
  const quenfold::TileData tile{
      {bundle ? quenfold::TileKind::Entries : quenfold::TileKind::Data, 0, index, width}, bytes};
  auto inside = [&](quenfold::ByteView v) {
    return v.empty() || (v.data() >= bytes.data() && v.data() + v.size() <= bytes.data() + bytes.size());
  };
  bool parsed = false;
  if (bundle) {
    const auto entries = quenfold::parse_entry_bundle(tile);
    parsed = entries.has_value();
    if (entries) {
      if (entries->size() != width) std::abort();
      for (const auto& e : *entries)
        if (!inside(e.data)) std::abort();
    }
  } else {
    const auto leaves = quenfold::parse_data_tile(tile);
    parsed = leaves.has_value();
    if (leaves) {
      if (leaves->size() != width) std::abort();
      for (const auto& l : *leaves) {
        if (!inside(l.timestamped_entry) || !inside(l.certificate) || !inside(l.pre_certificate)) std::abort();
        for (const auto& fp : l.chain)
          if (fp.size() != 32 || !inside(fp)) std::abort();
      }
    }
  }
  quenfold::TileRangeHasher hasher(index * 256 + width, 0, index);
  if (hasher.add_entries(tile).has_value() != parsed) std::abort();
  return 0;
}
