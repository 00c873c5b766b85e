// _FUNCnnn.DAT: the four scan encodings.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "error.hpp"
#include "raw/cal_type.hpp"

namespace tarnvale::raw {

struct Spectrum {
    std::vector<double> mz;
    std::vector<float> intensity;
};

struct ImsSpectrum {
    std::vector<double> mz;
    std::vector<double> drift_time_ms;
    std::vector<float> intensity;
};

struct DecodeContext {
    std::vector<double> coefficients;
    CalType cal_type = CalType::T0;
    double tof_k_us = 0.0; // flight time (µs) of an ion of m/z 1
    double mz_low = 0.0;
    double mz_high = 0.0;
    double scan_time_ms = 0.0;
};

// T1 with coefficients: the polynomial (Horner, from the last coefficient);
// T1 without: 0; T0: x itself.
double calibrate(const DecodeContext& context, double x);

Result<Spectrum> decode_encoding_a(std::span<const std::uint8_t> scan, const DecodeContext& context);
Result<ImsSpectrum> decode_encoding_b(std::span<const std::uint8_t> scan, const DecodeContext& context);
Result<Spectrum> decode_encoding_c(std::span<const std::uint8_t> scan, const DecodeContext& context);
Result<Spectrum> decode_encoding_d(std::span<const std::uint8_t> scan, const DecodeContext& context);

// How many points the records of an encoding A (D) scan decode to, without decoding
// them: the records with non-zero intensity. A trailing partial record is ignored.
std::size_t count_points_a(std::span<const std::uint8_t> records);
std::size_t count_points_d(std::span<const std::uint8_t> records);

} // namespace tarnvale::raw
