// Deterministic synthetic spectra and chromatograms for the mzML writer's tests,
// its sample files and its benchmark.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "mzml/input.hpp"

namespace tarnvale::mzml::testing {

// The arrays of one spectrum and its description; input() views the arrays.
struct SyntheticSpectrum {
    SpectrumInput meta; // spans left empty
    std::vector<double> mz;
    std::vector<float> intensity;
    std::optional<std::vector<double>> drift_times_ms;

    SpectrumInput input() const;
};

struct SyntheticChromatogram {
    ChromatogramInput meta; // spans left empty
    std::vector<double> time_minutes;
    std::vector<double> values;

    ChromatogramInput input() const;
};

// m/z ascending over 50-2000 with full 64-bit mantissas, intensities in (0, 1e6).
SyntheticSpectrum random_spectrum(std::uint32_t function, std::uint64_t scan, std::size_t points,
                                  std::uint64_t seed);
// An ion-mobility scan: `points` peaks ordered by m/z, then drift time (some m/z repeat).
SyntheticSpectrum random_ims_scan(std::uint32_t function, std::uint64_t scan, std::size_t points,
                                  std::uint64_t seed);
// The peaks of one drift bin of an ion-mobility scan.
SyntheticSpectrum random_drift_bin(std::uint32_t function, std::uint64_t scan, std::uint32_t bin,
                                   std::size_t points, std::uint64_t seed);
// Intensities and m/z values that must survive bit for bit: ±0, subnormals, ±inf and NaNs.
SyntheticSpectrum special_values_spectrum(std::uint32_t function, std::uint64_t scan);

struct SyntheticRun {
    RunDescription run;
    std::vector<SyntheticSpectrum> spectra;
    std::vector<SyntheticChromatogram> chromatograms;

    std::vector<SpectrumInput> spectrum_inputs() const;
    std::vector<ChromatogramInput> chromatogram_inputs() const;
};

// A run with an MS1 function, an MSn function (collision energies, one scan
// without), an ion-mobility function (combined scans, or one spectrum per drift
// bin), a lock-mass function, an empty scan, TIC and base peak chromatograms per
// function and two instrument channels.
SyntheticRun sample_run(bool per_drift_bin);

} // namespace tarnvale::mzml::testing
