"""Loading libquenfold_log and calling its C ABI through ctypes.

On load the library is checked against the interface this binding was
written for: the contract version, every operation's checksum export, and
the same checksums recomputed from the library's own interface metadata.
A library that differs in any of these is refused (LibraryMismatch).
"""

import ctypes
import ctypes.util
import os
import pathlib
import threading
from typing import Dict, Optional, Tuple

from . import _codec
from ._elf import ElfError, dynamic_symbol_sizes
from .errors import InternalError, LibraryMismatch, LibraryNotFound, VerificationError
from .types import CommitmentHash

CONTRACT_VERSION = 30
ENV_VARIABLE = "QUENFOLD_LOG_LIBRARY"
SONAME = "libquenfold_log.so.0"
# Where a wheel puts its own, self-contained copy of the library.
BUNDLED_LIBRARY = pathlib.Path(__file__).resolve().parent / "_lib" / SONAME

# Argument kinds: scalars travel by value, every other kind in a RustBuffer.
_ENTRY = (("seq", "u64"), ("ts_ms", "u64"), ("enc_x25519", "bytes"), ("enc_pq", "bytes"),
          ("signing_pub", "bytes"), ("prev_entry_hash", "optional_bytes"))
_DIRECTORY = (("namespace", "string"), ("vrf_public", "bytes"), ("root", "bytes"),
              ("identity", "bytes"), ("proof", "bytes"))
_KEYTRANS = (("context", "string"), ("vrf_public", "bytes"), ("root", "bytes"),
             ("label", "bytes"), ("proof", "bytes"))

# operation: (arguments, result kind or None, checksum)
CATALOGUE: Dict[str, Tuple[tuple, Optional[str], int]] = {
    "verify_inclusion": ((("index", "u64"), ("size", "u64"), ("leaf_hash", "bytes"),
                          ("proof", "bytes_list"), ("root", "bytes")), None, 23817),
    "verify_consistency": ((("size1", "u64"), ("size2", "u64"), ("proof", "bytes_list"),
                            ("root1", "bytes"), ("root2", "bytes")), None, 4525),
    "key_history_v1_canonical_bytes": (_ENTRY, "bytes", 6378),
    "key_history_v1_entry_hash": (_ENTRY, "bytes", 25568),
    "key_history_entry_hash_with_context": ((("context", "string"),) + _ENTRY, "bytes", 40644),
    "key_history_v1_rfc6962_leaf_hash": (_ENTRY, "bytes", 28671),
    "verify_signed_note": ((("note_text", "string"), ("vkeys", "string_list")), "u32", 38403),
    "checkpoint_verify": ((("note_text", "string"), ("vkeys", "string_list")),
                          "CheckpointHead", 56341),
    "checkpoint_parse": ((("body_text", "string"),), "CheckpointHead", 64703),
    "checkpoint_verify_inclusion": ((("note_text", "string"), ("vkeys", "string_list"),
                                     ("leaf_index", "u64"), ("leaf_hash", "bytes"),
                                     ("proof", "bytes_list")), None, 22407),
    "checkpoint_verify_consistency": ((("older_note", "string"), ("newer_note", "string"),
                                       ("vkeys", "string_list"), ("proof", "bytes_list")),
                                      None, 5065),
    "coniks_verify_lookup": (_DIRECTORY, "bytes", 63275),
    "coniks_verify_absence": (_DIRECTORY, None, 21326),
    "verify_commitment": ((("context", "string"), ("commitment", "bytes"), ("value", "bytes"),
                           ("opening", "bytes")), None, 64010),
    "signed_policy_verify": ((("envelope", "bytes"),), "PolicyPosture", 6304),
    "policy_enforce_checkpoint_signing_key": ((("envelope", "bytes"), ("public_key", "string")),
                                              None, 29086),
    "policy_enforce_checkpoint_signature": ((("envelope", "bytes"), ("signature", "string")),
                                            None, 39639),
    "policy_enforce_vrf_suite_id": ((("envelope", "bytes"), ("observed_suite_id", "u8")),
                                    None, 38214),
    "policy_enforce_commitment_hash": ((("envelope", "bytes"), ("observed", "commitment_hash")),
                                       None, 16684),
    "policy_enforce_directory_backend": ((("envelope", "bytes"), ("observed_backend_id", "u16")),
                                         None, 65019),
    "keytrans_verify_search": (_KEYTRANS, "SearchResult", 53157),
    "keytrans_verify_fixed_version": (_KEYTRANS, "SearchResult", 35412),
    "keytrans_verify_monitor": (_KEYTRANS, None, 14302),
    "keytrans_verify_search_suite": ((("suite_id", "u16"),) + _KEYTRANS, "SearchResult", 59628),
    "keytrans_verify_fixed_version_suite": ((("suite_id", "u16"),) + _KEYTRANS,
                                            "SearchResult", 7714),
    "keytrans_verify_monitor_suite": ((("suite_id", "u16"),) + _KEYTRANS, None, 63127),
}

_SCALARS = {"u8": (ctypes.c_uint8, 8), "u16": (ctypes.c_uint16, 16),
            "u32": (ctypes.c_uint32, 32), "u64": (ctypes.c_uint64, 64)}


class RustBuffer(ctypes.Structure):
    _fields_ = [("capacity", ctypes.c_uint64), ("len", ctypes.c_uint64),
                ("data", ctypes.POINTER(ctypes.c_uint8))]


class ForeignBytes(ctypes.Structure):
    _fields_ = [("len", ctypes.c_int32), ("data", ctypes.POINTER(ctypes.c_uint8))]


class RustCallStatus(ctypes.Structure):
    _fields_ = [("code", ctypes.c_int8), ("error_buf", RustBuffer)]


def fnv1a_16(data: bytes) -> int:
    """64-bit FNV-1a folded to 16 bits: how a bindings generator derives a
    function's checksum from its metadata item."""
    h = 0xcbf29ce484222325
    for b in data:
        h = ((h ^ b) * 0x100000001b3) & 0xFFFFFFFFFFFFFFFF
    return (h ^ (h >> 16) ^ (h >> 32) ^ (h >> 48)) & 0xFFFF


def _metadata_symbol(operation: str) -> str:
    return "UNIFFI_META_QUENFOLD_LOG_FUNC_" + operation.upper()


class Library:
    """One loaded and checked libquenfold_log."""

    def __init__(self, path: str,
                 expected_checksums: Optional[Dict[str, int]] = None,
                 expected_contract_version: int = CONTRACT_VERSION):
        self.path = path
        try:
            self._lib = ctypes.CDLL(path)
        except OSError as e:
            raise LibraryMismatch(f"cannot load {path}: {e}") from None
        expected = expected_checksums or {op: c for op, (_, _, c) in CATALOGUE.items()}
        self._check_contract(expected, expected_contract_version)
        self._bind_buffers()
        # Operation entry points are resolved at first use, so that a library
        # built without some of them still serves the others; the checksums
        # above already pin the interface of every one.
        self._functions = {}
        self._functions_lock = threading.Lock()

    # ---- load-time checks -------------------------------------------------

    def _symbol(self, name: str):
        try:
            return getattr(self._lib, name)
        except AttributeError:
            raise LibraryMismatch(f"{self.path} does not export {name}") from None

    def _check_contract(self, expected: Dict[str, int], contract_version: int) -> None:
        version = self._symbol("ffi_quenfold_log_uniffi_contract_version")
        version.argtypes, version.restype = [], ctypes.c_uint32
        got = version()
        if got != contract_version:
            raise LibraryMismatch(f"{self.path} has contract version {got}, "
                                  f"this binding expects {contract_version}")
        try:
            sizes = dynamic_symbol_sizes(self.path)
        except (OSError, ElfError) as e:
            raise LibraryMismatch(f"cannot read the symbol table of {self.path}: {e}") from None
        for op, want in expected.items():
            fn = self._symbol("uniffi_quenfold_log_checksum_func_" + op)
            fn.argtypes, fn.restype = [], ctypes.c_uint16
            got = fn()
            if got != want:
                raise LibraryMismatch(f"checksum of {op} is {got}, this binding expects {want}")
            meta = _metadata_symbol(op)
            size = sizes.get(meta)
            if not size:
                raise LibraryMismatch(f"{self.path} does not export the metadata {meta}")
            item = bytes((ctypes.c_uint8 * size).in_dll(self._lib, meta))
            recomputed = fnv1a_16(item)
            if recomputed != want:
                raise LibraryMismatch(f"metadata of {op} hashes to checksum {recomputed}, "
                                      f"this binding expects {want}")

    def _bind_buffers(self) -> None:
        status = ctypes.POINTER(RustCallStatus)
        self._from_bytes = self._symbol("ffi_quenfold_log_rustbuffer_from_bytes")
        self._from_bytes.argtypes, self._from_bytes.restype = [ForeignBytes, status], RustBuffer
        self._free = self._symbol("ffi_quenfold_log_rustbuffer_free")
        self._free.argtypes, self._free.restype = [RustBuffer, status], None

    def provides(self, op: str) -> bool:
        """Whether the library exports the entry point of ``op``."""
        return hasattr(self._lib, "uniffi_quenfold_log_fn_func_" + op)

    def _function(self, op: str):
        with self._functions_lock:
            fn = self._functions.get(op)
            if fn is None:
                fn = self._functions[op] = self._bind(op)
            return fn

    def _bind(self, op: str):
        args, result, _ = CATALOGUE[op]
        fn = self._symbol("uniffi_quenfold_log_fn_func_" + op)
        fn.argtypes = [(_SCALARS[k][0] if k in _SCALARS else RustBuffer) for _, k in args]
        fn.argtypes.append(ctypes.POINTER(RustCallStatus))
        fn.restype = {None: None, "u32": ctypes.c_uint32}.get(result, RustBuffer)
        return fn

    # ---- buffers ------------------------------------------------------------

    def _buffer(self, data: bytes) -> RustBuffer:
        """A library-owned copy of ``data``."""
        if len(data) > 2**31 - 1:
            raise ValueError("an argument above 2^31 - 1 bytes cannot cross the boundary")
        raw = (ctypes.c_uint8 * max(len(data), 1)).from_buffer_copy(data or b"\x00")
        status = RustCallStatus()
        buf = self._from_bytes(ForeignBytes(len(data), raw), ctypes.byref(status))
        self._raise_for(status)
        return buf

    def _take(self, buf: RustBuffer) -> bytes:
        """Copies out and releases a caller-owned buffer."""
        data = ctypes.string_at(buf.data, buf.len) if buf.len else b""
        status = RustCallStatus()
        self._free(buf, ctypes.byref(status))
        self._raise_for(status)
        return data

    def _raise_for(self, status: RustCallStatus) -> None:
        if status.code == 0:
            return
        payload = self._take(status.error_buf)
        if status.code == 1:
            try:
                raise VerificationError(_codec.decode_verify_error(payload))
            except _codec.DecodeError as e:
                raise InternalError(f"undecodable VerifyError: {e}") from None
        raise InternalError(payload.decode("utf-8", "replace") if status.code == 2
                            else f"unexpected call status {status.code}")

    # ---- calls ----------------------------------------------------------------

    def _lower(self, name: str, kind: str, value):
        if kind in _SCALARS:
            ctype, bits = _SCALARS[kind]
            if isinstance(value, bool) or not isinstance(value, int):
                raise TypeError(f"{name} must be int, not {type(value).__name__}")
            if not 0 <= value < 1 << bits:
                raise ValueError(f"{name} must fit in an unsigned {bits}-bit integer")
            return ctype(value)
        if kind == "string":   # raw UTF-8, no length prefix
            if not isinstance(value, str):
                raise TypeError(f"{name} must be str, not {type(value).__name__}")
            return value.encode("utf-8")
        w = _codec.Writer()
        if kind == "bytes":
            w.bytes(name, value)
        elif kind == "bytes_list":
            w.bytes_list(name, value)
        elif kind == "string_list":
            w.string_list(name, value)
        elif kind == "optional_bytes":
            w.optional_bytes(name, value)
        elif kind == "commitment_hash":
            w.enumeration(name, CommitmentHash, value)
        else:
            raise AssertionError(kind)
        return w.finish()

    def call(self, op: str, *values):
        """Runs one operation with Python values; returns its lifted result."""
        args, result, _ = CATALOGUE[op]
        if len(values) != len(args):
            raise TypeError(f"{op} takes {len(args)} arguments, got {len(values)}")
        # Check and serialize everything before any buffer is handed over.
        lowered = [self._lower(name, kind, v) for (name, kind), v in zip(args, values)]
        return self.call_lowered(op, lowered)

    def call_lowered(self, op: str, lowered):
        """Runs an operation on already serialized arguments: scalars as ctypes
        values, everything else as the exact bytes to put in its RustBuffer."""
        _, result, _ = CATALOGUE[op]
        fn = self._function(op)
        c_args = []
        try:
            for v in lowered:
                c_args.append(v if isinstance(v, ctypes._SimpleCData) else self._buffer(v))
        except BaseException:
            for a in c_args:   # never handed to the library: release here
                if isinstance(a, RustBuffer):
                    self._take(a)
            raise
        status = RustCallStatus()
        out = fn(*c_args, ctypes.byref(status))
        self._raise_for(status)
        if result is None:
            return None
        if result == "u32":
            return int(out)
        data = self._take(out)
        try:
            return _codec.decode(result, data)
        except _codec.DecodeError as e:
            raise InternalError(f"undecodable {result} result of {op}: {e}") from None


_default: Optional[Library] = None
_default_lock = threading.Lock()


def find_library() -> str:
    """The library that ``load()`` uses without a path: the copy bundled with
    this package, else the file named by QUENFOLD_LOG_LIBRARY, else the one
    the system's dynamic linker knows as libquenfold_log."""
    if BUNDLED_LIBRARY.is_file():
        return str(BUNDLED_LIBRARY)
    named = os.environ.get(ENV_VARIABLE)
    if named:
        return named
    system = ctypes.util.find_library("quenfold_log")
    if system:
        return system
    raise LibraryNotFound(
        f"libquenfold_log not found: this package bundles none ({BUNDLED_LIBRARY} is missing), "
        f"{ENV_VARIABLE} is not set and the system's dynamic linker knows no libquenfold_log. "
        f"Install the wheel, set {ENV_VARIABLE}=/path/to/{SONAME}, or call quenfold_log.load(path).")


def load(path: Optional[str] = None) -> Library:
    """Loads and checks the library at ``path`` (default: ``find_library()``)
    and makes it the one that the module-level functions call."""
    global _default
    lib = Library(path if path is not None else find_library())
    with _default_lock:
        _default = lib
    return lib


def default_library() -> Library:
    with _default_lock:
        lib = _default
    return lib if lib is not None else load()
