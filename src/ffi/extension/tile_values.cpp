#include "ffi/extension/tile_values.h"

#include <algorithm>
#include <string>

#include "base/reader.h"
#include "base/try.h"

namespace quenfold::ffi {

namespace {

using encoding::Reader;

// The catalogue's variant index (from 1) of each kind, in TileKind's order.
std::int32_t variant(TileKind k) { return static_cast<std::int32_t>(k) + 1; }

void write(ValueWriter& w, const TileId& t) {
  w.i32(variant(t.kind));
  w.u8(t.level);
  w.u64(t.index);
  w.u32(t.width);
  w.u8(t.height);
  // Only height-8 tiles have a tlog-tiles path; others carry none.
  auto path = t.height == kTileHeight ? format_tile_path(t) : std::expected<std::string, Error>("");
  w.string(path ? *path : std::string());
}

void write(ValueWriter& w, const std::vector<TileId>& tiles) {
  w.count(tiles.size());
  for (const TileId& t : tiles) write(w, t);
}

// A view as (offset, length) from the start of the tile the caller passed.
void write_span(ValueWriter& w, const std::uint8_t* base, ByteView v) {
  w.u64(v.empty() ? 0 : static_cast<std::uint64_t>(v.data() - base));
  w.u64(v.size());
}

}  // namespace

std::expected<TileKind, LiftError> lift(TileKindArg, std::span<const std::uint8_t> buf) {
  Reader r(buf);
  // An enum's i32 variant index reads as a count would.
  QUENFOLD_TRY(const std::size_t v, lifting::count(r));
  if (v < 1 || v > 3) return std::unexpected(LiftError("Invalid TileKind enum value: " + std::to_string(v)));
  QUENFOLD_CHECK(lifting::finish(r));
  return static_cast<TileKind>(v - 1);
}

std::expected<std::vector<SubtreeHash>, LiftError> lift(SubtreeHashListArg, std::span<const std::uint8_t> buf) {
  Reader r(buf);
  QUENFOLD_TRY(const std::size_t n, lifting::count(r));
  std::vector<SubtreeHash> out;
  // start, end and the hash's length and bytes: 52 bytes each.
  out.reserve(std::min(n, r.remaining() / 52));
  for (std::size_t i = 0; i < n; ++i) {
    SubtreeHash s;
    QUENFOLD_TRY(s.start, lifting::u64(r));
    QUENFOLD_TRY(s.end, lifting::u64(r));
    QUENFOLD_TRY(const ByteView hash, lifting::byte_string(r));
    if (hash.size() != s.hash.size())
      return std::unexpected(LiftError("subtree hash " + std::to_string(i) + " is " + std::to_string(hash.size()) +
                                       " bytes, not 32"));
    std::copy(hash.begin(), hash.end(), s.hash.begin());
    out.push_back(s);
  }
  QUENFOLD_CHECK(lifting::finish(r));
  return out;
}

RustBuffer lower(const TileId& tile) {
  ValueWriter w;
  write(w, tile);
  return w.finish();
}

RustBuffer lower(const std::vector<TileId>& tiles) {
  ValueWriter w;
  write(w, tiles);
  return w.finish();
}

RustBuffer lower(const std::vector<TilePlan::Segment>& segments) {
  ValueWriter w;
  w.count(segments.size());
  for (const auto& s : segments) {
    w.i32(variant(s.kind));
    w.u8(s.level);
    w.u8(s.height);
    w.u64(s.first);
    w.u64(s.count);
    w.u32(s.last_width);
  }
  return w.finish();
}

RustBuffer lower(const std::vector<SubtreeHash>& subtrees) {
  ValueWriter w;
  w.count(subtrees.size());
  for (const auto& s : subtrees) {
    w.u64(s.start);
    w.u64(s.end);
    w.bytes(s.hash);
  }
  return w.finish();
}

RustBuffer lower(const std::vector<Hash32>& hashes) {
  ValueWriter w;
  w.count(hashes.size());
  for (const auto& h : hashes) w.bytes(h);
  return w.finish();
}

RustBuffer lower(const AuthenticatedTile& tile) {
  ValueWriter w;
  write(w, tile.id());
  const auto hashes = tile.hashes();
  w.bytes(ByteView(hashes.empty() ? nullptr : hashes.front().data(), hashes.size() * sizeof(Hash32)));
  w.u64(tile.leaves().begin);
  w.u64(tile.leaves().end);
  return w.finish();
}

RustBuffer lower(const RangeAudit& audit) {
  ValueWriter w;
  w.u64(audit.requested.begin);
  w.u64(audit.requested.end);
  w.u64(audit.verified.begin);
  w.u64(audit.verified.end);
  w.u64(audit.pruned_tiles);
  w.count(audit.tiles.size());
  for (const auto& t : audit.tiles) write(w, t.id());
  return w.finish();
}

RustBuffer lower(const EntryViews& views) {
  ValueWriter w;
  w.count(views.entries.size());
  for (const auto& e : views.entries) {
    w.u64(e.index);
    write_span(w, views.base, e.data);
  }
  return w.finish();
}

RustBuffer lower(const CtLeafViews& views) {
  ValueWriter w;
  w.count(views.leaves.size());
  for (const auto& l : views.leaves) {
    w.u64(l.index);
    w.u64(l.timestamp);
    w.i32(static_cast<std::int32_t>(l.entry_type) + 1);
    w.u64(l.leaf_index);
    w.bytes(l.leaf_hash);
    for (ByteView v : {l.timestamped_entry, l.certificate, l.issuer_key_hash, l.extensions, l.pre_certificate})
      write_span(w, views.base, v);
    w.count(l.chain.size());
    for (ByteView v : l.chain) write_span(w, views.base, v);
  }
  return w.finish();
}

}  // namespace quenfold::ffi
