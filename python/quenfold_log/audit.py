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
import collections
import concurrent.futures
import contextlib
import ctypes
import errno
import functools
import hashlib
import http.client
import ipaddress
import itertools
import json
import os
import stat
import sys
import threading
import time
import urllib.parse
import zlib
from dataclasses import dataclass
from typing import Dict, Iterator, List, Optional, Sequence, Tuple

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
# Tiles a task checks in one call into the library (a level-1 subtree), and
# the most bytes of tiles and entries it holds for one call.
BATCH_TILES = 256
BATCH_BYTES = 16 << 20
# Requests one task keeps in flight over http(s), and redirects followed
# (to the same scheme and host only).
IN_FLIGHT = 16
MAX_REDIRECTS = 5
USER_AGENT = "quenfold_log-audit"
# The largest tree audited unless the caller says otherwise, as
# `quenfold-verify tlog --max-entries` has it.
MAX_ENTRIES = 1 << 36


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
    """A token bucket in this process: at most `rate` requests a second."""

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


class SharedRateLimit:
    """One request-rate limit across every worker of a cluster: the driver
    puts blocks of request tokens into a queue on the scheduler at the rate
    asked for, and each worker takes a block when it has spent its last. At
    most the queue's blocks, one block per worker and the block being put
    are ever ahead of the rate, however many workers there are or join."""

    def __init__(self, queue_name: str, timeout: float):
        self.queue_name = queue_name
        self.timeout = timeout
        self.lock = threading.Lock()
        self.left = 0
        self.queue = None

    def wait(self):
        with self.lock:
            if self.left == 0:
                if self.queue is None:
                    from distributed import Queue
                    self.queue = Queue(self.queue_name)
                try:
                    self.left = int(self.queue.get(timeout=self.timeout))
                except Exception:  # noqa: BLE001 - a timeout, or the queue gone with the audit
                    raise AuditFailure("rate limit", f"no request token within {self.timeout:g} s") from None
            self.left -= 1


class Source:
    """A mirror directory or an http(s) base URL; every read is capped.
    Holds a descriptor per directory read: close() it when done."""

    def __init__(self, location: str, timeout: float = 60.0, rate: Optional[float] = None, limiter=None):
        self.location = location
        self.timeout = timeout
        self._limit = limiter if limiter is not None else RateLimit(rate)
        self._folders: Dict[str, Optional[int]] = {}
        self._base = urllib.parse.urlsplit(location)
        self._local = threading.local()
        self._conns: list = []
        scheme = self._base.scheme
        self.remote = scheme in ("http", "https")
        if scheme and not self.remote and len(scheme) > 1:
            raise ValueError(f"only http, https and directories are read, not {scheme}:")

    def close(self):
        for fd in self._folders.values():
            if fd is not None:
                os.close(fd)
        self._folders.clear()
        for conn in self._conns:
            conn.close()
        self._conns.clear()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def fetch(self, path: str, cap: int) -> bytes:
        """The bytes at `path`, refused above `cap` bytes (after decoding)."""
        if not self.remote:
            return self._read_file(path, cap)
        self._limit.wait()
        deadline = time.monotonic() + self.timeout
        target = self._base.path.rstrip("/") + "/" + path
        for _ in range(MAX_REDIRECTS + 1):
            status, headers, body = self._get(path, target, cap, deadline)
            if status in (301, 302, 303, 307, 308):
                new = urllib.parse.urlsplit(urllib.parse.urljoin(self._base.geturl(), headers.get("Location", "")))
                if (new.scheme, new.netloc) != (self._base.scheme, self._base.netloc):
                    raise AuditFailure(path, "redirect to another host or scheme refused")
                target = new.path + ("?" + new.query if new.query else "")
                continue
            if status == 404:
                raise AuditFailure(path, "missing (404)")
            if status != 200:
                raise AuditFailure(path, f"HTTP {status}")
            return body
        raise AuditFailure(path, f"more than {MAX_REDIRECTS} redirects")

    def _connection(self, fresh: bool = False):
        # One kept-alive connection per thread (http.client's are not
        # shared between threads), opened again after a failure.
        conn = getattr(self._local, "conn", None)
        if conn is None or fresh:
            if conn is not None:
                conn.close()
            cls = http.client.HTTPSConnection if self._base.scheme == "https" else http.client.HTTPConnection
            conn = self._local.conn = cls(self._base.netloc, timeout=self.timeout)
            self._conns.append(conn)
        return conn

    def _get(self, path: str, target: str, cap: int, deadline: float):
        """One GET: (status, headers, the body decoded and capped)."""
        for attempt in range(2):
            conn = self._connection(fresh=attempt > 0)
            try:
                conn.request("GET", target, headers={"Accept-Encoding": "gzip", "User-Agent": USER_AGENT})
                r = conn.getresponse()
                if r.status != 200:
                    conn.close()  # its body is not read: the next request opens anew
                    return r.status, r.headers, b""
                return 200, r.headers, self._body(path, r, cap, deadline)
            except AuditFailure:
                conn.close()
                raise
            except (http.client.RemoteDisconnected, BrokenPipeError, ConnectionResetError) as e:
                # A kept-alive connection the server closed meanwhile: once
                # more on a new one.
                if attempt:
                    raise AuditFailure(path, f"not read: {e}") from None
            except (http.client.HTTPException, OSError, zlib.error) as e:
                conn.close()
                raise AuditFailure(path, f"not read: {e}") from None
        raise AssertionError("unreachable")

    def _body(self, path: str, r, cap: int, deadline: float) -> bytes:
        gzipped = r.headers.get("Content-Encoding") == "gzip"
        declared = r.headers.get("Content-Length", "")
        if declared.isdigit() and int(declared) > cap and not gzipped:
            raise AuditFailure(path, f"larger than {cap} bytes")
        d = zlib.decompressobj(16 + zlib.MAX_WBITS) if gzipped else None
        parts, size = [], 0
        while True:
            if time.monotonic() > deadline:
                raise AuditFailure(path, f"not read within {self.timeout:g} s")
            chunk = r.read1(1 << 16)
            if not chunk:
                break
            if d is not None:
                chunk = d.decompress(chunk, cap + 1 - size)
            parts.append(chunk)
            size += len(chunk)
            if size > cap:
                raise AuditFailure(path, f"larger than {cap} bytes")
        r.read()  # marks the response done (read1 leaves that to a read()), freeing the connection
        if d is not None and not d.eof:
            raise AuditFailure(path, "truncated gzip body")
        return b"".join(parts)

    def _read_file(self, path: str, cap: int) -> bytes:
        # Only regular files under the directory: each folder is resolved
        # once and held open (a symbolic link out of the log is refused);
        # the file is opened beside it without following a link.
        folder, _, name = path.rpartition("/")
        fd_dir = self._folders.get(folder, -1)
        if fd_dir == -1:
            fd_dir = self._folders[folder] = self._open_folder(folder)
        if fd_dir is None or name in ("", ".", ".."):
            raise AuditFailure(path, "missing" if fd_dir is None else "not a path under the log")
        try:
            fd = os.open(name, os.O_RDONLY | os.O_NOFOLLOW | os.O_NONBLOCK | os.O_CLOEXEC, dir_fd=fd_dir)
        except FileNotFoundError:
            raise AuditFailure(path, "missing") from None
        except OSError as e:
            if e.errno == errno.ELOOP:
                raise AuditFailure(path, "a symbolic link, not followed (the log's files are read as they are)") \
                    from None
            raise AuditFailure(path, f"not read: {e.strerror}") from None
        try:
            st = os.fstat(fd)
            if not stat.S_ISREG(st.st_mode):
                raise AuditFailure(path, "not a regular file under the log")
            if st.st_size > cap:
                raise AuditFailure(path, f"larger than {cap} bytes")
            # One byte more than the size: a file that grew is seen. A short
            # read of a regular file is its end.
            chunks = []
            left = st.st_size + 1
            while left > 0:
                chunk = os.read(fd, left)
                chunks.append(chunk)
                if len(chunk) < left:
                    break
                left -= len(chunk)
        except OSError as e:
            raise AuditFailure(path, f"not read: {e.strerror}") from None
        finally:
            os.close(fd)
        body = chunks[0] if len(chunks) == 1 else b"".join(chunks)
        if len(body) > cap:
            raise AuditFailure(path, f"larger than {cap} bytes")
        return body

    def _open_folder(self, relative: str) -> Optional[int]:
        if relative and any(p in ("", ".", "..") for p in relative.split("/")):
            return None
        root = os.path.realpath(self.location)
        real = os.path.realpath(os.path.join(root, relative))
        if not (real == root or real.startswith(root + os.sep)):
            return None
        try:
            return os.open(real, os.O_RDONLY | os.O_DIRECTORY | os.O_CLOEXEC)
        except OSError:
            return None


def fetch_path_of(path: str, fmt: str) -> str:
    """Where the log serves a hash tile named by its tlog path: the checksum
    database puts the tile height (8) in it."""
    return "tile/8/" + path[len("tile/"):] if fmt == "sumdb" else path


def fetch_tile(source: Source, path: str, width: int, fmt: str) -> bytes:
    """The hash tile at tlog `path`, `width` hashes wide; a missing partial
    tile may be stood in for by its full tile, of which the first `width`
    hashes count."""
    fetched = fetch_path_of(path, fmt)
    try:
        return source.fetch(fetched, 32 * width)
    except AuditFailure as e:
        if width == 256 or "missing" not in e.reason:
            raise
    body = source.fetch(fetched[:fetched.index(".p/")], FULL_TILE_BYTES)
    return body[:32 * width] if len(body) == FULL_TILE_BYTES else body


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
    timeout: float
    # The scheduler queue the driver feeds request tokens into (None: no
    # rate limit, or a directory).
    rate_queue: Optional[str] = None
    # The driver's worker_identity(), digested: a worker that joined after
    # the driver asked them all still runs nothing with another library.
    identity: str = ""


def _limiter(task: RangeTask):
    return SharedRateLimit(task.rate_queue, task.timeout) if task.rate_queue else None


def _level0(size: int, begin: int, end: int):
    """(index, width) of each level-0 tile holding leaves [begin, end)."""
    full = size >> 8
    for index in range(begin >> 8, ((end - 1) >> 8) + 1):
        yield index, 256 if index < full else size & 255


# glibc's mallopt parameters.
_M_TRIM_THRESHOLD = -1
_M_MMAP_THRESHOLD = -3


@contextlib.contextmanager
def _freed_memory_kept():
    """Dask starts its workers with MALLOC_TRIM_THRESHOLD_ at 64 KiB, so
    glibc hands each freed batch straight back to the kernel and the next
    batch's buffers fault in again page by page: in a virtual machine that
    cost as much as the hashing itself. While a task runs, freed memory
    stays with the process for the next batch; afterwards the worker's own
    settings are restored, and glibc trims on its next free as before.
    (Trimming at once made the next task fault everything in again.)
    Elsewhere (no such setting, or not glibc) nothing is changed."""
    trim = os.environ.get("MALLOC_TRIM_THRESHOLD_", "")
    libc = None
    if trim.isdigit():
        try:
            libc = ctypes.CDLL(None)
            libc.mallopt.argtypes, libc.mallopt.restype = [ctypes.c_int, ctypes.c_int], ctypes.c_int
        except (OSError, AttributeError):
            libc = None
    if libc is None:
        yield
        return
    mmap = os.environ.get("MALLOC_MMAP_THRESHOLD_", "")
    libc.mallopt(_M_TRIM_THRESHOLD, 1 << 30)
    libc.mallopt(_M_MMAP_THRESHOLD, 32 << 20)
    try:
        yield
    finally:
        libc.mallopt(_M_TRIM_THRESHOLD, min(int(trim), 2**31 - 1))
        libc.mallopt(_M_MMAP_THRESHOLD, int(mmap) if mmap.isdigit() else 128 << 10)


def audit_range(task: RangeTask) -> dict:
    """Fetches and checks the range's tiles (and entries); returns its
    subtree hashes and counts, or the first failure, named."""
    with _freed_memory_kept():
        return _audit_range(task)


def _audit_range(task: RangeTask) -> dict:
    """A batch of tiles at a time goes through the library in one call, which
    checks each tile against its authenticated hash (and each entry against
    its tile's slot) and folds the batch into its subtree hashes: every leaf
    is hashed once, as `quenfold-verify tlog` hashes it."""
    if task.identity and task.identity != identity_digest():
        return {"begin": task.begin, "end": task.end,
                "failure": {"tile": f"leaves {task.begin}-{task.end}",
                            "reason": "the worker runs another library than the driver's"}}
    source = Source(task.location, task.timeout, limiter=_limiter(task))
    kind = t.TileKind.Data if task.fmt == "static-ct" else t.TileKind.Entries
    entry_cap = min(MAX_DATA_TILE_BYTES if kind == t.TileKind.Data else MAX_BUNDLE_BYTES, task.max_bytes)
    read = tiles = entries = 0
    parts: List[t.SubtreeHash] = []

    def fetch_one(tile):
        # A level-0 tile and, with entries, its bundle or data tile.
        index, width = tile
        path = t.tlog_path(t.TileKind.Hash, 0, index, width)
        body = fetch_tile(source, path, width, task.fmt)
        epath = data = None
        if task.entries:
            epath = t.tlog_path(kind, 0, index, width)
            data = source.fetch(epath, entry_cap)
        return path, width, body, epath, data

    def check(batch):
        # One call: the batch's tiles against their slice of the expected
        # hashes (and their entries), folded onto the range's subtrees.
        nonlocal parts, tiles
        expected = task.expected[32 * tiles:32 * (tiles + len(batch))]
        got = t.check_leaf_tiles(task.size, expected, [b[0] for b in batch], [b[1] for b in batch],
                                 [b[2] for b in batch] if task.entries else [],
                                 [b[3] for b in batch] if task.entries else [])
        parts = t.combine_subtrees(task.size, parts + got)
        tiles += len(batch)

    try:
        batch: List[tuple] = []
        batch_bytes = 0
        for path, width, body, epath, data in _in_order(source, fetch_one, _level0(task.size, task.begin, task.end)):
            got = len(body) + (len(data) if data is not None else 0)
            read += got
            if read > task.max_bytes:
                raise AuditFailure(epath or fetch_path_of(path, task.fmt),
                                   f"the task's cap of {task.max_bytes} bytes is reached")
            batch.append((path, body, epath, data))
            batch_bytes += got
            entries += width if task.entries else 0
            if len(batch) == BATCH_TILES or batch_bytes >= BATCH_BYTES:
                check(batch)
                batch, batch_bytes = [], 0
        if batch:
            check(batch)
    except AuditFailure as e:
        return {"begin": task.begin, "end": task.end, "failure": {"tile": e.tile, "reason": e.reason}}
    except VerificationError as e:
        # The library names tiles by their tlog path; say where the log serves it.
        name = _named(e)
        return {"begin": task.begin, "end": task.end,
                "failure": {"tile": fetch_path_of(name, task.fmt) if name.startswith("tile/") else name,
                            "reason": str(e)}}
    finally:
        source.close()
    return {"begin": task.begin, "end": task.end, "tiles": tiles, "entries": entries, "bytes": read,
            "subtrees": [(s.start, s.end, s.hash) for s in parts]}


def _in_order(source: "Source", fetch, items):
    """fetch(item) for each item, in order. From a directory one at a time
    (a read costs microseconds); over http(s) up to IN_FLIGHT requests at
    once on kept-alive connections, so that a worker fills its link rather
    than waiting out each round trip. Memory stays bounded by what is in
    flight."""
    if not source.remote:
        yield from map(fetch, items)
        return
    pool = concurrent.futures.ThreadPoolExecutor(IN_FLIGHT, thread_name_prefix="audit fetch")
    try:
        pending = collections.deque()
        items = iter(items)
        for item in itertools.islice(items, IN_FLIGHT):
            pending.append(pool.submit(fetch, item))
        while pending:
            result = pending.popleft().result()
            for item in itertools.islice(items, 1):
                pending.append(pool.submit(fetch, item))
            yield result
    finally:
        pool.shutdown(wait=True, cancel_futures=True)


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


@functools.lru_cache(maxsize=1)
def identity_digest() -> str:
    return hashlib.sha256(json.dumps(worker_identity(), sort_keys=True).encode()).hexdigest()


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
    """Whole level-1 subtrees per range, a power of two: about one range per
    worker, since each task costs the scheduler and the worker a few
    milliseconds of messages and of memory faulted in afresh, and at most
    2^22 leaves (a second or two of work), so that a big log is spread
    over many tasks per worker and a worker lost costs little."""
    r = LEVEL1_LEAVES
    while r < (1 << 22) and size // (2 * r) >= max(workers, 1):
        r *= 2
    return r


def _verify_checkpoint(source: Source, origin: str, keys, policy, checkpoint: Optional[str], fmt: str):
    keys_list = VerifierKeys(keys) if keys else None
    verifier = CheckpointVerifier(origin, keys_list, WitnessPolicy.parse(policy) if policy else None)
    note = checkpoint if checkpoint is not None else \
        source.fetch("latest" if fmt == "sumdb" else "checkpoint", MAX_CHECKPOINT_BYTES).decode()
    return verifier.verify(note)


_KEY_TYPES = {"Ed25519": "ed25519", "Composite": "composite", "CosignatureV1": "cosignature/v1",
              "Rfc6962": "rfc6962", "SubtreeV1": "subtree/v1"}


def _signer_json(s) -> dict:
    """A signer as `quenfold-verify` prints it: times under names that say
    their unit, covers_origin only where a signature does not."""
    out = {"name": s.name, "key_id": "%08x" % s.key_id, "type": _KEY_TYPES.get(s.key_type.name, s.key_type.name)}
    if s.timestamp_seconds is not None:
        out["timestamp_seconds"] = s.timestamp_seconds
    if s.timestamp_millis is not None:
        out["timestamp_millis"] = s.timestamp_millis
    if not s.covers_origin:
        out["covers_origin"] = False
    return out


@dataclass(frozen=True)
class _Checkpoint:
    """What every verdict repeats of the verified checkpoint."""
    origin: str
    size: int
    root: bytes
    log_signers: tuple = ()
    cosigners: tuple = ()


def _result(verdict: str, cp: _Checkpoint, tiles: int, entries: int, read: int,
            started: float, failures: Sequence[dict], message: str = "") -> dict:
    out = {"command": "audit", "verdict": verdict,
           "summary": {"origin": cp.origin, "size": cp.size, "root": cp.root.hex(), "tiles": tiles,
                       "entries": entries, "bytes": read, "seconds": round(time.monotonic() - started, 3),
                       "log_signers": list(cp.log_signers), "cosigners": list(cp.cosigners)}}
    if failures:
        out["failures"] = list(failures)
    if message:
        out["message"] = message
    return out


def audit(log: str, origin: str, keys: Optional[Sequence[str]] = None, policy: Optional[str] = None,
          checkpoint: Optional[str] = None, entries: bool = False, fmt: str = "tlog-tiles",
          scheduler: Optional[str] = None, workers: Optional[int] = None, client=None,
          allow_insecure_scheduler: bool = False, rate: Optional[float] = None,
          max_task_bytes: Optional[int] = None, timeout: float = 60.0, range_leaves: Optional[int] = None,
          max_entries: int = MAX_ENTRIES) -> dict:
    """Audits the log on a Dask cluster (an existing `client`, the scheduler
    at `scheduler`, or a local cluster of `workers` processes); returns the
    verdict and summary as `quenfold-verify tlog --json` prints them."""
    started = time.monotonic()
    if client is None and scheduler and not allow_insecure_scheduler and not scheduler_allowed(scheduler):
        raise ValueError(f"refusing to join {scheduler}: only tls:// schedulers or ones on the loopback "
                         "interface are joined (--allow-insecure-scheduler to override)")
    if fmt == "sumdb" and entries:
        raise ValueError("the checksum database's tiles carry no entries here")
    with Source(log, timeout, rate) as source:
        return _audit(source, log, origin, keys, policy, checkpoint, entries, fmt, scheduler, workers, client,
                      rate, max_task_bytes, timeout, range_leaves, max_entries, started)


def _above_level0(size: int) -> Iterator[Tuple[str, int, int]]:
    """(path, index, width) of every hash tile above level 0, top level
    first (the plan's order): a few per 65536 leaves, made one at a time
    from the plan's segments."""
    for seg in t.TilePlan.whole_tree(size, t.TileKind.Hash).segments():
        if seg.level == 0:
            continue
        for index in range(seg.first, seg.first + seg.count):
            width = seg.last_width if index == seg.first + seg.count - 1 else 256
            yield t.tlog_path(t.TileKind.Hash, seg.level, index, width), index, width


def _audit(source, log, origin, keys, policy, checkpoint, entries, fmt, scheduler, workers, client, rate,
           max_task_bytes, timeout, range_leaves, max_entries, started):
    try:
        verified = _verify_checkpoint(source, origin, keys, policy, checkpoint, fmt)
    except (AuditFailure, VerificationError) as e:
        return {"command": "audit", "verdict": "rejected", "message": str(e)}
    size, root = verified.head.size, bytes(verified.head.root)
    cp = _Checkpoint(origin, size, root, tuple(_signer_json(x) for x in verified.log_signers),
                     tuple(_signer_json(x) for x in verified.cosigners))
    failures: List[dict] = []
    tiles = 0
    read = 0

    def rejected(message=""):
        return _result("rejected", cp, 0, 0, read, started, failures,
                       message or f"nothing of the checkpoint of size {size} was accepted")

    # A signed claim of more entries than the caller audits is refused
    # before any tile is planned (the tiles above level 0 are held here).
    if size > max_entries:
        failures.append({"tile": "checkpoint", "reason": f"tree size {size} exceeds the audit limit {max_entries}"})
        return rejected()
    # The edge, then every hash tile above level 0, top-down, in pages.
    try:
        tree = t.TiledTree.create(size, root, 0, max_entries)
        held: Dict[str, bytes] = {}
        for tile in tree.edge_tiles():
            held[tile.path] = fetch_tile(source, tile.path, tile.width, fmt)
        tree = t.with_tiles(tree, held)
        above: Dict[str, bytes] = {}
        for path, index, width in _above_level0(size):
            if path not in held:
                above[path] = fetch_tile(source, path, width, fmt)
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
        return _result("verified", cp, tiles, 0, read, started, [])

    own_cluster = own_client = None
    if client is None:
        try:
            from dask.distributed import Client
        except ImportError as e:
            raise RuntimeError(f"the audit runs on Dask, which {sys.executable} cannot import ({e}); "
                               "run it under an interpreter that has it (on Debian: apt-get install "
                               "python3-distributed, then /usr/bin/python3)") from None
        if scheduler:
            client = own_client = Client(scheduler)
        else:
            own_cluster = local_cluster(workers or 1)
            client = own_client = Client(own_cluster)
    try:
        return _run(client, tree, held, source, log, fmt, cp, entries, rate, max_task_bytes,
                    timeout, range_leaves, tiles, read, started)
    finally:
        # What the audit opened it closes: its connection to a scheduler it
        # joined, and the cluster it started.
        if own_client is not None:
            own_client.close()
        if own_cluster is not None:
            own_cluster.close()


# What the cluster --workers starts does less of than Dask's defaults: its
# workers' statistical profiler (a stack sample every 10 ms) and event-loop
# and memory checks (every 20 and 100 ms) preempt the hashing threads when
# every core is busy, which slowed each of two workers on two cores by a
# fifth.
QUIET_WORKERS = {
    "distributed.worker.profile.enabled": False,
    "distributed.admin.tick.interval": "500ms",
    "distributed.worker.memory.monitor-interval": "500ms",
    "distributed.admin.system-monitor.interval": "2s",
}


def local_cluster(workers: int):
    """The cluster `--workers N` starts: N worker processes of one thread
    each (a task's hashing holds its core), on this machine only."""
    import dask
    from dask.distributed import LocalCluster
    with dask.config.set(QUIET_WORKERS):
        return LocalCluster(n_workers=workers, threads_per_worker=1, processes=True, dashboard_address=None,
                            host="127.0.0.1")


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


def _run(client, tree, held, source, log, fmt, cp, entries, rate, max_task_bytes, timeout,
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
    size = cp.size
    n_workers = max(1, len(client.scheduler_info()["workers"]))
    span = range_leaves or _range_leaves(size, n_workers)
    per_range = (span // 256) * (FULL_TILE_BYTES + (MAX_BUNDLE_BYTES if entries else 0))
    cap = max_task_bytes or per_range
    feeder = _TokenFeeder(client, rate, n_workers) if rate and source.remote else None
    # Ranges are made as they are handed out (each carries its tiles'
    # expected hashes, 32 bytes a tile).
    tasks = (RangeTask(log, fmt, size, begin, min(size, begin + span),
                       _expected_hashes(tree, held, size, begin, min(size, begin + span)), entries, cap, timeout,
                       feeder.name if feeder else None, identity_digest())
             for begin in range(0, size, span))
    try:
        return _gather(client, tasks, 2 * n_workers, tree, cp, tiles, read, started)
    finally:
        if feeder is not None:
            feeder.stop()


class _TokenFeeder:
    """The driver's half of SharedRateLimit: a thread putting a block of
    request tokens into a scheduler queue every tenth of a second or so,
    the queue holding at most one block per worker."""

    def __init__(self, client, rate: float, workers: int):
        from distributed import Queue
        import uuid
        self.name = "quenfold-audit-rate-" + uuid.uuid4().hex
        self.block = max(1, int(rate / 10))
        self.period = self.block / rate
        self.queue = Queue(self.name, client=client, maxsize=max(1, workers))
        self.done = threading.Event()
        self.thread = threading.Thread(target=self._feed, name="audit rate limit", daemon=True)
        self.thread.start()

    def _feed(self):
        next_at = time.monotonic()
        while not self.done.is_set():
            try:
                self.queue.put(self.block, timeout=1)  # a full queue: the workers are behind the rate
            except Exception:  # noqa: BLE001 - full (timeout), or the cluster gone
                continue
            # A put that waited on a full queue is not made up for.
            next_at = max(next_at + self.period, time.monotonic())
            self.done.wait(max(0.0, next_at - time.monotonic()))

    def stop(self):
        self.done.set()
        self.thread.join(5)
        try:
            self.queue.close()  # the scheduler lets go of the queue and its tokens
        except Exception:  # noqa: BLE001 - the cluster may be gone already
            pass


def _gather(client, tasks, window, tree, cp, tiles, read, started):
    """Hands out the ranges, at most `window` at a time (one running and
    one waiting per worker: the scheduler never holds a big log's every
    range), and confirms each range's hashes as it comes back."""
    size, root = cp.size, cp.root
    from dask.distributed import as_completed
    from distributed.scheduler import KilledWorker
    # The first window in one submission (a submit per range costs the
    # driver milliseconds each), then one range for each that returns.
    first = list(itertools.islice(tasks, window))
    futures = dict(zip(client.map(audit_range, first, pure=False, retries=0), first))
    failures: List[dict] = []
    parts: List[t.SubtreeHash] = []
    count_entries = 0
    done = as_completed(list(futures))
    for future in done:
        task = futures.pop(future)
        for following in itertools.islice(tasks, 1):
            more = client.submit(audit_range, following, pure=False, retries=0)
            futures[more] = following
            done.add(more)
        try:
            r = future.result()
        except KilledWorker as e:
            last = getattr(getattr(e, "last_worker", None), "address", "unknown")
            tries = getattr(e, "allowed_failures", 0) + 1
            failures.append({"tile": f"leaves {task.begin}-{task.end}",
                             "reason": f"worker lost for good: the range's task died with its worker {tries} "
                                       f"time(s), last on {last}"})
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
        return _result("rejected", cp, 0, 0, read, started, failures,
                       f"nothing of the checkpoint of size {size} was accepted")
    parts.sort(key=lambda s: s.start)
    whole = t.combine_subtrees(size, parts)
    if [(s.start, s.end, bytes(s.hash)) for s in whole] != [(0, size, root)]:
        return _result("rejected", cp, 0, 0, read, started,
                       [{"tile": "checkpoint", "reason": "the ranges do not combine into the checkpoint's root"}])
    return _result("verified", cp, tiles, count_entries, read, started, [])


# ---------------------------------------------------------------------------
# The command
# ---------------------------------------------------------------------------

# The most an @FILE value may hold, as quenfold-verify caps it.
MAX_VALUE_BYTES = 16 << 20


def _at(option: str, value: str, cap: int = MAX_VALUE_BYTES) -> str:
    """A value given as it is, or @FILE's text: read up to `cap` bytes (a
    device that never ends, /dev/zero, is refused, not read to exhaustion)."""
    if not value.startswith("@"):
        return value
    with open(value[1:], "rb") as f:
        data = f.read(cap + 1)
    if len(data) > cap:
        raise ValueError(f"{option}: larger than {cap >> 20} MiB")
    try:
        return data.decode("utf-8")
    except UnicodeDecodeError:
        raise ValueError(f"{option}: {value} is not UTF-8 text") from None


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
    p.add_argument("--max-entries", type=int, default=MAX_ENTRIES,
                   help="refuse a checkpoint of more entries (default 2^36)")
    p.add_argument("--json", action="store_true")
    a = p.parse_args(argv)
    try:
        keys = [k for k in _at("--keys", a.keys).splitlines() if k.strip()] if a.keys else None
        if a.keys and not keys:
            raise ValueError(f"--keys: no verifier key in {a.keys}")
        out = audit(a.log, a.origin, keys=keys, policy=_at("--policy", a.policy) if a.policy else None,
                    checkpoint=_at("--checkpoint", a.checkpoint, MAX_CHECKPOINT_BYTES) if a.checkpoint else None,
                    entries=a.entries, fmt=a.format,
                    scheduler=a.scheduler, workers=a.workers, allow_insecure_scheduler=a.allow_insecure_scheduler,
                    rate=a.rate, max_task_bytes=a.max_task_bytes, timeout=a.timeout, max_entries=a.max_entries)
    except (ValueError, RuntimeError, OSError) as e:
        print(f"error: {e}", file=sys.stderr)
        return 2
    if a.json:
        print(json.dumps(out))
    else:
        print(out["verdict"])
        # As quenfold-verify prints a summary: signers one field a line.
        for k, v in out.get("summary", {}).items():
            if isinstance(v, list):
                if v:
                    print(f"  {k.replace('_', ' ')}:")
                for signer in v:
                    for field, value in signer.items():
                        print(f"    {field.replace('_', ' ')}: {value}")
            else:
                print(f"  {k}: {v}")
        for f in out.get("failures", []):
            print(f"  {f['tile']}: {f['reason']}")
        if out.get("message"):
            print(out["message"])
    return 0 if out["verdict"] == "verified" else 1


if __name__ == "__main__":
    sys.exit(main())
