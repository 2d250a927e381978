"""The serialized value forms of the C ABI.

Arguments other than scalars and plain strings travel as one serialized
value; results other than u32 come back as one. All integers are big-endian;
counts and lengths are signed 32-bit; an enum is its signed 32-bit variant
index; an optional is a tag byte (0 absent, 1 present) followed by the value;
a record is its fields in declaration order.
"""

import enum
import struct
from typing import Iterable, Optional, Sequence, Type, TypeVar

from .types import (CheckpointHead, CheckpointSuite, CommitmentHash, DirectoryMode,
                    KeytransSuite, PolicyPosture, SearchResult, SecurityLevel, VrfMode)

_MAX_COUNT = 2**31 - 1
E = TypeVar("E", bound=enum.Enum)


def _as_bytes(name: str, value) -> bytes:
    if isinstance(value, (bytes, bytearray, memoryview)):
        return bytes(value)
    raise TypeError(f"{name} must be bytes, not {type(value).__name__}")


def _as_str(name: str, value) -> str:
    if isinstance(value, str):
        return value
    raise TypeError(f"{name} must be str, not {type(value).__name__}")


class Writer:
    """Builds one serialized argument value."""

    def __init__(self) -> None:
        self._parts = []

    def count(self, n: int) -> None:
        if n > _MAX_COUNT:
            raise ValueError(f"a length of {n} cannot cross the boundary (at most 2^31 - 1)")
        self._parts.append(struct.pack(">i", n))

    def bytes(self, name: str, value) -> None:
        b = _as_bytes(name, value)
        self.count(len(b))
        self._parts.append(b)

    def string(self, name: str, value) -> None:
        b = _as_str(name, value).encode("utf-8")
        self.count(len(b))
        self._parts.append(b)

    def bytes_list(self, name: str, values: Iterable) -> None:
        items = _sequence(name, values)
        self.count(len(items))
        for i, item in enumerate(items):
            self.bytes(f"{name}[{i}]", item)

    def string_list(self, name: str, values: Iterable) -> None:
        items = _sequence(name, values)
        self.count(len(items))
        for i, item in enumerate(items):
            self.string(f"{name}[{i}]", item)

    def optional_bytes(self, name: str, value) -> None:
        if value is None:
            self._parts.append(b"\x00")
        else:
            self._parts.append(b"\x01")
            self.bytes(name, value)

    def enumeration(self, name: str, cls: Type[E], value) -> None:
        if not isinstance(value, cls):
            raise TypeError(f"{name} must be a {cls.__name__}, not {type(value).__name__}")
        self._parts.append(struct.pack(">i", value.value))

    def finish(self) -> bytes:
        return b"".join(self._parts)


def _sequence(name: str, values) -> Sequence:
    if isinstance(values, (str, bytes, bytearray, memoryview)):
        raise TypeError(f"{name} must be a list, not {type(values).__name__}")
    return list(values)


class DecodeError(Exception):
    """A result that does not parse; reported as an InternalError."""


class Reader:
    """Reads one serialized result value, which must be consumed exactly."""

    def __init__(self, data: bytes) -> None:
        self._data = data
        self._pos = 0

    def _take(self, n: int) -> bytes:
        remaining = len(self._data) - self._pos
        if n > remaining:
            raise DecodeError(f"not enough bytes remaining in buffer ({remaining} < {n})")
        out = self._data[self._pos:self._pos + n]
        self._pos += n
        return out

    def u8(self) -> int:
        return self._take(1)[0]

    def u32(self) -> int:
        return struct.unpack(">I", self._take(4))[0]

    def u64(self) -> int:
        return struct.unpack(">Q", self._take(8))[0]

    def i32(self) -> int:
        return struct.unpack(">i", self._take(4))[0]

    def count(self) -> int:
        n = self.i32()
        if n < 0:
            raise DecodeError("out of range integral type conversion attempted")
        return n

    def boolean(self) -> bool:
        b = self.u8()
        if b > 1:
            raise DecodeError(f"unexpected bool byte {b}")
        return b == 1

    def bytes(self) -> bytes:
        return self._take(self.count())

    def string(self) -> str:
        raw = self._take(self.count())
        try:
            return raw.decode("utf-8")
        except UnicodeDecodeError as e:
            raise DecodeError(f"invalid utf-8 in a string result: {e}") from None

    def string_list(self):
        return [self.string() for _ in range(self.count())]

    def optional_bytes(self) -> Optional[bytes]:
        tag = self.u8()
        if tag == 0:
            return None
        if tag == 1:
            return self.bytes()
        raise DecodeError("unexpected tag byte for Option")

    def enumeration(self, cls: Type[E]) -> E:
        index = self.i32()
        try:
            return cls(index)
        except ValueError:
            raise DecodeError(f"Invalid {cls.__name__} enum value: {index}") from None

    def finish(self) -> None:
        left = len(self._data) - self._pos
        if left:
            raise DecodeError(f"junk data left in buffer after lifting (count: {left})")


def decode(kind: str, data: bytes):
    """Decodes a serialized result of the given kind."""
    r = Reader(data)
    if kind == "bytes":
        value = r.bytes()
    elif kind == "CheckpointHead":
        value = CheckpointHead(origin=r.string(), size=r.u64(), root=r.bytes(),
                               extensions=r.string_list())
    elif kind == "SearchResult":
        value = SearchResult(present=r.boolean(), value=r.optional_bytes())
    elif kind == "PolicyPosture":
        value = PolicyPosture(
            namespace=r.string(), policy_schema_version=r.u32(),
            security_level=r.enumeration(SecurityLevel),
            checkpoint_suite=r.enumeration(CheckpointSuite),
            commitment_hash=r.enumeration(CommitmentHash), vrf_mode=r.enumeration(VrfMode),
            directory_mode=r.enumeration(DirectoryMode),
            keytrans_suite=r.enumeration(KeytransSuite), effective_from=r.u64(),
            created_at=r.u64(), policy_hash=r.bytes(), rfc6962_leaf_hash=r.bytes())
    else:
        raise AssertionError(f"unknown result kind {kind}")
    r.finish()
    return value


def decode_verify_error(data: bytes) -> str:
    """The message of a serialized VerifyError (variant 1, Verification)."""
    r = Reader(data)
    variant = r.i32()
    if variant != 1:
        raise DecodeError(f"unknown VerifyError variant {variant}")
    message = r.string()
    r.finish()
    return message


# ---- values of the extension, by their catalogue type --------------------------------
# tools/metadata-gen/extension.json writes types as u8..u64, bool, string,
# bytes, list<T>, optional<T>, record Name, enum Name and error; ``resolve``
# gives the class of a record or enum name and the field list of a record.

def _generic(t: str):
    for kind in ("list", "optional"):
        if t.startswith(kind + "<") and t.endswith(">"):
            return kind, t[len(kind) + 1:-1]
    return None, None


def encode_value(w: Writer, name: str, t: str, value, resolve) -> None:
    """Appends ``value`` (of catalogue type ``t``) to ``w``."""
    if t in ("u8", "u16", "u32", "u64"):
        bits = {"u8": 8, "u16": 16, "u32": 32, "u64": 64}[t]
        if isinstance(value, bool) or not isinstance(value, int):
            raise TypeError(f"{name} must be int, not {type(value).__name__}")
        if not 0 <= value < 1 << bits:
            raise ValueError(f"{name} must fit in an unsigned {bits}-bit integer")
        w._parts.append(value.to_bytes(bits // 8, "big"))
    elif t == "bool":
        if not isinstance(value, bool):
            raise TypeError(f"{name} must be bool, not {type(value).__name__}")
        w._parts.append(b"\x01" if value else b"\x00")
    elif t == "string":
        w.string(name, value)
    elif t == "bytes":
        w.bytes(name, value)
    elif t.startswith("record "):
        cls, fields = resolve(t)
        if not isinstance(value, cls):
            raise TypeError(f"{name} must be a {cls.__name__}, not {type(value).__name__}")
        for field, field_type in fields:
            encode_value(w, f"{name}.{field}", field_type, getattr(value, field), resolve)
    elif t.startswith("enum "):
        cls, _ = resolve(t)
        w.enumeration(name, cls, value)
    else:
        kind, inner = _generic(t)
        if kind == "list":
            items = _sequence(name, value)
            w.count(len(items))
            for i, item in enumerate(items):
                encode_value(w, f"{name}[{i}]", inner, item, resolve)
        elif kind == "optional":
            if value is None:
                w._parts.append(b"\x00")
            else:
                w._parts.append(b"\x01")
                encode_value(w, name, inner, value, resolve)
        else:
            raise AssertionError(f"no encoding for type {t}")


def decode_value(r: Reader, t: str, resolve):
    """Reads one value of catalogue type ``t``."""
    if t == "u8":
        return r.u8()
    if t == "u16":
        return struct.unpack(">H", r._take(2))[0]
    if t == "u32":
        return r.u32()
    if t == "u64":
        return r.u64()
    if t == "bool":
        return r.boolean()
    if t == "string":
        return r.string()
    if t == "bytes":
        return r.bytes()
    if t == "error":
        return resolve(t)(r)
    if t.startswith("record "):
        cls, fields = resolve(t)
        return cls(**{field: decode_value(r, field_type, resolve) for field, field_type in fields})
    if t.startswith("enum "):
        cls, _ = resolve(t)
        return r.enumeration(cls)
    kind, inner = _generic(t)
    if kind == "list":
        return [decode_value(r, inner, resolve) for _ in range(r.count())]
    if kind == "optional":
        tag = r.u8()
        if tag == 0:
            return None
        if tag == 1:
            return decode_value(r, inner, resolve)
        raise DecodeError("unexpected tag byte for Option")
    raise AssertionError(f"no decoding for type {t}")
