// The tiles of a tree, fetched in parallel and authenticated from the top:
// the tiles at the right edge (every partial tile) must hash to the
// checkpoint's root, and each full tile to its slot in the authenticated
// tile above it. A tile's hashes and its entries are checked from the one
// buffer that was read for it.
#include "tlog_tree.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <mutex>
#include <thread>

#include "cli.h"

namespace quenfold::cli::tlog {
namespace {

constexpr unsigned kTileWidth = 256;  // 2^8 hashes: every format here uses tile height 8
constexpr std::size_t kHashSize = 32;

// Go's tile path encoding, shared by C2SP tlog-tiles: three-digit groups,
// all but the last prefixed with "x" (1234067 is x001/x234/067).
std::string index_path(std::uint64_t n) {
  auto three = [](std::uint64_t v) {
    char b[4];
    std::snprintf(b, sizeof b, "%03u", static_cast<unsigned>(v));
    return std::string(b);
  };
  std::string s = three(n % 1000);
  for (n /= 1000; n > 0; n /= 1000) s = "x" + three(n % 1000) + "/" + s;
  return s;
}

std::string suffix(unsigned width) { return width < kTileWidth ? ".p/" + std::to_string(width) : ""; }

Hash32 hash_of(const std::string& bytes, std::size_t i) {
  Hash32 h;
  std::memcpy(h.data(), bytes.data() + i * kHashSize, kHashSize);
  return h;
}

// The RFC 6962 root of a power-of-two run of hashes.
Hash32 merkle_of(std::vector<Hash32> level) {
  while (level.size() > 1) {
    for (std::size_t i = 0; i < level.size() / 2; ++i) level[i] = rfc6962_node_hash(level[2 * i], level[2 * i + 1]);
    level.resize(level.size() / 2);
  }
  return level.front();
}

std::uint64_t read_be(const std::string& b, std::size_t pos, std::size_t n) {
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < n; ++i) v = v << 8 | static_cast<unsigned char>(b[pos + i]);
  return v;
}

// One static-ct-api TileLeaf at `pos`: its RFC 6962 leaf hash (over the
// MerkleTreeLeaf v1 timestamped_entry that it carries) and the position
// after it, or the reason it does not parse.
struct Parsed {
  Hash32 leaf{};
  std::size_t next = 0;
  std::string error;
};

Parsed parse_tile_leaf(const std::string& b, std::size_t pos) {
  Parsed p;
  const std::size_t start = pos;
  auto need = [&](std::size_t n) { return b.size() - pos >= n; };
  auto vector = [&](std::size_t len_bytes, std::size_t min) -> bool {
    if (!need(len_bytes)) return false;
    const std::uint64_t n = read_be(b, pos, len_bytes);
    pos += len_bytes;
    if (n < min || !need(n)) return false;
    pos += n;
    return true;
  };
  if (!need(10)) return p.error = "truncated timestamped_entry", p;
  const auto type = read_be(b, pos + 8, 2);
  pos += 10;
  if (type == 0) {
    if (!vector(3, 1)) return p.error = "truncated certificate", p;
  } else if (type == 1) {
    if (!need(32)) return p.error = "truncated issuer_key_hash", p;
    pos += 32;
    if (!vector(3, 1)) return p.error = "truncated tbs_certificate", p;
  } else {
    return p.error = "unknown entry_type " + std::to_string(type), p;
  }
  if (!vector(2, 0)) return p.error = "truncated extensions", p;
  const std::size_t entry_end = pos;
  if (type == 1 && !vector(3, 1)) return p.error = "truncated pre_certificate", p;
  if (!need(2)) return p.error = "truncated certificate_chain", p;
  const auto chain = read_be(b, pos, 2);
  if (chain % kHashSize != 0) return p.error = "certificate_chain is not a list of 32-byte fingerprints", p;
  if (!vector(2, 0)) return p.error = "truncated certificate_chain", p;
  std::string leaf(2, '\0');  // MerkleTreeLeaf: version v1 (0), leaf_type timestamped_entry (0)
  leaf.append(b, start, entry_end - start);
  p.leaf = rfc6962_leaf_hash(ByteView(reinterpret_cast<const std::uint8_t*>(leaf.data()), leaf.size()));
  p.next = pos;
  return p;
}

}  // namespace

std::string checkpoint_path(Format f) { return f == Format::Sumdb ? "latest" : "checkpoint"; }

std::string tile_path(Format f, int level, std::uint64_t index, unsigned width) {
  return (f == Format::Sumdb ? "tile/8/" : "tile/") + std::to_string(level) + "/" + index_path(index) +
         suffix(width);
}

std::string data_path(Format f, std::uint64_t index, unsigned width) {
  const char* dir = f == Format::Sumdb ? "tile/8/data/" : f == Format::StaticCt ? "tile/data/" : "tile/entries/";
  return dir + index_path(index) + suffix(width);
}

TiledTree::TiledTree(Fetcher& fetcher, std::uint64_t size, const Hash32& root, std::uint64_t from,
                     CheckOptions options)
    : fetcher_(fetcher), size_(size), root_(root), from_(std::min(from, size)), options_(std::move(options)) {
  // At each level, the tiles from the one holding the older tree's last
  // complete node onwards: everything before it is unchanged and was
  // checked when the older tree was.
  for (int level = 0; level < 8 && (size_ >> (8 * level)) > 0; ++level) {
    const std::uint64_t nodes = size_ >> (8 * level);
    const std::uint64_t first = from_ >> (8 * (level + 1));
    for (std::uint64_t t = first; t * kTileWidth < nodes; ++t) {
      Tile tile;
      tile.level = level;
      tile.index = t;
      tile.width = static_cast<unsigned>(std::min<std::uint64_t>(kTileWidth, nodes - t * kTileWidth));
      tile.path = tile_path(options_.format, level, t, tile.width);
      by_id_[{level, t}] = tiles_.size();
      tiles_.push_back(std::move(tile));
    }
  }
}

void TiledTree::load(Tile& t) {
  const std::size_t want = std::size_t{t.width} * kHashSize;
  Fetched f = fetcher_.get(t.path, want);
  if (!f.ok && f.missing && t.width < kTileWidth) {
    // A log may drop a partial tile once the full one exists; the full
    // tile begins with the same hashes.
    Fetched full = fetcher_.get(tile_path(options_.format, t.level, t.index, kTileWidth), kTileWidth * kHashSize);
    if (full.ok && full.body.size() == kTileWidth * kHashSize) {
      full.body.resize(want);
      f = std::move(full);
    }
  }
  t.bytes += f.body.size();
  if (!f.ok) {
    t.failure = Failure{t.path, std::nullopt, f.missing ? "missing (" + f.error + ")" : f.error};
    return;
  }
  if (f.body.size() != want) {
    t.failure = Failure{t.path, std::nullopt,
                        std::to_string(f.body.size()) + " bytes, not the " + std::to_string(t.width) +
                            " hashes (" + std::to_string(want) + " bytes) of a tile of width " +
                            std::to_string(t.width)};
    return;
  }
  t.hashes.resize(t.width);
  for (unsigned i = 0; i < t.width; ++i) t.hashes[i] = hash_of(f.body, i);
  if (t.width == kTileWidth) t.subtree = merkle_of(t.hashes);
  t.fetched = true;
  if (t.level == 0 && options_.entries) load_data(t);
}

void TiledTree::load_data(Tile& t) {
  const std::string path = data_path(options_.format, t.index, t.width);
  // An entry bundle holds at most 2^16 - 1 bytes per entry behind its
  // two-byte length; a data tile is bounded only by the caller's cap.
  const std::size_t format_cap = options_.format == Format::TlogTiles ? std::size_t{t.width} * (2 + 65535)
                                                                       : options_.max_data_size;
  const Fetched f = fetcher_.get(path, std::min(format_cap, options_.max_data_size));
  t.bytes += f.body.size();
  if (!f.ok) {
    t.data_failure = Failure{path, std::nullopt, f.missing ? "missing (" + f.error + ")" : f.error};
    return;
  }
  const std::string& b = f.body;
  std::size_t pos = 0;
  const std::uint64_t base = t.index * kTileWidth;
  for (unsigned i = 0; i < t.width; ++i) {
    Hash32 leaf;
    if (options_.format == Format::TlogTiles) {
      if (b.size() - pos < 2 || b.size() - pos - 2 < read_be(b, pos, 2)) {
        t.data_failure = Failure{path, base + i, "truncated: the bundle ends before entry " + std::to_string(base + i)};
        return;
      }
      const std::size_t n = read_be(b, pos, 2);
      leaf = rfc6962_leaf_hash(ByteView(reinterpret_cast<const std::uint8_t*>(b.data() + pos + 2), n));
      pos += 2 + n;
    } else {
      const Parsed p = parse_tile_leaf(b, pos);
      if (!p.error.empty()) {
        t.data_failure = Failure{path, base + i, "entry " + std::to_string(base + i) + ": " + p.error};
        return;
      }
      leaf = p.leaf;
      pos = p.next;
    }
    if (leaf != t.hashes[i]) {
      t.data_failure = Failure{path, base + i,
                               "entry " + std::to_string(base + i) + " does not hash to slot " + std::to_string(i) +
                                   " of " + t.path};
      return;
    }
    if (base + i >= from_) ++t.data_entries;
  }
  if (pos != b.size()) {
    t.data_failure = Failure{path, std::nullopt,
                             std::to_string(b.size() - pos) + " bytes after the last of its " +
                                 std::to_string(t.width) + " entries"};
  }
}

const TiledTree::Tile* TiledTree::find(int level, std::uint64_t index) const {
  const auto it = by_id_.find({level, index});
  return it == by_id_.end() ? nullptr : &tiles_[it->second];
}

std::optional<Hash32> TiledTree::node(int level, std::uint64_t position) const {
  const Tile* t = find(level, position / kTileWidth);
  if (t == nullptr || !t->fetched || position % kTileWidth >= t->hashes.size()) return std::nullopt;
  return t->hashes[position % kTileWidth];
}

// The aligned subtree of 2^height leaves at `start`, from the highest tile
// level that holds it.
std::optional<Hash32> TiledTree::block(std::uint64_t start, int height) const {
  for (int level = std::min(height / 8, 7); level >= 0; --level) {
    const int r = height - 8 * level;
    if (r > 16) break;
    std::vector<Hash32> run;
    const std::uint64_t first = start >> (8 * level);
    for (std::uint64_t i = 0; i < (std::uint64_t{1} << r); ++i) {
      auto h = node(level, first + i);
      if (!h) break;
      run.push_back(*h);
    }
    if (run.size() == (std::size_t{1} << r)) return merkle_of(std::move(run));
  }
  return std::nullopt;
}

// MTH(D[lo:hi]) as RFC 6962 splits it.
std::optional<Hash32> TiledTree::range(std::uint64_t lo, std::uint64_t hi) const {
  const std::uint64_t n = hi - lo;
  if (std::has_single_bit(n) && lo % n == 0) return block(lo, std::countr_zero(n));
  const std::uint64_t k = std::bit_floor(n - 1);
  const auto left = range(lo, lo + k);
  const auto right = left ? range(lo + k, hi) : std::nullopt;
  if (!right) return std::nullopt;
  return rfc6962_node_hash(*left, *right);
}

std::optional<Hash32> TiledTree::root_at(std::uint64_t n) const {
  if (n == 0) return rfc6962_empty_root();
  if (n > size_) return std::nullopt;
  return range(0, n);
}

// RFC 6962 section 2.1.2, SUBPROOF(m, D[lo:hi], whole).
bool TiledTree::subproof(std::uint64_t m, std::uint64_t lo, std::uint64_t hi, bool whole,
                         std::vector<Hash32>& out) const {
  const std::uint64_t n = hi - lo;
  if (m == n) {
    if (whole) return true;
    const auto h = range(lo, hi);
    if (h) out.push_back(*h);
    return h.has_value();
  }
  const std::uint64_t k = std::bit_floor(n - 1);
  if (m <= k) {
    if (!subproof(m, lo, lo + k, whole, out)) return false;
    const auto h = range(lo + k, hi);
    if (h) out.push_back(*h);
    return h.has_value();
  }
  if (!subproof(m - k, lo + k, hi, false, out)) return false;
  const auto h = range(lo, lo + k);
  if (h) out.push_back(*h);
  return h.has_value();
}

std::optional<std::vector<Hash32>> TiledTree::consistency(std::uint64_t n) const {
  std::vector<Hash32> out;
  if (n == 0 || n >= size_) return out;
  if (!subproof(n, 0, size_, true, out)) return std::nullopt;
  return out;
}

CheckResult TiledTree::check() {
  CheckResult r;
  if (size_ == 0) {
    r.root_matches = root_ == rfc6962_empty_root();
    if (!r.root_matches)
      r.failures.push_back({"checkpoint", std::nullopt, "an empty tree's root must be SHA-256 of nothing"});
    return r;
  }

  // Every tile is read and hashed on the worker threads.
  std::atomic<std::size_t> next{0};
  std::atomic<std::uint64_t> done{0};
  std::mutex progress_lock;
  auto work = [&] {
    for (std::size_t i; (i = next.fetch_add(1)) < tiles_.size();) {
      load(tiles_[i]);
      const auto d = done.fetch_add(1) + 1;
      if (options_.progress && (d % 16 == 0 || d == tiles_.size())) {
        std::lock_guard lock(progress_lock);
        options_.progress(d, tiles_.size());
      }
    }
  };
  const unsigned n = std::max(1u, std::min<unsigned>(options_.threads, static_cast<unsigned>(tiles_.size())));
  std::vector<std::thread> pool;
  for (unsigned i = 1; i < n; ++i) {
    try {
      pool.emplace_back(work);
    } catch (const std::system_error&) {
      break;  // fewer threads than asked: the others do the work
    }
  }
  work();
  for (auto& t : pool) t.join();

  // The right edge: every partial tile takes part in the root.
  std::vector<std::string> edge;
  for (const Tile& t : tiles_)
    if (t.width < kTileWidth) edge.push_back(t.path);
  const auto computed = root_at(size_);
  r.root_matches = computed && *computed == root_;
  if (r.root_matches) {
    for (Tile& t : tiles_)
      if (t.width < kTileWidth) t.authenticated = true;
  } else if (computed) {
    std::string names;
    for (const auto& e : edge) names += (names.empty() ? "" : ", ") + e;
    r.failures.push_back({names, std::nullopt, "the tiles at the right edge of the tree do not hash to the "
                                               "checkpoint's root"});
  }

  // Then downwards: a full tile is its slot in the authenticated tile above.
  for (int level = 7; level >= 0; --level) {
    for (Tile& t : tiles_) {
      if (t.level != level || t.width != kTileWidth || !t.fetched) continue;
      const Tile* parent = find(level + 1, t.index / kTileWidth);
      if (parent == nullptr || !parent->authenticated) continue;
      const std::size_t slot = t.index % kTileWidth;
      if (slot < parent->hashes.size() && parent->hashes[slot] == *t.subtree) {
        t.authenticated = true;
      } else {
        t.failure = Failure{t.path, std::nullopt,
                            "its hashes do not hash to slot " + std::to_string(slot) + " of " + parent->path};
      }
    }
  }

  for (const Tile& t : tiles_) {
    r.bytes += t.bytes;
    if (t.failure) r.failures.push_back(*t.failure);
    if (!t.authenticated) continue;
    ++r.tiles;
    if (t.data_failure) r.failures.push_back(*t.data_failure);
    else r.entries += t.data_entries;
  }
  return r;
}

}  // namespace quenfold::cli::tlog
