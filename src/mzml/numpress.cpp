#include "mzml/numpress.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>

namespace tarnvale::mzml::numpress {

namespace {

constexpr double int31_max = 2147483647.0;
constexpr double uint16_span = 65535.0;
// Integers beyond 2^53 would not survive the decoder's conversion to double, and
// keeping well inside 64 bits leaves the decoder's prediction no room to overflow.
constexpr double exact_integer_limit = 9007199254740992.0;
// The rounding error of a 32-bit float, relative to the value it holds.
constexpr double float32_rounding = 0x1p-24;

// Writes into room made beforehand (each encoder knows its longest output): a pointer
// spares the capacity check of a push per half-byte. keep() trims the room to what
// was written; an encoder that refuses its array leaves the trimming to its caller.
class Sink {
  public:
    static constexpr std::size_t slack = 8; // for whole-word stores near the end
    Sink(std::vector<std::uint8_t>& out, std::size_t most) : out_(out) {
        const std::size_t start = out.size();
        out.resize(start + most + slack);
        at_ = out.data() + start;
    }

    // The fixed point opens every encoding as an IEEE double, most significant byte first.
    void fixed_point(double value) {
        const auto bits = std::bit_cast<std::uint64_t>(value);
        for (int shift = 56; shift >= 0; shift -= 8) *at_++ = static_cast<std::uint8_t>(bits >> shift);
    }
    void little_endian(std::uint32_t value, int bytes) {
        for (int byte = 0; byte < bytes; ++byte) *at_++ = static_cast<std::uint8_t>(value >> (8 * byte));
    }
    // A header half-byte, then the value's low half-bytes from the least significant
    // up: the header counts the leading half-bytes left out, 0-8 when they are zeros,
    // 9-15 (8 + count) when they are all ones (a negative value; at least one
    // half-byte is kept so that its sign stays readable).
    void packed_int(std::uint32_t value) {
        auto omitted = static_cast<unsigned>(std::countl_zero(value)) / 4;
        unsigned header = omitted;
        if (omitted == 0) {
            omitted = std::min(static_cast<unsigned>(std::countl_one(value)) / 4, 7u);
            header = omitted == 0 ? 0 : 8 + omitted;
        }
        const std::uint64_t kept = value & ((std::uint64_t{1} << (4 * (8 - omitted))) - 1);
        pending_ |= (header | kept << 4) << (4 * pending_count_);
        pending_count_ += 9 - omitted;
        write_whole_bytes();
    }
    // A last odd half-byte leaves the low half zero, which decoders read as the end.
    void keep() {
        if (pending_count_ == 1) *at_++ = static_cast<std::uint8_t>((pending_ & 0xf) << 4);
        out_.resize(static_cast<std::size_t>(at_ - out_.data()));
    }

  private:
    // The pending pairs of half-bytes as bytes, the earlier of each pair in the high
    // half: eight at a time into the room's slack, of which up to five are kept.
    void write_whole_bytes() {
        constexpr std::uint64_t low_halves = 0x0f0f0f0f0f0f0f0f;
        const unsigned whole = pending_count_ / 2;
        const std::uint64_t bytes = (pending_ & low_halves) << 4 | (pending_ >> 4 & low_halves);
        if constexpr (std::endian::native == std::endian::little) {
            std::memcpy(at_, &bytes, sizeof bytes);
        } else {
            for (unsigned byte = 0; byte < whole; ++byte)
                at_[byte] = static_cast<std::uint8_t>(bytes >> (8 * byte));
        }
        at_ += whole;
        pending_ >>= 8 * whole;
        pending_count_ -= 2 * whole;
    }

    std::vector<std::uint8_t>& out_;
    std::uint8_t* at_;
    std::uint64_t pending_ = 0; // half-bytes not yet written, the earliest lowest
    unsigned pending_count_ = 0;
};

// The largest fixed point at which the first two values and every residual of the
// prediction, rounded, stay within 31 bits (the +1 is room for that rounding).
// (ceil(|r| + 1) is largest for the largest |r|, so it is taken once.)
double linear_fixed_point(std::span<const double> values) {
    double residual = 0;
    for (std::size_t i = 2; i < values.size(); ++i) {
        const double predicted = values[i - 1] + (values[i - 1] - values[i - 2]);
        residual = std::max(residual, std::abs(values[i] - predicted));
    }
    double largest = std::max(values[0], values[1]);
    if (values.size() > 2) largest = std::max(largest, std::ceil(residual + 1));
    return largest > 0 ? std::floor(int31_max / largest) : int31_max;
}

// round(value × fixed point), halves up, while it stays an exact integer. The
// truncating conversion, corrected below zero, is floor() without a library call.
std::optional<std::int64_t> to_fixed(double value, double fixed_point) {
    const double scaled = value * fixed_point + 0.5;
    if (!(std::abs(scaled) < exact_integer_limit)) return std::nullopt;
    auto fixed = static_cast<std::int64_t>(scaled);
    if (static_cast<double>(fixed) > scaled) --fixed;
    return fixed;
}

// What a decoder makes of a value (its integer / the fixed point) must be as close to
// the original as a 32-bit float would hold it, and within 2^-24 for values below 1
// (m/z or minutes): the format's step is absolute, so small values get the step the
// largest residual allows, which is fine for them only down to there.
bool close_enough(double decoded, double value) {
    return std::abs(decoded - value) <= float32_rounding * std::max(1.0, std::abs(value));
}

bool all_finite(std::span<const double> values) {
    return std::ranges::all_of(values, [](double value) { return std::isfinite(value); });
}

bool encode_linear(std::span<const double> values, std::vector<std::uint8_t>& out) {
    if (values.size() < 2 || !all_finite(values)) return false;
    const double fixed_point = linear_fixed_point(values);
    if (!(fixed_point > 0) || !std::isfinite(fixed_point)) return false;
    // The header, two 4-byte values and at most 4.5 bytes for each later value.
    Sink sink(out, 16 + 5 * values.size());
    sink.fixed_point(fixed_point);
    std::int64_t before_last = 0;
    std::int64_t last = 0;
    for (std::size_t i = 0; i < values.size(); ++i) {
        const std::optional<std::int64_t> fixed = to_fixed(values[i], fixed_point);
        if (!fixed || !close_enough(static_cast<double>(*fixed) / fixed_point, values[i])) return false;
        if (i < 2) {
            if (*fixed < 0 || *fixed > static_cast<std::int64_t>(int31_max)) return false;
            sink.little_endian(static_cast<std::uint32_t>(*fixed), 4);
        } else {
            const std::int64_t residual = *fixed - (last + (last - before_last));
            if (residual < std::numeric_limits<std::int32_t>::min() ||
                residual > std::numeric_limits<std::int32_t>::max())
                return false;
            sink.packed_int(static_cast<std::uint32_t>(residual));
        }
        before_last = last;
        last = *fixed;
    }
    sink.keep();
    return true;
}

template <class Float> bool encode_slof(std::span<const Float> values, std::vector<std::uint8_t>& out) {
    if (values.empty()) return false;
    double largest = 0;
    for (const Float value : values) {
        if (!(value >= 0) || !std::isfinite(value)) return false;
        largest = std::max(largest, static_cast<double>(value));
    }
    const double fixed_point = std::floor(uint16_span / std::max(1.0, std::log(largest + 1)));
    Sink sink(out, 8 + 2 * values.size());
    sink.fixed_point(fixed_point);
    for (const Float value : values) {
        const double scaled = std::log(static_cast<double>(value) + 1) * fixed_point + 0.5;
        if (!(scaled < uint16_span + 1)) return false;
        sink.little_endian(static_cast<std::uint32_t>(scaled), 2);
    }
    sink.keep();
    return true;
}

// Runs an encoder and takes back what it appended when it refuses the array.
template <class Encode> bool appended_or_undone(std::vector<std::uint8_t>& out, Encode&& encode) {
    const std::size_t start = out.size();
    if (encode()) return true;
    out.resize(start);
    return false;
}

} // namespace

bool append_linear(std::span<const double> values, std::vector<std::uint8_t>& out) {
    return appended_or_undone(out, [&] { return encode_linear(values, out); });
}

bool append_slof(std::span<const double> values, std::vector<std::uint8_t>& out) {
    return appended_or_undone(out, [&] { return encode_slof(values, out); });
}

bool append_slof(std::span<const float> values, std::vector<std::uint8_t>& out) {
    return appended_or_undone(out, [&] { return encode_slof(values, out); });
}

} // namespace tarnvale::mzml::numpress
