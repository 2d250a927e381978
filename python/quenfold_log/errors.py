"""Exceptions raised by the binding."""


class VerifyError(Exception):
    """Base of every failure an operation reports."""

    def __init__(self, message: str):
        super().__init__(message)
        self.message = message


class VerificationError(VerifyError):
    """The library rejected its input (status 1). ``message`` is the library's
    exact one-line reason, for example
    "root mismatch: recomputed root does not match the expected root"."""


class InternalError(VerifyError):
    """The call failed inside the library (status 2): an argument that could
    not be lifted, a broken buffer invariant, or another internal fault.
    ``message`` is the library's raw text."""


class LibraryMismatch(ImportError):
    """The shared library is not the interface this binding was written for
    (a checksum, the contract version or a symbol differs)."""
