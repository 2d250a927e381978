"""Conveniences that generated records of the extension inherit (named by
their ``python_base`` in tools/metadata-gen/extension.json)."""

from typing import List


class HeadFields:
    """A verified checkpoint reads like its head: ``origin``, ``size``,
    ``root`` and ``extensions`` are the head's."""

    @property
    def origin(self) -> str:
        return self.head.origin

    @property
    def size(self) -> int:
        return self.head.size

    @property
    def root(self) -> bytes:
        return self.head.root

    @property
    def extensions(self) -> List[str]:
        return self.head.extensions


class PairFields:
    """Two checkpoints unpack as ``older, newer``."""

    def __iter__(self):
        return iter((self.older, self.newer))
