// Seeds for the tile targets: honest tiled logs written by the test
// builder, so that mutations start from tiles that authenticate.
#include "corpus.h"
#include "fuzz_input.h"
#include "support/tiled_log.h"

namespace quenfold::corpus {

void tile_path_seeds(const std::filesystem::path& dir) {
  int n = 0;
  for (const char* p : {"tile/0/000", "tile/2/x001/x234/067.p/255", "tile/entries/x001/000.p/1", "tile/data/005"}) {
    fuzz::FuzzOutput o;
    o.u8(0).u64(70000).field(std::string(p));
    write_seed(dir, "tlog-" + std::to_string(n++), o.bytes());
  }
  for (const char* p : {"tile/8/0/001", "tile/3/5/x123/x456/078.p/2", "tile/1/data/x003/x057/500"}) {
    fuzz::FuzzOutput o;
    o.u8(1).u64(70000).field(std::string(p));
    write_seed(dir, "sumdb-" + std::to_string(n++), o.bytes());
  }
}

void tile_entries_seeds(const std::filesystem::path& dir) {
  for (auto kind : {test::TiledLog::Kind::Bundles, test::TiledLog::Kind::StaticCt}) {
    const auto log = test::TiledLog::synthetic(300, kind);
    const bool bundle = kind == test::TiledLog::Kind::Bundles;
    fuzz::FuzzOutput full, partial;
    full.u8(bundle ? 1 : 0).u64(0).u8(255).field(log.entry_tile(300, 0));
    partial.u8(bundle ? 1 : 0).u64(std::uint64_t{1} << 9).u8(43).field(log.entry_tile(300, 1));
    write_seed(dir, std::string(bundle ? "bundle" : "data") + "-full", full.bytes());
    write_seed(dir, std::string(bundle ? "bundle" : "data") + "-partial", partial.bytes());
  }
}

void tile_auth_seeds(const std::filesystem::path& dir) {
  const auto log = test::TiledLog::synthetic(600, test::TiledLog::Kind::Bundles);
  for (std::uint64_t size : {7u, 256u, 300u, 600u}) {
    const test::Hash root = log.root(size);
    std::vector<std::vector<std::uint8_t>> items;
    for (const auto& [path, bytes] : log.files(size)) {
      if (path.starts_with("tile/entries")) continue;
      items.emplace_back(path.begin(), path.end());
      items.push_back(bytes);
    }
    fuzz::FuzzOutput o;
    o.u64(size).field(root).list(items).u64(size / 2).u64(size / 3 + 1);
    write_seed(dir, "log-" + std::to_string(size), o.bytes());
  }
}

}  // namespace quenfold::corpus
