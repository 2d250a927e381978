// Checking a tiled log (C2SP tlog-tiles, static-ct-api, Go sumdb tile
// paths) against a verified checkpoint: every hash tile of the tree, and
// optionally every entry bundle or data tile, fetched through a Fetcher and
// authenticated from the checkpoint's root downwards.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
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
  // The largest tree this run will audit: a signed checkpoint may claim up
  // to 2^64 - 1 leaves, and the tiles above level 0 are planned in memory.
  std::uint64_t max_entries = std::uint64_t{1} << 36;
  // Failure records kept; later ones are only counted.
  std::size_t max_failures = 1000;
  std::function<void(std::uint64_t done, std::uint64_t total)> progress;
};

struct CheckResult {
  std::vector<Failure> failures;
  std::uint64_t failures_untold = 0;  // beyond CheckOptions::max_failures
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

  // What checked tiles add up to: counts, and failure records up to a cap
  // beyond which they are only counted.
  struct Tally {
    std::uint64_t tiles = 0, entries = 0, bytes = 0;
    std::vector<Failure> failures;
    std::uint64_t failures_untold = 0;
    void keep(Failure f, std::size_t cap);
    void count(const Tile& t, std::size_t cap);
    void merge(Tally&& other, std::size_t cap);
  };
  void fetch(Tile& t);
  void check_level0(Tile& t);
  void check_level0_run(Tally& totals);
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
  // Every tile but the full level-0 ones, which are planned lazily: there
  // are 256 times as many, and a worker needs only one at a time.
  std::vector<Tile> tiles_;
  std::uint64_t level0_first_ = 0, level0_count_ = 0;
  std::atomic<std::uint64_t> level0_next_{0};
  std::mutex lock_;  // the progress callback and the level-0 totals
  std::map<std::pair<int, std::uint64_t>, std::size_t> by_id_;
  std::atomic<std::uint64_t> done_{0};
  std::uint64_t total_ = 0;
};

}  // namespace quenfold::cli::tlog
