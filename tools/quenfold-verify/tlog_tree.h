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
#include "tlog_fetch.h"

namespace quenfold::cli::tlog {

enum class Format { TlogTiles, StaticCt, Sumdb };

std::string checkpoint_path(Format f);
// The path of the hash tile at `level`, `index`, of `width` hashes (256 for
// a full tile, which has no .p/ suffix).
std::string tile_path(Format f, int level, std::uint64_t index, unsigned width);
// The entry bundle (tlog-tiles) or data tile (static-ct-api, sumdb).
std::string data_path(Format f, std::uint64_t index, unsigned width);

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
// added after `from` leaves (all of them when `from` is 0), checked. After
// check() succeeded (no failure), root_at(from) and consistency(from) read
// the older tree's root and the RFC 6962 consistency proof from the same
// authenticated tiles.
class TiledTree {
 public:
  TiledTree(Fetcher& fetcher, std::uint64_t size, const Hash32& root, std::uint64_t from, CheckOptions options);
  CheckResult check();
  // The root of the first `n` leaves (from <= n <= size, or n = from).
  std::optional<Hash32> root_at(std::uint64_t n) const;
  // The RFC 6962 consistency proof from `n` leaves to size (n >= from).
  std::optional<std::vector<Hash32>> consistency(std::uint64_t n) const;

 private:
  struct Tile {
    std::string path;
    int level = 0;
    std::uint64_t index = 0;
    unsigned width = 0;
    std::vector<Hash32> hashes;  // empty when it was not read
    std::optional<Hash32> subtree;  // the hash of all 256 of a full tile
    bool fetched = false;
    bool authenticated = false;
    std::optional<Failure> failure;
    std::optional<Failure> data_failure;  // its entry bundle or data tile
    std::uint64_t data_entries = 0;
    std::uint64_t bytes = 0;
  };

  void load(Tile& t);
  void load_data(Tile& t);
  const Tile* find(int level, std::uint64_t index) const;
  std::optional<Hash32> node(int level, std::uint64_t position) const;
  std::optional<Hash32> block(std::uint64_t start, int height) const;
  std::optional<Hash32> range(std::uint64_t lo, std::uint64_t hi) const;
  bool subproof(std::uint64_t m, std::uint64_t lo, std::uint64_t hi, bool whole, std::vector<Hash32>& out) const;

  Fetcher& fetcher_;
  std::uint64_t size_;
  Hash32 root_;
  std::uint64_t from_;
  CheckOptions options_;
  std::vector<Tile> tiles_;                       // by level, then index
  std::map<std::pair<int, std::uint64_t>, std::size_t> by_id_;
};

}  // namespace quenfold::cli::tlog
