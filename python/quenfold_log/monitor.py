"""Checkpoints bound to an expected origin, verifier keys checked once, and
many proofs under one verified checkpoint, composed from the exported
operations.

    keys = qf.VerifierKeys(open("keys.txt").read().split())   # raises naming a bad key
    log = qf.CheckpointVerifier("example.com/log", keys)
    head = log.verify(note)                                   # one signature check
    failures = qf.verify_inclusions(head, [(index, leaf_hash, proof), ...])
"""

from typing import Iterable, List, Optional, Sequence, Tuple

from .errors import VerificationError
from .types import CheckpointHead

NO_TRUSTED_SIGNATURE = "note has no verifiable signature from a trusted key"
_KEY_PREFIX = "malformed signed note: "
# A well-formed note signed only by a key no list contains: verifying it
# parses the keys, then fails with NO_TRUSTED_SIGNATURE.
_PROBE_NOTE = "probe\n\n\u2014 quenfold-log.io/probe AAAAAAA=\n"


def _quoted(text: str) -> str:
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


class VerifierKeys:
    """Trusted verifier keys, each checked once when the list is made; a
    rejected key raises ``VerificationError`` naming its position (from 1),
    its name and the reason. The list is immutable and reusable."""

    def __init__(self, vkeys: Iterable[str]):
        from . import verify_signed_note
        keys = tuple(vkeys)
        for position, key in enumerate(keys, 1):
            try:
                verify_signed_note(_PROBE_NOTE, [key])
            except VerificationError as e:
                if e.message == NO_TRUSTED_SIGNATURE:
                    continue
                reason = e.message[len(_KEY_PREFIX):] if e.message.startswith(_KEY_PREFIX) else e.message
                name = key.split("+", 1)[0]
                raise VerificationError(f"verifier key {position} {_quoted(name)}: {reason}") from None
        self._keys = keys

    def __iter__(self):
        return iter(self._keys)

    def __len__(self) -> int:
        return len(self._keys)

    @property
    def names(self) -> List[str]:
        return [k.split("+", 1)[0] for k in self._keys]


class CheckpointVerifier:
    """Checkpoints of one log: signed by one of ``keys`` and carrying exactly
    ``origin``; any other origin raises ``VerificationError``."""

    def __init__(self, origin: str, keys: VerifierKeys):
        self.origin = origin
        self.keys = keys if isinstance(keys, VerifierKeys) else VerifierKeys(keys)

    def verify(self, note_text: str) -> CheckpointHead:
        from . import checkpoint_verify
        head = checkpoint_verify(note_text, list(self.keys))
        if head.origin != self.origin:
            raise VerificationError(
                f"checkpoint origin mismatch: got {_quoted(head.origin)}, want {_quoted(self.origin)}")
        return head

    def verify_inclusion(self, note_text: str, leaf_index: int, leaf_hash: bytes,
                         proof: Sequence[bytes]) -> CheckpointHead:
        """The verified head, once the leaf is proven included under it."""
        from . import verify_inclusion
        head = self.verify(note_text)
        verify_inclusion(leaf_index, head.size, leaf_hash, proof, head.root)
        return head

    def verify_consistency(self, older_note: str, newer_note: str,
                           proof: Sequence[bytes]) -> Tuple[CheckpointHead, CheckpointHead]:
        """Both verified heads, once the newer tree is proven to extend the older."""
        from . import verify_consistency
        older = self.verify(older_note)
        newer = self.verify(newer_note)
        verify_consistency(older.size, newer.size, proof, older.root, newer.root)
        return older, newer


def verify_inclusions(head: CheckpointHead,
                      proofs: Iterable[Tuple[int, bytes, Sequence[bytes]]]) -> List[Optional[VerificationError]]:
    """Each (leaf_index, leaf_hash, proof) against one already verified head, with
    no further signature check: None where the proof holds, the rejection otherwise."""
    from . import verify_inclusion
    out: List[Optional[VerificationError]] = []
    for index, leaf_hash, proof in proofs:
        try:
            verify_inclusion(index, head.size, leaf_hash, proof, head.root)
            out.append(None)
        except VerificationError as e:
            out.append(e)
    return out
