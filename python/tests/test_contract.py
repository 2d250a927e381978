"""Load-time checks: contract version, checksums, and the checksums
recomputed from the library's own interface metadata."""

import ctypes
import ctypes.util
import unittest

import quenfold_log as qf
from quenfold_log import _library
from quenfold_log._elf import ElfError, dynamic_symbol_sizes

from .support import LIBRARY_PATH, library

# Type codes of the metadata encoding.
_KIND_TYPES = {
    "u8": b"\x00", "u16": b"\x01", "u32": b"\x02", "u64": b"\x03", "string": b"\x0b",
    "bytes": b"\x11\x00", "bytes_list": b"\x11\x11\x00", "string_list": b"\x11\x0b",
    "optional_bytes": b"\x0c\x11\x00",
}


class MetadataReader:
    """Reads one function item of the interface metadata."""

    def __init__(self, data: bytes):
        self.data, self.pos = data, 0

    def take(self, n: int) -> bytes:
        if self.pos + n > len(self.data):
            raise ValueError("metadata item ends early")
        out = self.data[self.pos:self.pos + n]
        self.pos += n
        return out

    def byte(self) -> int:
        return self.take(1)[0]

    def short_text(self) -> str:
        return self.take(self.byte()).decode()

    def doc_text(self) -> str:
        return self.take(int.from_bytes(self.take(2), "little")).decode()

    def type(self) -> bytes:
        """The raw bytes of one type, nested types included."""
        start = self.pos
        code = self.byte()
        if code in (12, 17):
            self.type()
        elif code in (13, 14):
            self.short_text(), self.short_text()
        elif code == 23:
            self.type(), self.type()
        elif code not in (0, 1, 2, 3, 10, 11, 255):
            raise ValueError(f"unknown type code {code}")
        return self.data[start:self.pos]


def _named(code: int, name: str) -> bytes:
    module = b"quenfold_log::ffi"
    return bytes([code, len(module)]) + module + bytes([len(name)]) + name.encode()


def _result_type(result) -> bytes:
    if result is None:
        success = b"\xff"
    elif result == "u32":
        success = b"\x02"
    elif result == "bytes":
        success = b"\x11\x00"
    else:
        success = _named(13, result)
    return b"\x17" + success + _named(14, "VerifyError")


class ContractTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.lib = library()
        cls.sizes = dynamic_symbol_sizes(LIBRARY_PATH)

    def metadata(self, op: str) -> bytes:
        name = "UNIFFI_META_QUENFOLD_LOG_FUNC_" + op.upper()
        return bytes((ctypes.c_uint8 * self.sizes[name]).in_dll(self.lib._lib, name))

    def test_contract_version_and_every_checksum_export(self):
        version = self.lib._lib.ffi_quenfold_log_uniffi_contract_version
        version.restype = ctypes.c_uint32
        self.assertEqual(version(), 30)
        # The binding's table names exactly the operations the library exports
        # (each one a function and its checksum).
        for prefix in ("uniffi_quenfold_log_fn_func_", "uniffi_quenfold_log_checksum_func_"):
            exported = {s[len(prefix):] for s in self.sizes if s.startswith(prefix)}
            self.assertEqual(set(qf.CATALOGUE), exported, prefix)
        for op, (_, _, checksum) in qf.CATALOGUE.items():
            with self.subTest(op=op):
                fn = getattr(self.lib._lib, "uniffi_quenfold_log_checksum_func_" + op)
                fn.restype = ctypes.c_uint16
                self.assertEqual(fn(), checksum)
                self.assertEqual(_library.fnv1a_16(self.metadata(op)), checksum)

    def test_metadata_describes_the_catalogue_this_binding_calls(self):
        # Every function item parses exactly, and names the same arguments of
        # the same types, in the same order, as the binding's own table.
        for op, (args, result, _) in qf.CATALOGUE.items():
            with self.subTest(op=op):
                r = MetadataReader(self.metadata(op))
                self.assertEqual(r.byte(), 0)
                self.assertEqual(r.short_text(), "quenfold_log::ffi")
                self.assertEqual(r.short_text(), op)
                self.assertEqual(r.take(2), b"\x00\x00")
                self.assertEqual(r.byte(), len(args))
                for name, kind in args:
                    self.assertEqual(r.short_text(), name)
                    want = (_named(14, "CommitmentHash") if kind == "commitment_hash"
                            else _KIND_TYPES[kind])
                    self.assertEqual(r.type(), want, name)
                    self.assertEqual(r.take(2), b"\x00\x00")
                self.assertEqual(r.type(), _result_type(result))
                self.assertTrue(r.doc_text())
                self.assertEqual(r.pos, len(r.data), "bytes left after the item")

    def test_refuses_a_library_with_another_checksum(self):
        for op in ("verify_inclusion", "keytrans_verify_monitor_suite"):
            with self.subTest(op=op):
                expected = {o: c for o, (_, _, c) in qf.CATALOGUE.items()}
                expected[op] ^= 1
                with self.assertRaises(qf.LibraryMismatch) as ctx:
                    qf.Library(LIBRARY_PATH, expected_checksums=expected)
                self.assertIn(op, str(ctx.exception))

    def test_refuses_a_library_with_another_contract_version(self):
        with self.assertRaises(qf.LibraryMismatch) as ctx:
            qf.Library(LIBRARY_PATH, expected_contract_version=29)
        self.assertIn("contract version 30", str(ctx.exception))

    def test_refuses_what_is_not_the_library(self):
        with self.assertRaises(qf.LibraryMismatch):
            qf.Library("/nonexistent/libquenfold_log.so")
        # A real shared object without the catalogue (the C runtime).
        libc = ctypes.util.find_library("c")
        if libc:
            with self.assertRaises(qf.LibraryMismatch):
                qf.Library(libc)


class ChecksumAlgorithmTest(unittest.TestCase):
    def test_fnv1a_64_published_values_folded(self):
        # FNV-1a 64 test values (offset basis; "a"; "foobar").
        for data, h in ((b"", 0xcbf29ce484222325), (b"a", 0xaf63dc4c8601ec8c),
                        (b"foobar", 0x85944171f73967e8)):
            fold = (h ^ (h >> 16) ^ (h >> 32) ^ (h >> 48)) & 0xFFFF
            self.assertEqual(_library.fnv1a_16(data), fold, data)

    def test_elf_reader_rejects_non_elf_and_truncated_files(self):
        import tempfile
        with tempfile.NamedTemporaryFile() as f:
            f.write(b"not an elf file at all" * 4)
            f.flush()
            with self.assertRaises(ElfError):
                dynamic_symbol_sizes(f.name)
        if LIBRARY_PATH:
            with open(LIBRARY_PATH, "rb") as src, tempfile.NamedTemporaryFile() as f:
                f.write(src.read(200))
                f.flush()
                with self.assertRaises(ElfError):
                    dynamic_symbol_sizes(f.name)



if __name__ == "__main__":
    unittest.main()
