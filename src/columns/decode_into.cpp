#include "columns/decode_into.hpp"

#include <algorithm>
#include <variant>

namespace tarnvale::columns {

namespace {

// Until the decoders write into caller storage themselves, their vectors are copied out.
std::size_t copy_out(const raw::Spectrum& spectrum, PointOutput out) {
    std::ranges::copy(spectrum.mz, out.mz);
    std::ranges::copy(spectrum.intensity, out.intensity);
    return spectrum.mz.size();
}

std::size_t copy_out(const raw::ImsSpectrum& spectrum, PointOutput out) {
    std::ranges::copy(spectrum.mz, out.mz);
    std::ranges::copy(spectrum.drift_time_ms, out.drift_time_ms);
    std::ranges::copy(spectrum.intensity, out.intensity);
    return spectrum.mz.size();
}

template <class Spectrum> Result<std::size_t> copied(Result<Spectrum> decoded, PointOutput out) {
    if (!decoded) return fail(std::move(decoded).error());
    return copy_out(*decoded, out);
}

} // namespace

Result<std::size_t> decode_into(Encoding encoding, Bytes scan, const raw::DecodeContext& context,
                                PointOutput out) {
    switch (encoding) {
    case Encoding::A:
        return copied(raw::decode_encoding_a(scan, context), out);
    case Encoding::B:
        return copied(raw::decode_encoding_b(scan, context), out);
    case Encoding::C:
        return copied(raw::decode_encoding_c(scan, context), out);
    case Encoding::D:
        break;
    }
    return copied(raw::decode_encoding_d(scan, context), out);
}

std::size_t count_points(Encoding encoding, Bytes records) {
    return encoding == Encoding::A ? raw::count_points_a(records) : raw::count_points_d(records);
}

} // namespace tarnvale::columns
