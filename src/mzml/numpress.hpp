// MS-Numpress, the compact codecs mzML readers decode: linear prediction for values
// that change smoothly (m/z, retention times) and short logged floats ("slof") for
// intensities. Both store integers of a fixed-point scale given in an 8-byte header.
//
// Linear prediction keeps the first two values as 32-bit integers and every later one
// as its difference from the straight line through the two before it, in as few
// half-bytes as that difference needs. The fixed point is the largest at which the
// first two values and every difference fit in 31 bits, so the step is as fine as the
// format allows: each value is written within 0.5 / fixed point of the original.
//
// Short logged floats keep round(log(value + 1) × fixed point) in 16 bits, the fixed
// point being the largest that keeps the array's largest value within 16 bits: each
// (value + 1) is written within a factor exp(±0.5 / fixed point) of the original.
//
// Either codec refuses an array it cannot hold (see each function): the caller writes
// that array without numpress, so no value is ever written less exactly than promised.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace tarnvale::mzml::numpress {

// Appends the linear-prediction encoding of `values` to `out` and returns true; or
// returns false with `out` as it was, when the array holds fewer than two values (a
// lone value takes more bytes than a float, and decoders in use refuse it), a NaN or an
// infinity, starts with a negative value (the first two are stored unsigned), or
// when some value would come back less exact than a 32-bit float holds it (or, below
// 1, further than 2^-24 from it): residuals so large that the step gets coarse.
bool append_linear(std::span<const double> values, std::vector<std::uint8_t>& out);

// Appends the short-logged-float encoding of `values` to `out` and returns true; or
// returns false with `out` as it was, when the array is empty or holds a negative
// value, a NaN or an infinity (the logarithm has no place for them). A negative zero
// comes back as zero.
bool append_slof(std::span<const double> values, std::vector<std::uint8_t>& out);
bool append_slof(std::span<const float> values, std::vector<std::uint8_t>& out);

} // namespace tarnvale::mzml::numpress
