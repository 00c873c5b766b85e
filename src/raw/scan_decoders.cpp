#include "raw/scan_decoders.hpp"

#include <algorithm>
#include <cmath>
#include <format>
#include <optional>

#include "bytes.hpp"
#include "raw/record_layouts.hpp"
#include "raw/scan_kernels.hpp"

// The decoders check a scan's size, frame B and C scans (the flight-time axis from
// the first and last record) and word the errors; the record loops are the
// kernels of the chosen DecoderPath (scan_kernels.cpp). The decoders that return
// vectors allocate the most points the scan can hold once, decode into them and
// trim them to the points written.

namespace tarnvale::raw {

namespace {

using kernels::FlightTimeAxis;
using records::LayoutA;
using records::LayoutBC;
using records::LayoutD;

DecoderPath available_or_best(DecoderPath path) {
    const auto paths = available_decoder_paths();
    return std::ranges::find(paths, path) != paths.end() ? path : best_decoder_path();
}

const kernels::KernelSet& kernels_for(DecoderPath path) {
    return kernels::kernels_for(available_or_best(path));
}

Error size_error(char encoding, std::size_t size, std::size_t width) {
    return Error::parse(
        std::format("Encoding {}: scan size {} is not a multiple of {}", encoding, size, width));
}

Error invalid_a(std::uint64_t record) {
    auto byte = [record](int k) { return LayoutA::byte(record, k); };
    return Error::parse(std::format("Encoding A: unsupported m/z word {:02x} {:02x} {:02x} {:02x}", byte(2),
                                    byte(3), byte(4), byte(5)));
}

Error invalid_d(std::uint64_t record) {
    return Error::parse(std::format("Encoding D: position word {:#010x} lacks the leading mantissa bit",
                                    LayoutD::position_word(record)));
}

// A and D: every record decodes on its own.
Result<std::size_t> decode_raw_mz_into(char encoding, std::size_t width, kernels::Kernel kernel, Bytes scan,
                                       const DecodeContext& context, PointOutput out) {
    if (scan.size() % width != 0) return fail(size_error(encoding, scan.size(), width));
    const kernels::Outcome outcome = kernel({scan, context, {}, out});
    if (outcome.invalid_record) {
        return fail(encoding == 'A' ? invalid_a(*outcome.invalid_record)
                                    : invalid_d(*outcome.invalid_record));
    }
    return outcome.written;
}

using kernels::FlightTimeBounds;
using kernels::whole_scan_axis;

Result<std::optional<FlightTimeAxis>> flight_time_axis(char encoding, Bytes scan, FlightTimeBounds bounds) {
    if (scan.size() % LayoutBC::kSize != 0) return fail(size_error(encoding, scan.size(), LayoutBC::kSize));
    return whole_scan_axis(scan, bounds);
}

Result<std::size_t> decode_flight_time_into(char encoding, kernels::Kernel kernel, Bytes scan,
                                            const DecodeContext& context, FlightTimeBounds bounds,
                                            PointOutput out) {
    TV_ASSIGN_OR_RETURN(std::optional<FlightTimeAxis> axis, flight_time_axis(encoding, scan, bounds));
    if (!axis) return 0;
    return kernel({scan, context, *axis, out}).written;
}

// Allocates room for every record of the scan, decodes into it and trims to what was written.
template <class Decode>
Result<Spectrum> decode_spectrum(Bytes scan, const DecodeContext& context, std::size_t width, Decode decode) {
    Spectrum spectrum;
    spectrum.mz.resize(max_points(scan, width));
    spectrum.intensity.resize(spectrum.mz.size());
    TV_ASSIGN_OR_RETURN(const std::size_t written,
                        decode(scan, context, PointOutput{spectrum.mz.data(), spectrum.intensity.data()}));
    spectrum.mz.resize(written);
    spectrum.intensity.resize(written);
    return spectrum;
}

} // namespace

FlightTimeBounds flight_time_bounds(const DecodeContext& context) {
    return {std::sqrt(context.mz_low) * context.tof_k_us, std::sqrt(context.mz_high) * context.tof_k_us};
}

double mz_at_flight_time(const DecodeContext& context, double t) {
    const double ratio = calibrate(context, t) / context.tof_k_us;
    return ratio * ratio;
}

double calibrate(const DecodeContext& context, double x) {
    if (context.cal_type == CalType::T0) return x;
    if (context.coefficients.empty()) return 0.0;
    double acc = 0.0; // Horner from 0: the initial 0·x is NaN for non-finite x
    for (std::size_t k = context.coefficients.size(); k-- > 0;) acc = acc * x + context.coefficients[k];
    return acc;
}

Result<std::size_t> decode_encoding_a_into(Bytes scan, const DecodeContext& context, PointOutput out,
                                           DecoderPath path) {
    return decode_raw_mz_into('A', kRecordWidthA, kernels_for(path).a, scan, context, out);
}

Result<std::size_t> decode_encoding_b_into(Bytes scan, const DecodeContext& context, PointOutput out,
                                           DecoderPath path) {
    return decode_flight_time_into('B', kernels_for(path).b, scan, context, flight_time_bounds(context), out);
}

Result<std::size_t> decode_encoding_c_into(Bytes scan, const DecodeContext& context, PointOutput out,
                                           DecoderPath path) {
    return decode_flight_time_into('C', kernels_for(path).c, scan, context, flight_time_bounds(context), out);
}

Result<std::size_t> decode_encoding_d_into(Bytes scan, const DecodeContext& context, PointOutput out,
                                           DecoderPath path) {
    return decode_raw_mz_into('D', kRecordWidthD, kernels_for(path).d, scan, context, out);
}

FunctionDecoder::FunctionDecoder(char encoding, const DecodeContext& context)
    : FunctionDecoder(encoding, context, best_decoder_path()) {}

FunctionDecoder::FunctionDecoder(char encoding, const DecodeContext& context, DecoderPath path)
    : encoding_(encoding), context_(&context), kernel_(nullptr), run_kernel_(nullptr),
      bounds_(flight_time_bounds(context)) {
    const kernels::KernelSet& set = kernels_for(path);
    kernel_ = encoding == 'A' ? set.a : encoding == 'B' ? set.b : encoding == 'C' ? set.c : set.d;
    run_kernel_ = encoding == 'B' ? set.b_run : set.c_run;
}

Result<std::size_t> FunctionDecoder::decode(Bytes scan, PointOutput out) const {
    switch (encoding_) {
    case 'A':
        return decode_raw_mz_into('A', kRecordWidthA, kernel_, scan, *context_, out);
    case 'B':
    case 'C':
        return decode_flight_time_into(encoding_, kernel_, scan, *context_, bounds_, out);
    default:
        return decode_raw_mz_into('D', kRecordWidthD, kernel_, scan, *context_, out);
    }
}

Result<void> FunctionDecoder::decode_scans(std::span<const Bytes> scans, PointOutput out,
                                           std::span<std::size_t> points) const {
    if (encoding_ != 'B' && encoding_ != 'C') {
        for (std::size_t i = 0; i < scans.size(); ++i) {
            TV_ASSIGN_OR_RETURN(points[i], decode(scans[i], out));
            out = advanced(out, points[i]);
        }
        return {};
    }
    // The run kernel frames each scan as decode() frames it; only the sizes are checked here.
    const auto partial =
        std::ranges::find_if(scans, [](Bytes scan) { return scan.size() % LayoutBC::kSize != 0; });
    if (partial != scans.end()) return fail(size_error(encoding_, partial->size(), LayoutBC::kSize));
    run_kernel_({scans, bounds_, *context_, out, points.data()});
    return {};
}

Result<std::size_t> decode_encoding_a_into(Bytes scan, const DecodeContext& context, PointOutput out) {
    return decode_encoding_a_into(scan, context, out, best_decoder_path());
}

Result<std::size_t> decode_encoding_b_into(Bytes scan, const DecodeContext& context, PointOutput out) {
    return decode_encoding_b_into(scan, context, out, best_decoder_path());
}

Result<std::size_t> decode_encoding_c_into(Bytes scan, const DecodeContext& context, PointOutput out) {
    return decode_encoding_c_into(scan, context, out, best_decoder_path());
}

Result<std::size_t> decode_encoding_d_into(Bytes scan, const DecodeContext& context, PointOutput out) {
    return decode_encoding_d_into(scan, context, out, best_decoder_path());
}

Result<Spectrum> decode_encoding_a(Bytes scan, const DecodeContext& context) {
    return decode_spectrum(scan, context, kRecordWidthA, [](Bytes s, const DecodeContext& c, PointOutput o) {
        return decode_encoding_a_into(s, c, o);
    });
}

Result<Spectrum> decode_encoding_c(Bytes scan, const DecodeContext& context) {
    return decode_spectrum(scan, context, kRecordWidthC, [](Bytes s, const DecodeContext& c, PointOutput o) {
        return decode_encoding_c_into(s, c, o);
    });
}

Result<Spectrum> decode_encoding_d(Bytes scan, const DecodeContext& context) {
    return decode_spectrum(scan, context, kRecordWidthD, [](Bytes s, const DecodeContext& c, PointOutput o) {
        return decode_encoding_d_into(s, c, o);
    });
}

Result<ImsSpectrum> decode_encoding_b(Bytes scan, const DecodeContext& context) {
    ImsSpectrum spectrum;
    const std::size_t capacity = max_points(scan, kRecordWidthB);
    spectrum.mz.resize(capacity);
    spectrum.drift_time_ms.resize(capacity);
    spectrum.intensity.resize(capacity);
    TV_ASSIGN_OR_RETURN(
        const std::size_t written,
        decode_encoding_b_into(
            scan, context, {spectrum.mz.data(), spectrum.intensity.data(), spectrum.drift_time_ms.data()}));
    spectrum.mz.resize(written);
    spectrum.drift_time_ms.resize(written);
    spectrum.intensity.resize(written);
    return spectrum;
}

namespace {

// Reads each record exactly (A's wide load would reach past the last one).
template <class Layout> std::size_t count_points(Bytes records) {
    std::size_t count = 0;
    const std::size_t whole = records.size() / Layout::kSize * Layout::kSize;
    for (std::size_t at = 0; at < whole; at += Layout::kSize) {
        const std::uint8_t* record = records.data() + at;
        std::uint64_t value = 0;
        if constexpr (requires { Layout::load_exact(record); })
            value = Layout::load_exact(record);
        else
            value = Layout::load(record);
        if (records::has_point<Layout>(value)) ++count;
    }
    return count;
}

} // namespace

std::size_t count_points_a(Bytes records) { return count_points<LayoutA>(records); }
std::size_t count_points_d(Bytes records) { return count_points<LayoutD>(records); }

} // namespace tarnvale::raw
