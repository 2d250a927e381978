"""Tiled logs through the extension library: tile paths, lazy plans, the
tree of a checkpoint with its proofs, range hashing and combining, and the
entries of bundles and data tiles, over logs written by the tests' tiled-log
builder (tests/cli/tiled_log.py)."""

import hashlib
import struct
import sys
import unittest

import quenfold_log as qf
from quenfold_log import tiles as t
from quenfold_log.errors import VerificationError
from quenfold_log._errors import ErrorKind

from .support import ROOT

sys.path.insert(0, str(ROOT / "tests" / "cli"))
import tiled_log  # noqa: E402  (signs with OpenSSL's command-line tool)

U64 = 2**64 - 1


def static_ct_leaf(i, data):
    """A static-ct-api TileLeaf of an x509_entry carrying its leaf_index
    extension (type 0, a 40-bit index), and its leaf hash."""
    cert = b"certificate " + data
    extensions = b"\x00\x00\x05" + i.to_bytes(5, "big")
    entry = (struct.pack(">QH", 1700000000000 + i, 0) + len(cert).to_bytes(3, "big") + cert +
             struct.pack(">H", len(extensions)) + extensions)
    chain = hashlib.sha256(b"issuer").digest() if i % 2 else b""
    return entry + struct.pack(">H", len(chain)) + chain, tiled_log.leaf_hash(b"\x00\x00" + entry)


def build(size, fmt="tlog-tiles"):
    if fmt == "static-ct":
        tiled_log.static_ct_leaf = static_ct_leaf
    log = tiled_log.Log(tiled_log.entries(size, "tile test"), fmt=fmt)
    return log, log.files(size)


def tree_with_edge(log, files, size, **kw):
    tree = t.TiledTree.create(size, log.root(size), kw.get("min_index", 0), kw.get("max_size", U64))
    return t.with_tiles(tree, {p: files[p] for p in t.paths(tree.edge_tiles())})


class TileTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if qf.default_library().extension is None:
            raise unittest.SkipTest(f"set {qf.EXT_ENV_VARIABLE} to the built libquenfold_log_ext.so")

    def assertRejects(self, kind, fn, *args):
        with self.assertRaises(VerificationError) as cm:
            fn(*args)
        self.assertEqual(cm.exception.kind, kind, str(cm.exception))
        return cm.exception


class TilePathTest(TileTest):
    def test_paths_round_trip(self):
        cases = [  # path, sumdb form, (kind, level, index, width, height)
            ("tile/0/000", False, (t.TileKind.Hash, 0, 0, 256, 8)),
            ("tile/3/x001/234.p/7", False, (t.TileKind.Hash, 3, 1234, 7, 8)),
            ("tile/entries/x001/x234/067", False, (t.TileKind.Entries, 0, 1234067, 256, 8)),
            ("tile/data/005.p/255", False, (t.TileKind.Data, 0, 5, 255, 8)),
            ("tile/8/1/002", True, (t.TileKind.Hash, 1, 2, 256, 8)),
            ("tile/4/data/010.p/3", True, (t.TileKind.Data, 0, 10, 3, 4)),
        ]
        for path, sumdb, want in cases:
            with self.subTest(path=path):
                tid = (t.parse_sumdb_tile_path if sumdb else t.parse_tile_path)(path)
                self.assertEqual((tid.kind, tid.level, tid.index, tid.width, tid.height), want)
                kind, level, index, width, height = want
                again = (t.format_sumdb_tile_path(kind, level, index, width, height) if sumdb
                         else t.format_tile_path(kind, level, index, width))
                self.assertEqual(again, path)

    def test_paths_written_without_the_library_are_the_librarys(self):
        kinds = [(t.TileKind.Hash, 0), (t.TileKind.Hash, 3), (t.TileKind.Entries, 0), (t.TileKind.Data, 0)]
        for index in [0, 7, 999, 1000, 1001, 65535, 1234067, 10**9, 2**56 - 1]:
            for width in [1, 255, 256]:
                for kind, level in kinds:
                    with self.subTest(index=index, width=width, kind=kind, level=level):
                        self.assertEqual(t.tlog_path(kind, level, index, width),
                                         t.format_tile_path(kind, level, index, width))

    def test_non_canonical_paths_are_refused(self):
        for path in ["tile/0/0", "tile/0/x000/001", "tile/0/001.p/256", "tile/0/001.p/0", "tile/64/000",
                     "tile/entries/000/", "tile/x/000", "tile/0/x1/000", "tile/0/001.p/07"]:
            with self.subTest(path=path):
                self.assertRejects(ErrorKind.MalformedTilePath, t.parse_tile_path, path)
        self.assertRejects(ErrorKind.MalformedTilePath, t.format_tile_path, t.TileKind.Hash, 0, 1, 0)


class TilePlanTest(TileTest):
    def test_whole_tree_plan_is_what_the_log_serves(self):
        for size in [1, 255, 256, 300, 65536, 65536 + 257]:
            with self.subTest(size=size):
                log, files = build(size)
                hashes = {p for p in files if p.startswith("tile/") and "entries" not in p}
                plan = t.TilePlan.whole_tree(size, t.TileKind.Hash)
                got = [tile.path for tile in t.iter_plan(plan, page=7)]
                self.assertEqual(len(got), plan.count())
                self.assertEqual(set(got), hashes)
                bundles = [tile.path for tile in t.iter_plan(t.TilePlan.whole_tree(size, t.TileKind.Entries))]
                self.assertEqual(set(bundles), {p for p in files if "entries" in p})

    def test_plans_near_two_to_the_64_are_paged_not_listed(self):
        plan = t.TilePlan.whole_tree(U64, t.TileKind.Hash)
        n = plan.count()
        self.assertEqual(n, sum(s.count for s in plan.segments()))
        self.assertGreater(n, 2**56)
        last = plan.page(n - 1, 10)
        # The plan runs top-down: its last tile is level 0's partial one.
        self.assertEqual([x.path for x in last], ["tile/0/x072/x057/x594/x037/x927/935.p/255"])
        self.assertEqual(plan.page(n, 10), [])
        self.assertEqual(len(plan.page(0, 10**6)), t.MAX_PAGE)

    def test_growth_and_leaves(self):
        growth = [x.path for x in t.iter_plan(t.TilePlan.growth(300, 600, t.TileKind.Hash))]
        self.assertEqual(growth, ["tile/1/000.p/2", "tile/0/001", "tile/0/002.p/88"])
        leaves = [x.path for x in t.iter_plan(t.TilePlan.leaves(600, 250, 520, t.TileKind.Entries, 0))]
        self.assertEqual(leaves, ["tile/entries/000", "tile/entries/001", "tile/entries/002.p/88"])


class TiledTreeTest(TileTest):
    SIZES = [1, 300, 65536 + 300]

    def test_proofs_and_subtrees_equal_the_builders(self):
        for size in self.SIZES:
            log, files = build(size)
            tree = tree_with_edge(log, files, size)
            for m in sorted({1, size // 3 + 1, size - 1, size} - {0}):
                with self.subTest(size=size, old=m):
                    tree2 = t.with_tiles(tree, {p: files[p] for p in t.paths(tree.needed_for_consistency(m))})
                    self.assertEqual(tree2.consistency_proof(m), log.consistency(m))
                    tree2.check_older_root(m, log.root(m))
                    if m > 1:
                        self.assertRejects(ErrorKind.RootMismatch, tree2.check_older_root, m, log.root(m - 1))
            index = size // 2
            tree3 = t.with_tiles(tree, {p: files[p] for p in t.paths(tree.needed_for_inclusion(index))})
            self.assertEqual(tree3.leaf_hash(index), log.leaves[index])
            proof = tree3.inclusion_proof(index)
            checkpoint = qf.CheckpointHead(origin=log.origin, size=size, root=log.root(size), extensions=[])
            self.assertEqual(qf.verify_inclusions(checkpoint, [(index, log.leaves[index], proof)]), [None])

    def test_range_hashes_combine_to_the_root_and_are_confirmed(self):
        for size in self.SIZES:
            with self.subTest(size=size):
                log, files = build(size)
                tree = tree_with_edge(log, files, size)
                level0 = [x.path for x in t.iter_plan(t.TilePlan.leaves(size, 0, size, t.TileKind.Hash, 0))]
                parts = []
                for i in range(0, len(level0), 64):  # batches of 2^14 leaves
                    batch = level0[i:i + 64]
                    parts += t.hash_tile_range(size, batch, [files[p] for p in batch])
                whole = t.combine_subtrees(size, parts)
                self.assertEqual([(s.start, s.end, s.hash) for s in whole], [(0, size, log.root(size))])
                from_entries = t.hash_entry_range(size, [t.entry_tile_path(t.parse_tile_path(p), t.TileKind.Entries)
                                                         for p in level0],
                                                  [files[t.entry_tile_path(t.parse_tile_path(p), t.TileKind.Entries)]
                                                   for p in level0])
                self.assertEqual(t.combine_subtrees(size, from_entries), whole)
                for part in parts:
                    tree = t.with_tiles(tree, {p: files[p] for p in t.paths(tree.needed_for_subtree(part.start,
                                                                                                   part.end))})
                tree.confirm_subtrees(parts)
                tree.confirm_subtrees(whole)

    def test_a_tampered_tile_is_named(self):
        size = 65536 + 300
        log, files = build(size)
        tree = tree_with_edge(log, files, size)
        bad = dict(files)
        bad["tile/0/007"] = bad["tile/0/007"][:100] + bytes([bad["tile/0/007"][100] ^ 1]) + bad["tile/0/007"][101:]
        level0 = [x.path for x in t.iter_plan(t.TilePlan.leaves(size, 0, 65536, t.TileKind.Hash, 0))]
        parts = t.hash_tile_range(size, level0, [bad[p] for p in level0])
        above = t.with_tiles(tree, {p: files[p] for p in t.paths(tree.needed_for_subtree(0, 65536))})
        self.assertRejects(ErrorKind.TileHashMismatch, above.confirm_subtrees, parts)
        needed = t.with_tiles(tree, {p: files[p] for p in t.paths(tree.needed_for_leaves(0, 65536))})
        e = self.assertRejects(ErrorKind.TileHashMismatch, needed.audit_leaves, 0, 65536, level0,
                               [bad[p] for p in level0])
        self.assertIn("tile/0/007", str(e))
        audit = needed.audit_leaves(0, 65536, level0, [files[p] for p in level0])
        self.assertEqual((audit.verified_begin, audit.verified_end, audit.pruned_tiles, len(audit.tiles)),
                         (0, 65536, 0, 256))
        e = self.assertRejects(ErrorKind.TileMissing, needed.audit_leaves, 0, 65536, level0[1:],
                               [files[p] for p in level0[1:]])
        self.assertIn("tile/0/000", str(e))

    def test_entries_are_views_checked_slot_for_slot(self):
        for fmt, kind in [("tlog-tiles", t.TileKind.Entries), ("static-ct", t.TileKind.Data)]:
            size = 300
            log, files = build(size, fmt)
            tree = tree_with_edge(log, files, size)
            for tile in t.iter_plan(t.TilePlan.leaves(size, 0, size, t.TileKind.Hash, 0)):
                epath = t.entry_tile_path(tile, kind)
                with self.subTest(fmt=fmt, tile=tile.path):
                    data = files[epath]
                    self.assertEqual(t.check_entries(tile.path, files[tile.path], epath, data), tile.width)
                    if kind == t.TileKind.Entries:
                        views = tree.verify_entry_bundle(tile.path, files[tile.path], epath, data)
                        got = [bytes(v) for v in t.entry_bytes(data, views)]
                        self.assertEqual(got, log.entries[tile.index * 256:tile.index * 256 + tile.width])
                    else:
                        leaves = tree.verify_data_tile(tile.path, files[tile.path], epath, data)
                        self.assertEqual([x.leaf_hash for x in leaves],
                                         log.leaves[tile.index * 256:tile.index * 256 + tile.width])
                        self.assertTrue(all(bytes(t.view(data, x.certificate)).startswith(b"certificate ")
                                            for x in leaves))
                        self.assertEqual([x.leaf_index for x in leaves], [x.index for x in leaves])
                    # One entry changed: the bundle is named, with the entry's index.
                    flipped = bytearray(data)
                    if kind == t.TileKind.Entries:
                        flipped[-3] ^= 1
                    else:  # inside the certificate, which the leaf hash covers
                        cert = t.parse_data_tile(epath, data)[-1].certificate
                        flipped[cert.offset + cert.length - 1] ^= 1
                    e = self.assertRejects(ErrorKind.TileHashMismatch, t.check_entries, tile.path,
                                           files[tile.path], epath, bytes(flipped))
                    self.assertIn(epath, str(e))
                    self.assertIn("entry %d " % (tile.index * 256 + tile.width - 1), str(e))
