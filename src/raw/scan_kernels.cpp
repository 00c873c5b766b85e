#include "raw/scan_kernels.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <vector>

#include "raw/record_layouts.hpp"

// A scan is walked in blocks of records. For each block one branch-free loop
// counts the records that carry a decodable point; when that is all of them (the
// common case) the conversion loops read the block straight from the scan.
// Otherwise the records with a point are packed into a small buffer that stays in
// the L1 cache, without branches, checked, and converted from there.
//
// The conversion loops (one per output array) have no calls, no branches and no
// table look-ups, so the compiler vectorises them; the calibration kind is
// resolved once per scan. Each loop computes every value by one fixed sequence of
// IEEE operations, the same in every lane of every vector width as in a plain
// loop, so all paths give the same bytes (the build never fuses a multiply and an
// add, on any path). Where a product of an integer and a power of two is needed,
// it is built directly from bits, which gives the identical, exact value.
//
// Each path's entry points are flattened: everything they call is compiled into
// them with the path's instruction set, and nothing compiled for a wider set is
// ever shared with a narrower path.

namespace tarnvale::raw::kernels {

namespace {

using records::LayoutA;
using records::LayoutBC;
using records::LayoutD;
using records::store_le64;

constexpr std::size_t kBlockRecords = 256;
constexpr double kInverse2Pow16 = 0x1p-16;

// ---------------------------------------------------------------- calibration

// Horner's rule from the last coefficient, starting from 0: the initial 0·x is
// kept because it is NaN for non-finite x, and the result must not change.
inline double horner(const double* coefficients, std::size_t count, double x) {
    double acc = 0.0;
    for (std::size_t k = count; k-- > 0;) acc = acc * x + coefficients[k];
    return acc;
}

struct Uncalibrated {
    double operator()(double x) const { return x; }
};

struct NoCoefficients {
    double operator()(double) const { return 0.0; }
};

// Polynomials of up to six terms get a fixed length, so that the loop over the
// coefficients unrolls and the loop over the points vectorises.
template <std::size_t N> struct FixedPolynomial {
    std::array<double, N> coefficients;
    double operator()(double x) const { return horner(coefficients.data(), N, x); }
};

// For an argument known to be positive and finite, 0·x is +0 and Horner's first
// step gives 0 + c[N-1] (which turns −0 into +0) for every point: computed once.
template <std::size_t N> struct FixedPolynomialOfPositive {
    double leading;
    std::array<double, N - 1> coefficients;
    double operator()(double x) const {
        double acc = leading;
        for (std::size_t k = N - 1; k-- > 0;) acc = acc * x + coefficients[k];
        return acc;
    }
};

struct Polynomial {
    const double* coefficients;
    std::size_t count;
    double operator()(double x) const { return horner(coefficients, count, x); }
};

template <std::size_t N, bool kPositive> auto fixed_polynomial(const std::vector<double>& c) {
    if constexpr (kPositive) {
        FixedPolynomialOfPositive<N> polynomial{};
        polynomial.leading = 0.0 + c[N - 1];
        std::copy_n(c.begin(), N - 1, polynomial.coefficients.begin());
        return polynomial;
    } else {
        FixedPolynomial<N> polynomial{};
        std::copy_n(c.begin(), N, polynomial.coefficients.begin());
        return polynomial;
    }
}

// Calls `body` with the calibration of `context` as a callable object. kPositive:
// every argument is positive and finite (the square roots of A and D).
template <bool kPositive, class Body> Outcome with_calibration(const DecodeContext& context, Body&& body) {
    if (context.cal_type == CalType::T0) return body(Uncalibrated{});
    const std::vector<double>& c = context.coefficients;
    switch (c.size()) {
    case 0:
        return body(NoCoefficients{});
    case 1:
        return body(fixed_polynomial<1, kPositive>(c));
    case 2:
        return body(fixed_polynomial<2, kPositive>(c));
    case 3:
        return body(fixed_polynomial<3, kPositive>(c));
    case 4:
        return body(fixed_polynomial<4, kPositive>(c));
    case 5:
        return body(fixed_polynomial<5, kPositive>(c));
    case 6:
        return body(fixed_polynomial<6, kPositive>(c));
    default:
        return body(Polynomial{c.data(), c.size()});
    }
}

// ---------------------------------------------------------------- walking records

// Calls visit(i, record) for each of `count` records stored 8 bytes apart at
// `records`, in order, in a loop the compiler vectorises.
template <class Layout, class Visit>
void visit_records(const std::uint8_t* records, std::size_t count, Visit&& visit) {
    for (std::size_t i = 0; i < count; ++i) visit(i, Layout::load(records + 8 * i));
}

// Encoding A's records are copied into 8-byte slots first: a 6-byte stride is an
// access pattern GCC does not vectorise. Two records at a time go through one
// 16-byte shuffle (bytes 0..7 and 6..13 of the 16 at the pair; a slot's last two
// bytes are never read), which reads 4 bytes past the pair: the scan's last pair
// and an odd record are copied exactly, one at a time.
void copy_to_slots(const std::uint8_t* block, std::size_t count, bool ends_scan, std::uint8_t* slots) {
    using Bytes16 = std::uint8_t __attribute__((vector_size(16)));
    const std::size_t shuffled = ends_scan && count >= 2 ? count / 2 - 1 : count / 2;
#pragma GCC unroll 4
    for (std::size_t j = 0; j < shuffled; ++j) {
        Bytes16 pair;
        std::memcpy(&pair, block + 12 * j, sizeof pair);
        const Bytes16 two_slots =
            __builtin_shufflevector(pair, pair, 0, 1, 2, 3, 4, 5, 6, 7, 6, 7, 8, 9, 10, 11, 12, 13);
        std::memcpy(slots + 16 * j, &two_slots, sizeof two_slots);
    }
    for (std::size_t i = 2 * shuffled; i < count; ++i)
        store_le64(slots + 8 * i, LayoutA::load_exact(block + 6 * i));
}

// Whether every record of a block carries a decodable point, from three bitwise
// reductions that the conversion loop carries along: the bits set in every record,
// the bits set in any, and a flag per record whose intensity field (as a 32-bit
// integer f, the lanes in which the intensity is converted) is zero. (f − 1) & ~f
// has bit 31 set exactly when f is zero: the subtraction then borrows through all
// 32 bits, and otherwise sets bit 31 only if it leaves f below 2^31, which f
// itself then had set.
template <class Layout> class BlockCheck {
  public:
    void add(std::uint64_t record) {
        in_all_ &= record;
        in_any_ |= record;
        const std::uint32_t intensity = records::intensity_field<Layout>(record);
        zero_intensity_ |= (intensity - 1) & ~intensity;
    }
    bool every_record_decodable() const {
        return (zero_intensity_ & 0x8000'0000u) == 0 && (in_all_ & Layout::kRequired) == Layout::kRequired &&
               (in_any_ & Layout::kForbidden) == 0;
    }

  private:
    std::uint64_t in_all_ = ~std::uint64_t{0};
    std::uint64_t in_any_ = 0;
    std::uint32_t zero_intensity_ = 0;
};

// ---------------------------------------------------------------- conversions

// Writes the points of a block. A and D write m/z and intensity in one loop, so
// that everything else runs beside the square roots. B and C take two loops: the
// first writes each record's intensity and, where its m/z goes, the flight time
// (and B's drift time, when every record of the block has a point); the second
// turns the flight times into m/z in place. Storing the flight time in between
// changes nothing (it is a double either way), and two shorter chains of dependent
// operations keep more records in flight than one long one: on the long chain the
// out-of-order core runs out of scheduler entries for waiting vector operations
// long before it runs out of execution units.
template <class Layout, class Points> struct PointWriter {
    const Points& points;
    double* __restrict mz;
    float* __restrict intensity;

    PointWriter(const Points& p, PointOutput out) : points(p), mz(out.mz), intensity(out.intensity) {}
    // The loop over the records.
    void operator()(std::size_t i, std::uint64_t record) const {
        if constexpr (Points::kTwoLoops)
            mz[i] = points.argument(record);
        else
            mz[i] = points.mz(points.argument(record));
        intensity[i] = Layout::intensity(record);
    }
    // The second loop, after the first one.
    void finish(std::size_t count) const {
        if constexpr (Points::kTwoLoops) {
            for (std::size_t i = 0; i < count; ++i) mz[i] = points.mz(mz[i]);
        }
    }
};

template <class Points, class VisitAll>
void write_drift_times(const Points& points, PointOutput out, VisitAll visit_all) {
    if constexpr (Points::kDrift) {
        if (out.drift_time_ms == nullptr) return;
        double* __restrict drift = out.drift_time_ms;
        visit_all([&](std::size_t i, std::uint64_t record) { drift[i] = points.drift_time_ms(record); });
    }
}

// A and D: raw m/z -> (calibrated sqrt(raw))². raw is always positive (its
// mantissa has the top bit set), so fabs changes nothing; it only tells the
// compiler that sqrt cannot fail, which lets it use vector square roots.
template <class Layout, class Calibration> struct RawMzPoints {
    static constexpr bool kDrift = false;
    static constexpr bool kTwoLoops = false;
    Calibration calibrated;

    double argument(std::uint64_t record) const { return std::sqrt(std::fabs(Layout::raw_mz(record))); }
    double mz(double root) const {
        const double c = calibrated(root);
        return c * c;
    }
};

// B and C: flight time t (µs) -> (calibrated t / tof_k_us)², with t from
// `flight_time(record)`; B also has drift times.
template <class FlightTime, class Calibration, bool kWithDrift> struct FlightTimePoints {
    static constexpr bool kDrift = kWithDrift;
    static constexpr bool kTwoLoops = true;
    FlightTime flight_time;
    Calibration calibrated;
    double tof_k_us;
    double scan_time_ms;

    double argument(std::uint64_t record) const { return flight_time(record); }
    double mz(double t) const {
        const double ratio = calibrated(t) / tof_k_us;
        return ratio * ratio;
    }
    double drift_time_ms(std::uint64_t record) const {
        return LayoutBC::word(record) * scan_time_ms * kInverse2Pow16;
    }
};

// ---------------------------------------------------------------- blocks

using PackBuffer = std::array<std::uint8_t, 8 * kBlockRecords>;

// Copies the records with a point to `packed` (which may be where they are), 8
// bytes each, without branches; returns how many.
template <class Layout>
std::size_t keep_points(const std::uint8_t* block, std::size_t count, std::uint8_t* packed) {
    std::size_t kept = 0;
    visit_records<Layout>(block, count, [&](std::size_t, std::uint64_t record) {
        records::store_le64(packed + 8 * kept, record);
        kept += static_cast<std::size_t>(records::has_point<Layout>(record));
    });
    return kept;
}

template <class Layout>
std::optional<std::uint64_t> first_invalid(const std::uint8_t* packed, std::size_t count) {
    if constexpr (Layout::kRequired != 0 || Layout::kForbidden != 0) {
        std::size_t valid = 0; // counted without branches first: an invalid record is rare
        visit_records<Layout>(packed, count, [&](std::size_t, std::uint64_t record) {
            valid += static_cast<std::size_t>(records::valid<Layout>(record));
        });
        if (valid == count) return std::nullopt;
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint64_t record = Layout::load(packed + 8 * i);
            if (!records::valid<Layout>(record)) return record;
        }
    }
    return std::nullopt;
}

// Writes the points of every record of the block; says whether every record
// carries a decodable point (when not, what was written is no result). Without
// kConvert, a two-loop conversion stops after its first loop (flight times for m/z).
template <class Layout, bool kConvert = true, class Points>
bool write_all_checked(const Points& points, const std::uint8_t* block, std::size_t count, PointOutput out) {
    const PointWriter<Layout, Points> write(points, out);
    BlockCheck<Layout> check;
    if constexpr (Points::kDrift) {
        if (out.drift_time_ms != nullptr) {
            // Drift times in the same pass, which loads each record once for all three arrays.
            double* __restrict drift = out.drift_time_ms;
            visit_records<Layout>(block, count, [&](std::size_t i, std::uint64_t record) {
                check.add(record);
                write(i, record);
                drift[i] = points.drift_time_ms(record);
            });
            if (!check.every_record_decodable()) return false;
            if constexpr (kConvert) write.finish(count);
            return true;
        }
    }
    visit_records<Layout>(block, count, [&](std::size_t i, std::uint64_t record) {
        check.add(record);
        write(i, record);
    });
    if (!check.every_record_decodable()) return false;
    if constexpr (kConvert) write.finish(count);
    write_drift_times(points, out, [&](auto visit) { visit_records<Layout>(block, count, visit); });
    return true;
}

// Writes the points of the records with a point: packs them into `buffer`, checks
// and converts them from there. Returns how many, or the first record with a point
// that cannot be decoded.
template <class Layout, class Points>
Outcome write_kept(const Points& points, const std::uint8_t* block, std::size_t count, PackBuffer& buffer,
                   PointOutput out) {
    const std::size_t kept = keep_points<Layout>(block, count, buffer.data());
    if (auto invalid = first_invalid<Layout>(buffer.data(), kept)) return {0, invalid};
    const PointWriter<Layout, Points> write(points, out);
    visit_records<Layout>(buffer.data(), kept, write);
    write.finish(kept);
    write_drift_times(points, out, [&](auto visit) { visit_records<Layout>(buffer.data(), kept, visit); });
    return {kept, std::nullopt};
}

// Walks the scan block by block. A block is first converted as it is, with the
// check carried along; when the check finds a record without a decodable point,
// what was written is dropped and the block goes through write_kept. Once a block
// needed that, the next ones go to write_kept directly, until one turns out to have
// a point in every record.
template <class Layout, class Points>
Outcome decode_records(Bytes scan, const Points& points, PointOutput out) {
    const std::size_t total = scan.size() / Layout::kSize;
    alignas(64) PackBuffer buffer;
    std::size_t written = 0;
    bool expect_gaps = false;
    for (std::size_t first = 0; first < total; first += kBlockRecords) {
        const std::size_t count = std::min(kBlockRecords, total - first);
        const std::uint8_t* block = scan.data() + first * Layout::kSize;
        if constexpr (Layout::kSize != 8) {
            copy_to_slots(block, count, first + count == total, buffer.data());
            block = buffer.data();
        }
        const PointOutput at = advanced(out, written);
        if (!expect_gaps && write_all_checked<Layout>(points, block, count, at)) {
            written += count;
            continue;
        }
        const Outcome kept = write_kept<Layout>(points, block, count, buffer, at);
        if (kept.invalid_record) return {written, kept.invalid_record};
        written += kept.written;
        expect_gaps = kept.written < count;
    }
    return {written, std::nullopt};
}

// ---------------------------------------------------------------- four records at once

// B and C scans of a few records are converted four records to a step, in explicit
// vectors of four lanes (one or two vector registers on every path): each lane
// computes its value by the operations of the scalar code, in the same order.
using Words8 = std::uint32_t __attribute__((vector_size(32)));
using Words4 = std::uint32_t __attribute__((vector_size(16)));
using Ints4 = std::int32_t __attribute__((vector_size(16)));
using Floats4 = float __attribute__((vector_size(16)));
using Doubles4 = double __attribute__((vector_size(32)));

// The 32-bit words, taken as signed, converted exactly (every word used is below 2^31
// or offset into the signed range first). A macro: a function passing 32-byte vectors
// by value would have a calling convention that differs between the paths.
#define TV_TO_DOUBLES(words) __builtin_convertvector(std::bit_cast<Ints4>(words), Doubles4)

// Four 8-byte records, split into their lower and upper 32-bit halves.
struct FourRecords {
    Words4 low;
    Words4 high;

    static FourRecords load(const std::uint8_t* records) {
        Words8 words;
        std::memcpy(&words, records, sizeof words);
        return {__builtin_shufflevector(words, words, 0, 2, 4, 6),
                __builtin_shufflevector(words, words, 1, 3, 5, 7)};
    }
};

// ---------------------------------------------------------------- encodings

template <class Layout> Outcome decode_raw_mz(const Inputs& in) {
    return with_calibration<true>(in.context, [&](auto calibrated) {
        return decode_records<Layout>(in.scan, RawMzPoints<Layout, decltype(calibrated)>{calibrated}, in.out);
    });
}

// B: the record's time-bin position on the scan's axis.
struct FlightTimeB {
    explicit FlightTimeB(FlightTimeAxis axis) : a(axis) {}
    double operator()(std::uint64_t record) const {
        return (LayoutBC::position(record) - a.first) * a.slope + a.t_low;
    }
    // The same for four records, from their upper halves.
    void four(Words4 high, double* flight_times) const {
        const Doubles4 t = (TV_TO_DOUBLES(high >> 16) - a.first) * a.slope + a.t_low;
        std::memcpy(flight_times, &t, sizeof t);
    }
    FlightTimeAxis a;
};

// C: the sum fraction × 2^-16 + (position − first) is formed in one exact step: the record's upper half
// holds the 16.16 fixed-point position 65536·position + fraction, so the sum equals
// (upper − 65536·first) × 2^-16, every intermediate being an integer below 2^33 or its exact
// power-of-two scaling. upper is converted as a signed value offset by 2^31, which the vector
// units convert directly.
struct FlightTimeC {
    explicit FlightTimeC(FlightTimeAxis axis) : a(axis), bias(axis.first * 65536.0 - 2147483648.0) {}
    double operator()(std::uint64_t record) const {
        const auto upper = static_cast<std::int32_t>(LayoutBC::high_half(record) ^ 0x8000'0000u);
        return ((static_cast<double>(upper) - bias) * kInverse2Pow16) * a.slope + a.t_low;
    }
    void four(Words4 high, double* flight_times) const {
        const Doubles4 t = ((TV_TO_DOUBLES(high ^ 0x8000'0000u) - bias) * kInverse2Pow16) * a.slope + a.t_low;
        std::memcpy(flight_times, &t, sizeof t);
    }
    FlightTimeAxis a;
    double bias;
};

template <class FlightTime, bool kWithDrift, class Calibration>
FlightTimePoints<FlightTime, Calibration, kWithDrift>
flight_time_points(FlightTimeAxis axis, const Calibration& calibrated, const DecodeContext& context) {
    return {FlightTime(axis), calibrated, context.tof_k_us, kWithDrift ? context.scan_time_ms : 0.0};
}

template <class FlightTime, bool kWithDrift> Outcome decode_flight_time(const Inputs& in) {
    return with_calibration<false>(in.context, [&](auto calibrated) {
        return decode_records<LayoutBC>(
            in.scan, flight_time_points<FlightTime, kWithDrift>(in.axis, calibrated, in.context), in.out);
    });
}

// The first loop over four records from `records` on, written from `out` on, with
// their zero-intensity flags added to `zero_intensity` (little-endian hosts only: the
// lanes are the records' halves as they lie in memory).
template <class FlightTime>
void write_four_records(const FlightTime& flight_time, double scan_time_ms, const std::uint8_t* records,
                        PointOutput out, Words4& zero_intensity) {
    const FourRecords four = FourRecords::load(records);
    const Words4 intensity = four.low >> 16;
    zero_intensity |= std::bit_cast<Words4>(intensity == 0);
    flight_time.four(four.high, out.mz);
    const Floats4 intensity_values = __builtin_convertvector(std::bit_cast<Ints4>(intensity), Floats4);
    std::memcpy(out.intensity, &intensity_values, sizeof intensity_values);
    if (out.drift_time_ms != nullptr) {
        const Doubles4 drift = TV_TO_DOUBLES(four.high & 0xFFFFu) * scan_time_ms * kInverse2Pow16;
        std::memcpy(out.drift_time_ms, &drift, sizeof drift);
    }
}

inline bool any_lane(Words4 flags) { return (flags[0] | flags[1] | flags[2] | flags[3]) != 0; }

// The first loop of B and C for a scan of a few records, four records to a step
// (little-endian hosts) and then record by record: the vector loops' set-up and alias
// checks cost more than such a scan's records. The values are those of
// write_all_checked<LayoutBC, false>, by the same operations; says whether every
// record carries a point (when not, what was written is no result).
constexpr std::size_t kShortScanRecords = 16;

template <class Points>
bool write_short_scan_checked(const Points& points, const std::uint8_t* records, std::size_t count,
                              PointOutput out) {
    std::size_t i = 0;
    if constexpr (std::endian::native == std::endian::little) {
        if (!Points::kDrift) out.drift_time_ms = nullptr;
        Words4 zero_intensity{};
        for (; i + 4 <= count; i += 4)
            write_four_records(points.flight_time, points.scan_time_ms, records + 8 * i, advanced(out, i),
                               zero_intensity);
        if (any_lane(zero_intensity)) return false;
    }
    BlockCheck<LayoutBC> check;
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC novector
#endif
    for (; i < count; ++i) {
        const std::uint64_t record = LayoutBC::load(records + 8 * i);
        check.add(record);
        out.mz[i] = points.argument(record);
        out.intensity[i] = LayoutBC::intensity(record);
        if constexpr (Points::kDrift) {
            if (out.drift_time_ms != nullptr) out.drift_time_ms[i] = points.drift_time_ms(record);
        }
    }
    return check.every_record_decodable();
}

// The first loop over consecutive scans of four to eight records, the common ion-mobility
// scan, in a loop of its own that keeps its pointers and constants in registers: each
// scan in one step of four records or, when longer, two: its first four and its last
// four (below eight they overlap, and the records in both are written twice with the
// same values). Stops before a scan of another length or one with a record without a
// point, which is left to the general loop; says where it stopped and how many points
// it wrote.
struct SmallScans {
    std::size_t next = 0;
    std::size_t points = 0;
};

constexpr std::size_t kSmallScanMin = 4;
constexpr std::size_t kSmallScanMax = 8;

template <class FlightTime, bool kWithDrift>
SmallScans write_small_scans(std::span<const Bytes> scans, std::size_t k, FlightTimeBounds bounds,
                             double scan_time_ms, PointOutput out, std::size_t* written) {
    if (!kWithDrift) out.drift_time_ms = nullptr;
    std::size_t points = 0;
    for (; k < scans.size(); ++k) {
        const Bytes scan = scans[k];
        const std::size_t count = scan.size() / LayoutBC::kSize;
        if (count < kSmallScanMin || count > kSmallScanMax) break;
        const std::optional<FlightTimeAxis> axis = whole_scan_axis(scan, bounds);
        if (!axis) {
            written[k] = 0;
            continue;
        }
        const FlightTime flight_time(*axis);
        Words4 zero_intensity{};
        write_four_records(flight_time, scan_time_ms, scan.data(), out, zero_intensity);
        if (count > 4)
            write_four_records(flight_time, scan_time_ms, scan.data() + 8 * (count - 4),
                               advanced(out, count - 4), zero_intensity);
        if (any_lane(zero_intensity)) break;
        written[k] = count;
        points += count;
        // The pointers move on with the points, in registers, rather than being
        // recomputed from the run's start for every scan.
        out = advanced(out, count);
    }
    return {k, points};
}

// The second loop of B and C over `count` points whose first loop has run.
template <class Points>
void convert_flight_times(const Points& points, double* __restrict mz, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) mz[i] = points.mz(mz[i]);
}

// Runs of B and C scans. A short scan, of one block at most, takes only the first
// loop (and the drift times) on its own, on its own axis (four records to a step when
// it is shorter still, and scans of four to eight records in a loop of their own); the
// second loop, which does not depend on the axis, then runs once over the points of
// many scans, so that a scan of a few records does not pay for the loops of a whole
// block. A longer scan, or one with a record without a point, goes through
// decode_records as it would alone, once the points before it are converted. The
// values are those of decode_flight_time.
template <class FlightTime, bool kWithDrift> void decode_flight_time_run(const RunInputs& in) {
    (void)with_calibration<false>(in.context, [&](auto calibrated) {
        const auto converter = flight_time_points<FlightTime, kWithDrift>({}, calibrated, in.context);
        std::size_t written = 0;
        std::size_t converted = 0; // the points before this one have their m/z
        auto convert_pending = [&] {
            convert_flight_times(converter, in.out.mz + converted, written - converted);
            converted = written;
        };
        for (std::size_t k = 0; k < in.scans.size(); ++k) {
            if constexpr (std::endian::native == std::endian::little) {
                const SmallScans small = write_small_scans<FlightTime, kWithDrift>(
                    in.scans, k, in.bounds, converter.scan_time_ms, advanced(in.out, written), in.written);
                k = small.next;
                written += small.points;
                if (k == in.scans.size()) break;
            }
            const Bytes scan = in.scans[k];
            const std::optional<FlightTimeAxis> axis = whole_scan_axis(scan, in.bounds);
            if (!axis) {
                in.written[k] = 0;
                continue;
            }
            // Built in each branch: the vector loops' constants are then set up only where they are used.
            auto points = [&] {
                return flight_time_points<FlightTime, kWithDrift>(*axis, calibrated, in.context);
            };
            const PointOutput at = advanced(in.out, written);
            const std::size_t count = scan.size() / LayoutBC::kSize;
            bool first_loop_done = false;
            if (count <= kShortScanRecords)
                first_loop_done = write_short_scan_checked(points(), scan.data(), count, at);
            else if (count <= kBlockRecords)
                first_loop_done = write_all_checked<LayoutBC, false>(points(), scan.data(), count, at);
            if (first_loop_done) {
                in.written[k] = count;
                written += count;
                continue;
            }
            convert_pending();
            in.written[k] = decode_records<LayoutBC>(scan, points(), at).written;
            written += in.written[k];
            converted = written;
        }
        convert_pending();
        return Outcome{};
    });
}

// ---------------------------------------------------------------- paths

// One set of entry points per path, each flattened so that the whole decode is
// compiled with that path's instruction set. The attributes come last (they hold commas).
#define TV_KERNEL_SET(suffix, ...)                                                                           \
    __VA_ARGS__ Outcome decode_a_##suffix(const Inputs& in) { return decode_raw_mz<LayoutA>(in); }           \
    __VA_ARGS__ Outcome decode_b_##suffix(const Inputs& in) {                                                \
        return decode_flight_time<FlightTimeB, true>(in);                                                    \
    }                                                                                                        \
    __VA_ARGS__ Outcome decode_c_##suffix(const Inputs& in) {                                                \
        return decode_flight_time<FlightTimeC, false>(in);                                                   \
    }                                                                                                        \
    __VA_ARGS__ Outcome decode_d_##suffix(const Inputs& in) { return decode_raw_mz<LayoutD>(in); }           \
    __VA_ARGS__ void decode_b_run_##suffix(const RunInputs& in) {                                            \
        decode_flight_time_run<FlightTimeB, true>(in);                                                       \
    }                                                                                                        \
    __VA_ARGS__ void decode_c_run_##suffix(const RunInputs& in) {                                            \
        decode_flight_time_run<FlightTimeC, false>(in);                                                      \
    }                                                                                                        \
    constexpr KernelSet kKernels_##suffix{decode_a_##suffix, decode_b_##suffix,     decode_c_##suffix,       \
                                          decode_d_##suffix, decode_b_run_##suffix, decode_c_run_##suffix};

TV_KERNEL_SET(baseline, [[gnu::flatten]])
#if defined(__x86_64__)
TV_KERNEL_SET(avx2, [[gnu::flatten, gnu::target("arch=x86-64-v3")]])
// GCC keeps to 256-bit vectors for x86-64-v4 unless told otherwise; clang takes no
// vector-width preference in a target attribute.
#if defined(__clang__)
TV_KERNEL_SET(avx512, [[gnu::flatten, gnu::target("arch=x86-64-v4")]])
#else
TV_KERNEL_SET(avx512, [[gnu::flatten, gnu::target("arch=x86-64-v4,prefer-vector-width=512")]])
#endif
#endif
#undef TV_KERNEL_SET
#undef TV_TO_DOUBLES

} // namespace

const KernelSet& kernels_for(DecoderPath path) {
#if defined(__x86_64__)
    switch (path) {
    case DecoderPath::Avx2:
        return kKernels_avx2;
    case DecoderPath::Avx512:
        return kKernels_avx512;
    case DecoderPath::Baseline:
        break;
    }
#else
    (void)path;
#endif
    return kKernels_baseline;
}

} // namespace tarnvale::raw::kernels
