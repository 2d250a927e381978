"""The Dask audit (python3 -m quenfold_log.audit) of a local 2^20-entry
log on 1 and on 2 workers, hash tiles only and with entries, beside
`quenfold-verify tlog --threads 1` on the same log, alternating, in one run.
Run it under the interpreter that has Dask (Debian's /usr/bin/python3):

    QUENFOLD_LOG_LIBRARY=build/libquenfold_log.so QUENFOLD_LOG_EXT_LIBRARY=build/libquenfold_log_ext.so \\
    PYTHONPATH=python /usr/bin/python3 bench/audit_bench.py build/quenfold-verify [--repeat 3]

With --plan it measures instead what a worker checks per second of a
static-ct log whose entries are --entry-bytes long (data tiles, 2^16
entries by default) and of hash tiles alone, and prints the plan of an
audit of a --plan-entries log at the link speeds given.

The clusters are started before the clock runs (a cluster is started once
per audit campaign); each audit is timed from the checkpoint to the verdict.
Prints entries per second on each side and the ratios: 2 workers over 1,
and 1 worker over the command's single-process rate.
"""

import argparse
import json
import pathlib
import subprocess
import sys
import time

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "cli"))
sys.path.insert(0, str(ROOT / "python"))
import tiled_log  # noqa: E402
from quenfold_log import audit as qa  # noqa: E402


def bench_log(tool, size):
    """The generated tlog-tiles log of `size` entries beside the tool."""
    origin = "example.org/tlog/bench"
    where = tool.parent / ("tlog-bench-%d" % size)
    if not (where / "checkpoint").exists():
        log = tiled_log.Log(tiled_log.entries(size, "benchmark entry"), origin=origin)
        log.write(where, [size])
    return where, origin


def plan(a, tool):
    """Measured rates of one worker, and what they imply for a big log."""
    from dask.distributed import Client
    origin = "example.org/ct/plan"
    where = tool.parent / ("ct-plan-%d-%d" % (a.plan_size, a.entry_bytes))
    # A certificate's bytes, so that each TileLeaf is about --entry-bytes long.
    pad = max(0, a.entry_bytes - 60)
    if not (where / "checkpoint").exists():
        log = tiled_log.Log([(b"%08d" % i) * (pad // 8 + 1) for i in range(a.plan_size)], origin=origin,
                            fmt="static-ct")
        log.write(where, [a.plan_size])
    hashes, hashes_origin = bench_log(tool, a.size)
    cluster = qa.local_cluster(1)
    client = Client(cluster)
    runs = {}
    for entries, log, o in ((False, hashes, hashes_origin), (True, where, origin)):
        key = [tiled_log.Signer(o, b"test log key").vkey]
        for _ in range(a.repeat + 1):
            r = qa.audit(str(log), o, keys=key, entries=entries, fmt="static-ct" if entries else "tlog-tiles",
                         client=client)
            assert r["verdict"] == "verified", r
            s = r["summary"]
            runs[entries] = min(runs.get(entries, (float("inf"),)), (s["seconds"], s["bytes"], s["size"]))
    client.close()
    cluster.close()
    hash_rate, hash_bytes = runs[False][2] / runs[False][0], runs[False][1] / runs[False][2]
    ent_rate, ent_bytes = runs[True][2] / runs[True][0], runs[True][1] / runs[True][2]
    print("one worker (one core), measured on this machine from a local directory:")
    print("  hash tiles only: %.2f M entries/s, %.1f bytes read per entry (%d entries)"
          % (hash_rate / 1e6, hash_bytes, a.size))
    print("  with entries:    %.2f M entries/s, %.1f bytes read per entry (%d static-ct entries of %d bytes)"
          % (ent_rate / 1e6, ent_bytes, a.plan_size, a.entry_bytes))
    big = a.plan_entries
    print("a log of %.3g entries: %.1f GB of hash tiles, %.2f TB with entries, %.1f M requests"
          % (big, big * hash_bytes / 1e9, big * ent_bytes / 1e12, 2 * big / 256 / 1e6))
    print("%-13s %-12s %14s %14s %12s %12s" % ("link/worker", "audit", "entries/s", "one worker", "24 h", "1 h"))
    for gbit in a.links:
        link = gbit * 1e9 / 8
        for what, rate, per in (("hash tiles", hash_rate, hash_bytes), ("with entries", ent_rate, ent_bytes)):
            r = min(rate, link / per)
            one = big / r
            print("%-13s %-12s %14.0f %13.1fh %9d wk %9d wk" % ("%g Gbit/s" % gbit, what, r, one / 3600,
                                                             -(-one // 86400), -(-one // 3600)))


def main():
    p = argparse.ArgumentParser()
    p.add_argument("tool")
    p.add_argument("--repeat", type=int, default=3)
    p.add_argument("--size", type=int, default=1 << 20)
    p.add_argument("--plan", action="store_true")
    p.add_argument("--plan-size", type=int, default=1 << 17)
    p.add_argument("--entry-bytes", type=int, default=2048)
    p.add_argument("--plan-entries", type=float, default=2.24e9)
    p.add_argument("--links", type=float, nargs="+", default=[1.0, 10.0], help="Gbit/s per worker")
    a = p.parse_args()
    if a.plan:
        return plan(a, pathlib.Path(a.tool).resolve())
    from dask.distributed import Client
    tool = pathlib.Path(a.tool).resolve()
    where, origin = bench_log(tool, a.size)
    vkey = tiled_log.Signer(origin, b"test log key").vkey
    clusters = {n: qa.local_cluster(n) for n in (1, 2)}  # what --workers N starts
    clients = {n: Client(c) for n, c in clusters.items()}
    best = {}

    def keep(key, seconds):
        best[key] = min(best.get(key, float("inf")), seconds)

    for entries in (False, True):  # a first audit of each kind warms the page cache and the workers
        for n in (1, 2):
            qa.audit(str(where), origin, keys=[vkey], entries=entries, client=clients[n])
    for _ in range(a.repeat):
        for entries in (False, True):
            cmd = [str(tool), "--json", "tlog", "--log", str(where), "--origin", origin, "--keys", vkey,
                   "--threads", "1"] + (["--entries"] if entries else [])
            started = time.monotonic()
            out = json.loads(subprocess.run(cmd, capture_output=True, text=True, check=True).stdout)
            keep(("cli", entries), time.monotonic() - started)
            assert out["verdict"] == "verified"
            for n in (1, 2):
                started = time.monotonic()
                r = qa.audit(str(where), origin, keys=[vkey], entries=entries, client=clients[n])
                keep((n, entries), time.monotonic() - started)
                assert r["verdict"] == "verified", r
                assert r["summary"]["root"] == out["summary"]["root"]
    for entries in (False, True):
        what = "with entries" if entries else "hash tiles"
        rate = {k: a.size / best[(k, entries)] for k in ("cli", 1, 2)}
        print("%-11s  tlog 1 thread %9.0f/s  1 worker %9.0f/s  2 workers %9.0f/s  "
              "2/1 workers %.2f  1 worker/tlog %.2f" % (what, rate["cli"], rate[1], rate[2],
                                                       rate[2] / rate[1], rate[1] / rate["cli"]))
    for n in (1, 2):
        clients[n].close()
        clusters[n].close()


if __name__ == "__main__":
    main()
