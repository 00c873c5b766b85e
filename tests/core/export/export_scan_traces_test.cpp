// The chromatogram values taken per scan while a batch is decoded are, bit for bit,
// those columns::chromatograms_of gives for the decoded batch: for awkward
// intensities (NaN first or later, signed zeros, infinities, ties), for every
// length around the lanes, beyond the lanes' limit, and for whole decoded runs on
// one thread and several.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "columns/chromatograms.hpp"
#include "export/batch_columns.hpp"
#include "export/scan_traces.hpp"
#include "support/random_raw.hpp"
#include "support/raw_dir.hpp"
#include "support/support.hpp"

namespace tarnvale::testing {
namespace {

using exporter::scan_trace;
using exporter::ScanTrace;

constexpr float fnan = std::numeric_limits<float>::quiet_NaN();
constexpr float finf = std::numeric_limits<float>::infinity();

// The columns' own values for one scan of these intensities.
ScanTrace columns_trace(const std::vector<float>& intensity) {
    columns::FunctionColumns batch;
    batch.scan_offsets = columns::Column<std::uint64_t>::from_vector({0, intensity.size()});
    batch.mz = columns::Column<double>::from_vector(std::vector<double>(intensity.size(), 100.0));
    batch.intensity = columns::Column<float>::from_vector(intensity);
    batch.rt_min = columns::Column<float>::from_vector({0.0F});
    const auto traces = columns::chromatograms_of(batch, {.tic = true, .base_peak = true, .targets = {}});
    if (!traces) return {std::numeric_limits<double>::signaling_NaN(), 0};
    return {traces->tic->view()[0], static_cast<double>(traces->base_peak_intensity->view()[0])};
}

// The same bits, but any NaN for a NaN: a NaN's sign and payload depend on the order
// the compiler gives an addition's operands, and every NaN is written as "NaN".
bool same_value(double a, double b) {
    return (std::isnan(a) && std::isnan(b)) ||
           std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

void expect_same_bits(const ScanTrace& got, const ScanTrace& want, const std::string& what) {
    EXPECT_TRUE(same_value(got.tic, want.tic)) << what << ": tic " << got.tic << " vs " << want.tic;
    EXPECT_TRUE(same_value(got.base_peak, want.base_peak))
        << what << ": base peak " << got.base_peak << " vs " << want.base_peak;
}

TEST(ScanTraces, AsTheColumnsGiveThem) {
    struct Case {
        std::string name;
        std::vector<float> intensity;
    };
    const std::vector<Case> cases = {
        {"no points", {}},
        {"one point", {7}},
        {"NaN first stays", {fnan, 5, 9}},
        {"NaN later passed over", {1, fnan, 3, fnan, 2}},
        {"only NaN", {fnan, fnan}},
        {"zero then negative zero", {0.0F, -0.0F, -1}},
        {"negative zero then zero", {-0.0F, -2, 0.0F}},
        {"negative zero after the lanes", {-3, -4, -5, -6, -7, -0.0F, 0.0F}},
        {"signed zeros in different lanes", {-1, -1, -0.0F, -1, -1, 0.0F, -1, -1, -1}},
        {"infinity", {1, finf, 2, finf}},
        {"all minus infinity", {-finf, -finf, -finf, -finf, -finf}},
        {"greatest in the last lane", {1, 2, 3, 4, 5, 6, 7, 8, 9}},
        {"greatest in the tail", {1, 1, 1, 1, 1, 1, 9}},
        {"sum in lanes", {9007199254740992.0F, 1, 1, 1, 1, 1, 1, 1}},
        {"ties far apart", {3, 1, 1, 1, 1, 1, 1, 1, 1, 3}},
    };
    for (const Case& c : cases) expect_same_bits(scan_trace(c.intensity), columns_trace(c.intensity), c.name);

    // Every length around the lanes, with special values sprinkled in.
    std::mt19937 random(5);
    const float specials[] = {fnan, finf, -finf, 0.0F, -0.0F, 1e-45F, 3.4028235e38F};
    for (std::size_t length = 0; length < 40; ++length) {
        for (int round = 0; round < 20; ++round) {
            std::vector<float> intensity(length);
            for (float& value : intensity) {
                const auto pick = random() % 12;
                value = pick < std::size(specials) ? specials[pick] : static_cast<float>(random() % 5);
            }
            expect_same_bits(scan_trace(intensity), columns_trace(intensity),
                             std::to_string(length) + " points, round " + std::to_string(round));
        }
    }
}

// Past 2^21 points the columns sum one point after another; ones added to 2^53 tell
// that from the lanes (one after another, each is rounded away).
TEST(ScanTraces, LongScansSumInPointOrder) {
    for (const std::size_t length : {std::size_t{1} << 21, (std::size_t{1} << 21) + 1}) {
        std::vector<float> intensity(length, 1.0F);
        intensity[0] = 9007199254740992.0F;
        expect_same_bits(scan_trace(intensity), columns_trace(intensity), std::to_string(length) + " points");
    }
}

class DecodedTraces : public ::testing::TestWithParam<char> {};

// Whole batches of random scans read on one thread and on three: each scan's values
// are those chromatograms_of gives for the batch read.
TEST_P(DecodedTraces, MatchTheColumnsChromatograms) {
    std::mt19937 random(23);
    const TempDir temp;
    const auto raw = write_raw_dir(temp, random_raw_dir(random, {.encoding = GetParam(), .scans = 50}));
    auto reader = Reader::open(raw);
    ASSERT_TRUE(reader) << reader.error().to_string();
    const FunctionEntry& entry = reader->functions.front();
    const columns::Column<float> rt_min = columns::retention_times(entry);
    for (const unsigned threads : {1u, 3u}) {
        auto batch = exporter::read_batch(*reader, entry, rt_min, 3, entry.scans.size(), threads);
        ASSERT_TRUE(batch) << batch.error().to_string();
        const auto want =
            columns::chromatograms_of(batch->columns, {.tic = true, .base_peak = true, .targets = {}});
        ASSERT_TRUE(want);
        ASSERT_EQ(batch->traces.size(), batch->columns.n_scans());
        for (std::size_t scan = 0; scan < batch->traces.size(); ++scan)
            expect_same_bits(
                batch->traces[scan],
                {want->tic->view()[scan], static_cast<double>(want->base_peak_intensity->view()[scan])},
                std::to_string(threads) + " threads, scan " + std::to_string(scan));
    }
}

INSTANTIATE_TEST_SUITE_P(Encodings, DecodedTraces, ::testing::Values('A', 'B', 'C', 'D'));

} // namespace
} // namespace tarnvale::testing
