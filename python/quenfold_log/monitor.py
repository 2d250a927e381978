"""Checkpoints bound to an expected origin, verifier keys parsed once, witness
policies, and many proofs under one verified checkpoint: the C++ API's
objects, reached through the extension library (libquenfold_log_ext).

    keys = qf.VerifierKeys(open("keys.txt").read().split())   # raises naming a bad key
    log = qf.CheckpointVerifier("example.com/log", keys)      # or policy=qf.WitnessPolicy.parse(text)
    checkpoint = log.verify(note)                             # .head, .log_signers, .cosigners
    failures = qf.verify_inclusions(checkpoint, [(index, leaf_hash, proof), ...])
    proof = qf.verify_tlog_proof_entry(text, log, entry)      # .index, .extra, .checkpoint
    result = qf.check_add_checkpoint(stored, log, body)       # .status, .reason, .previous, .next

Rejections are ``VerificationError``s whose ``kind`` and ``fields`` come
from the library.
"""

from typing import Iterable, List, Optional, Sequence, Tuple, Union

from . import _extension
from ._extension import (AddCheckpointResult, AddCheckpointStatus, CheckpointPair, InclusionProof,
                         KeyType, OpenedNote, Signer, TlogProof, VerifiedCheckpoint,
                         VerifiedTlogProof, VerifierList, WitnessedNote, WitnessPolicy, WitnessState,
                         check_add_checkpoint, parse_tlog_proof, rfc6962_verifier_key,
                         verify_tlog_proof, verify_tlog_proof_entry)
from ._objects import extension_call
from .errors import VerificationError
from .types import CheckpointHead

__all__ = ["VerifierList", "VerifierKeys", "WitnessPolicy", "CheckpointVerifier", "verify_inclusions",
           "Signer", "KeyType", "OpenedNote", "WitnessedNote", "VerifiedCheckpoint", "CheckpointPair",
           "InclusionProof", "rfc6962_verifier_key", "TlogProof", "VerifiedTlogProof", "parse_tlog_proof",
           "verify_tlog_proof", "verify_tlog_proof_entry", "WitnessState", "AddCheckpointStatus",
           "AddCheckpointResult", "check_add_checkpoint"]

_PARSE = "uniffi_quenfold_log_ext_fn_constructor_verifierlist_parse"


class VerifierKeys(VerifierList):
    """A ``VerifierList`` made from key texts, which it keeps: iterating gives
    the texts, ``names`` their names. A rejected key raises
    ``VerificationError`` (kind MalformedVerifierKey) naming its position
    (from 1), its name and the reason."""

    def __init__(self, vkeys: Iterable[str]):
        keys = tuple(vkeys)
        list_ = VerifierList._construct(_PARSE, list(keys))
        self._bind(list_._library, list_._handle)
        list_._handle = 0   # the handle is this object's now
        self._keys = keys

    def __iter__(self):
        return iter(self._keys)

    def __len__(self) -> int:
        return len(self._keys)

    @property
    def names(self) -> List[str]:
        return [signer.name for signer in self.keys()]


class CheckpointVerifier(_extension.CheckpointVerifier):
    """Checkpoints of one log with the expected ``origin``: signed by one of
    ``keys`` (a ``VerifierList`` or key texts), or meeting ``policy`` (a
    ``WitnessPolicy``: one of its logs named ``origin`` and its quorum of
    cosignatures), or both (every note-signing key of ``keys`` also signs
    for ``origin``). ``verify`` returns a ``VerifiedCheckpoint``, which reads
    like its head (``origin``, ``size``, ``root``) and names its signers."""

    def __init__(self, origin: str, keys: Union[VerifierList, Iterable[str], None] = None,
                 policy: Optional[WitnessPolicy] = None):
        if keys is not None and not isinstance(keys, VerifierList):
            keys = VerifierKeys(keys)
        base = _extension.CheckpointVerifier
        if keys is not None and policy is not None:
            made = base.with_keys_and_policy(origin, keys, policy)
        elif policy is not None:
            made = base.with_policy(origin, policy)
        elif keys is not None:
            made = base.with_keys(origin, keys)
        else:
            raise TypeError("CheckpointVerifier needs keys, a policy or both")
        self._bind(made._library, made._handle)
        made._handle = 0
        self._origin = origin
        self.keys = keys
        self.policy = policy

    # The expected origin, as given (the C++ API's origin()).
    @property
    def origin(self) -> str:
        return self._origin


def _head_of(head: Union[CheckpointHead, VerifiedCheckpoint]) -> CheckpointHead:
    return head.head if isinstance(head, VerifiedCheckpoint) else head


def verify_inclusions(head: Union[CheckpointHead, VerifiedCheckpoint],
                      proofs: Iterable[Union[InclusionProof, Tuple[int, bytes, Sequence[bytes]]]]
                      ) -> List[Optional[VerificationError]]:
    """Each proof (an ``InclusionProof`` or a (leaf_index, leaf_hash, proof)
    tuple) against one already verified head, with no further signature
    check: None where the proof holds, the rejection otherwise."""
    items = [p if isinstance(p, InclusionProof) else InclusionProof(index=p[0], leaf_hash=bytes(p[1]),
                                                                    proof=[bytes(h) for h in p[2]])
             for p in proofs]
    return extension_call("uniffi_quenfold_log_ext_fn_func_verify_inclusions", _head_of(head), items)
