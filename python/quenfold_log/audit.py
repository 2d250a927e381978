"""A distributed audit of a tiled log on a Dask cluster.

    python3 -m quenfold_log.audit --log URL|DIR --origin ORIGIN (--keys @FILE|--policy @FILE)
        [--checkpoint @FILE] [--entries] [--format tlog-tiles|static-ct|sumdb]
        (--scheduler tcp://HOST:PORT | --workers N) [--json]

The driver verifies the checkpoint, authenticates the edge and every hash
tile above level 0 (a few per 65536 leaves), then splits the tree into
ranges of whole level-1 subtrees. Each Dask task fetches its range's level-0
tiles (and, with --entries, its entry bundles or data tiles), checks each
against the authenticated hash the driver handed it, checks every entry
against its tile through the library, and returns only the subtree hashes
that summarise its range. The driver confirms them under the tree and
combines them into the checkpoint's root. The verdict and summary are those
of `quenfold-verify tlog` on the same log.

Dask is imported only here, and only when an audit runs.
"""

import argparse
import gzip
import ipaddress
import json
import os
import pathlib
import stat
import sys
import threading
import time
import urllib.error
import urllib.parse
import urllib.request
import zlib
from dataclasses import dataclass, field
from typing import Dict, List, Optional, Sequence

from . import _extension
from . import tiles as t
from .errors import VerificationError
from .monitor import CheckpointVerifier, VerifierKeys, WitnessPolicy

FULL_TILE_BYTES = 8192
# An entry bundle: 256 entries of at most 65535 bytes and their lengths.
MAX_BUNDLE_BYTES = 256 * (2 + 65535)
MAX_DATA_TILE_BYTES = 64 << 20
MAX_CHECKPOINT_BYTES = 1 << 20
LEVEL1_LEAVES = 1 << 16
# Tiles a task hashes at a time (a 2^14-leaf subtree).
BATCH_TILES = 64
U64 = 2**64 - 1


class AuditFailure(Exception):
    """A tile, entry or range that failed, as the command reports it."""

    def __init__(self, tile: str, reason: str):
        super().__init__(f"{tile}: {reason}")
        self.tile = tile
        self.reason = reason


# ---------------------------------------------------------------------------
# Reading the log
# ---------------------------------------------------------------------------

class RateLimit:
    """A token bucket: at most `rate` requests a second in this process."""

    def __init__(self, rate: Optional[float]):
        self.rate = rate
        self.lock = threading.Lock()
        self.next = 0.0

    def wait(self):
        if not self.rate:
            return
        with self.lock:
            now = time.monotonic()
            start = max(now, self.next)
            self.next = start + 1.0 / self.rate
        if start > now:
            time.sleep(start - now)


class _SameOrigin(urllib.request.HTTPRedirectHandler):
    def redirect_request(self, req, fp, code, msg, headers, newurl):
        old, new = urllib.parse.urlsplit(req.full_url), urllib.parse.urlsplit(newurl)
        if (old.scheme, old.netloc) != (new.scheme, new.netloc):
            raise AuditFailure(old.path.lstrip("/"), "redirect to another host or scheme refused")
        return super().redirect_request(req, fp, code, msg, headers, newurl)


@dataclass
class Source:
    """A mirror directory or an http(s) base URL; every read is capped."""
    location: str
    timeout: float = 60.0
    rate: Optional[float] = None
    _limit: RateLimit = field(default=None, repr=False)
    _folders: Dict[str, Optional[str]] = field(default_factory=dict, repr=False)

    def __post_init__(self):
        self._limit = RateLimit(self.rate)
        scheme = urllib.parse.urlsplit(self.location).scheme
        self.remote = scheme in ("http", "https")
        if scheme and not self.remote and len(scheme) > 1:
            raise ValueError(f"only http, https and directories are read, not {scheme}:")

    def fetch(self, path: str, cap: int) -> bytes:
        """The bytes at `path`, refused above `cap` bytes (after decoding)."""
        if not self.remote:
            return self._read_file(path, cap)
        self._limit.wait()
        url = self.location.rstrip("/") + "/" + path
        opener = urllib.request.build_opener(_SameOrigin)
        request = urllib.request.Request(url, headers={"Accept-Encoding": "gzip"})
        try:
            with opener.open(request, timeout=self.timeout) as r:
                declared = r.headers.get("Content-Length")
                if declared and declared.isdigit() and int(declared) > cap and \
                        r.headers.get("Content-Encoding") != "gzip":
                    raise AuditFailure(path, f"larger than {cap} bytes")
                body = r.read(cap + 1)
                if r.headers.get("Content-Encoding") == "gzip":
                    d = zlib.decompressobj(16 + zlib.MAX_WBITS)
                    body = d.decompress(body, cap + 1)
                    if len(body) <= cap and not d.eof:
                        raise AuditFailure(path, "truncated gzip body")
        except urllib.error.HTTPError as e:
            if e.code == 404:
                raise AuditFailure(path, "missing (404)") from None
            raise AuditFailure(path, f"HTTP {e.code}") from None
        except (urllib.error.URLError, OSError, zlib.error) as e:
            raise AuditFailure(path, f"not read: {e}") from None
        if len(body) > cap:
            raise AuditFailure(path, f"larger than {cap} bytes")
        return body

    def _read_file(self, path: str, cap: int) -> bytes:
        # Only regular files under the directory: each folder is resolved
        # once (a symbolic link out of the log is refused), the file itself
        # is opened without following a link.
        parts = path.split("/")
        if any(p in ("", ".", "..") for p in parts):
            raise AuditFailure(path, "not a path under the log")
        folder = self._folder("/".join(parts[:-1]))
        if folder is None:
            raise AuditFailure(path, "missing")
        try:
            fd = os.open(os.path.join(folder, parts[-1]), os.O_RDONLY | os.O_NOFOLLOW | os.O_NONBLOCK)
        except FileNotFoundError:
            raise AuditFailure(path, "missing") from None
        except OSError as e:
            raise AuditFailure(path, f"not read: {e.strerror}") from None
        with os.fdopen(fd, "rb") as f:
            st = os.fstat(fd)
            if not stat.S_ISREG(st.st_mode):
                raise AuditFailure(path, "not a regular file under the log")
            if st.st_size > cap:
                raise AuditFailure(path, f"larger than {cap} bytes")
            body = f.read(st.st_size + 1)
        if len(body) > cap:
            raise AuditFailure(path, f"larger than {cap} bytes")
        return body

    def _folder(self, relative: str) -> Optional[str]:
        if relative not in self._folders:
            root = os.path.realpath(self.location)
            real = os.path.realpath(os.path.join(root, relative))
            inside = real == root or real.startswith(root + os.sep)
            self._folders[relative] = real if inside and os.path.isdir(real) else None
        return self._folders[relative]


def fetch_path(tile: t.TileId, fmt: str) -> str:
    """Where the log serves a tile (the checksum database puts H = 8 in it)."""
    if fmt == "sumdb":
        return t.format_sumdb_tile_path(tile.kind, tile.level, tile.index, tile.width, 8)
    return tile.path


def fetch_tile(source: Source, tile: t.TileId, fmt: str) -> bytes:
    """A hash tile; a missing partial tile may be stood in for by its full tile."""
    try:
        return source.fetch(fetch_path(tile, fmt), 32 * tile.width)
    except AuditFailure as e:
        if tile.width == 256 or "missing" not in e.reason:
            raise
    full = t.parse_tile_path(t.format_tile_path(tile.kind, tile.level, tile.index, 256))
    body = source.fetch(fetch_path(full, fmt), FULL_TILE_BYTES)
    return body[:32 * tile.width] if len(body) == FULL_TILE_BYTES else body


# ---------------------------------------------------------------------------
# One task: a range of whole level-1 subtrees
# ---------------------------------------------------------------------------

@dataclass(frozen=True)
class RangeTask:
    location: str
    fmt: str
    size: int
    begin: int
    end: int
    # The authenticated hash of each level-0 tile of the range, in order.
    expected: bytes
    entries: bool
    max_bytes: int
    rate: Optional[float]
    timeout: float


_SOURCES: Dict[tuple, Source] = {}


def _source(task: RangeTask) -> Source:
    # One source (and one rate limit) per worker process and log.
    key = (task.location, task.rate, task.timeout)
    if key not in _SOURCES:
        _SOURCES[key] = Source(task.location, task.timeout, task.rate)
    return _SOURCES[key]


def audit_range(task: RangeTask) -> dict:
    """Fetches and checks the range's tiles (and entries); returns its
    subtree hashes and counts, or the first failure, named."""
    source = _source(task)
    plan = t.TilePlan.leaves(task.size, task.begin, task.end, t.TileKind.Hash, 0)
    kind = t.TileKind.Data if task.fmt == "static-ct" else t.TileKind.Entries
    read = 0
    parts: List[t.SubtreeHash] = []
    tiles = entries = 0
    # (position in the range, tile, its bytes, entry path, entry bytes)
    batch: List[tuple] = []

    def room(path: str, cap: int) -> None:
        if read + cap > task.max_bytes:
            raise AuditFailure(path, f"the task's cap of {task.max_bytes} bytes is reached")

    def expected(i: int, tile: t.TileId) -> t.SubtreeHash:
        start = tile.index << 8
        return t.SubtreeHash(start, start + tile.width, task.expected[32 * i:32 * i + 32])

    def name_failure():
        # Tile by tile, in order: the first tile or entry at fault, named.
        for i, tile, body, epath, data in batch:
            got = t.combine_subtrees(task.size, t.hash_tile_range(task.size, [tile.path], [body]))
            if len(got) != 1 or got[0].hash != expected(i, tile).hash:
                raise AuditFailure(fetch_path(tile, task.fmt), "does not hash to its slot in the tile above")
            if epath is not None:
                t.check_entries(tile.path, body, epath, data)
        raise AuditFailure(batch[0][1].path, "the batch's hashes differ and no tile of it is at fault")

    def flush():
        # A batch at a time: its tiles hashed into their subtree, compared
        # with the authenticated hashes joined, and its entries' hashes
        # compared with the tiles'; only a difference is looked into.
        nonlocal parts, tiles, entries
        if not batch:
            return
        got = t.combine_subtrees(task.size, t.hash_tile_range(task.size, [b[1].path for b in batch],
                                                               [b[2] for b in batch]))
        want = t.combine_subtrees(task.size, [expected(b[0], b[1]) for b in batch])
        if got != want:
            name_failure()
        if task.entries:
            try:
                from_entries = t.combine_subtrees(task.size, t.hash_entry_range(
                    task.size, [b[3] for b in batch], [b[4] for b in batch]))
            except VerificationError:
                from_entries = None
            if from_entries != got:
                name_failure()
            entries += sum(b[1].width for b in batch)
        tiles += len(batch)
        parts = t.combine_subtrees(task.size, parts + got)
        batch.clear()

    try:
        for i, tile in enumerate(t.iter_plan(plan, page=1024)):
            room(fetch_path(tile, task.fmt), 32 * tile.width)
            body = fetch_tile(source, tile, task.fmt)
            read += len(body)
            epath = data = None
            if task.entries:
                epath = t.entry_tile_path(tile, kind)
                cap = min(MAX_DATA_TILE_BYTES if kind == t.TileKind.Data else MAX_BUNDLE_BYTES,
                          task.max_bytes - read)
                room(epath, 1)
                data = source.fetch(epath, cap)
                read += len(data)
            batch.append((i, tile, body, epath, data))
            if len(batch) == BATCH_TILES:
                flush()
        flush()
    except AuditFailure as e:
        return {"begin": task.begin, "end": task.end, "failure": {"tile": e.tile, "reason": e.reason}}
    except VerificationError as e:
        return {"begin": task.begin, "end": task.end, "failure": {"tile": _named(e), "reason": str(e)}}
    return {"begin": task.begin, "end": task.end, "tiles": tiles, "entries": entries, "bytes": read,
            "subtrees": [(s.start, s.end, s.hash) for s in parts]}


def _named(e: VerificationError) -> str:
    fields = e.fields or {}
    return str(fields.get("path", "")) or str(e).split(":")[0]


def worker_identity() -> dict:
    """What a worker's library is: version, call contract and the checksum
    of every extension call, compared with the driver's before any work."""
    from . import default_library, __version__
    lib = default_library()
    return {"version": __version__, "contract": _extension.CONTRACT_VERSION,
            "checksums": sorted((name, c[3]) for name, c in _extension.CALLS.items()),
            "extension": lib.extension is not None}


# ---------------------------------------------------------------------------
# The driver
# ---------------------------------------------------------------------------

def scheduler_allowed(address: str) -> bool:
    """tls:// anywhere; tcp:// (or none) only on the loopback interface: a
    Dask scheduler runs whatever pickle a peer sends it."""
    parsed = urllib.parse.urlsplit(address if "://" in address else "tcp://" + address)
    if parsed.scheme == "tls":
        return True
    host = parsed.hostname or ""
    if host == "localhost":
        return True
    try:
        return ipaddress.ip_address(host).is_loopback
    except ValueError:
        return False


def _range_leaves(size: int, workers: int) -> int:
    """Whole level-1 subtrees per range, a power of two, about 4 ranges per
    worker and at most 2^22 leaves (what bounds a task's memory)."""
    r = LEVEL1_LEAVES
    while r < (1 << 22) and size // (2 * r) >= 4 * max(workers, 1):
        r *= 2
    return r


def _verify_checkpoint(source: Source, origin: str, keys, policy, checkpoint: Optional[str], fmt: str):
    keys_list = VerifierKeys(keys) if keys else None
    verifier = CheckpointVerifier(origin, keys_list, WitnessPolicy.parse(policy) if policy else None)
    note = checkpoint if checkpoint is not None else \
        source.fetch("latest" if fmt == "sumdb" else "checkpoint", MAX_CHECKPOINT_BYTES).decode()
    return verifier.verify(note)


def _result(verdict: str, origin: str, size: int, root: bytes, tiles: int, entries: int, read: int,
            started: float, failures: Sequence[dict], message: str = "") -> dict:
    out = {"command": "audit", "verdict": verdict,
           "summary": {"origin": origin, "size": size, "root": root.hex(), "tiles": tiles, "entries": entries,
                       "bytes": read, "seconds": round(time.monotonic() - started, 3)}}
    if failures:
        out["failures"] = list(failures)
    if message:
        out["message"] = message
    return out


def audit(log: str, origin: str, keys: Optional[Sequence[str]] = None, policy: Optional[str] = None,
          checkpoint: Optional[str] = None, entries: bool = False, fmt: str = "tlog-tiles",
          scheduler: Optional[str] = None, workers: Optional[int] = None, client=None,
          allow_insecure_scheduler: bool = False, rate: Optional[float] = None,
          max_task_bytes: Optional[int] = None, timeout: float = 60.0, range_leaves: Optional[int] = None) -> dict:
    """Audits the log on a Dask cluster (an existing `client`, the scheduler
    at `scheduler`, or a local cluster of `workers` processes); returns the
    verdict and summary as `quenfold-verify tlog --json` prints them."""
    started = time.monotonic()
    if client is None and scheduler and not allow_insecure_scheduler and not scheduler_allowed(scheduler):
        raise ValueError(f"refusing to join {scheduler}: only tls:// schedulers or ones on the loopback "
                         "interface are joined (--allow-insecure-scheduler to override)")
    if fmt == "sumdb" and entries:
        raise ValueError("the checksum database's tiles carry no entries here")
    source = Source(log, timeout, rate)
    try:
        verified = _verify_checkpoint(source, origin, keys, policy, checkpoint, fmt)
    except (AuditFailure, VerificationError) as e:
        return {"command": "audit", "verdict": "rejected", "message": str(e)}
    size, root = verified.head.size, bytes(verified.head.root)
    failures: List[dict] = []
    tiles = 0
    read = 0

    def rejected(message=""):
        return _result("rejected", origin, size, root, 0, 0, read, started, failures,
                       message or f"nothing of the checkpoint of size {size} was accepted")

    # The edge, then every hash tile above level 0, top-down, in pages.
    try:
        tree = t.TiledTree.create(size, root, 0, U64)
        held: Dict[str, bytes] = {}
        for tile in tree.edge_tiles():
            held[tile.path] = fetch_tile(source, tile, fmt)
        tree = t.with_tiles(tree, held)
        above: Dict[str, bytes] = {}
        for tile in t.iter_plan(t.TilePlan.whole_tree(size, t.TileKind.Hash)):
            if tile.level == 0:
                break
            if tile.path not in held:
                above[tile.path] = fetch_tile(source, tile, fmt)
            if len(above) >= 1024:
                tree = t.with_tiles(tree, above)
                held.update(above)
                above = {}
        tree = t.with_tiles(tree, above)
        held.update(above)
    except AuditFailure as e:
        failures.append({"tile": e.tile, "reason": e.reason})
        return rejected()
    except VerificationError as e:
        failures.append({"tile": _named(e), "reason": str(e)})
        return rejected()
    # Level-0 tiles are counted where a task reads them (the edge's again).
    read += sum(len(b) for p, b in held.items() if not p.startswith("tile/0/"))
    tiles += sum(1 for p in held if not p.startswith("tile/0/"))
    if size == 0:
        return _result("verified", origin, size, root, tiles, 0, read, started, [])

    own_cluster = None
    if client is None:
        try:
            from dask.distributed import Client, LocalCluster
        except ImportError as e:
            raise RuntimeError(f"the audit runs on Dask, which {sys.executable} cannot import ({e}); "
                               "run it under an interpreter that has it (on Debian: apt-get install "
                               "python3-distributed, then /usr/bin/python3)") from None
        if scheduler:
            client = Client(scheduler)
        else:
            own_cluster = LocalCluster(n_workers=workers or 1, threads_per_worker=1, processes=True,
                                       dashboard_address=None)
            client = Client(own_cluster)
    try:
        return _run(client, tree, held, source, log, fmt, size, root, origin, entries, rate, max_task_bytes,
                    timeout, range_leaves, tiles, read, started)
    finally:
        if own_cluster is not None:
            client.close()
            own_cluster.close()


def _expected_hashes(tree, held: Dict[str, bytes], size: int, begin: int, end: int) -> bytes:
    """The authenticated hash of each level-0 tile in [begin, end): slots of
    the level-1 tiles held, and the edge tile's subtree hash."""
    # Level 1 holds the hashes of the full level-0 tiles only: a range of
    # whole level-1 subtrees takes its level-1 tiles' bytes as they are.
    out = []
    full_level0 = size >> 8
    for parent in range(begin >> 16, ((min(end, full_level0 << 8) - 1) >> 16) + 1 if full_level0 else 0):
        width = min(256, full_level0 - (parent << 8))
        out.append(held[t.format_tile_path(t.TileKind.Hash, 1, parent, width)])
    if end == size and size % 256:
        start = size - size % 256
        out.append(bytes(tree.subtree_hash(start, size)))
    return b"".join(out)


def _run(client, tree, held, source, log, fmt, size, root, origin, entries, rate, max_task_bytes, timeout,
         range_leaves, tiles, read, started):
    # Every worker runs the same library as the driver before it gets work.
    # (A worker checked once is not asked again by the same client; one
    # that joins or restarts later has a new address and is.)
    mine = worker_identity()
    checked = getattr(client, "_quenfold_checked_workers", set())
    fresh = [w for w in client.scheduler_info()["workers"] if w not in checked]
    if fresh:
        for address, theirs in client.run(worker_identity, workers=fresh).items():
            if theirs != mine:
                raise RuntimeError(f"worker {address} runs another library ({theirs['version']}, contract "
                                   f"{theirs['contract']}) than the driver's ({mine['version']}, "
                                   f"{mine['contract']})")
        client._quenfold_checked_workers = checked | set(fresh)
    from dask.distributed import as_completed
    from distributed.scheduler import KilledWorker
    n_workers = max(1, len(client.scheduler_info()["workers"]))
    span = range_leaves or _range_leaves(size, n_workers)
    per_worker_rate = rate / n_workers if rate else None
    per_range = (span // 256) * (FULL_TILE_BYTES + (MAX_BUNDLE_BYTES if entries else 0))
    cap = max_task_bytes or per_range
    tasks = []
    for begin in range(0, size, span):
        end = min(size, begin + span)
        tasks.append(RangeTask(log, fmt, size, begin, end, _expected_hashes(tree, held, size, begin, end),
                               entries, cap, per_worker_rate, timeout))
    futures = {client.submit(audit_range, task, pure=False, retries=0): task for task in tasks}
    failures: List[dict] = []
    parts: List[t.SubtreeHash] = []
    count_entries = 0
    for future in as_completed(list(futures)):
        task = futures[future]
        try:
            r = future.result()
        except KilledWorker as e:
            failures.append({"tile": f"leaves {task.begin}-{task.end}", "reason": f"worker lost for good: {e}"})
            continue
        except Exception as e:  # noqa: BLE001 - any task error names its range
            failures.append({"tile": f"leaves {task.begin}-{task.end}", "reason": f"task failed: {e}"})
            continue
        if "failure" in r:
            failures.append(r["failure"])
            continue
        tiles += r["tiles"]
        count_entries += r["entries"]
        read += r["bytes"]
        hashes = [t.SubtreeHash(s, e, h) for s, e, h in r["subtrees"]]
        try:
            tree.confirm_subtrees(hashes)
        except VerificationError as e:
            failures.append({"tile": f"leaves {task.begin}-{task.end}", "reason": str(e)})
            continue
        parts.extend(hashes)
    if failures:
        failures.sort(key=lambda f: f["tile"])
        return _result("rejected", origin, size, root, 0, 0, read, started, failures,
                       f"nothing of the checkpoint of size {size} was accepted")
    parts.sort(key=lambda s: s.start)
    whole = t.combine_subtrees(size, parts)
    if [(s.start, s.end, bytes(s.hash)) for s in whole] != [(0, size, root)]:
        return _result("rejected", origin, size, root, 0, 0, read, started,
                       [{"tile": "checkpoint", "reason": "the ranges do not combine into the checkpoint's root"}])
    return _result("verified", origin, size, root, tiles, count_entries, read, started, [])


# ---------------------------------------------------------------------------
# The command
# ---------------------------------------------------------------------------

def _at(value: str) -> str:
    return pathlib.Path(value[1:]).read_text() if value.startswith("@") else value


def main(argv=None) -> int:
    p = argparse.ArgumentParser(prog="python3 -m quenfold_log.audit", description=__doc__.split("\n\n")[0])
    p.add_argument("--log", required=True, help="a mirror directory or an http(s) URL")
    p.add_argument("--origin", required=True)
    who = p.add_mutually_exclusive_group(required=True)
    who.add_argument("--keys", help="@FILE of verifier keys, one a line")
    who.add_argument("--policy", help="@FILE of a tlog-policy")
    p.add_argument("--checkpoint", help="@FILE: audit this checkpoint rather than the log's")
    p.add_argument("--entries", action="store_true", help="check every entry too")
    p.add_argument("--format", default="tlog-tiles", choices=["tlog-tiles", "static-ct", "sumdb"])
    where = p.add_mutually_exclusive_group(required=True)
    where.add_argument("--scheduler", help="join this Dask scheduler (tls://, or tcp:// on the loopback)")
    where.add_argument("--workers", type=int, help="start a local cluster of N worker processes")
    p.add_argument("--allow-insecure-scheduler", action="store_true",
                   help="join a plain tcp:// scheduler off the loopback interface")
    p.add_argument("--rate", type=float, help="requests a second, across all workers")
    p.add_argument("--max-task-bytes", type=int, help="the most bytes one task reads")
    p.add_argument("--timeout", type=float, default=60.0)
    p.add_argument("--json", action="store_true")
    a = p.parse_args(argv)
    try:
        keys = [k for k in _at(a.keys).splitlines() if k.strip()] if a.keys else None
        if a.keys and not keys:
            raise ValueError(f"--keys: no verifier key in {a.keys}")
        out = audit(a.log, a.origin, keys=keys, policy=_at(a.policy) if a.policy else None,
                    checkpoint=_at(a.checkpoint) if a.checkpoint else None, entries=a.entries, fmt=a.format,
                    scheduler=a.scheduler, workers=a.workers, allow_insecure_scheduler=a.allow_insecure_scheduler,
                    rate=a.rate, max_task_bytes=a.max_task_bytes, timeout=a.timeout)
    except (ValueError, RuntimeError, OSError) as e:
        print(f"error: {e}", file=sys.stderr)
        return 2
    if a.json:
        print(json.dumps(out))
    else:
        print(out["verdict"])
        for k, v in out.get("summary", {}).items():
            print(f"  {k}: {v}")
        for f in out.get("failures", []):
            print(f"  {f['tile']}: {f['reason']}")
        if out.get("message"):
            print(out["message"])
    return 0 if out["verdict"] == "verified" else 1


if __name__ == "__main__":
    sys.exit(main())
