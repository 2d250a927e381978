"""Loading libquenfold_log and calling its C ABI through ctypes.

On load the library is checked against the interface this binding was
written for: the contract version, every operation's checksum export, and
the same checksums recomputed from the library's own interface metadata.
A library that differs in any of these is refused (LibraryMismatch). The
extension library (libquenfold_log_ext: verifier lists, witness policies,
checkpoint verifiers) is loaded beside it when found, and checked the same
way against its own calls.
"""

import ctypes
import ctypes.util
import os
import pathlib
import threading
from typing import Dict, Optional

from . import _codec
from ._catalogue import CATALOGUE
from ._elf import ElfError, dynamic_symbol_sizes
from .errors import InternalError, LibraryMismatch, LibraryNotFound, VerificationError
from .types import CommitmentHash

CONTRACT_VERSION = 30
ENV_VARIABLE = "QUENFOLD_LOG_LIBRARY"
EXT_ENV_VARIABLE = "QUENFOLD_LOG_EXT_LIBRARY"
SONAME = "libquenfold_log.so.0"
EXT_SONAME = "libquenfold_log_ext.so.0"
# Where a wheel puts its own, self-contained copies of the libraries.
BUNDLED_LIBRARY = pathlib.Path(__file__).resolve().parent / "_lib" / SONAME
BUNDLED_EXT_LIBRARY = pathlib.Path(__file__).resolve().parent / "_lib" / EXT_SONAME

# Argument kinds: scalars travel by value, every other kind in a RustBuffer.
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


def _lower_direct(name: str, kind: str, value):
    """An argument passed by value: an unsigned integer as its C type, a
    string as raw UTF-8 with no length prefix."""
    if kind == "string":
        if not isinstance(value, str):
            raise TypeError(f"{name} must be str, not {type(value).__name__}")
        return value.encode("utf-8")
    ctype, bits = _SCALARS[kind]
    if isinstance(value, bool) or not isinstance(value, int):
        raise TypeError(f"{name} must be int, not {type(value).__name__}")
    if not 0 <= value < 1 << bits:
        raise ValueError(f"{name} must fit in an unsigned {bits}-bit integer")
    return ctype(value)


class _Boundary:
    """What both libraries share: their buffer functions (under their own
    names, so the two never share a symbol) and the call of one export.
    Subclasses bind ``_lib``, ``_symbol`` and ``_raise_for``."""

    def _bind_buffers(self, namespace: str) -> None:
        status = ctypes.POINTER(RustCallStatus)
        self._from_bytes = self._symbol(f"ffi_{namespace}_rustbuffer_from_bytes")
        self._from_bytes.argtypes, self._from_bytes.restype = [ForeignBytes, status], RustBuffer
        self._free = self._symbol(f"ffi_{namespace}_rustbuffer_free")
        self._free.argtypes, self._free.restype = [RustBuffer, status], None

    def _buffer(self, data: bytes) -> RustBuffer:
        """A library-owned copy of ``data``."""
        if len(data) > 2**31 - 1:
            raise ValueError("an argument above 2^31 - 1 bytes cannot cross the boundary")
        # The library copies from the bytes object's own storage (alive for
        # the call through `data`): no intermediate copy on this side.
        payload = data if type(data) is bytes else bytes(data)
        raw = ctypes.cast(ctypes.c_char_p(payload), ctypes.POINTER(ctypes.c_uint8))
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

    def _invoke(self, fn, lowered):
        """Calls `fn` with the lowered arguments (scalars as they are, bytes
        in buffers the library takes over) and a status record; raises the
        call's rejection or failure, else returns its raw result."""
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
        return out


class Library(_Boundary):
    """One loaded and checked libquenfold_log."""

    def __init__(self, path: str,
                 expected_checksums: Optional[Dict[str, int]] = None,
                 expected_contract_version: int = CONTRACT_VERSION,
                 extension_path: Optional[str] = None):
        self.path = path
        try:
            self._lib = ctypes.CDLL(path)
        except OSError as e:
            raise LibraryMismatch(f"cannot load {path}: {e}") from None
        expected = expected_checksums or {op: c for op, (_, _, c) in CATALOGUE.items()}
        self._check_contract(expected, expected_contract_version)
        self._bind_buffers("quenfold_log")
        # Operation entry points are resolved at first use, so that a library
        # built without some of them still serves the others; the checksums
        # above already pin the interface of every one.
        self._functions = {}
        self._functions_lock = threading.Lock()
        # The extension: checked now, so that a mismatched one is refused at
        # load time like the library itself.
        ext = extension_path if extension_path is not None else find_extension_library(path)
        self.extension = ExtensionLibrary(ext) if ext else None

    def extension_library(self) -> "ExtensionLibrary":
        """The loaded extension library; LibraryNotFound when there is none."""
        if self.extension is None:
            raise LibraryNotFound(
                f"libquenfold_log_ext not found: not bundled ({BUNDLED_EXT_LIBRARY} is missing), "
                f"{EXT_ENV_VARIABLE} is not set, and no {EXT_SONAME} lies beside {self.path}. "
                f"VerifierList, WitnessPolicy, CheckpointVerifier and verify_inclusions need it.")
        return self.extension

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
        if kind in _SCALARS or kind == "string":
            return _lower_direct(name, kind, value)
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
        out = self._invoke(fn, lowered)
        if result is None:
            return None
        if result == "u32":
            return int(out)
        data = self._take(out)
        try:
            return _codec.decode(result, data)
        except _codec.DecodeError as e:
            raise InternalError(f"undecodable {result} result of {op}: {e}") from None


class ExtensionLibrary(_Boundary):
    """One loaded and checked libquenfold_log_ext: its calls take and return
    values of the catalogue's types, objects as handles, and report a
    rejection with its kind and fields."""

    def __init__(self, path: str):
        from . import _extension
        self.path = path
        self._ext = _extension
        try:
            self._lib = ctypes.CDLL(path)
        except OSError as e:
            raise LibraryMismatch(f"cannot load {path}: {e}") from None
        self._check_contract()
        self._bind_buffers(_extension.NAMESPACE)
        self._functions = {}
        self._functions_lock = threading.Lock()

    def _symbol(self, name: str):
        try:
            return getattr(self._lib, name)
        except AttributeError:
            raise LibraryMismatch(f"{self.path} does not export {name}") from None

    def _check_contract(self) -> None:
        ext = self._ext
        version = self._symbol(f"ffi_{ext.NAMESPACE}_uniffi_contract_version")
        version.argtypes, version.restype = [], ctypes.c_uint32
        got = version()
        if got != ext.CONTRACT_VERSION:
            raise LibraryMismatch(f"{self.path} has contract version {got}, "
                                  f"this binding expects {ext.CONTRACT_VERSION}")
        try:
            sizes = dynamic_symbol_sizes(self.path)
        except (OSError, ElfError) as e:
            raise LibraryMismatch(f"cannot read the symbol table of {self.path}: {e}") from None
        for export, (_, _, checksum_export, want) in ext.CALLS.items():
            fn = self._symbol(checksum_export)
            fn.argtypes, fn.restype = [], ctypes.c_uint16
            got = fn()
            if got != want:
                raise LibraryMismatch(f"checksum of {export} is {got}, this binding expects {want}")
            meta = ext.METADATA[export]
            size = sizes.get(meta)
            if not size:
                raise LibraryMismatch(f"{self.path} does not export the metadata {meta}")
            recomputed = fnv1a_16(bytes((ctypes.c_uint8 * size).in_dll(self._lib, meta)))
            if recomputed != want:
                raise LibraryMismatch(f"metadata of {export} hashes to checksum {recomputed}, "
                                      f"this binding expects {want}")

    def _function(self, export: str):
        with self._functions_lock:
            fn = self._functions.get(export)
            if fn is None:
                fn = self._symbol(export)
                if export not in self._ext.CALLS:   # a handle's clone or free: (handle, status)
                    fn.argtypes = [ctypes.c_uint64, ctypes.POINTER(RustCallStatus)]
                    fn.restype = ctypes.c_uint64 if "_fn_clone_" in export else None
                else:
                    args, result, _, _ = self._ext.CALLS[export]
                    fn.argtypes = [self._c_type(t) for _, t in args] + [ctypes.POINTER(RustCallStatus)]
                    fn.restype = None if result is None else self._c_type(result)
                self._functions[export] = fn
            return fn

    @staticmethod
    def _c_type(t: str):
        if t.startswith("object ") or t == "u64":
            return ctypes.c_uint64
        return {"u8": ctypes.c_uint8, "u16": ctypes.c_uint16, "u32": ctypes.c_uint32}.get(t, RustBuffer)

    # ---- values -------------------------------------------------------------

    def _resolve(self, t: str):
        ext = self._ext
        if t == "error":
            return self._read_error
        kind, name = t.split(" ", 1)
        if kind == "record":
            return getattr(ext, name), ext.RECORD_FIELDS[name]
        return getattr(ext, name), None

    def _read_error(self, r: "_codec.Reader") -> VerificationError:
        from .errors import ErrorKind
        index = r.i32()
        if not 1 <= index <= len(self._ext.ERROR_VARIANTS):
            raise _codec.DecodeError(f"unknown VerifyError variant {index}")
        name, fields = self._ext.ERROR_VARIANTS[index - 1]
        values = {field: _codec.decode_value(r, t, self._resolve) for field, t in fields}
        message = values.pop("message")
        return VerificationError(message, kind=ErrorKind[name], fields=values)

    def _raise_for(self, status: RustCallStatus) -> None:
        if status.code == 0:
            return
        payload = self._take(status.error_buf)
        if status.code == 1:
            r = _codec.Reader(payload)
            try:
                error = self._read_error(r)
                r.finish()
            except _codec.DecodeError as e:
                raise InternalError(f"undecodable VerifyError: {e}") from None
            raise error
        raise InternalError(payload.decode("utf-8", "replace") if status.code == 2
                            else f"unexpected call status {status.code}")

    def _lower(self, name: str, t: str, value, borrowed: list):
        if t.startswith("object "):
            from ._objects import Handle
            wanted = t.split(" ", 1)[1]
            if not isinstance(value, Handle) or value.TYPE != wanted:
                raise TypeError(f"{name} must be a {wanted}, not {type(value).__name__}")
            if value._library is not self:
                raise ValueError(f"{name} belongs to another loaded extension library")
            handle = ctypes.c_uint64(value._acquire())
            borrowed.append(value)
            return handle
        if t in ("u8", "u16", "u32", "u64", "string"):
            return _lower_direct(name, t, value)
        w = _codec.Writer()
        _codec.encode_value(w, name, t, value, self._resolve)
        return w.finish()

    def call(self, export: str, *values, wrap: bool = True):
        """Runs one call with Python values; returns its lifted result (an
        object's class for a handle, unless ``wrap`` is false)."""
        args, result, _, _ = self._ext.CALLS[export]
        if len(values) != len(args):
            raise TypeError(f"{export} takes {len(args)} arguments, got {len(values)}")
        borrowed: list = []
        try:
            lowered = [self._lower(name, t, v, borrowed) for (name, t), v in zip(args, values)]
            fn = self._function(export)
            out = self._invoke(fn, lowered)
        finally:
            for handle in borrowed:
                handle._settle()
        if result is None:
            return None
        if result == "u64" or result in ("u8", "u16", "u32"):
            return int(out)
        if result.startswith("object "):
            if not wrap:
                return int(out)
            return getattr(self._ext, result.split(" ", 1)[1])._from_handle(self, int(out))
        data = self._take(out)
        if result == "string":
            return data.decode("utf-8")
        r = _codec.Reader(data)
        try:
            value = _codec.decode_value(r, result, self._resolve)
            r.finish()
        except _codec.DecodeError as e:
            raise InternalError(f"undecodable {result} result of {export}: {e}") from None
        return value

    def release(self, object_type: str, handle: int) -> None:
        """Frees one handle of ``object_type``."""
        fn = self._function(self._ext.HANDLES[object_type][1])
        status = RustCallStatus()
        fn(handle, ctypes.byref(status))
        self._raise_for(status)


def find_extension_library(core_path: Optional[str] = None) -> Optional[str]:
    """The extension library loaded beside the core library: the copy
    bundled with this package, else the file named by
    QUENFOLD_LOG_EXT_LIBRARY, else libquenfold_log_ext.so.0 in the directory
    of the core library; None when there is none."""
    if BUNDLED_EXT_LIBRARY.is_file():
        return str(BUNDLED_EXT_LIBRARY)
    named = os.environ.get(EXT_ENV_VARIABLE)
    if named:
        return named
    if core_path:
        beside = pathlib.Path(core_path).resolve().parent / EXT_SONAME
        if beside.is_file():
            return str(beside)
    return None


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
