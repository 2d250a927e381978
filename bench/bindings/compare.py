#!/usr/bin/env python3
"""What a binding adds to a call: the same two calls through the C ABI
(quenfold_abi_calls), the Python binding and the JVM binding, measured in one
run of this script.

Each program times its calls in its own process (the median over batches of
the wall time per call, after a warm-up: for the JVM, after the JIT compiled
the path), and prints one JSON line per call. A run takes the programs in
turn, C, Python, Java, for several rounds, so that the three see the same
machine; the ratio of a round is the binding's time over the C ABI's time of
the same round, and the table shows the median round. The per-call overhead
is the binding's time minus the C ABI's on verify_inclusion, where the
library's own work is about a microsecond.

    python3 bench/bindings/compare.py build [rounds]
"""

import json
import os
import statistics
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.abspath(os.path.join(HERE, "..", ".."))
JNA = "/usr/share/java/jna.jar"


def run(argv, env=None):
    out = subprocess.run(argv, check=True, capture_output=True, text=True, env=env).stdout
    return {row["op"]: row["us"] for row in map(json.loads, out.splitlines())}


def main(argv) -> int:
    build = os.path.abspath(argv[0] if argv else os.path.join(ROOT, "build"))
    rounds = int(argv[1]) if len(argv) > 1 else 3
    examples = os.path.join(ROOT, "examples")
    env = dict(os.environ, PYTHONPATH=os.path.join(ROOT, "python"),
               QUENFOLD_LOG_LIBRARY=os.path.join(build, "libquenfold_log.so"),
               QUENFOLD_LOG_EXT_LIBRARY=os.path.join(build, "libquenfold_log_ext.so"))
    java_env = {k: v for k, v in os.environ.items() if not k.startswith("QUENFOLD_LOG_")}
    programs = {
        "C ABI": ([os.path.join(build, "bench", "quenfold_abi_calls"), examples], None),
        "Python": ([sys.executable, os.path.join(HERE, "python_calls.py"), examples], env),
        "Java": (["java", "-cp", os.path.join(build, "java", "quenfold_log.jar") + ":" + JNA,
                  os.path.join(HERE, "JavaCalls.java"), examples], java_env),
    }
    runs = {name: [] for name in programs}
    for r in range(rounds):
        for name, (cmd, e) in programs.items():
            runs[name].append(run(cmd, e))
        print(f"round {r + 1}: " + "; ".join(f"{n} {json.dumps(runs[n][-1])}" for n in programs), file=sys.stderr)

    def median(name, op):
        return statistics.median(x[op] for x in runs[name])

    print("| Call | C ABI | Python | ratio | Java (JNA) | ratio |")
    print("|---|---:|---:|---:|---:|---:|")
    for op, label in (("checkpoint_verify", "`checkpoint_verify`, composite + Ed25519 note"),
                      ("verify_inclusion", "`verify_inclusion`, 7 leaves, 3-hash path")):
        c = median("C ABI", op)
        ratios = {n: statistics.median(x[op] / y[op] for x, y in zip(runs[n], runs["C ABI"])) for n in ("Python", "Java")}
        print(f"| {label} | {c:.2f} µs | {median('Python', op):.2f} µs | {ratios['Python']:.2f} "
              f"| {median('Java', op):.2f} µs | {ratios['Java']:.2f} |")
    over = {n: statistics.median(x["verify_inclusion"] - y["verify_inclusion"]
                                 for x, y in zip(runs[n], runs["C ABI"])) for n in ("Python", "Java")}
    print()
    print(f"Per-call overhead on verify_inclusion: Python {over['Python']:.2f} µs, Java {over['Java']:.2f} µs; "
          f"a bare JNA call (no argument, no buffer) {median('Java', 'bare_jna_call'):.2f} µs.")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
