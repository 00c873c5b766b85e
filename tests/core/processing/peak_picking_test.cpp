// The picker on hand-made profiles: where segments split, which bins each peak
// takes, where it is placed; and on decoded B and C scans, in place.
#include "processing/peak_picking.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <format>
#include <random>
#include <string>
#include <vector>

#include "processing/record_links.hpp"
#include "processing/scan_picker.hpp"
#include "support/scan_records.hpp"

namespace tarnvale::processing {
namespace {

using namespace tarnvale::testing;

struct Expected {
    std::size_t first;
    std::size_t points;
    double position; // NaN: not checked
    double counts;
};

struct Case {
    std::string name;
    std::vector<std::uint32_t> counts;
    std::vector<double> position; // empty: 0, 1, 2, ...
    std::vector<std::uint8_t> segment_start;
    PickingOptions options;
    std::vector<Expected> peaks;
};

double gaussian_position(double l0, double l1, double l2) { return 0.5 * (l0 - l2) / (l0 - 2 * l1 + l2); }

std::vector<std::uint32_t> sampled_gaussian(double height, double centre, double sigma, std::size_t n) {
    std::vector<std::uint32_t> counts;
    counts.reserve(n);
    for (std::size_t i = 0; i < n; ++i)
        counts.push_back(static_cast<std::uint32_t>(
            std::lround(height * std::exp(-0.5 * std::pow((static_cast<double>(i) - centre) / sigma, 2)))));
    return counts;
}

std::vector<Case> cases() {
    const double log_fit = 2 + gaussian_position(std::log(50.0), std::log(100.0), std::log(80.0));
    const auto pair = [] {
        // Two peaks of 1000 counts 3 sigma apart (sigma 2 bins): the valley is 35 % down.
        std::vector<std::uint32_t> sum(20);
        for (std::size_t i = 0; i < sum.size(); ++i) {
            const double x = static_cast<double>(i);
            sum[i] =
                static_cast<std::uint32_t>(std::lround(1000 * std::exp(-0.5 * std::pow((x - 6) / 2, 2)) +
                                                       1000 * std::exp(-0.5 * std::pow((x - 12) / 2, 2))));
        }
        return sum;
    }();
    return {
        {"lone sample", {7}, {}, {1}, {}, {{0, 1, 0, 7}}},
        {"gaussian through the apex and its neighbours",
         {10, 50, 100, 80, 5},
         {},
         {1, 0, 0, 0, 0},
         {},
         {{0, 5, log_fit, 245}}},
        {"exact gaussian", sampled_gaussian(30000, 7.3, 2.5, 16), {}, {}, {}, {{0, 16, 7.3, NAN}}},
        {"flat top is one peak",
         {10, 40, 40, 40, 20},
         {},
         {},
         {},
         {{0, 5, (40 + 80 + 120 + 80) / 150.0, 150}}},
        {"edge apex", {100, 50, 20}, {}, {}, {}, {{0, 3, 50.0 / 150.0, 170}}},
        {"two-bin segment", {10, 30}, {}, {}, {}, {{0, 2, 0.75, 40}}},
        {"similar peaks 3 sigma apart stay two", pair, {}, {}, {}, {{0, 10, NAN, NAN}, {10, 10, NAN, NAN}}},
        {"wobbling floor is one peak", {5, 6, 5, 7, 5, 6, 5}, {}, {}, {}, {{0, 7, NAN, 39}}},
        {"shoulder merges into the higher peak",
         {100, 900, 400, 380, 390, 100},
         {},
         {},
         {},
         {{0, 6, NAN, 2270}}},
        // The valley bin ends the left peak; the right apex's fit still sees it.
        {"deep valley splits after its lowest bin",
         {60, 100, 5, 100, 60},
         {},
         {},
         {},
         {{0, 3, NAN, 165},
          {3, 2, 3 + gaussian_position(std::log(5.0), std::log(100.0), std::log(60.0)), 160}}},
        // Each fit needs the sample between them: neither is corrected for the other.
        {"maxima two bins apart fit on their own",
         {10, 100, 30, 100, 10},
         {},
         {},
         {},
         {{0, 3, 1 + gaussian_position(std::log(10.0), std::log(100.0), std::log(30.0)), 140},
          {3, 2, 3 + gaussian_position(std::log(30.0), std::log(100.0), std::log(10.0)), 110}}},
        {"split merges a bump in the valley",
         {800, 1000, 100, 120, 110, 1000, 800},
         {},
         {},
         {},
         {{0, 3, NAN, 1900}, {3, 4, NAN, 2030}}},
        {"step on the way up is no maximum",
         {10, 30, 30, 50, 20},
         {},
         {},
         {},
         {{0, 5, 3 + gaussian_position(std::log(30.0), std::log(50.0), std::log(20.0)), 140}}},
        {"step on the way down is no maximum",
         {20, 50, 30, 30, 10},
         {},
         {},
         {},
         {{0, 5, 1 + gaussian_position(std::log(20.0), std::log(50.0), std::log(30.0)), 140}}},
        {"flat valley splits after its first bin",
         {60, 100, 5, 5, 100, 60},
         {},
         {},
         {},
         {{0, 3, NAN, 165}, {3, 3, NAN, 165}}},
        {"flat top at the segment's end", {10, 50, 80, 80}, {}, {}, {}, {{0, 4, 450.0 / 210.0, 220}}},
        {"segments are picked apart",
         {100, 200, 100, 100, 200, 100},
         {},
         {1, 0, 0, 1, 0, 0},
         {},
         {{0, 3, 1, 400}, {3, 3, 4, 400}}},
        {"uneven positions (fractional bins)",
         {50, 100, 50},
         {10.0, 10.5, 12.0},
         {},
         {},
         {{0, 3, 11.0, 200}}}, // the parabola is symmetric about 11
        {"minimum points drops short peaks",
         {7, 9, 30, 9},
         {},
         {1, 1, 0, 0},
         {.min_points = 2},
         {{1, 3, 2, 48}}},
        {"minimum intensity drops weak peaks",
         {7, 30, 60, 30},
         {},
         {1, 1, 0, 0},
         {.min_intensity = 100},
         {{1, 3, 2, 120}}},
    };
}

TEST(PeakPicker, Table) {
    for (Case c : cases()) {
        SCOPED_TRACE(c.name);
        if (c.position.empty())
            for (std::size_t i = 0; i < c.counts.size(); ++i) c.position.push_back(static_cast<double>(i));
        if (c.segment_start.empty()) {
            c.segment_start.assign(c.counts.size(), 0);
            c.segment_start[0] = 1;
        }
        PeakPicker picker(c.options);
        const auto peaks = picker.pick({c.position, c.counts, c.segment_start});
        ASSERT_EQ(peaks.size(), c.peaks.size());
        for (std::size_t k = 0; k < peaks.size(); ++k) {
            SCOPED_TRACE(std::format("peak {}", k));
            EXPECT_EQ(peaks[k].first, c.peaks[k].first);
            EXPECT_EQ(peaks[k].points, c.peaks[k].points);
            if (!std::isnan(c.peaks[k].position)) {
                EXPECT_NEAR(peaks[k].position, c.peaks[k].position, 2e-3);
            }
            if (!std::isnan(c.peaks[k].counts)) {
                EXPECT_EQ(peaks[k].counts, c.peaks[k].counts);
            }
        }
    }
}

// Two peaks 3 to 4 sigma apart: the other's tail pulls a fit through three samples by up
// to 0.3 bin at 3 sigma and 0.06 at 3.5; with the other's Gaussian taken off first the
// errors shrink several times over, whether or not the options keep the other peak.
TEST(PeakPicker, OverlappingPeaksAreFittedApart) {
    struct Row {
        double sigma, apart, ratio; // the second peak `apart` sigma after the first, `ratio` as high
        double within;              // bins, for both peaks
    };
    for (const Row row : {Row{4.0, 3.0, 0.6, 0.12}, Row{2.0, 3.5, 0.6, 0.01}, Row{3.0, 3.5, 1.0, 0.01},
                          Row{4.0, 4.0, 1.0, 0.001}}) {
        SCOPED_TRACE(std::format("sigma {} apart {} ratio {}", row.sigma, row.apart, row.ratio));
        const double centres[2] = {20.3, 20.3 + row.apart * row.sigma};
        const std::vector<std::uint32_t> first = sampled_gaussian(30000, centres[0], row.sigma, 60);
        const std::vector<std::uint32_t> second =
            sampled_gaussian(30000 * row.ratio, centres[1], row.sigma, 60);
        std::vector<std::uint32_t> counts;
        std::vector<double> position;
        for (std::size_t i = 0; i < first.size(); ++i) {
            counts.push_back(first[i] + second[i] + 1); // a floor: one segment
            position.push_back(static_cast<double>(i));
        }
        std::vector<std::uint8_t> segment_start(counts.size(), 0);
        segment_start[0] = 1;
        PeakPicker picker({});
        const auto peaks = picker.pick({position, counts, segment_start});
        ASSERT_EQ(peaks.size(), 2u);
        for (std::size_t k = 0; k < 2; ++k)
            EXPECT_NEAR(peaks[k].position, centres[k], row.within) << "peak " << k;
        const double kept = peaks[0].position;
        PeakPicker dropping_the_second({.min_intensity = static_cast<float>(peaks[1].counts) + 1});
        const auto alone = dropping_the_second.pick({position, counts, segment_start});
        ASSERT_EQ(alone.size(), 1u);
        EXPECT_EQ(alone[0].position, kept);
    }
}

TEST(PeakPicker, ValleyRule) {
    struct Row {
        double lower, valley;
        bool split;
    };
    // max(3·sqrt(lower), lower / 10): the first dominates below 900 counts.
    for (const Row row : {Row{100, 69, true}, Row{100, 70, false}, Row{10000, 8999, true},
                          Row{10000, 9000, false}, Row{4, 0, false}}) {
        SCOPED_TRACE(std::format("lower {} valley {}", row.lower, row.valley));
        EXPECT_EQ(deep_enough(row.lower, row.valley), row.split);
    }
}

// Whole bins take a shortcut through the parabola: its vertex must keep the bits of
// the general formula, or centroided runs would change with it.
TEST(PeakPicker, WholeBinVertexKeepsTheGeneralBits) {
    const auto general = [](double x0, double x1, double x2, double d0, double d2) {
        const double h0 = x0 - x1;
        const double h2 = x2 - x1;
        const double s0 = d0 / h0;
        const double s2 = d2 / h2;
        const double a = (s2 - s0) / (h2 - h0);
        return x1 - (s2 - a * h2) / (2.0 * a);
    };
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> difference(-12.0, 0.0);
    for (int k = 0; k < 20000; ++k) {
        const double x1 = static_cast<double>(random() % 65536);
        const double d0 = k % 97 == 0 ? 0.0 : difference(random);
        const double d2 = k % 89 == 0 ? -1e-300 : difference(random);
        const auto parabola = downward_parabola(x1 - 1, x1, x1 + 1, d0, d2);
        ASSERT_EQ(parabola.has_value(), d0 + d2 < 0);
        if (parabola) {
            ASSERT_EQ(std::bit_cast<std::uint64_t>(parabola->vertex()),
                      std::bit_cast<std::uint64_t>(general(x1 - 1, x1, x1 + 1, d0, d2)))
                << std::format("x1 {} d0 {} d2 {}", x1, d0, d2);
        }
    }
}

TEST(PeakPicker, OptionProblems) {
    EXPECT_FALSE(problem_with(PickingOptions{}));
    EXPECT_TRUE(problem_with(PickingOptions{.min_intensity = -1}));
    EXPECT_TRUE(problem_with(PickingOptions{.min_intensity = NAN}));
    EXPECT_TRUE(problem_with(PickingOptions{.min_points = 0}));
}

// ---------------------------------------------------------------- decoded scans

raw::DecodeContext context() {
    return {.coefficients = {0.01, 1.0001},
            .cal_type = raw::CalType::T1,
            .tof_k_us = 30,
            .mz_low = 100,
            .mz_high = 400,
            .scan_time_ms = 20};
}

struct Decoded {
    std::vector<double> mz, drift;
    std::vector<float> intensity;
    std::size_t count = 0;
};

Decoded decode(char encoding, const std::vector<std::uint8_t>& scan) {
    Decoded d;
    const std::size_t room = scan.size() / 8;
    d.mz.resize(room);
    d.drift.resize(room);
    d.intensity.resize(room);
    const raw::DecodeContext c = context();
    const raw::PointOutput out{d.mz.data(), d.intensity.data(), encoding == 'B' ? d.drift.data() : nullptr};
    d.count = *(encoding == 'B' ? raw::decode_encoding_b_into(scan, c, out)
                                : raw::decode_encoding_c_into(scan, c, out));
    return d;
}

bool same_bits(double a, double b) {
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}
bool same_bits(float a, float b) {
    return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b);
}

TEST(ScanPicker, PicksDecodedScansInPlace) {
    // Positions 0..100 frame the axis; bins 10..12 make a peak, 30 is alone, 50 and 51
    // differ in drift (B) and stay apart, 70 and 72 have a zero record between them.
    const std::vector<Record8> b_records{record_b(0, 0, 0),   record_b(50, 9, 10), record_b(100, 9, 11),
                                         record_b(80, 9, 12), record_b(33, 4, 30), record_b(40, 1, 50),
                                         record_b(41, 2, 51), record_b(9, 3, 70),  record_b(0, 3, 71),
                                         record_b(8, 3, 72),  record_b(0, 0, 100)};
    const std::vector<std::uint8_t> scan = join(b_records);
    const Decoded before = decode('B', scan);
    ASSERT_EQ(before.count, 8u);
    Decoded after = before;
    const raw::DecodeContext c = context();
    ScanPicker picker('B', c, {});
    const std::size_t kept =
        picker.pick(scan, {after.mz.data(), after.intensity.data(), after.drift.data()}, after.count);
    ASSERT_EQ(kept, 6u);
    // The peak: the chain of the decoder at the fitted position, its summed counts, its drift.
    const auto axis = *raw::kernels::whole_scan_axis(scan, raw::flight_time_bounds(c));
    const double fitted = 11 + gaussian_position(std::log(50.0), std::log(100.0), std::log(80.0));
    EXPECT_EQ(after.mz[0], raw::mz_at_flight_time(c, axis.at(fitted)));
    EXPECT_EQ(after.intensity[0], 230.0f);
    EXPECT_TRUE(same_bits(after.drift[0], before.drift[0]));
    // Every other point is alone in its segment and keeps its bits.
    for (std::size_t k = 1; k < kept; ++k) {
        SCOPED_TRACE(k);
        EXPECT_TRUE(same_bits(after.mz[k], before.mz[k + 2]));
        EXPECT_TRUE(same_bits(after.intensity[k], before.intensity[k + 2]));
        EXPECT_TRUE(same_bits(after.drift[k], before.drift[k + 2]));
    }
}

TEST(ScanPicker, FractionsPlaceEncodingCPeaks) {
    // Bins 20, 21, 22 with fractions: the fit runs through positions 20.5, 21.25, 22.0.
    const std::vector<std::uint8_t> scan =
        join({record_c(0, 0, 0), record_c(40, 32768, 20), record_c(90, 16384, 21), record_c(60, 0, 22),
              record_c(0, 0, 200)});
    Decoded d = decode('C', scan);
    const raw::DecodeContext c = context();
    ScanPicker picker('C', c, {});
    ASSERT_EQ(picker.pick(scan, {d.mz.data(), d.intensity.data(), nullptr}, d.count), 1u);
    struct Samples {
        std::vector<double> x{20.5, 21.25, 22.0};
        std::vector<std::uint32_t> counts{40, 90, 60};
        std::uint32_t count(std::size_t i) const { return counts[i]; }
        double position(std::size_t i) const { return x[i]; }
    };
    const double fitted = peak_position(Samples{}, 3, 1, 1);
    EXPECT_GT(fitted, 21.25);
    EXPECT_LT(fitted, 22.0);
    const auto axis = *raw::kernels::whole_scan_axis(scan, raw::flight_time_bounds(c));
    EXPECT_EQ(d.mz[0], raw::mz_at_flight_time(c, axis.at(fitted)));
    EXPECT_EQ(d.intensity[0], 190.0f);
}

// Each record's word: the next record's count when it continues the segment, else 0.
TEST(RecordLinks, EveryPathWritesTheNextCountWhereTheSegmentGoesOn) {
    struct Row {
        std::string name;
        bool with_fraction;
        std::vector<Record8> records;
        std::vector<std::uint32_t> nexts;
    };
    const std::vector<Row> rows{
        {"B: one bin up, the same drift", false, {record_b(5, 7, 10), record_b(9, 7, 11)}, {9, 0}},
        {"B: another drift bin", false, {record_b(5, 7, 10), record_b(9, 8, 11)}, {0, 0}},
        {"B: a gap, the same bin, one down",
         false,
         {record_b(5, 7, 10), record_b(9, 7, 12), record_b(4, 7, 12), record_b(3, 7, 11)},
         {0, 0, 0, 0}},
        {"B: a record without a point", false, {record_b(5, 7, 10), record_b(0, 7, 11)}, {0, 0}},
        {"B: the last bin does not wrap to the first",
         false,
         {record_b(5, 7, 0xFFFF), record_b(9, 7, 0)},
         {0, 0}},
        {"B: nor the last drift word to the next bin's first",
         false,
         {record_b(5, 0xFFFF, 10), record_b(9, 0, 11)},
         {0, 0}},
        {"C: one bin up, whatever the fractions", true, {record_c(5, 40000, 10), record_c(9, 3, 11)}, {9, 0}},
        {"C: the same bin", true, {record_c(5, 1, 10), record_c(9, 2, 10)}, {0, 0}},
        {"C: the last bin does not wrap", true, {record_c(5, 0, 0xFFFF), record_c(9, 0, 0)}, {0, 0}},
        {"one record", false, {record_b(5, 7, 10)}, {0}},
    };
    for (const raw::DecoderPath path : raw::available_decoder_paths()) {
        for (const Row& row : rows) {
            SCOPED_TRACE(std::format("{} on {}", row.name, raw::to_string(path)));
            const std::vector<std::uint8_t> scan = join(row.records);
            std::vector<std::uint32_t> nexts(row.records.size(), 0xDEAD);
            record_links(row.with_fraction, path)(scan, nexts.data());
            EXPECT_EQ(nexts, row.nexts);
        }
    }
    // Long scans, through the vector loops: the same words as the plain loop.
    std::mt19937 random(11);
    for (const bool with_fraction : {false, true}) {
        std::vector<Record8> records;
        std::uint16_t position = 0xFFF0;
        for (int k = 0; k < 999; ++k) {
            position = static_cast<std::uint16_t>(position + (random() % 8 == 0 ? random() % 3 : 1));
            records.push_back(record_bc(static_cast<std::uint16_t>(random() % 4),
                                        static_cast<std::uint16_t>(random() % 2), position));
        }
        const std::vector<std::uint8_t> scan = join(records);
        std::vector<std::uint32_t> plain(records.size());
        record_links(with_fraction, raw::DecoderPath::Baseline)(scan, plain.data());
        for (const raw::DecoderPath path : raw::available_decoder_paths()) {
            std::vector<std::uint32_t> nexts(records.size());
            record_links(with_fraction, path)(scan, nexts.data());
            EXPECT_EQ(nexts, plain) << raw::to_string(path) << (with_fraction ? " C" : " B");
        }
    }
}

} // namespace
} // namespace tarnvale::processing
