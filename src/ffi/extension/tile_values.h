// The tiled-log calls' argument kinds and result forms: a tile kind and a
// list of subtree hashes as arguments; tile ids, plans' segments, subtree
// hashes, authenticated tiles, range audits and per-entry views as results.
// Tiles travel as (path, bytes) pairs: the path is the tile's canonical
// tlog-tiles name, which the call parses. Same wire forms as values.h.
//
// Include this before ffi/frame.h (as values.h).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "ffi/lift.h"
#include "ffi/lower.h"
#include "quenfold/tiles.h"

namespace quenfold::ffi {

// Entries as offsets into the buffer they were read from, so that a binding
// can hand out views of the bytes it passed in rather than copies.
struct EntryViews {
  const std::uint8_t* base = nullptr;
  std::vector<BundleEntry> entries;
};
struct CtLeafViews {
  const std::uint8_t* base = nullptr;
  std::vector<CtTileLeaf> leaves;
};

struct TileKindArg { using type = TileKind; };                          // enum TileKind
struct SubtreeHashListArg { using type = std::vector<SubtreeHash>; };  // list<record SubtreeHash>

std::expected<TileKind, LiftError> lift(TileKindArg, std::span<const std::uint8_t> buf);
std::expected<std::vector<SubtreeHash>, LiftError> lift(SubtreeHashListArg, std::span<const std::uint8_t> buf);

RustBuffer lower(const TileId& tile);
RustBuffer lower(const std::vector<TileId>& tiles);
RustBuffer lower(const std::vector<TilePlan::Segment>& segments);
RustBuffer lower(const std::vector<SubtreeHash>& subtrees);
RustBuffer lower(const std::vector<Hash32>& hashes);
RustBuffer lower(const AuthenticatedTile& tile);
RustBuffer lower(const RangeAudit& audit);
RustBuffer lower(const EntryViews& views);
RustBuffer lower(const CtLeafViews& views);

}  // namespace quenfold::ffi
