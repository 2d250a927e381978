"""Exceptions raised by the binding."""

import enum
import re
from typing import Optional


class ErrorKind(enum.Enum):
    """Why the library rejected an input: the kinds of the library's one error
    type, in its declaration order and with its names. The C ABI carries only
    the message, whose fixed part identifies the kind (see ``kind_of``)."""

    LeafIndexOutOfRange = 0
    WrongProofSize = 1
    InvalidHashLength = 2
    RootMismatch = 3
    EmptyTreeConsistency = 4
    TreeSizeRegression = 5
    EqualSizesNonEmptyProof = 6
    MalformedCanonicalLeaf = 7
    MalformedCheckpoint = 8
    MalformedSignedNote = 9
    InvalidSignature = 10
    NoTrustedSignature = 11
    MalformedNamespace = 12
    Vrf = 13
    VrfProofInvalid = 14
    CommitmentMismatch = 15
    MalformedConiksProof = 16
    ConiksRootMismatch = 17
    MalformedPolicy = 18
    PostureMismatch = 19
    MalformedKeytrans = 20
    KeytransRootMismatch = 21
    WrongFixedLength = 22
    # Kinds of the library's C++ API, also raised by this binding's
    # compositions (VerifierKeys, CheckpointVerifier).
    MalformedVerifierKey = 23
    OriginMismatch = 24
    MalformedWitnessPolicy = 25
    WitnessQuorumNotMet = 26
    BrokenChain = 27


# The fixed part of each kind's message: a whole message, or a prefix (ending
# in ": " or a space) followed by the kind's fields.
_EXACT = {
    "root mismatch: recomputed root does not match the expected root": ErrorKind.RootMismatch,
    "consistency proof from an empty tree is meaningless": ErrorKind.EmptyTreeConsistency,
    "consistency proof between equal sizes must be empty": ErrorKind.EqualSizesNonEmptyProof,
    "note has no verifiable signature from a trusted key": ErrorKind.NoTrustedSignature,
    "vrf proof did not verify against the namespace public key": ErrorKind.VrfProofInvalid,
    "commitment did not open to the claimed value": ErrorKind.CommitmentMismatch,
    "coniks proof root mismatch: recomputed directory root does not match the expected root":
        ErrorKind.ConiksRootMismatch,
    "keytrans proof root mismatch: recomputed root does not match the expected root":
        ErrorKind.KeytransRootMismatch,
}
_PREFIXES = (
    ("leaf index ", ErrorKind.LeafIndexOutOfRange),
    ("wrong proof size: ", ErrorKind.WrongProofSize),
    ("invalid hash length: ", ErrorKind.InvalidHashLength),
    ("tree size regression: ", ErrorKind.TreeSizeRegression),
    ("malformed canonical leaf: ", ErrorKind.MalformedCanonicalLeaf),
    ("malformed checkpoint: ", ErrorKind.MalformedCheckpoint),
    ("malformed signed note: ", ErrorKind.MalformedSignedNote),
    ("invalid signature for known key ", ErrorKind.InvalidSignature),
    ("malformed namespace: ", ErrorKind.MalformedNamespace),
    ("vrf error: ", ErrorKind.Vrf),
    ("malformed coniks proof: ", ErrorKind.MalformedConiksProof),
    ("malformed namespace policy: ", ErrorKind.MalformedPolicy),
    ("posture mismatch: ", ErrorKind.PostureMismatch),
    ("malformed keytrans structure: ", ErrorKind.MalformedKeytrans),
    ("verifier key ", ErrorKind.MalformedVerifierKey),
    ("checkpoint origin mismatch: ", ErrorKind.OriginMismatch),
    ("malformed witness policy: ", ErrorKind.MalformedWitnessPolicy),
    ("witness quorum not met: ", ErrorKind.WitnessQuorumNotMet),
    ("checkpoint chain broken between checkpoints ", ErrorKind.BrokenChain),
)
_WRONG_FIXED_LENGTH = re.compile(r"[a-z0-9_ ]+ must be exactly [0-9]+ bytes")


def kind_of(message: str) -> Optional[ErrorKind]:
    """The kind of a rejection message, or None for a text that is none of
    the library's messages."""
    kind = _EXACT.get(message)
    if kind is not None:
        return kind
    for prefix, kind in _PREFIXES:
        if message.startswith(prefix):
            return kind
    if _WRONG_FIXED_LENGTH.fullmatch(message):
        return ErrorKind.WrongFixedLength
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
