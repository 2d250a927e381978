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


# The HTTP status of each AddCheckpointStatus variant, in variant order.
_HTTP_STATUS = (200, 400, 403, 404, 409, 422)
# The latest time a cosignature/v1 line can carry (C2SP tlog-cosignature:
# the timestamp MUST NOT exceed 2^63 - 1).
_MAX_COSIGNATURE_TIME = (1 << 63) - 1


class AddCheckpointFields:
    """An add-checkpoint result's response: ``http_status`` as a number,
    for 409 the size the response body states (``stored_size``) and the
    body itself (``conflict_body``, text/x.tlog.size), and for 200 the
    message a witness's cosignature/v1 key signs."""

    @property
    def http_status(self) -> int:
        return _HTTP_STATUS[self.status.value - 1]

    @property
    def stored_size(self) -> int:
        """The stored size, 0 when nothing is stored."""
        return self.previous.size if self.previous is not None else 0

    @property
    def conflict_body(self) -> str:
        """``"<stored size>\\n"`` for a 409, empty for any other status."""
        return f"{self.stored_size}\n" if self.http_status == 409 else ""

    def cosignature_v1_message(self, timestamp: int) -> str:
        """200 only: ``"cosignature/v1\\ntime <timestamp>\\n"`` followed by the
        checkpoint body (C2SP tlog-cosignature). Empty for any other status
        and for a time such a line cannot carry (0, or above 2^63 - 1)."""
        if self.http_status != 200 or not 0 < timestamp <= _MAX_COSIGNATURE_TIME:
            return ""
        return f"cosignature/v1\ntime {timestamp}\n{self.checkpoint_body}"
