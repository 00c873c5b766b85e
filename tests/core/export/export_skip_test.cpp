// Skipping and selections in a whole-run conversion: on damaged runs of every
// encoding the scans left out are exactly those decode_scan cannot read or that the
// end of the data file cuts short, and the file's bytes still do not depend on the
// batches or threads; run header dates make a start time only when they are real.
#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "export/convert.hpp"
#include "export/run_description.hpp"
#include "export/start_time.hpp"
#include "reader/reader.hpp"
#include "support/random_raw.hpp"
#include "support/raw_dir.hpp"
#include "support/support.hpp"

namespace tarnvale::testing {
namespace {

using exporter::ConversionOptions;

std::string read_text(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The scans of the function within `rt_min` that decode_scan fails or that lie past
// the end of the data file.
std::vector<std::uint64_t> unreadable_scans(const Reader& reader, const exporter::Interval& rt_min) {
    const FunctionEntry& entry = reader.functions.front();
    const ScanRanges ranges(entry);
    std::vector<std::uint64_t> scans;
    for (std::uint64_t scan = 0; scan < entry.scans.size(); ++scan) {
        if (!rt_min.contains(static_cast<double>(entry.scans.rt_min(scan)))) continue;
        if (!reader.decode_scan(entry.number, scan) || ranges.indexed_end(scan) > entry.dat_len)
            scans.push_back(scan);
    }
    return scans;
}

class SkippingDamagedRuns : public ::testing::TestWithParam<char> {};

TEST_P(SkippingDamagedRuns, LeavesOutWhatCannotBeReadWhateverTheBatchesAndThreads) {
    std::size_t left_out_in_all = 0;
    for (const unsigned seed : {1u, 2u, 3u}) {
        std::mt19937 random(seed);
        const TempDir temp;
        const auto raw = write_raw_dir(
            temp,
            random_raw_dir(random, {.encoding = GetParam(), .scans = 60, .max_points = 20, .damaged = true}));
        const auto reader = Reader::open(raw);
        ASSERT_TRUE(reader) << reader.error().to_string();
        const float middle = reader->functions.front().scans.rt_min(10);
        ConversionOptions options{
            .on_error = columns::OnError::Skip,
            .selection = {.rt_min = {static_cast<double>(middle), std::nullopt}, .mz = {100.0, 2500.0}}};
        const TempDir out;
        std::string reference;
        for (const auto& [scans, threads] : {std::pair{1024u, 1u}, {1u, 1u}, {7u, 3u}, {3u, 2u}}) {
            options.batch.scans = scans;
            options.threads = threads;
            auto summary = exporter::convert_to_mzml(raw, out.path() / "out.mzML", options);
            ASSERT_TRUE(summary) << summary.error().to_string();
            const std::vector<std::uint64_t> expected = unreadable_scans(*reader, options.selection.rt_min);
            const std::vector<std::uint64_t> left_out = summary->left_out.scans.empty()
                                                            ? std::vector<std::uint64_t>{}
                                                            : summary->left_out.scans[0].scans;
            EXPECT_EQ(left_out, expected) << "seed " << seed;
            left_out_in_all += left_out.size();
            const std::string text = read_text(out.path() / "out.mzML");
            if (reference.empty()) reference = text;
            EXPECT_EQ(text, reference) << "seed " << seed << ", " << scans << " scans a batch, " << threads;
        }
        // Without skipping the first of them fails the conversion, marked as a damaged run.
        options.on_error = columns::OnError::Fail;
        auto failed = exporter::convert_to_mzml(raw, out.path() / "fail.mzML", options);
        EXPECT_EQ(failed.has_value(), unreadable_scans(*reader, options.selection.rt_min).empty());
        if (!failed) {
            EXPECT_TRUE(failed.error().damaged);
        }
    }
    EXPECT_GT(left_out_in_all, 0u) << "the runs are damaged";
}

INSTANTIATE_TEST_SUITE_P(Encodings, SkippingDamagedRuns, ::testing::Values('A', 'B', 'C', 'D'));

TEST(StartTimeStampTest, OnlyRealDatesAndTimes) {
    struct Case {
        std::optional<std::string> date;
        std::optional<std::string> time;
        std::optional<std::string> stamp;
    };
    const std::vector<Case> cases = {
        {"14-Jan-2021", "16:20:52", "2021-01-14T16:20:52"},
        {" 5-dec-1999 ", "9:05:00", "1999-12-05T09:05:00"},
        {"29-Feb-2024", "23:59:59", "2024-02-29T23:59:59"},
        {"29-Feb-2023", "12:00:00", std::nullopt}, // not a leap year
        {"31-Apr-2021", "12:00:00", std::nullopt},
        {"0-Jan-2021", "12:00:00", std::nullopt},
        {"14-Jan-21", "12:00:00", std::nullopt}, // which century?
        {"14-January-2021", "12:00:00", std::nullopt},
        {"2021-01-14", "12:00:00", std::nullopt},
        {"14-Jan-2021", "24:00:00", std::nullopt},
        {"14-Jan-2021", "12:60:00", std::nullopt},
        {"14-Jan-2021", "12:00", std::nullopt},
        {"14-Jan-2021", "+1:00:00", std::nullopt},
        {"14-Jan-2021", std::nullopt, std::nullopt},
        {std::nullopt, "12:00:00", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(exporter::start_time_stamp(c.date, c.time), c.stamp)
            << c.date.value_or("-") << " " << c.time.value_or("-");
}

TEST(CompactRangesTest, ConsecutiveNumbersAsRanges) {
    const std::vector<std::pair<std::vector<std::uint64_t>, std::string>> cases = {
        {{}, ""},
        {{7}, "7"},
        {{3, 4, 5, 9}, "3-5,9"},
        {{0, 2, 3, 5, 6, 7}, "0,2-3,5-7"},
        {{18446744073709551614ull, 18446744073709551615ull}, "18446744073709551614-18446744073709551615"}};
    for (const auto& [numbers, text] : cases) EXPECT_EQ(exporter::compact_ranges(numbers), text);
}

} // namespace
} // namespace tarnvale::testing
