// The tiles of a tree, fetched in parallel and authenticated by the
// library's TiledTree from the top: the partial tile of every level (the
// right edge) must fold into the checkpoint's root, each full tile must hash
// to its slot in the authenticated tile above it, and each entry bundle or
// data tile must match its level-0 tile slot for slot. A tile's bytes are
// authenticated and parsed from the one buffer that was read for it.
#include "tlog_tree.h"

#include <algorithm>
#include <deque>
#include <mutex>
#include <numeric>
#include <thread>

#include "cli.h"

namespace quenfold::cli::tlog {
namespace {

constexpr std::size_t kHashSize = 32;

std::string path_of(const TileId& id, TilePathForm form) {
  auto p = format_tile_path(id, form);
  return p ? *p : "tile";  // every id made here has a path
}

// The entry a bundle's failure names ("entry 300 does not hash ..."), so
// that its record carries the index as a number too.
std::optional<std::uint64_t> entry_named(const std::string& message) {
  const auto at = message.find("entry ");
  if (at == std::string::npos) return std::nullopt;
  std::uint64_t v = 0;
  std::size_t i = at + 6, digits = 0;
  for (; i < message.size() && digits < 19 && message[i] >= '0' && message[i] <= '9'; ++i, ++digits)
    v = v * 10 + static_cast<std::uint64_t>(message[i] - '0');
  if (digits == 0) return std::nullopt;
  return v;
}

ByteView view(const std::string& s) { return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()}; }

}  // namespace

std::string checkpoint_path(Format f) { return f == Format::Sumdb ? "latest" : "checkpoint"; }

TreeCheck::TreeCheck(Fetcher& fetcher, std::uint64_t size, const Hash32& root, std::uint64_t from,
                     CheckOptions options)
    : fetcher_(fetcher),
      size_(size),
      root_(root),
      from_(std::min(from, size)),
      options_(std::move(options)),
      form_(options_.format == Format::Sumdb ? TilePathForm::Sumdb : TilePathForm::Tlog) {
  // The tiles that differ between the tree of `from` leaves and this one:
  // at each level, from the tile holding the older tree's last complete
  // node on. Everything before is unchanged and was checked with it. The
  // full level-0 tiles are only counted here; the rest are few (1/255 of
  // them), and none is planned for a tree above the cap: check() refuses it.
  if (size_ > options_.max_entries) return;
  const TilePlan plan = TilePlan::growth(from_, size_);  // segments() views into it
  for (const TilePlan::Segment& seg : plan.segments()) {
    std::uint64_t count = seg.count;
    if (seg.level == 0) {
      const bool last_partial = seg.last_width < (1u << seg.height);
      level0_first_ = seg.first;
      level0_count_ = count - (last_partial ? 1 : 0);
      if (!last_partial) continue;
    }
    const std::uint64_t first = seg.level == 0 ? seg.first + level0_count_ : seg.first;
    count = seg.level == 0 ? 1 : count;
    for (std::uint64_t i = 0; i < count; ++i) {
      Tile t;
      const bool last = first + i == seg.first + seg.count - 1;
      t.id.kind = TileKind::Hash;
      t.id.level = seg.level;
      t.id.index = first + i;
      t.id.width = last ? seg.last_width : 1u << seg.height;
      t.id.height = seg.height;
      t.path = path_of(t.id, form_);
      by_id_[{t.id.level, t.id.index}] = tiles_.size();
      tiles_.push_back(std::move(t));
    }
  }
  total_ = tiles_.size() + level0_count_;
}

TreeCheck::Tile* TreeCheck::find(std::uint8_t level, std::uint64_t index) {
  const auto it = by_id_.find({level, index});
  return it == by_id_.end() ? nullptr : &tiles_[it->second];
}

void TreeCheck::fetch(Tile& t) {
  if (t.fetched || t.failure) return;
  const std::size_t want = std::size_t{t.id.width} * kHashSize;
  Fetched f = fetcher_.get(t.path, want);
  if (!f.ok && f.missing && t.id.is_partial()) {
    // A log may delete a partial tile once the full one exists.
    Fetched full = fetcher_.get(path_of(t.id.as_full(), form_), kFullTileBytes);
    if (full.ok) {
      f = std::move(full);
      t.full_instead = true;
    }
  }
  t.bytes_read += f.body.size();
  if (!f.ok) {
    t.failure = Failure{t.path, std::nullopt, f.missing ? "missing (" + f.error + ")" : f.error};
  } else {
    t.bytes = std::move(f.body);
    t.fetched = true;
  }
  const auto d = done_.fetch_add(1) + 1;
  if (options_.progress && (d % 16 == 0 || d == total_)) {
    std::lock_guard hold(lock_);
    options_.progress(d, total_);
  }
}

// Runs `f` on `n` threads (the calling one among them).
template <class F>
void parallel_n(std::size_t n, F&& f) {
  std::vector<std::thread> pool;
  for (std::size_t i = 1; i < n; ++i) {
    try {
      pool.emplace_back(f);
    } catch (const std::system_error&) {
      break;  // fewer threads than asked: the others do the work
    }
  }
  f();
  for (auto& t : pool) t.join();
}

template <class F>
void TreeCheck::parallel(const std::vector<std::size_t>& which, F&& f) {
  std::atomic<std::size_t> next{0};
  const auto n = std::max<std::size_t>(1, std::min<std::size_t>(options_.threads, which.size()));
  parallel_n(n, [&] {
    for (std::size_t i; (i = next.fetch_add(1)) < which.size();) f(tiles_[which[i]]);
  });
}

void TreeCheck::check_data(Tile& t, const AuthenticatedTile& level0) {
  const bool bundles = options_.format == Format::TlogTiles;
  const TileId id{bundles ? TileKind::Entries : TileKind::Data, 0, t.id.index, t.id.width, kTileHeight};
  const std::string path = path_of(id, form_);
  // An entry bundle holds at most 2^16 - 1 bytes per entry behind its
  // two-byte length; a data tile is bounded only by the caller's cap.
  const std::size_t format_cap = bundles ? std::size_t{t.id.width} * (2 + 65535) : options_.max_data_size;
  const Fetched f = fetcher_.get(path, std::min(format_cap, options_.max_data_size));
  t.bytes_read += f.body.size();
  if (!f.ok) {
    t.data_failure = Failure{path, std::nullopt, f.missing ? "missing (" + f.error + ")" : f.error};
    return;
  }
  const TileData data{id, view(f.body)};
  std::vector<std::uint64_t> indexes;
  if (bundles) {
    const auto r = verify_entry_bundle(level0, data);
    if (!r) return void(t.data_failure = Failure{path, entry_named(r.error().message()), r.error().message()});
    for (const auto& e : *r) indexes.push_back(e.index);
  } else {
    const auto r = verify_data_tile(level0, data);
    if (!r) return void(t.data_failure = Failure{path, entry_named(r.error().message()), r.error().message()});
    for (const auto& e : *r) indexes.push_back(e.index);
  }
  t.data_entries = static_cast<std::uint64_t>(std::ranges::count_if(indexes, [&](auto i) { return i >= from_; }));
}

// A full level-0 tile, authenticated under its parent without being kept
// (the tree is shared by every worker), then its entries.
void TreeCheck::check_level0(Tile& t) {
  fetch(t);
  if (!t.fetched) return;
  std::optional<AuthenticatedTile> auth;
  if (t.id.is_partial()) {
    auth = tree_->tile(0, t.id.index);  // the edge, authenticated already
  } else {
    const auto r = tree_->authenticate({t.id, view(t.bytes)});
    if (!r) return void(t.failure = Failure{t.path, std::nullopt, r.error().message()});
    auth = *r;
  }
  if (!auth) return;
  t.authenticated = true;
  if (options_.entries) check_data(t, *auth);
  // A full level-0 tile is needed no more (the consistency step fetches
  // again the few it wants): holding every one would make memory grow with
  // the log, 8 KiB for every 256 entries.
  if (!t.id.is_partial()) {
    std::string().swap(t.bytes);
    t.fetched = false;
  }
}

// One worker's share of the full level-0 tiles: it claims the next index,
// checks the tile and its entries, and keeps nothing but the totals.
void TreeCheck::Tally::keep(Failure f, std::size_t cap) {
  if (failures.size() < cap) failures.push_back(std::move(f));
  else ++failures_untold;
}

void TreeCheck::Tally::count(const Tile& t, std::size_t cap) {
  bytes += t.bytes_read;
  if (t.failure) keep(*t.failure, cap);
  if (!t.authenticated) return;
  ++tiles;
  if (t.data_failure) keep(*t.data_failure, cap);
  else entries += t.data_entries;
}

void TreeCheck::Tally::merge(Tally&& other, std::size_t cap) {
  tiles += other.tiles;
  entries += other.entries;
  bytes += other.bytes;
  for (auto& f : other.failures) keep(std::move(f), cap);
  failures_untold += other.failures_untold;
}

void TreeCheck::check_level0_run(Tally& totals) {
  Tally mine;
  for (std::uint64_t k; (k = level0_next_.fetch_add(1)) < level0_count_;) {
    const std::uint64_t index = level0_first_ + k;
    const Tile* parent = find(1, index >> 8);
    if (parent != nullptr && !parent->authenticated) continue;
    Tile t;
    t.id.kind = TileKind::Hash;
    t.id.level = 0;
    t.id.index = index;
    t.id.width = kTileWidth;
    t.id.height = kTileHeight;
    t.path = path_of(t.id, form_);
    check_level0(t);
    mine.count(t, options_.max_failures);
  }
  std::lock_guard hold(lock_);
  totals.merge(std::move(mine), options_.max_failures);
}

CheckResult TreeCheck::check() {
  CheckResult r;
  TileOptions limits;
  limits.max_size = options_.max_entries;
  auto tree = TiledTree::create(size_, ByteView(root_), limits);
  if (!tree) {
    r.failures.push_back({"checkpoint", std::nullopt, tree.error().message()});
    return r;
  }
  tree_ = std::move(*tree);
  if (size_ == 0) {
    r.root_matches = true;
    return r;
  }

  // The edge and the levels above 0 first (all of tiles_): few tiles,
  // read in parallel.
  std::vector<std::size_t> upper(tiles_.size());
  std::iota(upper.begin(), upper.end(), std::size_t{0});
  parallel(upper, [&](Tile& t) { fetch(t); });

  std::vector<TileData> edge;
  std::string edge_names;
  bool edge_complete = true;
  for (const TileId& id : tree_->edge_tiles()) {
    Tile* t = find(id.level, id.index);
    edge_names += (edge_names.empty() ? "" : " + ") + path_of(id, form_);
    if (t == nullptr || !t->fetched) {
      edge_complete = false;
      continue;
    }
    edge.push_back({t->full_instead ? id.as_full() : id, view(t->bytes)});
  }
  if (edge_complete) {
    auto with = tree_->with_tiles(edge);
    if (with) {
      tree_ = std::move(*with);
      r.root_matches = true;
      for (const TileId& id : tree_->edge_tiles())
        if (Tile* t = find(id.level, id.index)) t->authenticated = true;
    } else {
      // The library names the tile that failed, or the whole edge when
      // the tiles are well formed and do not fold into the root.
      const std::string& named = with.error().detail();
      r.failures.push_back({named.empty() ? edge_names : named, std::nullopt, with.error().message()});
    }
  }

  // Then each full tile above level 0 under its parent, top down, a level
  // at a time: with_tiles copies the tiles the tree holds, so one call per
  // tile would cost the square of their number (34 000 level-1 tiles in a
  // two-billion-entry log). Only when a level's batch fails are its tiles
  // tried one by one, to name each that does not authenticate. A tile
  // whose parent did not authenticate is not tried: the parent's failure
  // is the one reported.
  for (int level = 7; level >= 1 && r.root_matches; --level) {
    std::vector<Tile*> round;
    std::vector<TileData> batch;
    for (std::size_t i : upper) {
      Tile& t = tiles_[i];
      if (t.id.level != level || t.id.is_partial() || !t.fetched) continue;
      const Tile* parent = find(static_cast<std::uint8_t>(level + 1), t.id.index >> 8);
      if (parent != nullptr && !parent->authenticated) continue;
      round.push_back(&t);
      batch.push_back({t.id, view(t.bytes)});
    }
    if (batch.empty()) continue;
    if (auto with = tree_->with_tiles(batch)) {
      tree_ = std::move(*with);
      for (Tile* t : round) t->authenticated = true;
      continue;
    }
    for (std::size_t k = 0; k < round.size(); ++k) {
      auto with = tree_->with_tiles(std::span<const TileData>(&batch[k], 1));
      if (!with) {
        round[k]->failure = Failure{round[k]->path, std::nullopt, with.error().message()};
        continue;
      }
      tree_ = std::move(*with);
      round[k]->authenticated = true;
    }
  }

  // Level 0, where the work is: the partial tile (already fetched) and
  // then each full tile with its entries, taken in order by the workers
  // from the lazy run of indexes. A tile whose parent did not authenticate
  // is skipped: the parent's failure is the one reported.
  Tally level0;
  if (r.root_matches) {
    std::vector<std::size_t> partial;
    for (std::size_t i = 0; i < tiles_.size(); ++i)
      if (tiles_[i].id.level == 0) partial.push_back(i);
    parallel(partial, [&](Tile& t) { check_level0(t); });
    parallel_n(std::max(1u, options_.threads), [&] { check_level0_run(level0); });
  }

  // What the older tree's root and the consistency proof need beyond
  // these (tiles of the older tree's right edge that are now full).
  if (r.root_matches && from_ > 0 && from_ < size_) {
    std::deque<std::string> held;  // stable: the batch views into it
    std::vector<TileData> batch;
    for (const TileId& id : tree_->needed_for_consistency(from_)) {
      Tile* t = find(id.level, id.index);
      if (t != nullptr && t->fetched && !t->full_instead) {
        batch.push_back({id, view(t->bytes)});
        continue;
      }
      const std::string path = path_of(id, form_);
      Fetched f = fetcher_.get(path, std::size_t{id.width} * kHashSize);
      r.bytes += f.body.size();
      if (!f.ok) {
        r.failures.push_back({path, std::nullopt, f.missing ? "missing (" + f.error + ")" : f.error});
        continue;
      }
      held.push_back(std::move(f.body));
      batch.push_back({id, view(held.back())});
    }
    if (r.failures.empty() && !batch.empty()) {
      auto with = tree_->with_tiles(batch);
      if (with) {
        tree_ = std::move(*with);
      } else {
        r.failures.push_back({with.error().detail(), std::nullopt, with.error().message()});
      }
    }
  }

  // The consistency step's failures first, then every tile's.
  Tally all;
  for (Failure& f : r.failures) all.keep(std::move(f), options_.max_failures);
  all.bytes = r.bytes;
  for (const Tile& t : tiles_) all.count(t, options_.max_failures);
  // The workers finish in any order; the report does not depend on it
  // (tile paths of one level sort as their indexes do).
  std::ranges::stable_sort(level0.failures, {}, &Failure::tile);
  all.merge(std::move(level0), options_.max_failures);
  r.failures = std::move(all.failures);
  r.failures_untold = all.failures_untold;
  r.tiles = all.tiles;
  r.entries = all.entries;
  r.bytes = all.bytes;
  return r;
}

std::optional<Hash32> TreeCheck::older_root() const {
  if (from_ == 0) return rfc6962_empty_root();
  if (!tree_) return std::nullopt;
  const auto h = tree_->subtree_hash(0, from_);
  if (!h) return std::nullopt;
  return *h;
}

std::optional<std::vector<Hash32>> TreeCheck::consistency() const {
  if (!tree_ || from_ == 0 || from_ == size_) return std::vector<Hash32>{};
  auto p = tree_->consistency_proof(from_);
  if (!p) return std::nullopt;
  return *p;
}

}  // namespace quenfold::cli::tlog
