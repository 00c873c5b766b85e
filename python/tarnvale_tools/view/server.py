"""Serving the viewer: the listening socket, the address with its token, the
browser, and a clean stop on Ctrl-C (or SIGTERM)."""

from __future__ import annotations

import contextlib
import ipaddress
import signal
import socket
import threading
import time
import webbrowser
from collections.abc import Iterator, Sequence
from dataclasses import dataclass
from typing import TextIO

import uvicorn

from .app import create_app
from .security import new_token
from .served import ServedRun

LOOPBACK = "127.0.0.1"
# Requests still running when the server is asked to stop get this long to finish.
GRACEFUL_STOP_S = 5
START_WAIT_S = 60.0


@dataclass(frozen=True, slots=True)
class ServeOptions:
    paths: Sequence[str]
    host: str | None = None  # None: the loopback address only
    port: int = 0  # 0: any free port
    open_browser: bool = True
    cache_bytes: int = 512 * 1024 * 1024


class ServeError(Exception):
    """The server cannot start: a run cannot be opened, or the address cannot be used."""


def serve(options: ServeOptions, out: TextIO, err: TextIO) -> int:
    """Serves until interrupted; 0 after a clean stop, 1 when the server cannot start."""
    try:
        runs = [ServedRun(index, path, options.cache_bytes) for index, path in enumerate(options.paths)]
        listener = listen(options.host or LOOPBACK, options.port)
    except (ServeError, RuntimeError) as error:
        print(f"tarnvale view: error: {error}", file=err)
        return 1
    token = new_token()
    address = listener.getsockname()
    url = page_url(address[0], address[1], token)
    names = ", ".join(run.name for run in runs)
    # The server stops on SIGINT and SIGTERM and passes the signal on once stopped;
    # one arriving before it starts stops it as well.
    with listener, contextlib.suppress(KeyboardInterrupt, Stopped), stop_on_sigterm():
        if not ipaddress.ip_address(address[0]).is_loopback:
            print(f"tarnvale view: warning: listening on {address[0]}, reachable from other machines; "
                  "anyone who learns the address below can read these runs", file=err, flush=True)
        config = uvicorn.Config(create_app(runs, token), log_level="warning", access_log=False, lifespan="off",
                                timeout_graceful_shutdown=GRACEFUL_STOP_S)
        server = uvicorn.Server(config)
        announcement = Announcement(server, f"tarnvale view: serving {names} at\n  {url}\nPress Ctrl-C to stop.",
                                    url if options.open_browser else None, out, err)
        threading.Thread(target=announcement.when_started, daemon=True).start()
        server.run(sockets=[listener])
    print("tarnvale view: stopped", file=out, flush=True)
    return 0


@dataclass(frozen=True, slots=True)
class Announcement:
    """What is said (and opened) once the server accepts requests, and not before."""

    server: uvicorn.Server
    text: str
    browse: str | None
    out: TextIO
    err: TextIO

    def when_started(self) -> None:
        deadline = time.monotonic() + START_WAIT_S
        while not self.server.started:
            if time.monotonic() > deadline or self.server.should_exit:
                return
            time.sleep(0.02)
        print(self.text, file=self.out, flush=True)
        if self.browse is None:
            return
        try:
            opened = webbrowser.open(self.browse)
        except webbrowser.Error:
            opened = False
        if not opened:
            print("tarnvale view: no browser found: open the address above in one", file=self.err, flush=True)


class Stopped(Exception):
    """SIGTERM arrived after the server had stopped."""


@contextlib.contextmanager
def stop_on_sigterm() -> Iterator[None]:
    """SIGTERM raises Stopped instead of ending the process, so that it ends as cleanly as Ctrl-C."""
    if threading.current_thread() is not threading.main_thread():
        yield
        return

    def stop(signum: int, frame: object) -> None:
        raise Stopped

    previous = signal.signal(signal.SIGTERM, stop)
    try:
        yield
    finally:
        signal.signal(signal.SIGTERM, previous)


def listen(host: str, port: int) -> socket.socket:
    """A listening socket on the first address `host` resolves to."""
    try:
        family, kind, protocol, _, address = socket.getaddrinfo(host, port, type=socket.SOCK_STREAM)[0]
    except (OSError, UnicodeError) as error:
        raise ServeError(f"cannot listen on {host}: {getattr(error, 'strerror', None) or error}") from None
    listener = socket.socket(family, kind, protocol)
    try:
        listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        listener.bind(address)
        listener.listen(128)
    except OSError as error:
        listener.close()
        raise ServeError(f"cannot listen on {host} port {port}: {error.strerror or error}") from None
    return listener


def page_url(host: str, port: int, token: str) -> str:
    """The page's address; an unspecified address (all interfaces) is reached through loopback."""
    ip = ipaddress.ip_address(host)
    if ip.is_unspecified:
        ip = ipaddress.ip_address("::1" if ip.version == 6 else LOOPBACK)
    shown = f"[{ip}]" if ip.version == 6 else str(ip)
    return f"http://{shown}:{port}/?token={token}"
