#include "mzml/array_encoder.hpp"

#include <bit>
#include <cmath>
#include <cstring>
#include <libdeflate.h>
#include <simdutf.h>
#include <type_traits>

#include "mzml/numpress.hpp"

namespace tarnvale::mzml {

struct ArrayEncoder::Compressor {
    struct Free {
        void operator()(libdeflate_compressor* compressor) const { libdeflate_free_compressor(compressor); }
    };
    std::unique_ptr<libdeflate_compressor, Free> handle;
};

ArrayEncoder::ArrayEncoder(const ArrayEncoding& encoding, std::unique_ptr<Compressor> compressor)
    : encoding_(encoding), compressor_(std::move(compressor)) {}
ArrayEncoder::ArrayEncoder(ArrayEncoder&&) noexcept = default;
ArrayEncoder& ArrayEncoder::operator=(ArrayEncoder&&) noexcept = default;
ArrayEncoder::~ArrayEncoder() = default;

Result<ArrayEncoder> ArrayEncoder::create(const ArrayEncoding& encoding) {
    if (encoding.compression == Compression::None) return ArrayEncoder(encoding, nullptr);
    auto compressor = std::make_unique<Compressor>();
    compressor->handle.reset(libdeflate_alloc_compressor(zlib_level));
    if (compressor->handle == nullptr) return parse_error("libdeflate could not allocate a compressor");
    return ArrayEncoder(encoding, std::move(compressor));
}

template <class Float>
std::span<const std::uint8_t> ArrayEncoder::little_endian_bytes(std::span<const Float> values) {
    const auto native = std::span(reinterpret_cast<const std::uint8_t*>(values.data()), values.size_bytes());
    if constexpr (std::endian::native == std::endian::little) {
        return native;
    } else {
        swapped_.resize(native.size());
        for (std::size_t at = 0; at < native.size(); at += sizeof(Float))
            for (std::size_t byte = 0; byte < sizeof(Float); ++byte)
                swapped_[at + byte] = native[at + sizeof(Float) - 1 - byte];
        return swapped_;
    }
}

std::span<const std::uint8_t> ArrayEncoder::payload_of_bytes(std::span<const std::uint8_t> little_endian) {
    if (compressor_ == nullptr) return little_endian;
    libdeflate_compressor* handle = compressor_->handle.get();
    // The bound always suffices, so compression cannot run out of room. The buffer
    // only grows: it is reused for every array this encoder sees.
    const std::size_t bound = libdeflate_zlib_compress_bound(handle, little_endian.size());
    if (compressed_.size() < bound) compressed_.resize(bound);
    const std::size_t size = libdeflate_zlib_compress(handle, little_endian.data(), little_endian.size(),
                                                      compressed_.data(), compressed_.size());
    return std::span(compressed_.data(), size);
}

std::span<const std::uint8_t> ArrayEncoder::payload(std::span<const double> values) {
    return payload_of_bytes(little_endian_bytes(values));
}

std::span<const std::uint8_t> ArrayEncoder::payload(std::span<const float> values) {
    return payload_of_bytes(little_endian_bytes(values));
}

Term ArrayEncoder::plain_compression() const {
    return encoding_.compression == Compression::Zlib ? Term::ZlibCompression : Term::NoCompression;
}

// Linear prediction for m/z and times, short logged floats for intensities; other
// arrays (drift times in m/z order, instrument readings) have neither shape. An empty
// array has nothing to gain.
template <class Float>
bool ArrayEncoder::try_numpress(std::span<const Float> values, ArrayRole role, EncodedArray& out) {
    if (!encoding_.numpress || values.empty()) return false;
    const bool zlib = encoding_.compression == Compression::Zlib;
    numpressed_.clear();
    if (role == ArrayRole::Intensity) {
        if (!numpress::append_slof(values, numpressed_)) return false;
        out.compression = zlib ? Term::NumpressSlofZlib : Term::NumpressSlof;
    } else if (role == ArrayRole::Mz || role == ArrayRole::Time) {
        if constexpr (!std::is_same_v<Float, double>) {
            return false;
        } else {
            if (!numpress::append_linear(values, numpressed_)) return false;
            out.compression = zlib ? Term::NumpressLinearZlib : Term::NumpressLinear;
        }
    } else {
        return false;
    }
    // Decoders give numpress values back as doubles, whatever went in.
    out.data_type = Term::Float64;
    out.payload = payload_of_bytes(numpressed_);
    return true;
}

EncodedArray ArrayEncoder::encode(std::span<const double> values, ArrayRole role) {
    EncodedArray out{{}, Term::Float64, plain_compression()};
    if (try_numpress(values, role, out)) return out;
    if (role == ArrayRole::Mz && encoding_.mz_precision == Precision::Float32 && narrow(values))
        return {payload(std::span<const float>(narrowed_)), Term::Float32, plain_compression()};
    out.payload = payload(values);
    return out;
}

// The values as 32-bit floats, unless one is finite but beyond their range: it would
// come back infinite, so that array stays 64-bit.
bool ArrayEncoder::narrow(std::span<const double> values) {
    narrowed_.resize(values.size());
    bool fits = true;
    for (std::size_t i = 0; i < values.size(); ++i) {
        narrowed_[i] = static_cast<float>(values[i]);
        fits = fits && (std::isfinite(narrowed_[i]) || !std::isfinite(values[i]));
    }
    return fits;
}

EncodedArray ArrayEncoder::encode(std::span<const float> values, ArrayRole role) {
    EncodedArray out{{}, Term::Float32, plain_compression()};
    if (try_numpress(values, role, out)) return out;
    out.payload = payload(values);
    return out;
}

std::size_t base64_length(std::size_t bytes) { return simdutf::base64_length_from_binary(bytes); }

void append_base64(std::span<const std::uint8_t> bytes, std::string& out) {
    const std::size_t length = base64_length(bytes.size());
    const std::size_t start = out.size();
    out.resize_and_overwrite(start + length, [&](char* buffer, std::size_t) {
        return start + simdutf::binary_to_base64(reinterpret_cast<const char*>(bytes.data()), bytes.size(),
                                                 buffer + start);
    });
}

} // namespace tarnvale::mzml
