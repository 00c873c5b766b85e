// _FUNCnnn.DAT: the four scan encodings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "error.hpp"
#include "raw/cal_type.hpp"
#include "raw/decoder_path.hpp"
#include "raw/flight_time.hpp"

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

// ---------------------------------------------------------------- into caller storage

// Bytes per data record of each encoding.
inline constexpr std::size_t kRecordWidthA = 6;
inline constexpr std::size_t kRecordWidthB = 8;
inline constexpr std::size_t kRecordWidthC = 8;
inline constexpr std::size_t kRecordWidthD = 8;

// The most points a scan of `record_width`-byte records can decode to.
constexpr std::size_t max_points(std::span<const std::uint8_t> scan, std::size_t record_width) {
    return scan.size() / record_width;
}

// Where a decoder writes its points: arrays with room for max_points(scan, width) points.
// mz and intensity are required; drift_time_ms is written by encoding B when it is
// not null and ignored by the others.
struct PointOutput {
    double* mz = nullptr;
    float* intensity = nullptr;
    double* drift_time_ms = nullptr;
};

// The output from point `written` on.
inline PointOutput advanced(PointOutput out, std::size_t written) {
    return {out.mz + written, out.intensity + written,
            out.drift_time_ms == nullptr ? nullptr : out.drift_time_ms + written};
}

// Each writes the scan's points to `out` and returns how many it wrote: the same
// values, bit for bit, and the same errors as decode_encoding_x. The arrays past
// the points returned (within the room), and after an error the whole room, hold
// unspecified values: the decoders use them as scratch.
Result<std::size_t> decode_encoding_a_into(std::span<const std::uint8_t> scan, const DecodeContext& context,
                                           PointOutput out);
Result<std::size_t> decode_encoding_b_into(std::span<const std::uint8_t> scan, const DecodeContext& context,
                                           PointOutput out);
Result<std::size_t> decode_encoding_c_into(std::span<const std::uint8_t> scan, const DecodeContext& context,
                                           PointOutput out);
Result<std::size_t> decode_encoding_d_into(std::span<const std::uint8_t> scan, const DecodeContext& context,
                                           PointOutput out);

namespace kernels {
struct Inputs;
struct Outcome;
struct RunInputs;
} // namespace kernels

// The flight times of the function's m/z bounds, which B and C scans are framed by.
kernels::FlightTimeBounds flight_time_bounds(const DecodeContext& context);

// The m/z of a flight time t (µs) as encodings B and C compute it: the calibration
// applied to t, over tof_k_us, squared.
double mz_at_flight_time(const DecodeContext& context, double t);

// A function's decoder for callers that decode many of its scans: the record loops of
// best_decoder_path() for the encoding ('A' to 'D') and, for B and C, the flight times
// of the function's m/z bounds are looked up once instead of per scan. decode() gives
// what decode_encoding_x_into gives for the same scan, bit for bit, errors included.
// `context` must outlive the decoder.
class FunctionDecoder {
  public:
    FunctionDecoder(char encoding, const DecodeContext& context);
    // With the record loops of a chosen path, as the functions below take one (for tests).
    FunctionDecoder(char encoding, const DecodeContext& context, DecoderPath path);

    Result<std::size_t> decode(std::span<const std::uint8_t> scan, PointOutput out) const;

    // Several scans one after the other, each as decode() gives it: scan i's points
    // follow scan i - 1's from `out` on (room for all their records), and points[i]
    // (points.size() >= scans.size()) is their count. For B and C the calibration is
    // resolved once for all of them, which is most of the cost of a short scan. Fails
    // with decode()'s error for the first scan that fails; what was written is then no result.
    Result<void> decode_scans(std::span<const std::span<const std::uint8_t>> scans, PointOutput out,
                              std::span<std::size_t> points) const;

  private:
    char encoding_;
    const DecodeContext* context_;
    kernels::Outcome (*kernel_)(const kernels::Inputs&);
    void (*run_kernel_)(const kernels::RunInputs&); // B and C
    kernels::FlightTimeBounds bounds_;
};

// The same, with the record loops of a chosen path (one of available_decoder_paths();
// a path this processor lacks is replaced by best_decoder_path()), for tests and
// benchmarks. The functions above use best_decoder_path().
Result<std::size_t> decode_encoding_a_into(std::span<const std::uint8_t> scan, const DecodeContext& context,
                                           PointOutput out, DecoderPath path);
Result<std::size_t> decode_encoding_b_into(std::span<const std::uint8_t> scan, const DecodeContext& context,
                                           PointOutput out, DecoderPath path);
Result<std::size_t> decode_encoding_c_into(std::span<const std::uint8_t> scan, const DecodeContext& context,
                                           PointOutput out, DecoderPath path);
Result<std::size_t> decode_encoding_d_into(std::span<const std::uint8_t> scan, const DecodeContext& context,
                                           PointOutput out, DecoderPath path);

// How many points the records of an encoding A (D) scan decode to, without decoding
// them: the records with non-zero intensity. A trailing partial record is ignored.
std::size_t count_points_a(std::span<const std::uint8_t> records);
std::size_t count_points_d(std::span<const std::uint8_t> records);

} // namespace tarnvale::raw
