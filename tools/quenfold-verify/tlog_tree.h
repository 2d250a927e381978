// Checking a tiled log (C2SP tlog-tiles, static-ct-api, Go sumdb tile
// paths) against a verified checkpoint: every hash tile of the tree, and
// optionally every entry bundle or data tile, fetched through a Fetcher and
// authenticated from the checkpoint's root downwards.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "quenfold/merkle.h"
#include "quenfold/tiles.h"
#include "tlog_fetch.h"

namespace quenfold::cli::tlog {

enum class Format { TlogTiles, StaticCt, Sumdb };

std::string checkpoint_path(Format f);

struct Failure {
  std::string tile;  // the tile, bundle or checkpoint the failure is in
  std::optional<std::uint64_t> entry;  // the entry's index in the log, when one entry failed
  std::string reason;
};

struct CheckOptions {
  Format format = Format::TlogTiles;
  bool entries = false;
  unsigned threads = 1;
  std::size_t max_data_size = std::size_t{64} << 20;  // a data tile or bundle holds at most this
  std::function<void(std::uint64_t done, std::uint64_t total)> progress;
};

struct CheckResult {
  std::vector<Failure> failures;
  std::uint64_t tiles = 0;    // hash tiles authenticated
  std::uint64_t entries = 0;  // entries whose leaf hash matched an authenticated slot
  std::uint64_t bytes = 0;    // bytes read
  bool root_matches = false;  // the tiles hash to the checkpoint's root
};

// The tiles of the tree of `size` leaves with `root` that hold what was
// added after `from` leaves (all of them when `from` is 0), fetched on
// `threads` workers and authenticated by the library's TiledTree: the edge
// against the root, every other tile under its parent, the entries against
// their level-0 tile. After check() found no failure, older_root and
// consistency read the tree of `from` leaves from the same tiles.
class TreeCheck {
 public:
  TreeCheck(Fetcher& fetcher, std::uint64_t size, const Hash32& root, std::uint64_t from, CheckOptions options);
  CheckResult check();
  // The root of the first `from` leaves, from the tiles.
  std::optional<Hash32> older_root() const;
  // The RFC 6962 consistency proof from `from` leaves to size.
  std::optional<std::vector<Hash32>> consistency() const;

 private:
  struct Tile {
    TileId id;
    std::string path;
    std::string bytes;
    bool fetched = false;
    bool full_instead = false;  // the full tile stands in for a deleted partial one
    bool authenticated = false;
    std::optional<Failure> failure;
    std::optional<Failure> data_failure;  // its entry bundle or data tile
    std::uint64_t data_entries = 0;
    std::uint64_t bytes_read = 0;
  };

  void fetch(Tile& t);
  void check_level0(Tile& t);
  void check_data(Tile& t, const AuthenticatedTile& level0);
  Tile* find(std::uint8_t level, std::uint64_t index);
  template <class F>
  void parallel(const std::vector<std::size_t>& which, F&& f);

  Fetcher& fetcher_;
  std::uint64_t size_;
  Hash32 root_;
  std::uint64_t from_;
  CheckOptions options_;
  TilePathForm form_;
  std::optional<TiledTree> tree_;
  std::vector<Tile> tiles_;
  std::map<std::pair<int, std::uint64_t>, std::size_t> by_id_;
  std::atomic<std::uint64_t> done_{0};
  std::uint64_t total_ = 0;
};

}  // namespace quenfold::cli::tlog
