"""The package's version: the library's, from its CMake project().

A built wheel replaces this file with the version written out at build time;
run from a source checkout, it reads the project's CMakeLists.txt.
"""

import pathlib
import re


def _from_source_tree() -> str:
    cmake = pathlib.Path(__file__).resolve().parents[2] / "CMakeLists.txt"
    try:
        match = re.search(r"project\(\s*quenfold_log\s+VERSION\s+([0-9.]+)", cmake.read_text())
    except OSError:
        match = None
    return match.group(1) if match else "0+unknown"


__version__ = _from_source_tree()
