#!/usr/bin/env python3
"""Writes the seed corpus of every fuzz target from the fixture writer's demo runs.

    python3 scripts/fuzz-seeds.py [CORPUS_DIR]     (default: fuzz/corpus)

Each target gets the files it parses, taken from the SYNAPT demo (encodings A, B
and D), a variant with the lock-mass function first, and the Xevo demo (encoding
C); raw_dir and whole_run get whole directories in its split format. Seeds are named
"seed-<run>-<file>"; inputs kept from fuzzing findings ("finding-…") are left alone.
"""

from __future__ import annotations

import struct
import sys
from collections.abc import Iterator
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

from rawfixture import RawDir, demo_sample, demo_xevo  # noqa: E402

# Must match fuzz/raw_dir_input.hpp.
SEPARATOR = b"#@FILE@#"
RAW_DIR_FILES = [
    "_HEADER.TXT", "_extern.inf", "_FUNCTNS.INF", "_FUNC001.IDX", "_FUNC001.DAT", "_FUNC001.STS",
    "_FUNC002.IDX", "_FUNC002.DAT", "_FUNC002.STS", "_CHROMS.INF", "_CHRO003.DAT",
]
# scan_decoders: the first byte picks the decoder (A, B, C, D = 0..3), T1 calibration
# (bit 2) and the number of coefficients (bits 3-4).
DECODER_OF = {"A": 0, "B": 1, "C": 2, "D": 3}


def runs() -> Iterator[tuple[str, RawDir]]:
    sample = demo_sample()
    yield "sample", sample
    lock_mass_first = demo_sample()
    lock_mass_first.functions = [lock_mass_first.functions[2], lock_mass_first.functions[1]]
    yield "lockmass", lock_mass_first
    yield "xevo", demo_xevo()


def raw_dir_seed(files: dict[str, bytes]) -> bytes:
    return SEPARATOR.join(files.get(name, b"") for name in RAW_DIR_FILES)


def decoder_seeds(run: RawDir) -> Iterator[tuple[str, bytes]]:
    for number, function in enumerate(run.functions, start=1):
        coefficients = [0.0, 1.0]
        choice = DECODER_OF[function.encoding] | 0x04 | (len(coefficients) << 3)
        context = struct.pack("<B2dd3f", choice, *coefficients, 0.7, function.info.mz_low, function.info.mz_high,
                              function.info.scan_time_s)
        data = function.render_data()
        yield f"_FUNC{number:03}", context + data


def seeds() -> Iterator[tuple[str, str, bytes]]:
    """(target, seed name, content)"""
    for run_name, run in runs():
        files = run.files()
        yield "raw_dir", f"seed-{run_name}", raw_dir_seed(files)
        yield "whole_run", f"seed-{run_name}", raw_dir_seed(files)
        for name, content in files.items():
            upper = name.upper()
            if upper == "_HEADER.TXT":
                targets = ["header", "text"]
            elif upper == "_EXTERN.INF":
                targets = ["extern_inf", "text"]
            elif upper == "_FUNCTNS.INF":
                targets = ["functions_inf"]
            elif upper == "_CHROMS.INF":
                targets = ["chroms_inf"]
            elif upper.startswith("_CHRO"):
                targets = ["chro_dat"]
            elif upper.endswith(".IDX"):
                targets = ["index"]
            elif upper.endswith(".STS"):
                targets = ["func_sts"]
            else:
                continue
            for target in targets:
                yield target, f"seed-{run_name}-{name}", content
        for name, content in decoder_seeds(run):
            yield "scan_decoders", f"seed-{run_name}-{name}", content


def main(argv: list[str]) -> int:
    corpus = Path(argv[1]) if len(argv) > 1 else Path(__file__).resolve().parent.parent / "fuzz" / "corpus"
    for old in corpus.glob("*/seed-*"):
        old.unlink()
    count = 0
    written: set[tuple[str, bytes]] = set()
    for target, name, content in seeds():
        if (target, content) in written:  # the runs share some files
            continue
        written.add((target, content))
        (corpus / target).mkdir(parents=True, exist_ok=True)
        (corpus / target / name).write_bytes(content)
        count += 1
    print(f"{count} seeds in {corpus}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
