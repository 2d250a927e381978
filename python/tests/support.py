"""Shared fixtures of the binding's tests: the library under test (the one
the package finds: its bundled copy, else QUENFOLD_LOG_LIBRARY, else the
system's) and the bundled examples.

The tests also run against an installed wheel, from a copy of this directory
outside the checkout: QUENFOLD_SOURCE_ROOT then names the checkout (for the
examples and README.md) and QUENFOLD_EXPECT_INSTALLED=1 makes the tests check
that they exercise the installed package and its bundled library."""

import os
import pathlib
import unittest

import quenfold_log as qf

ROOT = pathlib.Path(os.environ.get("QUENFOLD_SOURCE_ROOT") or pathlib.Path(__file__).resolve().parents[2])
EXAMPLES = ROOT / "examples"
# Public vectors and real logs, beside the checkout.
TESTDATA = ROOT.parent / "shared" / "testdata"
EXPECT_INSTALLED = os.environ.get("QUENFOLD_EXPECT_INSTALLED") == "1"


def _located() -> str:
    try:
        return qf.find_library()
    except qf.LibraryNotFound:
        if EXPECT_INSTALLED:
            raise
        return ""


LIBRARY_PATH = _located()


def library() -> "qf.Library":
    if not LIBRARY_PATH:
        raise unittest.SkipTest(f"set {qf.ENV_VARIABLE} to the built libquenfold_log.so")
    return qf.load(LIBRARY_PATH)


def hex_items(relative: str):
    """The whitespace- or comma-separated hex items of an example file."""
    text = (EXAMPLES / relative).read_text().replace(",", " ")
    return [bytes.fromhex(item) for item in text.split()]


def hex_file(relative: str) -> bytes:
    return hex_items(relative)[0]


def fields(relative: str) -> dict:
    """An example file of "name value" lines."""
    out = {}
    for line in (EXAMPLES / relative).read_text().splitlines():
        if line.strip():
            name, _, value = line.partition(" ")
            out[name] = value.strip()
    return out


class OperationTest(unittest.TestCase):
    """Base of the tests of one area: loads the library once, and skips (with
    the reason shown in the test report) operations the library under test
    does not export or whose examples are not bundled."""

    OPERATIONS = ()
    EXAMPLE_DIR = None

    @classmethod
    def setUpClass(cls):
        cls.lib = library()
        missing = [op for op in cls.OPERATIONS if not cls.lib.provides(op)]
        if missing:
            raise unittest.SkipTest("library does not export " + ", ".join(missing))
        if cls.EXAMPLE_DIR and not (EXAMPLES / cls.EXAMPLE_DIR).is_dir():
            raise unittest.SkipTest(f"no bundled examples in examples/{cls.EXAMPLE_DIR}")

    def assertRejected(self, message: str, fn, *args):
        with self.assertRaises(qf.VerificationError) as ctx:
            fn(*args)
        self.assertEqual(ctx.exception.message, message)
        self.assertEqual(str(ctx.exception), message)
        self.assertIsNotNone(ctx.exception.kind, f"no ErrorKind for {message!r}")
