"""Records and enums that cross the library's boundary.

Enum values are the variant indexes of the serialized form (the first
declared variant is 1); member names are the variant names that appear in
the library's messages.
"""

import enum
from dataclasses import dataclass, field
from typing import List, Optional


class SecurityLevel(enum.Enum):
    Cat3 = 1
    Cat5 = 2


class CheckpointSuite(enum.Enum):
    Hybrid = 1
    HybridMatched = 2
    PureCnsa2 = 3


class CommitmentHash(enum.Enum):
    Sha3_256 = 1
    Sha3_512 = 2


class VrfMode(enum.Enum):
    Classical = 1
    HybridOutput = 2
    PurePqExperimental = 3


class DirectoryMode(enum.Enum):
    Coniks = 1
    Keytrans = 2


class KeytransSuite(enum.Enum):
    QuenfoldHybridExp = 1
    Kt128Sha256Ed25519 = 2
    Kt128Sha256P256 = 3


@dataclass(frozen=True)
class CheckpointHead:
    """A verified checkpoint: log origin, tree size, 32-byte RFC 6962 root at
    that size, and the extension lines in order."""

    origin: str
    size: int
    root: bytes
    extensions: List[str] = field(default_factory=list)


@dataclass(frozen=True)
class SearchResult:
    """Whether the label is present, and its bound value when it is."""

    present: bool
    value: Optional[bytes]


@dataclass(frozen=True)
class PolicyPosture:
    """The security posture a verified namespace policy declares."""

    namespace: str
    policy_schema_version: int
    security_level: SecurityLevel
    checkpoint_suite: CheckpointSuite
    commitment_hash: CommitmentHash
    vrf_mode: VrfMode
    directory_mode: DirectoryMode
    keytrans_suite: KeytransSuite
    effective_from: int
    created_at: int
    policy_hash: bytes
    rfc6962_leaf_hash: bytes
