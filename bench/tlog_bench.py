"""The whole `quenfold-verify tlog --entries` command over a local log of
2^20 entries (tests/cli/tiled_log.py writes it once, into the build
directory), on 1 and on 2 threads, alternating, in one run.

    python3 bench/tlog_bench.py build/quenfold-verify [--repeat 5] [--size 1048576]

Prints entries per second on each, the speedup (wall clock, best of the
repetitions on each side), the CPU time the 2-thread runs spent over the
1-thread runs, and the cores the 2-thread run got: a speedup below 1.8 with
fewer than 1.8 cores is the machine, not the command.
"""

import argparse
import os
import pathlib
import resource
import subprocess
import sys
import time

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "cli"))
import tiled_log  # noqa: E402


def children_cpu():
    r = resource.getrusage(resource.RUSAGE_CHILDREN)
    return r.ru_utime + r.ru_stime


def main():
    p = argparse.ArgumentParser()
    p.add_argument("tool")
    p.add_argument("--repeat", type=int, default=5)
    p.add_argument("--size", type=int, default=1 << 20)
    p.add_argument("--dir", default=None)
    a = p.parse_args()
    tool = pathlib.Path(a.tool).resolve()
    where = pathlib.Path(a.dir or tool.parent / ("tlog-bench-%d" % a.size))
    log = None
    if not (where / "checkpoint").exists():
        started = time.monotonic()
        log = tiled_log.Log(tiled_log.entries(a.size, "benchmark entry"), origin="example.org/tlog/bench")
        log.write(where, [a.size])
        print("wrote the log in %.1f s" % (time.monotonic() - started), file=sys.stderr)
    signer = tiled_log.Signer("example.org/tlog/bench", b"test log key")
    cmd = [str(tool), "--json", "tlog", "--log", str(where), "--origin", "example.org/tlog/bench",
           "--keys", signer.vkey, "--entries"]
    # A first run warms the page cache; it is not counted.
    subprocess.run(cmd + ["--threads", "2"], check=True, capture_output=True)
    best = {1: float("inf"), 2: float("inf")}
    cpu = {1: 0.0, 2: 0.0}
    for _ in range(a.repeat):
        for threads in (1, 2):
            before = children_cpu()
            started = time.monotonic()
            r = subprocess.run(cmd + ["--threads", str(threads)], capture_output=True, text=True)
            took = time.monotonic() - started
            cpu[threads] += children_cpu() - before
            if r.returncode != 0:
                sys.exit("the run failed: " + r.stdout + r.stderr)
            best[threads] = min(best[threads], took)
    rate = {t: a.size / best[t] for t in best}
    print("| `tlog --entries`, %d entries from a directory | %.0f k entries/s | %.0f k entries/s | %.2f | %.2f | %.2f |"
          % (a.size, rate[1] / 1000, rate[2] / 1000, best[1] / best[2], cpu[2] / cpu[1],
             (cpu[2] / a.repeat) / best[2]))


if __name__ == "__main__":
    main()
