// Tile paths and the shape of a tree's tiles.
//
// Every quantity here may come from a log (a checkpoint's size, a path's
// index), so shifts are taken through shr(), which treats a shift of 64 or
// more as giving 0, and products are checked.
#include <algorithm>
#include <string>

#include "quenfold/tiles.h"
#include "tiles/internal.h"

namespace quenfold {
namespace {

// Decimal without leading zeroes ("0" itself allowed), at most `max`.
std::optional<std::uint64_t> canonical_decimal(std::string_view s, std::uint64_t max) {
  if (s.empty() || s.size() > 20) return std::nullopt;
  if (s.size() > 1 && s[0] == '0') return std::nullopt;
  std::uint64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    const std::uint64_t d = static_cast<std::uint64_t>(c - '0');
    if (d > max || v > (max - d) / 10) return std::nullopt;
    v = v * 10 + d;
  }
  return v;
}

// The index written as x-prefixed groups of three digits.
void append_index(std::string& out, std::uint64_t n) {
  std::array<unsigned, 7> groups{};
  std::size_t count = 0;
  do {
    groups[count++] = static_cast<unsigned>(n % 1000);
    n /= 1000;
  } while (n > 0);
  for (std::size_t i = count; i-- > 0;) {
    if (i > 0) out += 'x';
    char digits[3] = {static_cast<char>('0' + groups[i] / 100), static_cast<char>('0' + groups[i] / 10 % 10),
                      static_cast<char>('0' + groups[i] % 10)};
    out.append(digits, 3);
    if (i > 0) out += '/';
  }
}

std::vector<std::string_view> split(std::string_view s) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t slash = s.find('/', start);
    if (slash == std::string_view::npos) {
      parts.push_back(s.substr(start));
      return parts;
    }
    parts.push_back(s.substr(start, slash - start));
    start = slash + 1;
  }
}

}  // namespace

namespace tiles {

std::string path_of(const TileId& t) {
  TilePathForm form = t.height == kTileHeight ? TilePathForm::Tlog : TilePathForm::Sumdb;
  if (auto p = format_tile_path(t, form)) return *p;
  return "tile(level " + std::to_string(t.level) + ", index " + std::to_string(t.index) + ", width " +
         std::to_string(t.width) + ")";
}

}  // namespace tiles

std::expected<std::string, Error> format_tile_path(const TileId& t, TilePathForm form) {
  auto bad = [&](std::string why) {
    return std::unexpected(Error::malformed_tile_path(
        "tile(level " + std::to_string(t.level) + ", index " + std::to_string(t.index) + ")", std::move(why)));
  };
  if (form == TilePathForm::Tlog && t.height != kTileHeight) return bad("a tlog tile path has height 8");
  if (t.height < 1 || t.height > kMaxSumdbTileHeight) return bad("height out of range");
  if (t.width < 1 || t.width > t.full_width()) return bad("width out of range");
  if (t.level > kMaxTileLevel) return bad("level above 63");
  if (t.kind != TileKind::Hash && t.level != 0) return bad("entry tiles sit at level 0");
  std::string out = "tile/";
  if (form == TilePathForm::Sumdb) {
    if (t.kind == TileKind::Entries) return bad("the checksum-database form has no entry bundles");
    out += std::to_string(t.height);
    out += '/';
  }
  switch (t.kind) {
    case TileKind::Hash:
      out += std::to_string(t.level);
      break;
    case TileKind::Entries:
      out += "entries";
      break;
    case TileKind::Data:
      out += "data";
      break;
  }
  out += '/';
  append_index(out, t.index);
  if (t.is_partial()) {
    out += ".p/";
    out += std::to_string(t.width);
  }
  return out;
}

std::expected<TileId, Error> parse_tile_path(std::string_view path, TilePathForm form) {
  auto bad = [&](std::string why) {
    return std::unexpected(Error::malformed_tile_path(std::string(path), std::move(why)));
  };
  // The longest canonical path is well under this; anything longer is not one.
  if (path.size() > 96) return bad("too long");
  const std::vector<std::string_view> parts = split(path);
  std::size_t next = 0;
  if (parts.empty() || parts[next++] != "tile") return bad("does not start with tile/");
  TileId t;
  if (form == TilePathForm::Sumdb) {
    if (parts.size() < 4) return bad("too few elements");
    const auto h = canonical_decimal(parts[next++], kMaxSumdbTileHeight);
    if (!h || *h < 1) return bad("height is not a decimal from 1 to 30");
    t.height = static_cast<std::uint8_t>(*h);
  } else if (parts.size() < 3) {
    return bad("too few elements");
  }
  const std::string_view kind = parts[next++];
  if (kind == "data") {
    t.kind = TileKind::Data;
  } else if (kind == "entries" && form == TilePathForm::Tlog) {
    t.kind = TileKind::Entries;
  } else {
    const auto level = canonical_decimal(kind, kMaxTileLevel);
    if (!level) return bad("level is not a decimal from 0 to 63");
    t.level = static_cast<std::uint8_t>(*level);
  }
  std::span<const std::string_view> rest(parts.data() + next, parts.size() - next);
  t.width = t.full_width();
  std::string_view last_group;
  if (rest.size() >= 2 && rest[rest.size() - 2].ends_with(".p")) {
    const auto w = canonical_decimal(rest.back(), t.full_width() - 1);
    if (!w || *w < 1) return bad("partial width is not a decimal from 1 to " + std::to_string(t.full_width() - 1));
    t.width = static_cast<std::uint32_t>(*w);
    last_group = rest[rest.size() - 2];
    last_group.remove_suffix(2);
    rest = rest.first(rest.size() - 1);
  } else {
    last_group = rest.back();
  }
  if (rest.size() > 7) return bad("index has more than 7 groups");
  std::uint64_t n = 0;
  for (std::size_t i = 0; i < rest.size(); ++i) {
    const bool final = i + 1 == rest.size();
    std::string_view g = final ? last_group : rest[i];
    if (!final) {
      if (!g.starts_with('x')) return bad("index group " + std::to_string(i + 1) + " lacks its x prefix");
      g.remove_prefix(1);
    }
    if (g.size() != 3 || !std::all_of(g.begin(), g.end(), [](char c) { return c >= '0' && c <= '9'; }))
      return bad("index group " + std::to_string(i + 1) + " is not three digits");
    if (i == 0 && !final && g == "000") return bad("index has a leading zero group");
    const std::uint64_t v = static_cast<std::uint64_t>((g[0] - '0') * 100 + (g[1] - '0') * 10 + (g[2] - '0'));
    if (n > (UINT64_MAX - v) / 1000) return bad("index does not fit 64 bits");
    n = n * 1000 + v;
  }
  t.index = n;
  return t;
}

std::optional<LeafRange> tile_leaf_range(const TileId& t) noexcept {
  if (t.height < 1 || t.height > kMaxSumdbTileHeight || t.width < 1 || t.width > t.full_width())
    return std::nullopt;
  const unsigned level_shift = static_cast<unsigned>(t.level) * t.height;
  // start = index << (level_shift + height), length = width << level_shift.
  const auto start = tiles::checked_shl(t.index, level_shift + t.height);
  const auto length = tiles::checked_shl(t.width, level_shift);
  if (!start || !length || *start > UINT64_MAX - *length) return std::nullopt;
  return LeafRange{*start, *start + *length};
}

std::uint64_t full_tile_count(std::uint64_t size, std::uint8_t level, std::uint8_t height) noexcept {
  return tiles::shr(size, (static_cast<unsigned>(level) + 1) * height);
}

std::uint32_t partial_tile_width(std::uint64_t size, std::uint8_t level, std::uint8_t height) noexcept {
  const std::uint64_t mask = (std::uint64_t{1} << height) - 1;
  return static_cast<std::uint32_t>(tiles::shr(size, static_cast<unsigned>(level) * height) & mask);
}

std::uint8_t tile_level_count(std::uint64_t size, std::uint8_t height) noexcept {
  std::uint8_t levels = 0;
  while (levels <= kMaxTileLevel && tiles::shr(size, static_cast<unsigned>(levels) * height) > 0) ++levels;
  return levels;
}

std::optional<TileId> tile_in_tree(std::uint64_t size, std::uint8_t level, std::uint64_t index, TileKind kind,
                                   std::uint8_t height) noexcept {
  if (height < 1 || height > kMaxSumdbTileHeight || level > kMaxTileLevel) return std::nullopt;
  if (kind != TileKind::Hash && level != 0) return std::nullopt;
  const std::uint64_t full = full_tile_count(size, level, height);
  TileId t{kind, level, index, std::uint32_t{1} << height, height};
  if (index < full) return t;
  const std::uint32_t partial = partial_tile_width(size, level, height);
  if (index == full && partial > 0) {
    t.width = partial;
    return t;
  }
  return std::nullopt;
}

// --- TilePlan -----------------------------------------------------------------

namespace {

// The run of tiles at `level` that hold the level's hashes [first_hash,
// end_hash) of a tree whose level has `total` hashes.
std::optional<TilePlan::Segment> segment(TileKind kind, std::uint8_t level, std::uint8_t height,
                                         std::uint64_t first_hash, std::uint64_t end_hash, std::uint64_t total) {
  if (end_hash > total) end_hash = total;
  if (first_hash >= end_hash) return std::nullopt;
  TilePlan::Segment s;
  s.kind = kind;
  s.level = level;
  s.height = height;
  s.first = first_hash >> height;
  const std::uint64_t last = (end_hash - 1) >> height;
  s.count = last - s.first + 1;
  const std::uint64_t last_start = last << height;  // <= end_hash - 1: no overflow
  const std::uint64_t in_last = total - last_start;
  s.last_width = static_cast<std::uint32_t>(std::min<std::uint64_t>(in_last, std::uint64_t{1} << height));
  return s;
}

bool valid_height(std::uint8_t height) { return height >= 1 && height <= kMaxSumdbTileHeight; }

}  // namespace

TilePlan TilePlan::whole_tree(std::uint64_t size, TileKind kind, std::uint8_t height) {
  TilePlan out;
  if (!valid_height(height)) return out;
  const std::uint8_t levels = kind == TileKind::Hash ? tile_level_count(size, height) : 1;
  for (std::uint8_t level = levels; level-- > 0;) {
    const std::uint64_t total = tiles::shr(size, static_cast<unsigned>(level) * height);
    if (auto s = segment(kind, level, height, 0, total, total)) out.segments_[out.segment_count_++] = *s;
  }
  return out;
}

TilePlan TilePlan::growth(std::uint64_t old_size, std::uint64_t new_size, TileKind kind, std::uint8_t height) {
  TilePlan out;
  if (!valid_height(height) || new_size <= old_size) return out;
  const std::uint8_t levels = kind == TileKind::Hash ? tile_level_count(new_size, height) : 1;
  for (std::uint8_t level = levels; level-- > 0;) {
    const unsigned shift = static_cast<unsigned>(level) * height;
    const std::uint64_t old_total = tiles::shr(old_size, shift);
    const std::uint64_t new_total = tiles::shr(new_size, shift);
    // The tile holding the old tree's last (partial) hashes changes, and
    // every tile after it is new.
    const std::uint64_t first_hash = (old_total >> height) << height;
    if (new_total <= old_total) continue;
    if (auto s = segment(kind, level, height, first_hash, new_total, new_total)) out.segments_[out.segment_count_++] = *s;
  }
  return out;
}

TilePlan TilePlan::leaves(std::uint64_t size, std::uint64_t begin, std::uint64_t end, TileKind kind,
                          std::uint8_t level, std::uint8_t height) {
  TilePlan out;
  if (!valid_height(height) || level > kMaxTileLevel || (kind != TileKind::Hash && level != 0)) return out;
  if (end > size) end = size;
  if (begin >= end) return out;
  const unsigned shift = static_cast<unsigned>(level) * height;
  const std::uint64_t total = tiles::shr(size, shift);
  const std::uint64_t first_hash = tiles::shr(begin, shift);
  // ceil(end / 2^shift), without overflow.
  std::uint64_t end_hash = tiles::shr(end, shift);
  if (shift < 64 && (end & ((std::uint64_t{1} << shift) - 1)) != 0) ++end_hash;
  if (auto s = segment(kind, level, height, first_hash, end_hash, total)) out.segments_[out.segment_count_++] = *s;
  return out;
}

TileId TilePlan::iterator::operator*() const noexcept {
  const Segment& s = plan_->segments_[segment_];
  TileId t{s.kind, s.level, s.first + offset_, std::uint32_t{1} << s.height, s.height};
  if (offset_ + 1 == s.count) t.width = s.last_width;
  return t;
}

TilePlan::iterator& TilePlan::iterator::operator++() noexcept {
  if (++offset_ == plan_->segments_[segment_].count) {
    ++segment_;
    offset_ = 0;
  }
  return *this;
}

TilePlan::iterator TilePlan::begin() const noexcept {
  iterator it;
  it.plan_ = this;
  return it;
}

TilePlan::iterator TilePlan::end() const noexcept {
  iterator it;
  it.plan_ = this;
  it.segment_ = segment_count_;
  return it;
}

std::uint64_t TilePlan::count() const noexcept {
  std::uint64_t n = 0;
  for (const Segment& s : segments()) n += s.count;
  return n;
}

}  // namespace quenfold
