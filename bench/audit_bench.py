"""The Dask audit (python3 -m quenfold_log.audit) of a local 2^20-entry
log on 1 and on 2 workers, hash tiles only and with entries, beside
`quenfold-verify tlog --threads 1` on the same log, alternating, in one run.
Run it under the interpreter that has Dask (Debian's /usr/bin/python3):

    QUENFOLD_LOG_LIBRARY=build/libquenfold_log.so QUENFOLD_LOG_EXT_LIBRARY=build/libquenfold_log_ext.so \\
    PYTHONPATH=python /usr/bin/python3 bench/audit_bench.py build/quenfold-verify [--repeat 3]

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


def main():
    p = argparse.ArgumentParser()
    p.add_argument("tool")
    p.add_argument("--repeat", type=int, default=3)
    p.add_argument("--size", type=int, default=1 << 20)
    a = p.parse_args()
    from dask.distributed import Client
    tool = pathlib.Path(a.tool).resolve()
    origin = "example.org/tlog/bench"
    where = tool.parent / ("tlog-bench-%d" % a.size)
    if not (where / "checkpoint").exists():
        log = tiled_log.Log(tiled_log.entries(a.size, "benchmark entry"), origin=origin)
        log.write(where, [a.size])
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
