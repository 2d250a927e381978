"""check_layers.py on small trees built here, then on this checkout."""
import pathlib
import sys
import tempfile
import unittest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
import check_layers  # noqa: E402

CHECKOUT = pathlib.Path(__file__).resolve().parents[2]


def build_tree(root: pathlib.Path, files: dict[str, list[str]]) -> None:
    """Writes each file with one line per entry: a quoted #include of the
    entry, or the entry itself when it is already a directive."""
    for d in ("base", "crypto", "src"):
        (root / d).mkdir(parents=True, exist_ok=True)
    for name, includes in files.items():
        path = root / name
        path.parent.mkdir(parents=True, exist_ok=True)
        lines = [inc if "#" in inc else f'#include "{inc}"' for inc in includes]
        path.write_text("\n".join(lines) + "\nint x;\n", encoding="utf-8")


# A layered tree every case starts from: base alone, crypto on base, and
# src/encoding under src/core.
LAYERED = {
    "base/try.h": ["<expected>"],
    "base/reader.h": ["base/try.h"],
    "crypto/sign.cpp": ["crypto/sign.h", "base/writer.h", "quenfold/types.h"],
    "crypto/sign.h": [],
    "src/encoding/text.cpp": ["encoding/text.h", "base/reader.h", "crypto/hash.h"],
    "src/core/error.cpp": ["quenfold/error.h", "encoding/text.h", "base/try.h"],
    "src/ffi/exports.cpp": ["exports.inc", "core/x.h", "quenfold_log.h"],
}

CASES = [
    # (name, files added to LAYERED, expected violations)
    ("layered tree", {}, []),
    ("base includes src", {"base/writer.h": ["encoding/text.h"]},
     ["base/ includes encoding: base/writer.h",
      "include cycle: base -> encoding (base/writer.h); encoding -> base (src/encoding/text.cpp)"]),
    ("base includes crypto", {"base/writer.h": ["crypto/hash.h"]},
     ["base/ includes crypto: base/writer.h",
      "include cycle: base -> crypto (base/writer.h); crypto -> base (crypto/sign.cpp)"]),
    ("crypto includes a public header", {"crypto/hash.cpp": ["quenfold/error.h"]}, []),
    ("an include in a comment of a commented-out line",
     {"src/encoding/z.h": ['// #include "core/try.h"']}, []),
    ("crypto includes src", {"crypto/vrf.cpp": ["core/try.h"]},
     ["crypto/ includes core: crypto/vrf.cpp",
      "include cycle: core -> encoding (src/core/error.cpp); encoding -> crypto (src/encoding/text.cpp); "
      "crypto -> core (crypto/vrf.cpp)"]),
    ("two folders include each other", {"src/encoding/reader.h": ["core/try.h"]},
     ["include cycle: core -> encoding (src/core/error.cpp); encoding -> core (src/encoding/reader.h)"]),
    ("cycle through three folders", {"src/encoding/x.h": ["ffi/frame.h"]},
     ["include cycle: core -> encoding (src/core/error.cpp); encoding -> ffi (src/encoding/x.h); "
      "ffi -> core (src/ffi/exports.cpp)"]),
    ("spaces inside the directive", {"src/encoding/y.h": ['  #  include "core/z.h"']},
     ["include cycle: core -> encoding (src/core/error.cpp); encoding -> core (src/encoding/y.h)"]),
]


class CheckLayersTest(unittest.TestCase):
    def test_cases(self):
        for name, extra, want in CASES:
            with self.subTest(name), tempfile.TemporaryDirectory() as tmp:
                root = pathlib.Path(tmp)
                build_tree(root, {**LAYERED, **extra})
                self.assertEqual(check_layers.violations(root), want)

    def test_this_checkout(self):
        self.assertEqual(check_layers.violations(CHECKOUT), [])
        self.assertTrue((CHECKOUT / "base").is_dir())


if __name__ == "__main__":
    unittest.main()
