"""`tarnvale view` at the command line: the address it prints, the browser it opens,
a clean stop on Ctrl-C, and one-line errors."""

from __future__ import annotations

import json
import os
import signal
import socket
import subprocess
import sys
import urllib.request
from pathlib import Path
from typing import Any

import pytest
import samples

pytest.importorskip("fastapi")
from tarnvale_tools.cli import main  # noqa: E402


@pytest.fixture
def run_path(write_raw: Any) -> str:
    return write_raw(samples.sample())


def start_view(run: str, *args: str, env: dict[str, str] | None = None) -> tuple[subprocess.Popen[str], str]:
    """`tarnvale view RUN ARGS` in a new interpreter; the process and the address it printed."""
    import tarnvale

    environment = dict(os.environ if env is None else env)
    environment["PYTHONPATH"] = os.path.dirname(os.path.abspath(tarnvale.__file__))
    process = subprocess.Popen(
        [sys.executable, "-m", "tarnvale_tools", "view", run, *args],
        stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=environment,
    )
    assert process.stdout is not None
    lines = [process.stdout.readline() for _ in range(3)]
    assert lines[0] == "tarnvale view: serving sample.raw at\n" and lines[2] == "Press Ctrl-C to stop.\n", lines
    return process, lines[1].strip()


@pytest.mark.parametrize(
    ("host", "shown", "warning"),
    [(None, ("127.0.0.1",), False), ("0.0.0.0", ("127.0.0.1",), True), ("localhost", ("127.0.0.1", "[::1]"), False)],
)
def test_serves_until_ctrl_c(
    run_path: str, tmp_path: Path, host: str | None, shown: tuple[str, ...], warning: bool
) -> None:
    # The browser it opens is a script that writes down the address it was given.
    opened = tmp_path / "opened.txt"
    browser = tmp_path / "browser.py"
    browser.write_text(f"import sys; open({str(opened)!r}, 'w').write(sys.argv[1])\n")
    env = {**os.environ, "BROWSER": f"{sys.executable} {browser} %s"}
    process, url = start_view(run_path, *(["--host", host] if host else []), env=env)
    try:
        assert url.split("/")[2].rsplit(":", 1)[0] in shown and "/?token=" in url
        token = url.split("token=")[1]
        assert len(token) >= 32
        with urllib.request.urlopen(url.replace("/?", "/api/runs?")) as response:
            assert json.load(response)["runs"][0]["name"] == "sample.raw"
        with pytest.raises(urllib.error.HTTPError, match="403"):
            urllib.request.urlopen(url.replace(token, token[::-1]).replace("/?", "/api/runs?"))
        process.send_signal(signal.SIGINT)
        out, err = process.communicate(timeout=30)
    finally:
        process.kill()
        process.wait()
    assert (process.returncode, out) == (0, "tarnvale view: stopped\n")
    assert ("warning: listening on 0.0.0.0" in err) == warning
    assert opened.read_text() == url


def test_no_browser_and_sigterm(run_path: str, tmp_path: Path) -> None:
    opened = tmp_path / "opened.txt"
    env = {**os.environ, "BROWSER": f"touch {opened}"}
    process, _ = start_view(run_path, "--no-browser", env=env)
    try:
        process.send_signal(signal.SIGTERM)
        out, err = process.communicate(timeout=30)
    finally:
        process.kill()
        process.wait()
    assert (process.returncode, out, opened.exists()) == (0, "tarnvale view: stopped\n", False)


def view(capsys: Any, *args: str) -> tuple[int, str]:
    try:
        status = main(["view", *args, "--no-browser"])
    except SystemExit as exit_:  # argparse rejects the arguments
        status = int(exit_.code or 0)
    return status, capsys.readouterr().err


def test_bad_input(run_path: str, tmp_path: Path, capsys: Any) -> None:
    with socket.create_server(("127.0.0.1", 0)) as busy:
        port = busy.getsockname()[1]
        cases = [
            ([str(tmp_path / "none.raw")], 1, f"tarnvale view: error: '{tmp_path}/none.raw' is not a directory"),
            ([run_path, "--port", str(port)], 1,
             f"tarnvale view: error: cannot listen on 127.0.0.1 port {port}: Address already in use"),
            ([run_path, "--host", "no.such.host.invalid"], 1, "tarnvale view: error: cannot listen on no.such.host.invalid: "),
            ([run_path, "--port", "70000"], 2, "argument --port: must be a port number (0 to 65535), not '70000'"),
            ([], 2, "the following arguments are required: RUN.raw"),
        ]
        for args, status, message in cases:
            code, err = view(capsys, *args)
            assert code == status and message in err.splitlines()[-1], (args, err)


def test_without_the_view_extra(run_path: str, run_fresh: Any) -> None:
    code = """
        import sys
        sys.modules["fastapi"] = None  # importing it fails
        import tarnvale_tools.cli
        sys.exit(tarnvale_tools.cli.main(["view", sys.argv[1]]))
    """
    done = run_fresh(code, run_path)
    assert (done.returncode, done.stderr) == (2, "tarnvale view needs fastapi, uvicorn and plotly: pip install 'tarnvale[view]'\n")
