"""Exceptions raised by the binding."""

from typing import Optional

# The kinds and the fixed parts of their messages come from the catalogue
# (tools/metadata-gen/catalogue.json), generated into _errors.py; only the
# matching is written here.
from ._errors import EXACT as _EXACT, PATTERNS as _PATTERNS, PREFIXES as _PREFIXES, ErrorKind


def kind_of(message: str) -> Optional[ErrorKind]:
    """The kind of a rejection message, or None for a text that is none of
    the library's messages."""
    kind = _EXACT.get(message)
    if kind is not None:
        return kind
    for prefix, kind in _PREFIXES:
        if message.startswith(prefix):
            return kind
    for pattern, kind in _PATTERNS:
        if pattern.fullmatch(message):
            return kind
    return None


class VerifyError(Exception):
    """Base of every failure an operation reports."""

    def __init__(self, message: str):
        super().__init__(message)
        self.message = message


class VerificationError(VerifyError):
    """The library rejected its input (status 1). ``message`` is the library's
    exact one-line reason, for example
    "root mismatch: recomputed root does not match the expected root";
    ``kind`` the ``ErrorKind`` it reports (None only for a message that this
    binding does not know, from a newer library)."""

    def __init__(self, message: str):
        super().__init__(message)
        self.kind: Optional[ErrorKind] = kind_of(message)


class InternalError(VerifyError):
    """The call failed inside the library (status 2): an argument that could
    not be lifted, a broken buffer invariant, or another internal fault.
    ``message`` is the library's raw text."""


class LibraryMismatch(ImportError):
    """The shared library is not the interface this binding was written for
    (a checksum, the contract version or a symbol differs)."""


class LibraryNotFound(LibraryMismatch):
    """No libquenfold_log was found: not bundled with the package, not named by
    QUENFOLD_LOG_LIBRARY, and unknown to the system's dynamic linker."""
