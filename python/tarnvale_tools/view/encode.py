"""Response bodies as JSON bytes.  Arrays are written by the extension straight
from the core's buffers (``_core.json_array``): each number the shortest text that
reads back to the same double, as ``json.dumps`` would write it, a float32 as its
value widened to double, and NaN or an infinity as null.  Everything else goes
through ``json.dumps`` with the same rule for non-finite numbers.
"""

from __future__ import annotations

import json
import math
from collections.abc import Mapping, Sequence
from typing import Any

from .. import _core


class Array:
    """An array to write into a body: `values` (a one-dimensional buffer), or only
    `values[picks]` when `picks` (uint64 indices) is given."""

    __slots__ = ("picks", "values")

    def __init__(self, values: memoryview[Any], picks: memoryview[Any] | None = None) -> None:
        self.values = values
        self.picks = picks

    def text(self) -> bytes:
        return _core.json_array(self.values, self.picks)


class Rows:
    """A list of arrays, written as a JSON array of arrays."""

    __slots__ = ("arrays",)

    def __init__(self, arrays: Sequence[Array]) -> None:
        self.arrays = arrays

    def text(self) -> bytes:
        return b"[" + b",".join(array.text() for array in self.arrays) + b"]"


def finite_or_none(value: Any) -> Any:
    """`value` with every non-finite float in it (also in dicts and lists) replaced by None."""
    if isinstance(value, float):
        return value if math.isfinite(value) else None
    if isinstance(value, dict):
        return {key: finite_or_none(item) for key, item in value.items()}
    if isinstance(value, (list, tuple)):
        return [finite_or_none(item) for item in value]
    return value


def body(fields: Mapping[str, Any]) -> bytes:
    """A JSON object of `fields`, whose values are plain JSON values, Array, Rows,
    or lists of such objects (dicts) in turn."""
    return _value(fields)


def _value(value: Any) -> bytes:
    if isinstance(value, (Array, Rows)):
        return value.text()
    if isinstance(value, Mapping):
        items = (json.dumps(str(key)).encode() + b":" + _value(item) for key, item in value.items())
        return b"{" + b",".join(items) + b"}"
    if isinstance(value, (list, tuple)) and any(isinstance(item, (Array, Rows, Mapping)) for item in value):
        return b"[" + b",".join(_value(item) for item in value) + b"]"
    return json.dumps(finite_or_none(value), separators=(",", ":"), allow_nan=False).encode()
