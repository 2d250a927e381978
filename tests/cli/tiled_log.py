"""Builds tiled transparency logs for the tests of `quenfold-verify tlog`,
and serves them on the loopback interface, honestly or not.

A log is written to a directory as its server would publish it: the signed
checkpoint, the hash tiles (tile/<L>/<N>[.p/<W>], or tile/8/<L>/... for the
sumdb layout) and the entry bundles (tile/entries/...) or static-ct-api data
tiles (tile/data/...). Partial tiles are written for every tree size in
`sizes`, so that a checkpoint of each of them can be verified and a monitor
can go from one to the next. Checkpoints are C2SP signed notes with an
Ed25519 key made from a seed, so the same seed writes the same bytes.

    python3 tests/cli/tiled_log.py DIR     # the example log of the tlog --help

regenerates examples/tlog/ (DIR/log and DIR/log.vkey).
"""

import atexit
import base64
import gzip
import hashlib
import http.server
import os
import pathlib
import shutil
import struct
import subprocess
import sys
import tempfile
import threading
import time


WIDTH = 256


def leaf_hash(data):
    return hashlib.sha256(b"\x00" + data).digest()


def node_hash(left, right):
    return hashlib.sha256(b"\x01" + left + right).digest()


def mth(hashes):
    """RFC 6962 Merkle tree hash of a list of leaf hashes."""
    if not hashes:
        return hashlib.sha256(b"").digest()
    level = list(hashes)
    # Fold complete pairs level by level, carrying the odd node up: the
    # same tree as RFC 6962's split at the largest power of two.
    stack = []  # (height, hash) of complete subtrees, left to right
    for h in level:
        height = 0
        while stack and stack[-1][0] == height:
            h = node_hash(stack.pop()[1], h)
            height += 1
        stack.append((height, h))
    h = stack.pop()[1]
    while stack:
        h = node_hash(stack.pop()[1], h)
    return h


def index_path(n):
    parts = ["%03d" % (n % 1000)]
    n //= 1000
    while n > 0:
        parts.insert(0, "x%03d" % (n % 1000))
        n //= 1000
    return "/".join(parts)


def tile_path(fmt, level, index, width):
    prefix = "tile/8/" if fmt == "sumdb" else "tile/"
    return prefix + str(level) + "/" + index_path(index) + (".p/%d" % width if width < WIDTH else "")


def data_path(fmt, index, width):
    d = {"sumdb": "tile/8/data/", "static-ct": "tile/data/"}.get(fmt, "tile/entries/")
    return d + index_path(index) + (".p/%d" % width if width < WIDTH else "")


class Signer:
    """A C2SP signed-note Ed25519 signer (signature type 0x01). OpenSSL's
    command-line tool signs, from a key whose RFC 8032 seed is SHA-256 of
    `seed`, so the same seed always writes the same bytes."""

    # PKCS#8 PrivateKeyInfo for an Ed25519 seed (RFC 8410, section 7).
    PKCS8_PREFIX = bytes.fromhex("302e020100300506032b657004220420")

    def __init__(self, name, seed):
        self.name = name
        self._dir = tempfile.mkdtemp(prefix="tiled-log-key-")
        atexit.register(shutil.rmtree, self._dir, True)
        self._key = os.path.join(self._dir, "key.der")
        with open(self._key, "wb") as f:
            f.write(self.PKCS8_PREFIX + hashlib.sha256(seed).digest())
        spki = self._openssl("pkey", "-in", self._key, "-inform", "DER", "-pubout", "-outform", "DER")
        pub = spki[-32:]
        self.key_hash = hashlib.sha256(name.encode() + b"\n\x01" + pub).digest()[:4]
        self.vkey = "%s+%s+%s" % (name, self.key_hash.hex(), base64.b64encode(b"\x01" + pub).decode())

    def _openssl(self, *args, data=b""):
        return subprocess.run(["openssl", *args], input=data, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, check=True).stdout

    def sign(self, body):
        message = os.path.join(self._dir, "message")
        with open(message, "wb") as f:
            f.write(body.encode())
        sig = self._openssl("pkeyutl", "-sign", "-inkey", self._key, "-keyform", "DER", "-rawin", "-in", message)
        if len(sig) != 64:
            raise RuntimeError("openssl wrote a %d-byte Ed25519 signature" % len(sig))
        return body + "\n\u2014 %s %s\n" % (self.name, base64.b64encode(self.key_hash + sig).decode())


def checkpoint(signer, origin, size, root):
    return signer.sign("%s\n%d\n%s\n" % (origin, size, base64.b64encode(root).decode()))


def static_ct_leaf(i, data):
    """A static-ct-api TileLeaf of an x509_entry, and its leaf hash."""
    cert = b"certificate " + data
    # CtExtensions: the leaf_index extension (type 0, a 40-bit index).
    ext = b"\x00" + struct.pack(">H", 5) + i.to_bytes(5, "big")
    entry = (struct.pack(">QH", 1700000000000 + i, 0) + len(cert).to_bytes(3, "big") + cert +
             struct.pack(">H", len(ext)) + ext)
    chain = hashlib.sha256(b"issuer").digest() if i % 2 else b""
    tile_leaf = entry + struct.pack(">H", len(chain)) + chain
    return tile_leaf, leaf_hash(b"\x00\x00" + entry)


class Log:
    """A log of `entries` (bytes), with its tiles laid out for every size
    in `sizes` (the last one is the checkpoint's)."""

    def __init__(self, entries, origin="example.org/tlog/test", seed=b"test log key", fmt="tlog-tiles"):
        self.entries = list(entries)
        self.origin = origin
        self.fmt = fmt
        self.signer = Signer(origin, seed)
        self.data = []
        self.leaves = []
        for i, e in enumerate(self.entries):
            if fmt == "static-ct":
                leaf, h = static_ct_leaf(i, e)
                self.data.append(leaf)
            else:
                self.data.append(struct.pack(">H", len(e)) + e)
                h = leaf_hash(e)
            self.leaves.append(h)
        # levels[L][i]: the hash of the i-th complete 256^L-leaf subtree.
        self.levels = [self.leaves]
        while len(self.levels[-1]) >= WIDTH:
            below = self.levels[-1]
            self.levels.append([mth(below[i:i + WIDTH]) for i in range(0, len(below) - WIDTH + 1, WIDTH)])

    def root(self, size):
        return mth(self.leaves[:size])

    def consistency(self, m, size=None):
        """The RFC 6962 consistency proof from m leaves to `size`
        (section 2.1.2, SUBPROOF), computed from the leaves."""
        leaves = self.leaves[:len(self.leaves) if size is None else size]

        def subproof(m, d, whole):
            n = len(d)
            if m == n:
                return [] if whole else [mth(d)]
            k = 1 << ((n - 1).bit_length() - 1)
            if m <= k:
                return subproof(m, d[:k], whole) + [mth(d[k:])]
            return subproof(m - k, d[k:], False) + [mth(d[:k])]
        return subproof(m, leaves, True)

    def checkpoint(self, size):
        return checkpoint(self.signer, self.origin, size, self.root(size))

    def files(self, size):
        """Path -> bytes of what a log of `size` entries serves."""
        out = {}
        level = 0
        while size >> (8 * level):
            n = size >> (8 * level)
            for t in range(0, (n + WIDTH - 1) // WIDTH):
                w = min(WIDTH, n - t * WIDTH)
                out[tile_path(self.fmt, level, t, w)] = b"".join(self.levels[level][t * WIDTH:t * WIDTH + w])
                if level == 0 and self.fmt != "sumdb":
                    out[data_path(self.fmt, t, w)] = b"".join(self.data[t * WIDTH:t * WIDTH + w])
            level += 1
        out["latest" if self.fmt == "sumdb" else "checkpoint"] = self.checkpoint(size).encode()
        return out

    def write(self, directory, sizes):
        """Writes the tiles of every size in `sizes` and the checkpoint of
        the last; returns the directory."""
        directory = pathlib.Path(directory)
        for size in sizes:
            for path, body in self.files(size).items():
                p = directory / path
                p.parent.mkdir(parents=True, exist_ok=True)
                p.write_bytes(body)
        return directory


def entries(n, tag="entry"):
    return [("%s %d" % (tag, i)).encode() for i in range(n)]


class Server:
    """Serves a directory on 127.0.0.1. `hooks` maps a path to a function
    (handler, body or None) -> bool that answers the request itself (True)
    or lets it be served as it is; `transform` maps a path to a function of
    the body. `counts` counts the requests of each path, `times` records
    when each request came."""

    def __init__(self, directory):
        self.directory = pathlib.Path(directory)
        self.hooks = {}
        self.transform = {}
        self.counts = {}
        self.times = []  # time.monotonic() of each request, in arrival order
        self.peers = set()  # the connections requests came on
        self.gzip = False
        server = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def log_message(self, *args):
                pass

            def do_GET(self):
                path = self.path.lstrip("/")
                server.counts[path] = server.counts.get(path, 0) + 1
                server.times.append(time.monotonic())
                server.peers.add(self.client_address)
                file = server.directory / path
                body = file.read_bytes() if file.is_file() else None
                hook = server.hooks.get(path)
                if hook and hook(self, body):
                    return
                if body is None:
                    return self.answer(404, b"not found\n")
                if path in server.transform:
                    body = server.transform[path](body)
                self.answer(200, body)

            def answer(self, status, body, headers=()):
                encoded = gzip.compress(body) if server.gzip and status == 200 else body
                self.send_response(status)
                if server.gzip and status == 200:
                    self.send_header("Content-Encoding", "gzip")
                for k, v in headers:
                    self.send_header(k, v)
                self.send_header("Content-Length", str(len(encoded)))
                self.end_headers()
                self.wfile.write(encoded)

        class Quiet(http.server.ThreadingHTTPServer):
            def handle_error(self, request, client_address):
                pass  # a client that hung up on a hostile answer, as it should

        self.httpd = Quiet(("127.0.0.1", 0), Handler)
        self.httpd.daemon_threads = True
        self.url = "http://127.0.0.1:%d/" % self.httpd.server_address[1]
        self.thread = threading.Thread(target=self.httpd.serve_forever, daemon=True)

    def __enter__(self):
        self.thread.start()
        return self

    def __exit__(self, *exc):
        self.httpd.shutdown()
        self.httpd.server_close()


def endless(handler, body):
    """A response that never ends (bounded here: 30 s at most)."""
    handler.send_response(200)
    handler.send_header("Content-Type", "application/octet-stream")
    handler.end_headers()
    stop = time.monotonic() + 30
    try:
        while time.monotonic() < stop:
            handler.wfile.write(b"\x00" * 65536)
    except OSError:
        pass
    handler.close_connection = True
    return True


def slow(handler, body):
    """A body trickled at one byte a second (bounded here: 30 s at most)."""
    handler.send_response(200)
    handler.send_header("Content-Length", str(len(body)))
    handler.end_headers()
    try:
        for i in range(min(len(body), 30)):
            handler.wfile.write(body[i:i + 1])
            handler.wfile.flush()
            time.sleep(1)
    except OSError:
        pass
    handler.close_connection = True
    return True


def gzip_bomb(handler, body):
    """A gzip body that inflates to 64 MiB of zeros."""
    bomb = gzip.compress(b"\x00" * (64 << 20), 9)
    handler.send_response(200)
    handler.send_header("Content-Encoding", "gzip")
    handler.send_header("Content-Length", str(len(bomb)))
    handler.end_headers()
    handler.wfile.write(bomb)
    return True


def empty_answer(handler, status, *headers):
    """A bodiless answer with `headers` ((name, value) pairs)."""
    handler.send_response(status)
    for name, value in headers:
        handler.send_header(name, value)
    handler.send_header("Content-Length", "0")
    handler.end_headers()
    return True


def redirect_to(url):
    return lambda handler, body: empty_answer(handler, 302, ("Location", url))


def too_many_requests(times, retry_after="1"):
    """429 with Retry-After for the first `times` requests, then the file."""
    seen = [0]

    def hook(handler, body):
        seen[0] += 1
        return seen[0] <= times and empty_answer(handler, 429, ("Retry-After", retry_after))
    return hook


def write_example(directory):
    """The example log of `quenfold-verify tlog --help`: 300 entries, two
    levels of tiles, one full and one partial level-0 tile."""
    directory = pathlib.Path(directory)
    log = Log(entries(300, "example entry"), origin="example.org/tlog/demo", seed=b"quenfold tlog example")
    log.write(directory / "log", [300])
    (directory / "log.vkey").write_text(log.signer.vkey + "\n")


if __name__ == "__main__":
    write_example(sys.argv[1])
