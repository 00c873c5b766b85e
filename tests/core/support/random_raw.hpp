// Random acquisitions for comparing whole-function reads with per-scan decoding:
// one function of a chosen encoding with random points, calibration and scan
// statistics, and, when asked for, the damage a real file can carry (gaps between
// scans, overlapping and backward offsets, scans clamped at the end of the file or
// cut short inside a record, records that cannot be decoded).
#pragma once

#include <cstddef>
#include <random>

#include "support/raw_dir.hpp"

namespace tarnvale::testing {

struct RandomFunctionShape {
    char encoding = 'A'; // 'A', 'B', 'C' or 'D'
    std::size_t scans = 40;
    std::size_t max_points = 12;
    bool damaged = false;
    // B and C: records mostly on adjacent bins with runs of equal drift words, the
    // sampled signal that peak picking works on.
    bool profile = false;
};

// A directory holding one such function (a SYNAPT for B, another instrument otherwise).
RawDirSpec random_raw_dir(std::mt19937& random, const RandomFunctionShape& shape);

} // namespace tarnvale::testing
