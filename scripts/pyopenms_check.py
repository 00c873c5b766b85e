"""Loads every *.mzML of a directory with pyopenms and runs its semantic validator,
MzMLFile().isSemanticallyValid (OpenMS's mapping of PSI-MS terms onto mzML elements).
Runs on a Python that pyopenms publishes wheels for: see scripts/pyopenms-check.sh.

OpenMS's mapping file wants a value on MS:1003153 (raw ion mobility drift time
array) and lists no binary data type for it, so it reports every such array twice,
whatever the array's width. Those two messages, exactly twice per MS:1003153 array,
are the only ones allowed; anything else fails the file.

    python pyopenms_check.py DIR
"""

from __future__ import annotations

import re
import sys
from collections import Counter
from pathlib import Path

import pyopenms as oms

ALLOWED = (
    re.compile(
        r"Binary data array of type 'MS:1003153 ! raw ion mobility drift time array' cannot have "
        r"the value type 'MS:10005(21|23) ! (32|64)-bit float'\."
    ),
    re.compile(
        r"Value-type required, but not given \(xsd:decimal\): 'MS:1003153 - raw ion mobility drift time array' "
        r"value='' at element '/mzML/run/spectrumList/spectrum/binaryDataArrayList/binaryDataArray'"
    ),
)


def declared_count(text: str, element: str) -> int:
    found = re.search(rf'<{element}List count="(\d+)"', text)
    return int(found.group(1)) if found else 0


def problems_of(path: Path) -> list[str]:
    text = path.read_text(encoding="utf-8")
    valid, errors, warnings = oms.MzMLFile().isSemanticallyValid(str(path))
    messages = list(errors) + list(warnings)
    problems = [m for m in messages if not any(p.fullmatch(m) for p in ALLOWED)]
    drift_arrays = text.count('accession="MS:1003153"')
    known = len(messages) - len(problems)
    if known != 2 * drift_arrays:
        problems.append(f"{known} messages about MS:1003153 for {drift_arrays} raw drift time arrays")
    if not valid and not messages:
        problems.append("not valid, without a message")
    experiment = oms.MSExperiment()
    oms.MzMLFile().load(str(path), experiment)
    loaded = (experiment.getNrSpectra(), experiment.getNrChromatograms())
    declared = (declared_count(text, "spectrum"), declared_count(text, "chromatogram"))
    if loaded != declared:
        problems.append(f"loaded {loaded[0]} spectra and {loaded[1]} chromatograms, the file declares {declared}")
    return problems


def main(directory: str) -> int:
    files = sorted(Path(directory).glob("*.mzML"))
    if not files:
        print(f"pyopenms-check: no *.mzML in {directory}", file=sys.stderr)
        return 1
    failed = 0
    for path in files:
        try:
            problems = problems_of(path)
        except Exception as error:  # pyopenms raises RuntimeError subclasses for unreadable files
            problems = [f"{type(error).__name__}: {error}"]
        print(f"pyopenms {oms.__version__}: {path.name}: {'ok' if not problems else 'FAILED'}")
        for problem, times in Counter(problems).items():
            print(f"  {problem}" + (f" (x{times})" if times > 1 else ""))
        failed += bool(problems)
    print(f"pyopenms: {len(files) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: pyopenms_check.py DIR")
    sys.exit(main(sys.argv[1]))
