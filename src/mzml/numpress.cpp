#include "mzml/numpress.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
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

// The fixed point opens every encoding as an IEEE double, most significant byte first.
void append_fixed_point(double fixed_point, std::vector<std::uint8_t>& out) {
    const auto bits = std::bit_cast<std::uint64_t>(fixed_point);
    for (int shift = 56; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(bits >> shift));
}

void append_little_endian(std::uint32_t value, int bytes, std::vector<std::uint8_t>& out) {
    for (int byte = 0; byte < bytes; ++byte) out.push_back(static_cast<std::uint8_t>(value >> (8 * byte)));
}

// Half-bytes packed high half first; a last odd half-byte leaves the low half zero,
// which decoders read as the end.
class HalfBytes {
  public:
    explicit HalfBytes(std::vector<std::uint8_t>& out) : out_(out) {}

    // A header half-byte, then the value's low half-bytes from the least significant
    // up: the header counts the leading half-bytes left out, 0-8 when they are zeros,
    // 9-15 (8 + count) when they are all ones (a negative value; at least one
    // half-byte is kept so that its sign stays readable).
    void append_int(std::uint32_t value) {
        auto omitted = static_cast<unsigned>(std::countl_zero(value)) / 4;
        unsigned header = omitted;
        if (omitted == 0) {
            omitted = std::min(static_cast<unsigned>(std::countl_one(value)) / 4, 7u);
            header = omitted == 0 ? 0 : 8 + omitted;
        }
        put(header);
        for (unsigned half = 0; half < 8 - omitted; ++half) put((value >> (4 * half)) & 0xf);
    }

  private:
    void put(unsigned half_byte) {
        if (high_next_)
            out_.push_back(static_cast<std::uint8_t>(half_byte << 4));
        else
            out_.back() = static_cast<std::uint8_t>(out_.back() | half_byte);
        high_next_ = !high_next_;
    }

    std::vector<std::uint8_t>& out_;
    bool high_next_ = true;
};

// The largest fixed point at which the first two values and every residual of the
// prediction, rounded, stay within 31 bits (the +1 is room for that rounding).
double linear_fixed_point(std::span<const double> values) {
    double largest = std::max(values[0], values.size() > 1 ? values[1] : 0.0);
    for (std::size_t i = 2; i < values.size(); ++i) {
        const double predicted = values[i - 1] + (values[i - 1] - values[i - 2]);
        largest = std::max(largest, std::ceil(std::abs(values[i] - predicted) + 1));
    }
    return largest > 0 ? std::floor(int31_max / largest) : int31_max;
}

// round(value × fixed point), while it stays an exact integer.
std::optional<std::int64_t> to_fixed(double value, double fixed_point) {
    const double scaled = std::floor(value * fixed_point + 0.5);
    if (!(std::abs(scaled) < exact_integer_limit)) return std::nullopt;
    return static_cast<std::int64_t>(scaled);
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
    append_fixed_point(fixed_point, out);
    HalfBytes half_bytes(out);
    std::int64_t before_last = 0;
    std::int64_t last = 0;
    for (std::size_t i = 0; i < values.size(); ++i) {
        const std::optional<std::int64_t> fixed = to_fixed(values[i], fixed_point);
        if (!fixed || !close_enough(static_cast<double>(*fixed) / fixed_point, values[i])) return false;
        if (i < 2) {
            if (*fixed < 0 || *fixed > static_cast<std::int64_t>(int31_max)) return false;
            append_little_endian(static_cast<std::uint32_t>(*fixed), 4, out);
        } else {
            const std::int64_t residual = *fixed - (last + (last - before_last));
            if (residual < std::numeric_limits<std::int32_t>::min() ||
                residual > std::numeric_limits<std::int32_t>::max())
                return false;
            half_bytes.append_int(static_cast<std::uint32_t>(residual));
        }
        before_last = last;
        last = *fixed;
    }
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
    append_fixed_point(fixed_point, out);
    for (const Float value : values) {
        const double scaled = std::log(static_cast<double>(value) + 1) * fixed_point + 0.5;
        if (!(scaled < uint16_span + 1)) return false;
        append_little_endian(static_cast<std::uint32_t>(scaled), 2, out);
    }
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
