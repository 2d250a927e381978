"""Objects of the extension library: each holds one handle, released when
the object is collected. Objects are immutable and may be shared between
threads; a call borrows the handle and the library takes its own reference
for the call's duration."""

import threading


def extension_call(export: str, *args):
    """Runs one call of the extension library loaded with the default library."""
    from ._library import default_library
    return default_library().extension_library().call(export, *args)


class Handle:
    """Base of the extension's object classes (generated in ``_extension``)."""

    TYPE = ""

    def __init__(self, *args, **kwargs):
        raise TypeError(f"{type(self).__name__} objects are made by its constructors "
                        f"(for example {type(self).__name__}.parse)")

    @classmethod
    def _from_handle(cls, library, handle: int):
        obj = cls.__new__(cls)
        obj._bind(library, handle)
        return obj

    def _bind(self, library, handle: int) -> None:
        self._library = library
        self._handle = handle
        self._lock = threading.Lock()
        self._in_flight = 0
        self._closing = False

    @classmethod
    def _construct(cls, export: str, *args):
        from ._library import default_library
        library = default_library().extension_library()
        return cls._from_handle(library, library.call(export, *args, wrap=False))

    def _call(self, export: str, *args):
        return self._library.call(export, self, *args)

    def _acquire(self) -> int:
        """The handle, counted as in use until ``_settle``. The library
        copies its own reference at the start of a call, but the handle
        must still be live when the call reads it: a close() from another
        thread in between would otherwise free it under the call."""
        lock = getattr(self, "_lock", None)
        if lock is None:
            raise ValueError(f"this {self.TYPE} was closed")
        with lock:
            if self._closing or not self._handle:
                raise ValueError(f"this {self.TYPE} was closed")
            self._in_flight += 1
            return self._handle

    def _settle(self) -> None:
        """Ends one use begun by ``_acquire``; frees the handle if it was
        closed meanwhile and this was the last call using it."""
        with self._lock:
            self._in_flight -= 1
            handle = 0
            if self._closing and self._in_flight == 0:
                handle, self._handle = self._handle, 0
        if handle:
            self._library.release(self.TYPE, handle)

    def close(self) -> None:
        """Releases the handle now rather than when the object is collected.
        Calls already running on other threads finish first; later calls
        are refused."""
        lock = getattr(self, "_lock", None)
        if lock is None:
            return
        with lock:
            self._closing = True
            handle = 0
            if self._in_flight == 0:
                handle, self._handle = self._handle, 0
        if handle:
            self._library.release(self.TYPE, handle)

    def __del__(self):
        try:
            self.close()
        except Exception:   # interpreter shutdown: nothing left to release into
            pass
