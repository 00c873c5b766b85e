"""The examples of README.md and docs/*.md that show output, run on the demo runs and
compared with what the pages show, so that the documentation cannot drift from the code.

A ```text block is a shell transcript: each `$ COMMAND` line runs (`tarnvale ...` as
`python -m tarnvale_tools ...`, `python3 ...` on this interpreter) in a directory whose
build/demo and build/demo-mzml hold what `make demo` writes there, and the lines up to
the next `$ ` are its output (stdout and stderr), where `...` stands for any text. A
command must succeed unless the next command is `echo $?`, which shows its status. A
trailing `# folded` compares without white space (output shown with its lines joined
differently); `# not run` leaves the command out. A ```pycon block is a Python session
run by doctest, going on from the page's earlier sessions, with `...` for any text.
"""

from __future__ import annotations

import doctest
import os
import re
import shlex
import subprocess
import sys
from collections.abc import Iterator
from dataclasses import dataclass
from pathlib import Path

import pytest
from rawfixture import write_demo

TOP = Path(__file__).resolve().parents[2]
PAGES = [TOP / "README.md", *sorted((TOP / "docs").glob("*.md"))]
FENCE = re.compile(r"^(\s*)```(\w*)\s*$")
MARKER = re.compile(r"\s+#\s*(folded|not run)\b[^#]*$")
STATUS = "echo $?"


@dataclass
class Example:
    where: str  # page:line, the example's test id
    kind: str  # "shell" or "pycon"
    source: str  # the command, or the session's text
    expected: str = ""
    marker: str | None = None  # "folded", "not run" or None
    shows_status: str | None = None  # the status an `echo $?` after the command shows
    setup: str = ""  # a session's earlier blocks on the page, which it continues


def fenced_blocks(page: Path) -> Iterator[tuple[str, int, list[str]]]:
    """(info string, number of the block's first line, lines) of each fenced block, unindented."""
    lines = page.read_text(encoding="utf-8").splitlines()
    i = 0
    while i < len(lines):
        opening = FENCE.match(lines[i])
        if opening is None:
            i += 1
            continue
        indent, info = opening.groups()
        end = next((j for j in range(i + 1, len(lines)) if lines[j].strip() == "```"), len(lines))
        yield info, i + 2, [line.removeprefix(indent) for line in lines[i + 1 : end]]
        i = end + 1


def transcript(page: str, first_line: int, lines: list[str]) -> list[Example]:
    """The commands of a shell transcript with their output; an `echo $?` joins the command before it."""
    if not lines or not lines[0].startswith("$ "):
        return [Example(f"{page}:{first_line}", "shell", "", "a text block must be a transcript starting with `$ `")]
    found: list[Example] = []
    for number, line in enumerate(lines, start=first_line):
        if not line.startswith("$ "):
            last = found[-1]
            if last.shows_status is None:
                last.expected += line + "\n"
            else:
                last.shows_status = (last.shows_status + line).strip()
            continue
        command = line[2:].strip()
        if command == STATUS and found:
            found[-1].shows_status = ""
            continue
        marker = MARKER.search(command)
        found.append(Example(f"{page}:{number}", "shell", command[: marker.start()] if marker else command,
                             marker=marker.group(1) if marker else None))
    return found


def page_examples(page: Path) -> list[Example]:
    name = str(page.relative_to(TOP))
    found: list[Example] = []
    for info, line, lines in fenced_blocks(page):
        if info == "text":
            found += transcript(name, line, lines)
        elif info == "pycon":
            earlier = "".join(e.source for e in found if e.kind == "pycon")
            found.append(Example(f"{name}:{line}", "pycon", "\n".join(lines) + "\n", setup=earlier))
    return found


EXAMPLES = [example for page in PAGES for example in page_examples(page)]


def matches(expected: str, got: str, folded: bool = False) -> bool:
    """Whether output agrees with what a page shows: `...` for any text, blank lines at
    either end and white space at line ends ignored; folded, all white space ignored."""
    want, have = (_normal(text, folded) for text in (expected, got))
    return doctest.OutputChecker().check_output(want, have, doctest.ELLIPSIS)


def _normal(text: str, folded: bool) -> str:
    if folded:
        return re.sub(r"\s+", "", text) + "\n"
    return "\n".join(line.rstrip() for line in text.strip("\n").splitlines()) + "\n"


@pytest.fixture(scope="module")
def demo_dir(tmp_path_factory: pytest.TempPathFactory) -> Path:
    """A directory laid out as `make demo` leaves the checkout: build/demo, build/demo-mzml,
    and the examples and scripts beside them."""
    import tarnvale_tools

    work = tmp_path_factory.mktemp("docs")
    runs = write_demo(work / "build" / "demo")
    outcomes = tarnvale_tools.convert_many([str(p) for p in runs], work / "build" / "demo-mzml", jobs=2)
    assert all(o.ok for o in outcomes), [o.error for o in outcomes]
    for name in ("examples", "scripts"):
        (work / name).symlink_to(TOP / name)
    return work


def argv(command: str) -> list[str]:
    words = shlex.split(command)
    if words[0] == "tarnvale":
        return [sys.executable, "-m", "tarnvale_tools", *words[1:]]
    if words[0] in ("python", "python3"):
        return [sys.executable, *words[1:]]
    raise AssertionError(f"the test does not know how to run {words[0]!r}")


def run_shell(example: Example, cwd: Path) -> None:
    env = dict(os.environ, PYTHONIOENCODING="utf-8")
    done = subprocess.run(argv(example.source), cwd=cwd, env=env, stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, text=True, timeout=120)
    shown_status = "0" if example.shows_status is None else example.shows_status
    assert str(done.returncode) == shown_status, f"$ {example.source}\nexit status {done.returncode}:\n{done.stdout}"
    assert matches(example.expected, done.stdout, example.marker == "folded"), (
        f"$ {example.source}\n--- shown\n{example.expected}--- printed\n{done.stdout}"
    )


def run_pycon(example: Example, cwd: Path, monkeypatch: pytest.MonkeyPatch) -> None:
    """Runs the page's earlier sessions first (their failures are their own tests'),
    since a reader's session goes on from block to block."""
    monkeypatch.chdir(cwd)
    parser = doctest.DocTestParser()
    earlier = parser.get_doctest(example.setup, {}, example.where, example.where, 0)
    doctest.DocTestRunner().run(earlier, out=lambda _: None, clear_globs=False)
    test = parser.get_doctest(example.source, earlier.globs, example.where, example.where, 0)
    report: list[str] = []
    result = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS).run(test, out=report.append)
    assert result.failed == 0, "".join(report)


@pytest.mark.parametrize("example", EXAMPLES, ids=[e.where for e in EXAMPLES])
def test_example_prints_what_the_page_shows(example: Example, demo_dir: Path, monkeypatch: pytest.MonkeyPatch) -> None:
    if example.kind == "shell" and not example.source:
        pytest.fail(example.expected)
    if example.marker == "not run":
        pytest.skip("marked as not run on the page")
    if example.kind == "shell":
        run_shell(example, demo_dir)
    else:
        run_pycon(example, demo_dir, monkeypatch)


# What the comparison must tell apart; a lenient comparison would let every page drift.
@pytest.mark.parametrize(
    ("shown", "printed", "folded", "agree"),
    [
        ("m/z 785.8426, intensity 3100\n", "m/z 785.8426, intensity 3100\n", False, True),
        ("m/z 785.8426, intensity 3100\n", "m/z 785.8426, intensity 3101\n", False, False),
        ("wrote ... (9 spectra)\n", "wrote /tmp/x/sample.mzML (9 spectra)\n", False, True),
        ("first\n...\nlast\n", "first\nsecond\nthird\nlast\n", False, True),
        ("first\n...\nlast\n", "first\nsecond\n", False, False),
        ("a\nb\n", "a\nb\nc\n", False, False),
        ('{"a": 1, ..., "c": 3}\n', '{\n  "a": 1,\n  "b": 2,\n  "c": 3\n}\n', True, True),
        ('{"a": 1, ..., "c": 3}\n', '{\n  "a": 1,\n  "b": 2,\n  "c": 4\n}\n', True, False),
        ('{"a": 1}\n', '{\n  "a": 1\n}\n', False, False),
    ],
)
def test_comparison(shown: str, printed: str, folded: bool, agree: bool) -> None:
    assert matches(shown, printed, folded) is agree


def test_transcripts_split_into_commands() -> None:
    lines = ["$ tarnvale info x.raw --json   # folded", "{}", "$ tarnvale info y.raw", "$ echo $?", "1"]
    found = transcript("p", 1, lines)
    assert [(e.source, e.expected, e.marker, e.shows_status) for e in found] == [
        ("tarnvale info x.raw --json", "{}\n", "folded", None),
        ("tarnvale info y.raw", "", None, "1"),
    ]
