"""The command line's options of peak picking and lock-mass correction, in one place
for ``convert``, ``info`` and ``plot``: they are added to a parser here and turned into
the keywords of :class:`tarnvale_tools.Processing` here, and a value the reader would
refuse is found before any run is read (one line, exit status 2)."""

from __future__ import annotations

import argparse
from typing import Any

EXIT_USAGE = 2


def add_lock_mass_arguments(parser: argparse.ArgumentParser, what: str) -> None:
    """--lock-mass, --lock-mass-tolerance, --lock-mass-function; `what` says what the
    reference is used for."""
    names = "leu-enk, leu-enk-neg or glu-fib"
    parser.add_argument("--lock-mass", metavar="MZ|NAME", help=f"{what}: the reference m/z, or {names}")
    parser.add_argument("--lock-mass-tolerance", type=_number, metavar="DA",
                        help="how far from the reference a lock scan's peak may lie (default: 0.25 Da)")
    parser.add_argument("--lock-mass-function", type=_whole, metavar="F",
                        help="the lock-mass function, when the run flags several")


def add_centroid_arguments(parser: argparse.ArgumentParser) -> None:
    """--centroid with its --min-intensity and --min-points."""
    parser.add_argument("--centroid", action="store_true",
                        help="pick the peaks of profile functions (ion mobility, encoding B; and C)")
    parser.add_argument("--min-intensity", type=_number, metavar="X",
                        help="with --centroid: drop peaks weaker than this (default: 0)")
    parser.add_argument("--min-points", type=_whole, metavar="N",
                        help="with --centroid: drop peaks of fewer time bins (default: 1)")


def processing_keywords(args: argparse.Namespace) -> dict[str, Any]:
    """The keywords the options given ask for (a qualifier without what it qualifies is
    kept, for the reader to refuse)."""
    keywords: dict[str, Any] = {}
    for option, keyword in (("centroid", "centroid"), ("min_intensity", "min_intensity"),
                            ("min_points", "min_points"), ("lock_mass", "lock_mass"),
                            ("lock_mass_tolerance", "lock_mass_tolerance"),
                            ("lock_mass_function", "lock_mass_function")):
        value = getattr(args, option, None)
        if value is not None and value is not False:
            keywords[keyword] = value
    if "lock_mass" in keywords:
        keywords["lock_mass"] = _mz_or_name(keywords["lock_mass"])
    return keywords


def trace_keywords(keywords: dict[str, Any]) -> dict[str, Any] | None:
    """The arguments of a lock-mass trace (mz, tolerance, function) the keywords ask
    for, or None without --lock-mass."""
    if "lock_mass" not in keywords:
        return None
    return {"mz": keywords["lock_mass"], "tolerance": keywords.get("lock_mass_tolerance", 0.25),
            "function": keywords.get("lock_mass_function")}


class UsageProblem(Exception):
    """An option value the command refuses before reading: one line, exit status 2."""


def lock_mass_request(verb: str, args: argparse.Namespace) -> dict[str, Any] | None:
    """The lock-mass trace that `info` or `plot` draws (see trace_keywords); an option the
    reader would refuse, or a run without the lock-mass function asked for, raises
    UsageProblem with the command's one line."""
    keywords = processing_keywords(args)
    problem = problem_with(keywords) or lock_function_problem(args.path, keywords)
    if problem is not None:
        raise UsageProblem(f"tarnvale {verb}: error: {problem}")
    return trace_keywords(keywords)


def problem_with(keywords: dict[str, Any]) -> str | None:
    """What the reader would refuse in these keywords, or None."""
    from . import _core

    try:
        _core.check_processing(**keywords)
    except (ValueError, TypeError, OverflowError) as error:
        return _option_names(str(error))
    return None


def lock_function_problem(path: str, keywords: dict[str, Any]) -> str | None:
    """Why the run at `path` cannot be corrected by its lock mass (no lock-mass function,
    several, or the one named missing), or None; a run that cannot be opened at all is
    left to the command to report."""
    if "lock_mass" not in keywords:
        return None
    from . import Run

    try:
        run = Run(path)
    except RuntimeError:
        return None
    try:
        run.lock_mass_function(keywords.get("lock_mass_function"))
    except RuntimeError as error:
        return _option_names(str(error))
    return None


def _number(text: str) -> float:
    try:
        return float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a number: {text!r}") from None


def _whole(text: str) -> int:
    try:
        return int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a whole number: {text!r}") from None


def _mz_or_name(text: str) -> float | str:
    try:
        return float(text)
    except ValueError:
        return text


# The reader names keywords; the command line shows its options.
_OPTIONS = {
    "lock_mass_tolerance": "--lock-mass-tolerance", "lock_mass_function": "--lock-mass-function",
    "lock_mass_min_intensity": "--lock-mass-min-intensity", "lock_mass": "--lock-mass",
    "min_intensity": "--min-intensity", "min_points": "--min-points", "centroid=True": "--centroid",
    "name the one to use": "name the one to use with --lock-mass-function",
}


def _option_names(message: str) -> str:
    for keyword, option in _OPTIONS.items():
        message = message.replace(keyword, option)
    return message
