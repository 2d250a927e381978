"""Python binding of libquenfold_log, the key-transparency verification library.

Pure Python over ctypes. The library is found on first use: the copy
bundled with the installed wheel, else the file named by the
``QUENFOLD_LOG_LIBRARY`` environment variable, else the system's
``libquenfold_log``; ``quenfold_log.load(path)`` picks one explicitly. On load
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

from typing import List, Optional, Sequence

from ._library import (CATALOGUE, CONTRACT_VERSION, ENV_VARIABLE, Library, default_library,
                       find_library, load)
from ._version import __version__
from .errors import (ErrorKind, InternalError, LibraryMismatch, LibraryNotFound,
                     VerificationError, VerifyError)
from .types import (CheckpointHead, CheckpointSuite, CommitmentHash, DirectoryMode,
                    KeytransSuite, PolicyPosture, SearchResult, SecurityLevel, VrfMode)

__all__ = [
    "__version__", "load", "find_library", "Library", "CATALOGUE", "CONTRACT_VERSION",
    "ENV_VARIABLE", "VerifyError", "VerificationError", "InternalError", "LibraryMismatch",
    "LibraryNotFound", "ErrorKind",
    "CheckpointHead", "SearchResult", "PolicyPosture", "SecurityLevel", "CheckpointSuite",
    "CommitmentHash", "VrfMode", "DirectoryMode", "KeytransSuite",
] + list(CATALOGUE)


def _call(op: str, *args):
    return default_library().call(op, *args)


# ---- RFC 6962 proofs ---------------------------------------------------------

def verify_inclusion(index: int, size: int, leaf_hash: bytes, proof: Sequence[bytes],
                     root: bytes) -> None:
    """Succeeds exactly when the leaf at ``index`` of a tree of ``size`` leaves is
    included under ``root``; ``leaf_hash``, ``root`` and each proof element are
    32-byte SHA-256 hashes, ``proof`` is the audit path."""
    _call("verify_inclusion", index, size, leaf_hash, proof, root)


def verify_consistency(size1: int, size2: int, proof: Sequence[bytes], root1: bytes,
                       root2: bytes) -> None:
    """Succeeds exactly when the ``size2`` tree with ``root2`` is an append-only
    extension of the ``size1`` tree with ``root1``."""
    _call("verify_consistency", size1, size2, proof, root1, root2)


# ---- key history --------------------------------------------------------------

def key_history_v1_canonical_bytes(seq: int, ts_ms: int, enc_x25519: bytes, enc_pq: bytes,
                                   signing_pub: bytes,
                                   prev_entry_hash: Optional[bytes]) -> bytes:
    """The canonical leaf bytes of a key-history v1 entry; a missing or empty
    ``prev_entry_hash`` marks the genesis entry."""
    return _call("key_history_v1_canonical_bytes", seq, ts_ms, enc_x25519, enc_pq,
                 signing_pub, prev_entry_hash)


def key_history_v1_entry_hash(seq: int, ts_ms: int, enc_x25519: bytes, enc_pq: bytes,
                              signing_pub: bytes, prev_entry_hash: Optional[bytes]) -> bytes:
    """The 64-byte SHA3-512 chain hash of the entry under "brackle/key-history/v1"."""
    return _call("key_history_v1_entry_hash", seq, ts_ms, enc_x25519, enc_pq, signing_pub,
                 prev_entry_hash)


def key_history_entry_hash_with_context(context: str, seq: int, ts_ms: int, enc_x25519: bytes,
                                        enc_pq: bytes, signing_pub: bytes,
                                        prev_entry_hash: Optional[bytes]) -> bytes:
    """The 64-byte chain hash under the caller's context label."""
    return _call("key_history_entry_hash_with_context", context, seq, ts_ms, enc_x25519, enc_pq,
                 signing_pub, prev_entry_hash)


def key_history_v1_rfc6962_leaf_hash(seq: int, ts_ms: int, enc_x25519: bytes, enc_pq: bytes,
                                     signing_pub: bytes,
                                     prev_entry_hash: Optional[bytes]) -> bytes:
    """SHA-256 of 0x00 followed by the canonical bytes, for verify_inclusion."""
    return _call("key_history_v1_rfc6962_leaf_hash", seq, ts_ms, enc_x25519, enc_pq,
                 signing_pub, prev_entry_hash)


# ---- signed notes and checkpoints ---------------------------------------------

def verify_signed_note(note_text: str, vkeys: Sequence[str]) -> int:
    """Verifies a signed note against trusted verifier keys; returns the number
    of trusted signature lines that verified (at least 1)."""
    return _call("verify_signed_note", note_text, vkeys)


def checkpoint_verify(note_text: str, vkeys: Sequence[str]) -> CheckpointHead:
    """Verifies a signed checkpoint note and returns its head."""
    return _call("checkpoint_verify", note_text, vkeys)


def checkpoint_parse(body_text: str) -> CheckpointHead:
    """Parses an already trusted checkpoint body, with no signature check."""
    return _call("checkpoint_parse", body_text)


def checkpoint_verify_inclusion(note_text: str, vkeys: Sequence[str], leaf_index: int,
                                leaf_hash: bytes, proof: Sequence[bytes]) -> None:
    """Verifies the checkpoint note, then the inclusion proof against its size and root."""
    _call("checkpoint_verify_inclusion", note_text, vkeys, leaf_index, leaf_hash, proof)


def checkpoint_verify_consistency(older_note: str, newer_note: str, vkeys: Sequence[str],
                                  proof: Sequence[bytes]) -> None:
    """Verifies both checkpoint notes and that they are consistent views of one log."""
    _call("checkpoint_verify_consistency", older_note, newer_note, vkeys, proof)


# ---- CONIKS directory and commitments ------------------------------------------

def coniks_verify_lookup(namespace: str, vrf_public: bytes, root: bytes, identity: bytes,
                         proof: bytes) -> bytes:
    """Verifies a presence proof against a 64-byte directory root; returns the value."""
    return _call("coniks_verify_lookup", namespace, vrf_public, root, identity, proof)


def coniks_verify_absence(namespace: str, vrf_public: bytes, root: bytes, identity: bytes,
                          proof: bytes) -> None:
    """Succeeds exactly when ``identity`` is provably absent under ``root``."""
    _call("coniks_verify_absence", namespace, vrf_public, root, identity, proof)


def verify_commitment(context: str, commitment: bytes, value: bytes, opening: bytes) -> None:
    """Succeeds exactly when the 64-byte ``commitment`` is the context-bound
    SHA3-512 of the 32-byte ``opening`` followed by ``value``."""
    _call("verify_commitment", context, commitment, value, opening)


# ---- namespace policies ----------------------------------------------------------

def signed_policy_verify(envelope: bytes) -> PolicyPosture:
    """Verifies a signed namespace policy envelope; returns the declared posture."""
    return _call("signed_policy_verify", envelope)


def policy_enforce_checkpoint_signing_key(envelope: bytes, public_key: str) -> None:
    """Succeeds exactly when the policy declares this checkpoint signing key token."""
    _call("policy_enforce_checkpoint_signing_key", envelope, public_key)


def policy_enforce_checkpoint_signature(envelope: bytes, signature: str) -> None:
    """Succeeds exactly when the signature token matches the declared checkpoint suite."""
    _call("policy_enforce_checkpoint_signature", envelope, signature)


def policy_enforce_vrf_suite_id(envelope: bytes, observed_suite_id: int) -> None:
    """Succeeds exactly when the policy declares this directory VRF suite id."""
    _call("policy_enforce_vrf_suite_id", envelope, observed_suite_id)


def policy_enforce_commitment_hash(envelope: bytes, observed: CommitmentHash) -> None:
    """Succeeds exactly when the policy declares this commitment hash."""
    _call("policy_enforce_commitment_hash", envelope, observed)


def policy_enforce_directory_backend(envelope: bytes, observed_backend_id: int) -> None:
    """Succeeds exactly when the policy declares this 16-bit directory backend id."""
    _call("policy_enforce_directory_backend", envelope, observed_backend_id)


# ---- KEYTRANS directory --------------------------------------------------------------

def keytrans_verify_search(context: str, vrf_public: bytes, root: bytes, label: bytes,
                           proof: bytes) -> SearchResult:
    """Verifies a greatest-version search proof under the experimental suite."""
    return _call("keytrans_verify_search", context, vrf_public, root, label, proof)


def keytrans_verify_fixed_version(context: str, vrf_public: bytes, root: bytes, label: bytes,
                                  proof: bytes) -> SearchResult:
    """Verifies a fixed-version search proof under the experimental suite."""
    return _call("keytrans_verify_fixed_version", context, vrf_public, root, label, proof)


def keytrans_verify_monitor(context: str, vrf_public: bytes, root: bytes, label: bytes,
                            proof: bytes) -> None:
    """Verifies a monitoring proof under the experimental suite."""
    _call("keytrans_verify_monitor", context, vrf_public, root, label, proof)


def keytrans_verify_search_suite(suite_id: int, context: str, vrf_public: bytes, root: bytes,
                                 label: bytes, proof: bytes) -> SearchResult:
    """keytrans_verify_search under the given 16-bit suite id."""
    return _call("keytrans_verify_search_suite", suite_id, context, vrf_public, root, label,
                 proof)


def keytrans_verify_fixed_version_suite(suite_id: int, context: str, vrf_public: bytes,
                                        root: bytes, label: bytes,
                                        proof: bytes) -> SearchResult:
    """keytrans_verify_fixed_version under the given 16-bit suite id."""
    return _call("keytrans_verify_fixed_version_suite", suite_id, context, vrf_public, root,
                 label, proof)


def keytrans_verify_monitor_suite(suite_id: int, context: str, vrf_public: bytes, root: bytes,
                                  label: bytes, proof: bytes) -> None:
    """keytrans_verify_monitor under the given 16-bit suite id."""
    _call("keytrans_verify_monitor_suite", suite_id, context, vrf_public, root, label, proof)


# ---- compositions: origin-bound checkpoints, keys checked once ---------------------

from .monitor import CheckpointVerifier, VerifierKeys, verify_inclusions  # noqa: E402

__all__ += ["CheckpointVerifier", "VerifierKeys", "verify_inclusions"]
