"""Python binding of libquenfold_log, the key-transparency verification library.

Pure Python over ctypes. The library is found on first use: the copy
bundled with the installed wheel, else the file named by the
``QUENFOLD_LOG_LIBRARY`` environment variable, else the system's
``libquenfold_log``; ``quenfold_log.load(path)`` picks one explicitly. The
extension library, libquenfold_log_ext (VerifierList, WitnessPolicy,
CheckpointVerifier, verify_inclusions), is found the same way (bundled, else
``QUENFOLD_LOG_EXT_LIBRARY``, else beside the library) and checked with it. On load
the library's contract version and checksums are compared with the interface
this binding was written for, and a mismatched library is refused with
``LibraryMismatch`` (``LibraryNotFound`` when there is none).

Every operation returns its verified result (or None) or raises a
``VerifyError``: ``VerificationError`` when the input is rejected (``.message``
is the library's exact reason, ``.kind`` its ``ErrorKind``), ``InternalError``
when the call itself fails.

    import quenfold_log as qf
    qf.verify_inclusion(4, 7, leaf_hash, proof, root)   # raises on rejection
"""

from ._library import (CATALOGUE, CONTRACT_VERSION, ENV_VARIABLE, EXT_ENV_VARIABLE, Library,
                       default_library, find_extension_library, find_library, load)
# One function per operation of the catalogue (tools/metadata-gen/catalogue.json),
# generated with the library's own documentation.
from ._operations import *  # noqa: F401,F403
from ._version import __version__
from .errors import (ErrorKind, InternalError, LibraryMismatch, LibraryNotFound,
                     VerificationError, VerifyError)
from .types import (CheckpointHead, CheckpointSuite, CommitmentHash, DirectoryMode,
                    KeytransSuite, PolicyPosture, SearchResult, SecurityLevel, VrfMode)

__all__ = [
    "__version__", "load", "find_library", "Library", "CATALOGUE", "CONTRACT_VERSION",
    "ENV_VARIABLE", "EXT_ENV_VARIABLE", "find_extension_library", "VerifyError", "VerificationError", "InternalError", "LibraryMismatch",
    "LibraryNotFound", "ErrorKind",
    "CheckpointHead", "SearchResult", "PolicyPosture", "SecurityLevel", "CheckpointSuite",
    "CommitmentHash", "VrfMode", "DirectoryMode", "KeytransSuite",
] + list(CATALOGUE)


# ---- the C++ API's objects, through the extension library ---------------------------
# Verifier lists, witness policies and origin-bound checkpoint verifiers, held
# as handles of libquenfold_log_ext (loaded beside the library, checked the
# same way).

from .monitor import (CheckpointPair, CheckpointVerifier, InclusionProof,  # noqa: E402
                      KeyType, OpenedNote, Signer, VerifiedCheckpoint, VerifierKeys, VerifierList,
                      WitnessedNote, WitnessPolicy, rfc6962_verifier_key, verify_inclusions)
# C2SP tlog-proof and the witness's add-checkpoint checks, under a CheckpointVerifier.
from .monitor import (AddCheckpointResult, AddCheckpointStatus, TlogProof,  # noqa: E402
                      VerifiedTlogProof, WitnessState, check_add_checkpoint, parse_tlog_proof,
                      verify_tlog_proof, verify_tlog_proof_entry)

__all__ += ["CheckpointVerifier", "VerifierKeys", "VerifierList", "WitnessPolicy", "verify_inclusions",
            "Signer", "KeyType", "OpenedNote", "WitnessedNote", "VerifiedCheckpoint", "CheckpointPair",
            "InclusionProof", "rfc6962_verifier_key", "TlogProof", "VerifiedTlogProof", "parse_tlog_proof",
            "verify_tlog_proof", "verify_tlog_proof_entry", "WitnessState", "AddCheckpointStatus",
            "AddCheckpointResult", "check_add_checkpoint"]

# Tiled logs: tile paths, lazy plans, the tree of a verified checkpoint and
# the range hashing of a distributed audit (quenfold_log.tiles).
from . import tiles  # noqa: E402,F401
__all__ += ["tiles"]
