#!/usr/bin/env python3
"""What a binding adds to a call: checkpoint_verify and verify_inclusion
through the Python binding and through the JVM binding, each against the same
calls made through the C ABI, measured in one run of this script.

Each binding's program (python_calls.py, JavaCalls.java) loads
libquenfold_abi_calls.so (abi_calls.c: the calls as a C caller makes them)
into its own process, beside the binding, and times batches of the two in
turn with the calling thread's CPU clock: the C ABI's batch, then the
binding's, and so on, so that both see the same process, allocator, caches
and machine load. It reports the medians per call and the median of the
batches' ratios (and differences, the per-call overhead). Both use the same
loaded library (QUENFOLD_LOG_LIBRARY names the build's copy, which the C
program is linked with). This script runs the two programs in turn for a few
rounds and prints the median round as bench/RESULTS.md rows.

    python3 bench/bindings/compare.py [build dir] [rounds]
"""

import json
import os
import statistics
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.abspath(os.path.join(HERE, "..", ".."))
JNA = "/usr/share/java/jna.jar"


def run(argv, env):
    out = subprocess.run(argv, check=True, capture_output=True, text=True, env=env).stdout
    return {row["op"]: row for row in map(json.loads, out.splitlines())}


def main(argv) -> int:
    build = os.path.abspath(argv[0] if argv else os.path.join(ROOT, "build"))
    rounds = int(argv[1]) if len(argv) > 1 else 3
    examples = os.path.join(ROOT, "examples")
    abi = os.path.join(build, "bench", "libquenfold_abi_calls.so")
    env = dict(os.environ, PYTHONPATH=os.path.join(ROOT, "python"),
               QUENFOLD_LOG_LIBRARY=os.path.join(build, "libquenfold_log.so.0"),
               QUENFOLD_LOG_EXT_LIBRARY=os.path.join(build, "libquenfold_log_ext.so.0"))
    programs = {
        "Python": [sys.executable, os.path.join(HERE, "python_calls.py"), abi, examples],
        "Java": ["java", "-cp", os.path.join(build, "java", "quenfold_log.jar") + ":" + JNA,
                 os.path.join(HERE, "JavaCalls.java"), abi, examples],
    }
    runs = {name: [] for name in programs}
    for r in range(rounds):
        for name, cmd in programs.items():
            runs[name].append(run(cmd, env))
            print(f"round {r + 1} {name}: {json.dumps(runs[name][-1])}", file=sys.stderr)

    def median(name, op, key):
        return statistics.median(x[op][key] for x in runs[name])

    print("| Call | Binding | C ABI, same process | Through the binding | Ratio | Overhead per call |")
    print("|---|---|---:|---:|---:|---:|")
    for op, label in (("checkpoint_verify", "`checkpoint_verify`, composite + Ed25519 note (2 signatures)"),
                      ("verify_inclusion", "`verify_inclusion`, 7 leaves, 3-hash path")):
        for name in programs:
            print(f"| {label} | {name} | {median(name, op, 'c_us'):.2f} µs | {median(name, op, 'binding_us'):.2f} µs "
                  f"| {median(name, op, 'ratio'):.2f} | {median(name, op, 'overhead_us'):.2f} µs |")
    print(f"\nA bare JNA call (a checksum export: no argument, no buffer): "
          f"{median('Java', 'bare_jna_call', 'binding_us'):.2f} µs.")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
