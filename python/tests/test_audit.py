"""The Dask audit (python3 -m quenfold_log.audit) on a local cluster of 2
workers: it agrees with `quenfold-verify tlog` on generated and real logs,
names a tampered tile or entry, survives a worker killed mid-run, and joins
only schedulers it may trust. Logs come from the tests' tiled-log builder,
served on the loopback interface or read from a directory."""

import json
import os
import pathlib
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest

from quenfold_log import audit as qa

from .support import ROOT
from .test_tiles import static_ct_leaf, tiled_log

try:
    import dask  # noqa: F401
    from dask.distributed import Client
    MISSING_DASK = None
except ImportError as e:
    MISSING_DASK = f"Dask is not importable by {sys.executable} ({e}): the audit's cluster tests are skipped"

TOOL = pathlib.Path(os.environ.get("QUENFOLD_VERIFY") or ROOT / "build" / "quenfold-verify")
REAL = pathlib.Path(os.environ.get("QUENFOLD_TESTDATA", ROOT.parent / "shared" / "testdata")) / "real-logs" / "tiles"
COMPARED = ("origin", "size", "root", "tiles", "entries", "bytes", "log_signers", "cosigners")


class SchedulerTest(unittest.TestCase):
    def test_only_tls_or_loopback_schedulers_are_joined(self):
        cases = [("tls://10.0.0.5:8786", True), ("tcp://127.0.0.1:8786", True), ("tcp://localhost:8786", True),
                 ("tcp://[::1]:8786", True), ("127.0.0.2:8786", True), ("tcp://10.0.0.5:8786", False),
                 ("tcp://scheduler.example:8786", False), ("ws://127.0.0.1:8786", True)]
        for address, allowed in cases:
            with self.subTest(address=address):
                self.assertEqual(qa.scheduler_allowed(address), allowed)
        with self.assertRaisesRegex(ValueError, "refusing to join tcp://10.0.0.5:8786"):
            qa.audit(str(ROOT / "examples" / "tlog" / "log"), "example.org/tlog/demo",
                     keys=[(ROOT / "examples" / "tlog" / "log.vkey").read_text().strip()],
                     scheduler="tcp://10.0.0.5:8786")


class CommandLineTest(unittest.TestCase):
    """Bad usage ends with one line and status 2, never a traceback."""

    def test_usage_errors(self):
        import contextlib
        import io
        from unittest import mock
        log = ROOT / "examples" / "tlog" / "log"
        base = ["--log", str(log), "--origin", "example.org/tlog/demo", "--workers", "1"]
        cases = [
            (["--keys", "@/dev/null"], "error: --keys: no verifier key in @/dev/null"),
            (["--keys", "@/nonexistent/keys"], "error: [Errno 2] No such file or directory: '/nonexistent/keys'"),
            (["--keys", "@/dev/zero"], "error: --keys: larger than 16 MiB"),
            (["--keys", "@" + str(ROOT / "examples" / "tlog" / "log.vkey"), "--checkpoint", "@/dev/zero"],
             "error: --checkpoint: larger than 1 MiB"),
        ]
        for extra, want in cases:
            err = io.StringIO()
            with self.subTest(extra), contextlib.redirect_stderr(err):
                self.assertEqual(qa.main(base + extra), 2)
                self.assertEqual(err.getvalue().strip(), want)
        # Without Dask the audit says what it needs once the checkpoint holds.
        err = io.StringIO()
        with mock.patch.dict(sys.modules, {"dask": None, "dask.distributed": None}), \
                contextlib.redirect_stderr(err):
            self.assertEqual(qa.main(base + ["--keys", "@" + str(ROOT / "examples" / "tlog" / "log.vkey")]), 2)
        self.assertIn("the audit runs on Dask, which", err.getvalue())


class SourceTest(unittest.TestCase):
    """A worker's reads over http: capped, deadlined, same-origin only,
    on kept-alive connections; each refusal in one line naming the path."""

    def test_hostile_answers_are_refused_and_honest_ones_read(self):
        with tempfile.TemporaryDirectory() as tmp:
            log = tiled_log.Log(tiled_log.entries(300, "source"))
            log.write(pathlib.Path(tmp), [300])
            tile = (pathlib.Path(tmp) / "tile/0/000").read_bytes()
            cases = [  # hooks on tile/0/000, gzip, timeout, the answer (bytes) or the refusal
                ({}, False, 5, tile),
                ({}, True, 5, tile),
                ({"tile/0/000": tiled_log.gzip_bomb}, False, 5, "larger than 8192 bytes"),
                ({"tile/0/000": tiled_log.endless}, False, 5, "larger than 8192 bytes"),
                ({"tile/0/000": tiled_log.slow}, False, 2, "not read within 2 s"),
                ({"tile/0/000": tiled_log.redirect_to("/tile/0/000.moved"), "tile/0/000.moved":
                  lambda h, b: h.answer(200, tile) or True}, False, 5, tile),
                ({"tile/0/000": tiled_log.redirect_to("http://other.invalid/tile/0/000")}, False, 5,
                 "redirect to another host or scheme refused"),
                ({"tile/0/000": tiled_log.redirect_to("/tile/0/000")}, False, 5, "more than 5 redirects"),
                ({"tile/0/000": tiled_log.too_many_requests(100)}, False, 5, "HTTP 429"),
                ({"tile/0/000": lambda h, b: h.answer(404, b"gone") or True}, False, 5, "missing (404)"),
            ]
            for hooks, gz, timeout, want in cases:
                with self.subTest(hooks=sorted(hooks), gzip=gz), tiled_log.Server(tmp) as server:
                    server.hooks.update(hooks)
                    server.gzip = gz
                    with qa.Source(server.url, timeout=timeout) as source:
                        if isinstance(want, bytes):
                            self.assertEqual(source.fetch("tile/0/000", 8192), want)
                        else:
                            with self.assertRaises(qa.AuditFailure) as cm:
                                source.fetch("tile/0/000", 8192)
                            self.assertEqual(cm.exception.tile, "tile/0/000")
                            self.assertIn(want, cm.exception.reason)
            # Twenty reads from one thread come on one connection.
            with tiled_log.Server(tmp) as server, qa.Source(server.url) as source:
                for _ in range(20):
                    self.assertEqual(source.fetch("tile/0/000", 8192), tile)
                self.assertEqual(len(server.peers), 1)


class SizeLimitTest(unittest.TestCase):
    """A signed claim of a tree too big to audit is refused before any tile
    is planned, with the failure `quenfold-verify tlog` gives."""

    def test_claims_above_the_limit_are_refused_at_once(self):
        with tempfile.TemporaryDirectory() as tmp:
            log = tiled_log.Log(tiled_log.entries(300, "limit"))
            log.write(pathlib.Path(tmp), [300])
            cases = [(2**64 - 1, None), (2**62, None), (2**36 + 1, None), (300, 299)]
            for size, cap in cases:
                with self.subTest(size=size, cap=cap):
                    note = log.checkpoint(300) if size == 300 else \
                        tiled_log.checkpoint(log.signer, log.origin, size, b"\x01" * 32)
                    kw = {} if cap is None else {"max_entries": cap}
                    got = qa.audit(tmp, log.origin, keys=[log.signer.vkey], checkpoint=note, **kw)
                    limit = cap if cap is not None else 2**36
                    want = [{"tile": "checkpoint", "reason": f"tree size {size} exceeds the audit limit {limit}"}]
                    self.assertEqual((got["verdict"], got["failures"]), ("rejected", want), got)
                    if TOOL.is_file():
                        with tempfile.NamedTemporaryFile("w") as f:
                            f.write(note)
                            f.flush()
                            r = subprocess.run([str(TOOL), "--json", "tlog", "--log", tmp, "--origin", log.origin,
                                                "--keys", log.signer.vkey, "--checkpoint", "@" + f.name]
                                               + ([] if cap is None else ["--max-entries", str(cap)]),
                                               capture_output=True, text=True, timeout=60)
                        self.assertEqual(json.loads(r.stdout)["failures"], want)


class FakeClient:
    """A cluster whose second worker runs another library build."""

    def __init__(self, change):
        self.change = change

    def scheduler_info(self):
        return {"workers": {"tcp://127.0.0.1:1": {}, "tcp://127.0.0.1:2": {}}}

    def run(self, fn, workers=None):
        return {w: (self.change(fn()) if w.endswith(":2") else fn()) for w in workers}


class WorkerIdentityTest(unittest.TestCase):
    def test_a_worker_with_another_library_gets_no_work(self):
        changes = [("version", lambda i: dict(i, version="0.0.0")),
                   ("contract", lambda i: dict(i, contract=i["contract"] + 1)),
                   ("checksum", lambda i: dict(i, checksums=i["checksums"][:-1] + [(i["checksums"][-1][0], 0)]))]
        for what, change in changes:
            with self.subTest(what), self.assertRaisesRegex(RuntimeError, "worker tcp://127.0.0.1:2 runs another"):
                qa.audit(str(ROOT / "examples" / "tlog" / "log"), "example.org/tlog/demo",
                         keys=[(ROOT / "examples" / "tlog" / "log.vkey").read_text().strip()],
                         client=FakeClient(change))


@unittest.skipIf(MISSING_DASK, MISSING_DASK or "")
@unittest.skipUnless(TOOL.is_file(), f"quenfold-verify is not built at {TOOL}")
class AuditTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.cluster = qa.local_cluster(2)
        cls.client = Client(cls.cluster)
        cls.tmp = tempfile.TemporaryDirectory()
        cls.dir = pathlib.Path(cls.tmp.name)
        tiled_log.static_ct_leaf = static_ct_leaf
        cls.logs = {}
        # Several ranges per worker: 2^16-leaf ranges over 2^19 + 300 leaves.
        for name, size, fmt in [("big", (1 << 19) + 300, "tlog-tiles"), ("ct", 700, "static-ct"),
                                ("sumdb", 520, "sumdb"), ("one", 1, "tlog-tiles"), ("rate", 300 * 256, "tlog-tiles")]:
            log = tiled_log.Log(tiled_log.entries(size, name), fmt=fmt)
            log.write(cls.dir / name, [size])
            cls.logs[name] = log

    @classmethod
    def tearDownClass(cls):
        cls.client.close()
        cls.cluster.close()
        cls.tmp.cleanup()

    def cli(self, location, origin, vkey, *extra):
        r = subprocess.run([str(TOOL), "--json", "tlog", "--log", str(location), "--origin", origin, "--keys", vkey]
                           + list(extra), capture_output=True, text=True, timeout=120)
        return json.loads(r.stdout)

    def run_audit(self, location, origin, vkey, extra=(), **kw):
        args = dict(entries="--entries" in extra, fmt=extra[extra.index("--format") + 1]
                    if "--format" in extra else "tlog-tiles", client=self.client, range_leaves=1 << 16)
        if "--checkpoint" in extra:
            args["checkpoint"] = pathlib.Path(extra[extra.index("--checkpoint") + 1][1:]).read_text()
        args.update(kw)
        return qa.audit(str(location), origin, keys=[vkey], **args)

    def assertAgrees(self, location, origin, vkey, *extra):
        want = self.cli(location, origin, vkey, *extra)
        got = self.run_audit(location, origin, vkey, extra)
        self.assertEqual(got["verdict"], want["verdict"], (got, want))
        if want["verdict"] == "verified":
            self.assertEqual({k: got["summary"][k] for k in COMPARED}, {k: want["summary"][k] for k in COMPARED})
        return got, want

    def test_agrees_with_the_command_on_generated_logs(self):
        cases = [("big", ["--entries"]), ("big", []), ("ct", ["--entries", "--format", "static-ct"]),
                 ("sumdb", ["--format", "sumdb"]), ("one", ["--entries"])]
        for name, extra in cases:
            log = self.logs[name]
            for transport in ("dir", "http"):
                if name == "big" and transport == "http":
                    continue  # over http below, tampered and with a worker killed
                with self.subTest(log=name, extra=extra, transport=transport):
                    if transport == "dir":
                        got, _ = self.assertAgrees(self.dir / name, log.origin, log.signer.vkey, *extra)
                    else:
                        with tiled_log.Server(self.dir / name) as server:
                            got, _ = self.assertAgrees(server.url, log.origin, log.signer.vkey, *extra)
                    self.assertEqual(got["verdict"], "verified")

    def test_joins_a_scheduler_by_address_and_lets_go_of_it(self):
        # The cluster's scheduler, joined by its tcp:// address on the
        # loopback interface as --scheduler joins it; the audit's own
        # connection is closed afterwards, the cluster's clients are as before.
        log = self.logs["ct"]
        before = len(self.client.run_on_scheduler(lambda dask_scheduler: list(dask_scheduler.clients)))
        got = qa.audit(str(self.dir / "ct"), log.origin, keys=[log.signer.vkey], entries=True, fmt="static-ct",
                       scheduler=self.cluster.scheduler_address)
        self.assertEqual((got["verdict"], got["summary"]["entries"]), ("verified", 700), got)
        deadline = time.monotonic() + 10
        while len(self.client.run_on_scheduler(lambda dask_scheduler: list(dask_scheduler.clients))) != before:
            self.assertLess(time.monotonic(), deadline, "the audit's client is still connected")
            time.sleep(0.1)

    def test_agrees_with_the_command_on_real_logs(self):
        tessera = REAL / "tessera-testdata-log"
        if not tessera.is_dir():
            self.skipTest(f"the shared test data is not at {REAL}")
        source = json.loads((tessera / "SOURCE.json").read_text())
        for n in (0, 1, 2, 7, 15):
            with self.subTest(size=n):
                got, _ = self.assertAgrees(tessera, source["origin"], source["verifier_key"], "--entries",
                                           "--checkpoint", "@%s/checkpoint.%d" % (tessera, n))
                self.assertEqual((got["verdict"], got["summary"]["entries"]), ("verified", n))
        # The Sunlight mirror's tiles (300 entries, two levels, partial tiles)
        # under its checkpoint's body, signed here by a test key as the
        # command's own tests sign it.
        mirror = REAL / "sunlight-skylight" / "witness" / "mirror" / \
            "000de184301123b9278c086a7d9f68c9577e83872224c197058fd90784ea9706"
        body = (mirror / "checkpoint").read_text().split("\n\n")[0] + "\n"
        signer = tiled_log.Signer("rome2026h1.example.org", b"mirror body")
        with tempfile.NamedTemporaryFile("w", suffix=".checkpoint") as f:
            f.write(signer.sign(body))
            f.flush()
            got, _ = self.assertAgrees(mirror, "rome2026h1.example.org", signer.vkey, "--checkpoint", "@" + f.name)
        self.assertEqual((got["verdict"], got["summary"]["size"], got["summary"]["tiles"]), ("verified", 300, 3))

    def test_a_tampered_tile_or_entry_is_named(self):
        log = self.logs["big"]
        t7, b9 = "tile/0/x001/007", "tile/entries/x001/009"

        def flip_tile(b):
            return b[:70] + bytes([b[70] ^ 1]) + b[71:]

        def swap_entry(b):
            return b.replace(b"big 258309", b"big 2583X9")

        cases = [({t7: flip_tile}, t7, "its hashes do not hash to entry 239 of tile/1/003", []), ({b9: swap_entry}, b9, "entry 258309 ", ["--entries"])]
        for transform, tile, reason, extra in cases:
            with self.subTest(tile=tile), tiled_log.Server(self.dir / "big") as server:
                server.transform.update(transform)
                got = self.run_audit(server.url, log.origin, log.signer.vkey, extra)
                want = self.cli(server.url, log.origin, log.signer.vkey, *extra)
                self.assertEqual((got["verdict"], want["verdict"]), ("rejected", "rejected"))
                self.assertEqual([f["tile"] for f in got["failures"]], [tile], got["failures"])
                self.assertIn(reason, got["failures"][0]["reason"])
                self.assertEqual([f["tile"] for f in want["failures"]], [tile], want["failures"])
                self.assertIn(reason, want["failures"][0]["reason"])

    def test_a_worker_killed_mid_run_costs_only_its_task(self):
        log = self.logs["big"]
        pids = self.client.run(os.getpid)
        result = {}
        with tiled_log.Server(self.dir / "big") as server:
            # Slowed to about 3 s of requests, so that the kill lands mid-run.
            runner = threading.Thread(target=lambda: result.update(self.run_audit(
                server.url, log.origin, log.signer.vkey, rate=1000.0)))
            runner.start()
            deadline = time.monotonic() + 60
            while sum(server.counts.get(p, 0) for p in server.counts if p.startswith("tile/0/")) < 400:
                self.assertLess(time.monotonic(), deadline)
                time.sleep(0.05)
            os.kill(next(iter(pids.values())), signal.SIGKILL)
            runner.join(120)
        self.assertEqual(result.get("verdict"), "verified", result)
        self.assertEqual(result["summary"]["root"], log.root(len(log.leaves)).hex())
        self.client.wait_for_workers(2, timeout=60)

    def test_one_request_rate_holds_across_all_workers(self):
        # 2 workers sharing 200 requests a second: 600 tile and bundle reads
        # take about 3 s, not the 1.5 s two separate limits would allow.
        log = self.logs["rate"]
        rate = 200.0
        with tiled_log.Server(self.dir / "rate") as server:
            got = self.run_audit(server.url, log.origin, log.signer.vkey, ["--entries"], rate=rate)
            self.assertEqual(got["verdict"], "verified", got)
            times = server.times[len(server.times) - 600:]
        # The driver's own reads come first; the workers' 600 follow.
        self.assertEqual(sum(server.counts.get(p, 0) for p in server.counts
                             if p.startswith(("tile/0/", "tile/entries/"))), 600)
        burst = 5 * int(rate / 10)  # the queue's 2 blocks, one held by each worker, the one being put
        elapsed = times[-1] - times[0]
        self.assertGreaterEqual(elapsed, (600 - burst) / rate, elapsed)
        # No window runs ahead of the rate by more than the burst.
        for i in range(0, 600, 25):
            for j in range(i + 25, 600, 25):
                self.assertLessEqual(j - i, rate * (times[j] - times[i]) + burst + 1, (i, j))

    def test_a_worker_lost_for_good_is_reported_with_its_range(self):
        # A tile that kills whichever worker reads it: on a scheduler that
        # allows no retry, its range is reported lost; the others verify.
        import psutil
        log = self.logs["big"]

        def kill_reader(handler, body):
            port = handler.client_address[1]
            for c in psutil.net_connections(kind="tcp"):
                if c.laddr and c.laddr.port == port and c.pid and c.pid != os.getpid():
                    os.kill(c.pid, signal.SIGKILL)
            return True

        with dask.config.set({"distributed.scheduler.allowed-failures": 0}):
            cluster = qa.local_cluster(2)
        client = Client(cluster)
        try:
            with tiled_log.Server(self.dir / "big") as server:
                server.hooks["tile/0/x001/007"] = kill_reader
                got = qa.audit(server.url, log.origin, keys=[log.signer.vkey], client=client, range_leaves=1 << 16)
        finally:
            client.close()
            cluster.close()
        # The range being read is lost, with any range queued on the same
        # worker when it died (the scheduler counts those against it too);
        # every other range of the 9 verified.
        self.assertEqual(got["verdict"], "rejected", got)
        lost = [f["tile"] for f in got["failures"]]
        self.assertIn("leaves 196608-262144", lost)
        self.assertLess(len(lost), 9, lost)
        for f in got["failures"]:
            self.assertRegex(f["tile"], r"^leaves \d+-\d+$")
            self.assertRegex(f["reason"], r"^worker lost for good: the range's task died with its worker 1 "
                                          r"time\(s\), last on tcp://127\.0\.0\.1:\d+$")
