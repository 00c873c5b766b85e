"""A cache of computed values bounded by their size in bytes, least recently used
first out, safe to share between the server's worker threads.

Two requests for the same missing value compute it once: the second waits for the
first.  A value larger than the whole budget is handed out but not kept.
"""

from __future__ import annotations

import threading
from collections import OrderedDict
from collections.abc import Callable, Hashable
from typing import Generic, TypeVar

V = TypeVar("V")


class BoundedCache(Generic[V]):
    def __init__(self, budget_bytes: int, size_of: Callable[[V], int]) -> None:
        self._budget = budget_bytes
        self._size_of = size_of
        self._lock = threading.Lock()
        self._values: OrderedDict[Hashable, tuple[V, int]] = OrderedDict()
        self._pending: dict[Hashable, threading.Lock] = {}
        self._used = 0

    @property
    def used_bytes(self) -> int:
        with self._lock:
            return self._used

    def get(self, key: Hashable, compute: Callable[[], V]) -> V:
        """The value for `key`, computed by `compute()` when it is not kept (an
        exception from it reaches the caller and nothing is kept)."""
        while True:
            with self._lock:
                kept = self._values.get(key)
                if kept is not None:
                    self._values.move_to_end(key)
                    return kept[0]
                pending = self._pending.get(key)
                if pending is None:
                    pending = self._pending[key] = threading.Lock()
                    pending.acquire()
                    break
            with pending:  # another thread computes it: wait, then look again
                pass
        try:
            value = compute()
            self._keep(key, value)
        finally:
            with self._lock:
                del self._pending[key]
            pending.release()
        return value

    def _keep(self, key: Hashable, value: V) -> None:
        size = self._size_of(value)
        if size > self._budget:
            return
        with self._lock:
            old = self._values.pop(key, None)
            self._used -= 0 if old is None else old[1]
            self._values[key] = (value, size)
            self._used += size
            while self._used > self._budget:
                _, (_, dropped) = self._values.popitem(last=False)
                self._used -= dropped
