"""Writing a file so that its final name only ever holds a complete file."""

from __future__ import annotations

import os
import secrets
from collections.abc import Callable
from pathlib import Path


class OutputError(Exception):
    """The output file could not be written; the message names it."""


def write_atomically(path: Path, write: Callable[[Path], None]) -> None:
    """Calls `write` with a temporary name beside `path`, then renames the
    result to `path`; on any failure the temporary file goes away and `path`
    is left as it was.  OSError becomes OutputError naming `path`."""
    try:
        temporary = _create_beside(path)
    except OSError as error:
        raise OutputError(f"cannot write {path}: {error.strerror or error}") from None
    try:
        write(temporary)
        os.replace(temporary, path)
    except OSError as error:
        raise OutputError(f"cannot write {path}: {error.strerror or error}") from None
    finally:
        temporary.unlink(missing_ok=True)


def _create_beside(path: Path) -> Path:
    """A new, empty, hidden file in `path`'s directory, created with the usual
    permissions (the process's umask applied), unlike tempfile's owner-only files."""
    while True:
        candidate = path.with_name(f".{path.name}.{secrets.token_hex(4)}.part")
        try:
            os.close(os.open(candidate, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o666))
        except FileExistsError:
            continue
        return candidate
