"""The two calls of bench/bindings/compare.py through the Python binding (the
package's own functions, with Python values, as an application calls them),
each batch beside a batch of the same calls through the C ABI made by
libquenfold_abi_calls.so in this same process. Prints one JSON line per call:
the medians over batches of the calling thread's CPU time per call (C ABI,
binding) in microseconds, and of the batches' ratios.

    PYTHONPATH=python QUENFOLD_LOG_LIBRARY=build/libquenfold_log.so.0 \\
        python3 bench/bindings/python_calls.py build/bench/libquenfold_abi_calls.so examples
"""

import ctypes
import json
import pathlib
import statistics
import sys
import time

import quenfold_log as qf


def measure(abi, op, call, per_batch, batches):
    for _ in range(per_batch):
        call()
    c, binding = [], []
    for _ in range(batches):
        c.append(abi.quenfold_abi_calls_run(op.encode(), per_batch) / per_batch)
        start = time.thread_time_ns()
        for _ in range(per_batch):
            call()
        binding.append((time.thread_time_ns() - start) / 1e3 / per_batch)
    print(json.dumps({"op": op, "c_us": round(statistics.median(c), 3),
                      "binding_us": round(statistics.median(binding), 3),
                      "ratio": round(statistics.median(b / a for a, b in zip(c, binding)), 3),
                      "overhead_us": round(statistics.median(b - a for a, b in zip(c, binding)), 3)}), flush=True)


def main(abi_path: str, examples: pathlib.Path) -> None:
    abi = ctypes.CDLL(abi_path)
    abi.quenfold_abi_calls_run.restype = ctypes.c_double
    abi.quenfold_abi_calls_run.argtypes = [ctypes.c_char_p, ctypes.c_int]
    abi.quenfold_abi_calls_setup(str(examples).encode())
    note = (examples / "log" / "checkpoint-7.note").read_text()
    keys = (examples / "log" / "keys.txt").read_text().splitlines()
    leaf = bytes.fromhex((examples / "merkle" / "leaf4.hash").read_text().strip())
    root = bytes.fromhex((examples / "merkle" / "root7.hash").read_text().strip())
    path = [bytes.fromhex(h) for h in (examples / "merkle" / "inclusion-4-of-7.proof").read_text().replace(",", " ").split()]
    measure(abi, "checkpoint_verify", lambda: qf.checkpoint_verify(note, keys), 5, 201)
    measure(abi, "verify_inclusion", lambda: qf.verify_inclusion(4, 7, leaf, path, root), 500, 201)


if __name__ == "__main__":
    main(sys.argv[1], pathlib.Path(sys.argv[2]))
