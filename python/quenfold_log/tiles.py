"""Tiled transparency logs (C2SP tlog-tiles, static-ct-api, the checksum
database's hash tiles) through the extension library.

The library does no I/O: it names the tiles it needs, the caller fetches
them and hands in (path, bytes) pairs, and a tile is trusted only once its
hashes lead to a verified checkpoint's root.

    tree = TiledTree.create(head.size, head.root, 0, 2**64 - 1)
    tree = with_tiles(tree, {p: fetch(p) for p in paths(tree.edge_tiles())})
    for tile in iter_plan(TilePlan.leaves(tree.size(), 0, tree.size(), TileKind.Hash, 0)):
        ...                                   # pages are computed lazily
    views = parse_entry_bundle(path, bundle)  # EntryView offsets into `bundle`
    data = entry_bytes(bundle, views)         # memoryviews, no copies

A distributed audit checks and hashes ranges of level-0 tiles anywhere
(``check_leaf_tiles``, ``hash_tile_range``), joins the parts of a range (``combine_subtrees``)
and confirms the few hashes against the tree (``TiledTree.confirm_subtrees``).
"""

from typing import Dict, Iterable, Iterator, List, Mapping, Sequence, Tuple

from ._extension import (AuthenticatedTile, ByteSpan, CtEntryType, CtLeafView, EntryView, RangeAudit,
                         SubtreeHash, TileId, TileKind, TilePlan, TileSegment, TiledTree, check_entries,
                         check_leaf_tiles, combine_subtrees, format_sumdb_tile_path, format_tile_path, hash_entry_range,
                         hash_tile_range, parse_data_tile, parse_entry_bundle, parse_sumdb_tile_path,
                         parse_tile_path)

__all__ = ["AuthenticatedTile", "ByteSpan", "CtEntryType", "CtLeafView", "EntryView", "RangeAudit", "SubtreeHash",
           "TileId", "TileKind", "TilePlan", "TileSegment", "TiledTree", "check_entries", "check_leaf_tiles",
           "combine_subtrees",
           "format_sumdb_tile_path", "format_tile_path", "hash_entry_range", "hash_tile_range",
           "parse_data_tile", "parse_entry_bundle", "parse_sumdb_tile_path", "parse_tile_path", "iter_plan",
           "paths", "with_tiles", "entry_bytes", "view", "entry_tile_path", "tlog_path", "MAX_PAGE"]

# The most tiles one page of a plan carries.
MAX_PAGE = 65536


def iter_plan(plan: TilePlan, page: int = 4096, start: int = 0) -> Iterator[TileId]:
    """The plan's tiles from position `start` on, fetched `page` at a time:
    a plan over a tree of any 64-bit size is walked without listing it."""
    page = max(1, min(page, MAX_PAGE))
    offset = start
    while True:
        tiles = plan.page(offset, page)
        if not tiles:
            return
        yield from tiles
        offset += len(tiles)


def paths(tiles: Iterable[TileId]) -> List[str]:
    return [t.path for t in tiles]


def with_tiles(tree: TiledTree, tiles: Mapping[str, bytes]) -> TiledTree:
    """The tree holding `tiles` (path -> bytes) too; all or nothing."""
    items = list(tiles.items())
    return tree.with_tiles([p for p, _ in items], [b for _, b in items])


def view(data: bytes, span: ByteSpan) -> memoryview:
    return memoryview(data)[span.offset:span.offset + span.length]


def entry_bytes(bundle: bytes, views: Sequence[EntryView]) -> List[memoryview]:
    """Each entry of a parsed bundle as a view into `bundle`."""
    m = memoryview(bundle)
    return [m[v.offset:v.offset + v.length] for v in views]


_ENTRY_PREFIX = {TileKind.Entries: "tile/entries/", TileKind.Data: "tile/data/"}


def entry_tile_path(tile: TileId, kind: TileKind) -> str:
    """The entry bundle (Entries) or data tile (Data) beside a level-0 tile:
    the same <N>[.p/<W>] under another prefix (no call into the library)."""
    if tile.kind != TileKind.Hash or tile.level != 0 or tile.height != 8 or kind not in _ENTRY_PREFIX:
        return format_tile_path(kind, 0, tile.index, tile.width)
    return _ENTRY_PREFIX[kind] + tile.path[len("tile/0/"):]


_PREFIX = {TileKind.Entries: "tile/entries/", TileKind.Data: "tile/data/"}


def tlog_path(kind: TileKind, level: int, index: int, width: int) -> str:
    """format_tile_path for a tile of a real tree (width 1 to 256, index
    below 2^56) without a call into the library: what a worker listing
    thousands of consecutive tiles uses. <N> in groups of three digits, all
    but the last prefixed with 'x'; a partial tile adds .p/<W>."""
    digits = str(index)
    digits = digits.zfill(len(digits) + (-len(digits)) % 3)
    groups = [digits[i:i + 3] for i in range(0, len(digits), 3)]
    number = "/".join(["x" + g for g in groups[:-1]] + groups[-1:])
    prefix = _PREFIX.get(kind) or "tile/%d/" % level
    return prefix + number + (".p/%d" % width if width != 256 else "")
