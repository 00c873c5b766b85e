// The four scan decoders. The first bytes choose the decoder and build the decode
// context (calibration, flight-time constant, m/z bounds, scan time) from raw bit
// patterns, so that NaN, infinities and extreme values reach the decoders too; the
// rest is the scan.
#include <cstddef>
#include <cstdint>

#include "fuzz_input.hpp"
#include "raw/scan_decoders.hpp"

namespace {

template <class Spectrum> void check_shape(const tarnvale::Result<Spectrum>& spectrum) {
    if (spectrum) tarnvale::fuzzing::require(spectrum->mz.size() == spectrum->intensity.size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tarnvale;
    fuzzing::FuzzInput input(data, size);
    const std::uint8_t choice = input.take_u8();
    raw::DecodeContext context;
    context.cal_type = (choice & 0x04) != 0 ? raw::CalType::T1 : raw::CalType::T0;
    for (int i = (choice >> 3) & 0x03; i > 0; --i) context.coefficients.push_back(input.take_f64());
    context.tof_k_us = input.take_f64();
    // The reader widens these from 32-bit fields of _FUNCTNS.INF.
    context.mz_low = input.take_f32();
    context.mz_high = input.take_f32();
    context.scan_time_ms = static_cast<double>(input.take_f32()) * 1000.0;
    const auto scan = input.rest();

    switch (choice & 0x03) {
    case 0:
        check_shape(raw::decode_encoding_a(scan, context));
        break;
    case 1:
        if (const auto ims = raw::decode_encoding_b(scan, context)) {
            fuzzing::require(ims->mz.size() == ims->intensity.size());
            fuzzing::require(ims->mz.size() == ims->drift_time_ms.size());
        }
        break;
    case 2:
        check_shape(raw::decode_encoding_c(scan, context));
        break;
    default:
        check_shape(raw::decode_encoding_d(scan, context));
        break;
    }
    return 0;
}
