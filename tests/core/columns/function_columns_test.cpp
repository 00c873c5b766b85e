// Whole functions as columns against Reader::decode_scan, scan by scan and bit for
// bit, on random directories of every encoding, at several thread counts and read sizes.
#include "columns/function_columns.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "columns/chromatograms.hpp"
#include "columns/decode_into.hpp"
#include "processing/scan_processing.hpp"
#include "support/random_raw.hpp"

namespace tarnvale::columns {
namespace {

namespace fs = std::filesystem;
using namespace tarnvale::testing;

Reader open_reader(const fs::path& dir) {
    auto reader = Reader::open(dir);
    if (!reader) throw std::runtime_error("open failed: " + reader.error().to_string());
    return std::move(*reader);
}

template <class T> bool same_bits(std::span<const T> a, std::span<const T> b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size_bytes()) == 0);
}

// One scan of the columns against decode_scan's answer for it.
void expect_scan(const FunctionColumns& columns, std::uint64_t scan, const DecodedScan& decoded) {
    const auto first = static_cast<std::size_t>(columns.scan_offsets.view()[scan]);
    const auto count = static_cast<std::size_t>(columns.scan_offsets.view()[scan + 1] - first);
    std::span<const double> mz, drift;
    std::span<const float> intensity;
    if (const auto* ims = std::get_if<raw::ImsSpectrum>(&decoded.spectrum)) {
        mz = ims->mz;
        intensity = ims->intensity;
        drift = ims->drift_time_ms;
        ASSERT_TRUE(columns.drift_time_ms);
        EXPECT_TRUE(same_bits(columns.drift_time_ms->view().subspan(first, count), drift)) << "scan " << scan;
    } else {
        const auto& spectrum = std::get<raw::Spectrum>(decoded.spectrum);
        mz = spectrum.mz;
        intensity = spectrum.intensity;
        EXPECT_FALSE(columns.drift_time_ms);
    }
    EXPECT_TRUE(same_bits(columns.mz.view().subspan(first, count), mz)) << "scan " << scan;
    EXPECT_TRUE(same_bits(columns.intensity.view().subspan(first, count), intensity)) << "scan " << scan;
}

// A scan as decode_scan gives it, or with processing as read_processed_scan does.
Result<DecodedScan> read_scan(const Reader& reader, std::uint64_t scan,
                              const processing::ScanProcessing* processing) {
    const std::uint32_t function = reader.functions.front().number;
    return processing ? processing::read_processed_scan(reader, function, scan, *processing)
                      : reader.decode_scan(function, scan);
}

// Every scan: the same points as decode_scan, or skipped exactly where it fails.
void expect_skip_mode_matches(const Reader& reader, const FunctionColumns& columns,
                              const processing::ScanProcessing* processing = nullptr) {
    const FunctionEntry& entry = reader.functions.front();
    ASSERT_EQ(columns.n_scans(), entry.scans.size());
    ASSERT_EQ(columns.scan_offsets.size(), entry.scans.size() + 1);
    EXPECT_EQ(columns.scan_offsets.view().front(), 0u);
    EXPECT_EQ(columns.scan_offsets.view().back(), columns.n_points());
    std::vector<std::uint64_t> failing;
    for (std::uint64_t scan = 0; scan < entry.scans.size(); ++scan) {
        auto decoded = read_scan(reader, scan, processing);
        if (!decoded) {
            failing.push_back(scan);
            EXPECT_EQ(columns.scan_offsets.view()[scan], columns.scan_offsets.view()[scan + 1]);
            continue;
        }
        expect_scan(columns, scan, *decoded);
    }
    EXPECT_EQ(columns.skipped, failing);
}

// Without skipping: decode_scan's error for the first scan it fails on, or all of it.
void expect_fail_mode_matches(const Reader& reader, const Result<FunctionColumns>& columns,
                              const processing::ScanProcessing* processing = nullptr) {
    const FunctionEntry& entry = reader.functions.front();
    for (std::uint64_t scan = 0; scan < entry.scans.size(); ++scan) {
        auto decoded = read_scan(reader, scan, processing);
        if (!decoded) {
            EXPECT_EQ(error_text(columns), decoded.error().to_string());
            return;
        }
    }
    ASSERT_TRUE(columns) << columns.error().to_string();
    EXPECT_TRUE(columns->skipped.empty());
    expect_skip_mode_matches(reader, *columns, processing);
}

struct Shape {
    char encoding;
    bool damaged;
    std::size_t scans;
    std::size_t max_points;
};

class ColumnsMatchDecodeScan : public ::testing::TestWithParam<Shape> {};

TEST_P(ColumnsMatchDecodeScan, AtEveryThreadCountAndReadSize) {
    const Shape shape = GetParam();
    for (std::uint32_t seed = 1; seed <= 4; ++seed) {
        SCOPED_TRACE(std::format("seed {}", seed));
        std::mt19937 random(seed * 7919 + static_cast<std::uint32_t>(shape.encoding));
        TempDir temp;
        const Reader reader = open_reader(write_raw_dir(
            temp, random_raw_dir(random, {shape.encoding, shape.scans, shape.max_points, shape.damaged})));
        ASSERT_EQ(reader.functions.size(), 1u);
        const FunctionEntry& entry = reader.functions.front();
        if (shape.encoding == 'B' || shape.encoding == 'C') {
            ASSERT_EQ(encoding_letter(entry.encoding), shape.encoding);
        }
        for (unsigned threads : {1u, 2u, 8u}) {
            // Reads of a few records make chunks end inside scans and runs.
            for (std::size_t chunk : {std::size_t{0}, std::size_t{40}, std::size_t{1000}}) {
                SCOPED_TRACE(std::format("{} threads, chunk {}", threads, chunk));
                auto skipping = read_columns(reader, entry, {threads, OnError::Skip, chunk});
                ASSERT_TRUE(skipping) << skipping.error().to_string();
                expect_skip_mode_matches(reader, *skipping);
                expect_fail_mode_matches(reader,
                                         read_columns(reader, entry, {threads, OnError::Fail, chunk}));
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Encodings, ColumnsMatchDecodeScan,
    ::testing::Values(Shape{'A', false, 60, 12}, Shape{'A', true, 80, 12}, Shape{'D', false, 60, 12},
                      Shape{'D', true, 80, 12}, Shape{'B', false, 60, 12}, Shape{'B', true, 80, 12},
                      Shape{'C', false, 60, 12}, Shape{'C', true, 80, 12}, Shape{'A', false, 3, 3000},
                      Shape{'B', true, 12, 600},
                      // B and C runs cut at their most scans, and runs
                      // holding scans of more than a block.
                      Shape{'B', true, 2100, 4}, Shape{'C', false, 2100, 4}, Shape{'C', true, 40, 700}),
    [](const ::testing::TestParamInfo<Shape>& param) {
        const Shape& s = param.param;
        return std::format("{}_{}_{}x{}", s.encoding, s.damaged ? "damaged" : "whole", s.scans, s.max_points);
    });

// Picked and corrected columns hold each scan as read_processed_scan gives it, at every
// thread count and read size (runs of scans compacted after picking included), and the
// chromatograms read straight from the file are those of the processed columns.
class ProcessedColumns : public ::testing::TestWithParam<Shape> {};

std::shared_ptr<const processing::ScanProcessing> picking_and_gains(const FunctionEntry& entry) {
    const double last = entry.scans.size() == 0 ? 1 : entry.scans.rt_min(entry.scans.size() - 1);
    const std::vector<double> rt{0.1 * last, 0.6 * last};
    const std::vector<double> gain{1 - 20e-6, 1 + 15e-6};
    auto processing = std::make_shared<processing::ScanProcessing>();
    processing->picking = processing::PickingOptions{.min_intensity = 3, .min_points = 1};
    processing->lock_mass =
        processing::LockMassCorrection{2, 556.2766, 0.25, 0, processing::GainCurve(rt, gain)};
    return processing;
}

TEST_P(ProcessedColumns, MatchProcessedScansAtEveryThreadCountAndReadSize) {
    const Shape shape = GetParam();
    for (std::uint32_t seed = 1; seed <= 3; ++seed) {
        SCOPED_TRACE(std::format("seed {}", seed));
        std::mt19937 random(seed * 31337 + static_cast<std::uint32_t>(shape.encoding));
        TempDir temp;
        const Reader reader =
            open_reader(write_raw_dir(temp, random_raw_dir(random, {shape.encoding, shape.scans,
                                                                    shape.max_points, shape.damaged, true})));
        const FunctionEntry& entry = reader.functions.front();
        const auto processing = picking_and_gains(entry);
        if (shape.encoding == 'B' || shape.encoding == 'C') { // the profile does get picked
            const auto plain = read_columns(reader, entry, {1, OnError::Skip, 0});
            const auto picked = read_columns(reader, entry, {1, OnError::Skip, 0, processing});
            ASSERT_TRUE(plain && picked);
            EXPECT_LT(picked->n_points(), plain->n_points());
        }
        for (unsigned threads : {1u, 2u, 8u}) {
            for (std::size_t chunk : {std::size_t{0}, std::size_t{40}}) {
                SCOPED_TRACE(std::format("{} threads, chunk {}", threads, chunk));
                const Options skip{threads, OnError::Skip, chunk, processing};
                auto skipping = read_columns(reader, entry, skip);
                ASSERT_TRUE(skipping) << skipping.error().to_string();
                expect_skip_mode_matches(reader, *skipping, processing.get());
                expect_fail_mode_matches(
                    reader, read_columns(reader, entry, {threads, OnError::Fail, chunk, processing}),
                    processing.get());
                const ChromatogramRequest request{
                    .tic = true, .base_peak = true, .targets = {{700.0, 600.0}}};
                const auto from_file = read_chromatograms(reader, entry, request, skip);
                const auto from_columns = chromatograms_of(*skipping, request);
                ASSERT_TRUE(from_file && from_columns);
                EXPECT_TRUE(same_bits(from_file->tic->view(), from_columns->tic->view()));
                EXPECT_TRUE(same_bits(from_file->base_peak_mz->view(), from_columns->base_peak_mz->view()));
                EXPECT_TRUE(same_bits(from_file->xic.view(), from_columns->xic.view()));
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Encodings, ProcessedColumns,
                         ::testing::Values(Shape{'B', false, 60, 40}, Shape{'B', true, 80, 40},
                                           Shape{'C', false, 60, 40}, Shape{'C', true, 80, 40},
                                           Shape{'B', true, 2100, 6}, Shape{'A', true, 80, 12},
                                           Shape{'D', false, 60, 12}),
                         [](const ::testing::TestParamInfo<Shape>& param) {
                             const Shape& s = param.param;
                             return std::format("{}_{}_{}x{}", s.encoding, s.damaged ? "damaged" : "whole",
                                                s.scans, s.max_points);
                         });

// Runs of A scans with empty scans inside, whose index offsets lie before the run
// and past the end of the file: where a run's points must be counted scan by scan
// (a record without a point) or the run decoded again scan by scan (a record that
// cannot be decoded), the empty scans stay empty.
struct EmptyScansInARun {
    const char* name;
    std::uint16_t dropped_intensity; // of the first record of scan 2; 0 drops it
    std::uint32_t last_mantissa;     // of scan 4's record; without the top bit it cannot be decoded
    std::vector<std::uint64_t> skipped;
};

const EmptyScansInARun kEmptyScansInARun[] = {
    {"every record a point", 700, 0x9A0000, {}},
    {"a record without a point", 0, 0x9A0000, {}},
    {"a record that cannot be decoded", 700, 0x1A0000, {4}},
};

TEST(Columns, EmptyScansInsideARunStayEmpty) {
    for (const EmptyScansInARun& run : kEmptyScansInARun) {
        SCOPED_TRACE(run.name);
        // A padding record, then scans 0, 2 and 4 one after the other.
        const std::vector<RecordA> records = {
            record_a(5, 0x40, 0x900000),   record_a(100, 0x40, 0x800000),
            record_a(200, 0x40, 0x880000), record_a(run.dropped_intensity, 0x40, 0x8C0000),
            record_a(300, 0x40, 0x980000), record_a(400, 0x40, run.last_mantissa)};
        FunctionSpec function = function_a({});
        function.dat_bytes = join(records);
        function.index_a = std::vector<IndexARecord>{{.offset = 6, .n_points = 2, .rt_min = 0.1f},
                                                     {.offset = 9000, .n_points = 0, .rt_min = 0.2f},
                                                     {.offset = 18, .n_points = 2, .rt_min = 0.3f},
                                                     {.offset = 0, .n_points = 0, .rt_min = 0.4f},
                                                     {.offset = 30, .n_points = 1, .rt_min = 0.5f}};
        RawDirSpec spec;
        spec.functions = {function};
        TempDir temp;
        const Reader reader = open_reader(write_raw_dir(temp, spec));
        for (unsigned threads : {1u, 2u, 8u}) {
            for (std::size_t chunk : {std::size_t{0}, std::size_t{12}}) {
                SCOPED_TRACE(std::format("{} threads, chunk {}", threads, chunk));
                auto skipping =
                    read_columns(reader, reader.functions.front(), {threads, OnError::Skip, chunk});
                ASSERT_TRUE(skipping) << skipping.error().to_string();
                EXPECT_EQ(skipping->skipped, run.skipped);
                expect_skip_mode_matches(reader, *skipping);
                expect_fail_mode_matches(
                    reader, read_columns(reader, reader.functions.front(), {threads, OnError::Fail, chunk}));
            }
        }
    }
}

// Each scan's record count without its byte range is the one its byte range gives,
// for damaged indexes of both layouts too.
class ScanRecordCounts : public ::testing::TestWithParam<Shape> {};

TEST_P(ScanRecordCounts, AreThoseOfTheByteRanges) {
    const Shape shape = GetParam();
    for (std::uint32_t seed = 1; seed <= 6; ++seed) {
        std::mt19937 random(seed * 104729 + static_cast<std::uint32_t>(shape.encoding));
        TempDir temp;
        const Reader reader = open_reader(write_raw_dir(
            temp, random_raw_dir(random, {shape.encoding, shape.scans, shape.max_points, shape.damaged})));
        const FunctionEntry& entry = reader.functions.front();
        const ScanRecords records(entry);
        const ScanRanges ranges(entry);
        const RecordWidth width(record_width(entry.encoding));
        for (std::uint64_t scan = 0; scan < entry.scans.size(); ++scan)
            ASSERT_EQ(records(scan), width.records(ranges(scan).length))
                << "seed " << seed << " scan " << scan;
    }
}

INSTANTIATE_TEST_SUITE_P(Encodings, ScanRecordCounts,
                         ::testing::Values(Shape{'A', true, 80, 12}, Shape{'D', true, 80, 12},
                                           Shape{'B', true, 80, 12}, Shape{'A', false, 40, 12}),
                         [](const ::testing::TestParamInfo<Shape>& param) {
                             const Shape& s = param.param;
                             return std::format("{}_{}", s.encoding, s.damaged ? "damaged" : "whole");
                         });

// Functions large enough to be split over workers at block edges: every thread count
// gives the bytes of one thread, also where records without a point or skipped scans
// leave a part short of its bound.
class LargeFunctions : public ::testing::TestWithParam<Shape> {};

template <class T> bool same_column(const std::optional<Column<T>>& a, const std::optional<Column<T>>& b) {
    return a.has_value() == b.has_value() && (!a || same_bits(a->view(), b->view()));
}

void expect_same_columns(const FunctionColumns& a, const FunctionColumns& b) {
    EXPECT_TRUE(same_bits(a.scan_offsets.view(), b.scan_offsets.view()));
    EXPECT_TRUE(same_bits(a.mz.view(), b.mz.view()));
    EXPECT_TRUE(same_bits(a.intensity.view(), b.intensity.view()));
    EXPECT_TRUE(same_column(a.drift_time_ms, b.drift_time_ms));
    EXPECT_TRUE(same_bits(a.rt_min.view(), b.rt_min.view()));
    EXPECT_TRUE(same_column(a.collision_energy, b.collision_energy));
    EXPECT_TRUE(same_column(a.etd_fragmentation_mode, b.etd_fragmentation_mode));
    EXPECT_EQ(a.skipped, b.skipped);
}

TEST_P(LargeFunctions, GiveTheBytesOfOneThreadAtEveryThreadCount) {
    const Shape shape = GetParam();
    std::mt19937 random(static_cast<std::uint32_t>(shape.encoding) * 31 + (shape.damaged ? 1 : 0));
    TempDir temp;
    const Reader reader = open_reader(write_raw_dir(
        temp, random_raw_dir(random, {shape.encoding, shape.scans, shape.max_points, shape.damaged})));
    const FunctionEntry& entry = reader.functions.front();
    auto one = read_columns(reader, entry, {1, OnError::Skip, 0});
    ASSERT_TRUE(one) << one.error().to_string();
    const auto failing = read_columns(reader, entry, {1, OnError::Fail, 0});
    for (unsigned threads : {2u, 3u, 8u}) {
        SCOPED_TRACE(std::format("{} threads", threads));
        auto many = read_columns(reader, entry, {threads, OnError::Skip, 0});
        ASSERT_TRUE(many) << many.error().to_string();
        expect_same_columns(*one, *many);
        const auto many_failing = read_columns(reader, entry, {threads, OnError::Fail, 0});
        ASSERT_EQ(many_failing.has_value(), failing.has_value());
        if (!failing) {
            EXPECT_EQ(error_text(many_failing), error_text(failing));
        }
    }
}

// Blocks of 1,024 scans, at least eight per worker at eight workers.
INSTANTIATE_TEST_SUITE_P(Encodings, LargeFunctions,
                         ::testing::Values(Shape{'A', false, 65'600, 3}, Shape{'A', true, 65'600, 3},
                                           Shape{'D', true, 17'000, 3}, Shape{'B', true, 65'600, 3},
                                           Shape{'C', false, 17'000, 3}),
                         [](const ::testing::TestParamInfo<Shape>& param) {
                             const Shape& s = param.param;
                             return std::format("{}_{}_{}", s.encoding, s.damaged ? "damaged" : "whole",
                                                s.scans);
                         });

// The workers fill the per-scan values of their own scans: every split gives the same.
class PerScanValues : public ::testing::TestWithParam<unsigned> {};

TEST_P(PerScanValues, ComeFromTheIndexAndTheStatistics) {
    const unsigned threads = GetParam();
    for (std::uint32_t seed = 1; seed <= 8; ++seed) {
        std::mt19937 random(seed);
        TempDir temp;
        const Reader reader = open_reader(write_raw_dir(temp, random_raw_dir(random, {'D', 30, 4, false})));
        const FunctionEntry& entry = reader.functions.front();
        auto columns = read_columns(reader, entry, {threads, OnError::Fail, 0});
        ASSERT_TRUE(columns);
        ASSERT_EQ(columns->rt_min.size(), entry.scans.size());
        EXPECT_EQ(columns->function, 1u);
        EXPECT_EQ(columns->encoding, entry.encoding);
        ASSERT_EQ(columns->collision_energy.has_value(), entry.sts.has_value());
        ASSERT_EQ(columns->etd_fragmentation_mode.has_value(), entry.sts.has_value());
        for (std::uint64_t scan = 0; scan < entry.scans.size(); ++scan) {
            EXPECT_EQ(columns->rt_min.view()[scan], entry.scans.rt_min(scan));
            if (!entry.sts) continue;
            const double nan = std::nan("");
            EXPECT_TRUE(same_bits(columns->collision_energy->view().subspan(scan, 1),
                                  std::span<const double>({entry.collision_energy(scan).value_or(nan)})));
            EXPECT_TRUE(
                same_bits(columns->etd_fragmentation_mode->view().subspan(scan, 1),
                          std::span<const double>({entry.etd_fragmentation_mode(scan).value_or(nan)})));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Threads, PerScanValues, ::testing::Values(1u, 2u, 8u));

// The data file changes between opening and reading: columns fail where decode_scan fails.
struct FileChange {
    const char* name;
    void (*apply)(const fs::path& dat);
    const char* expected; // a part of the error, "" when any scan may decode
};

const FileChange kFileChanges[] = {
    {"shrank", [](const fs::path& dat) { fs::resize_file(dat, fs::file_size(dat) / 2); }, ""},
    {"emptied", [](const fs::path& dat) { fs::resize_file(dat, 0); }, "failed to fill whole buffer"},
    {"vanished", [](const fs::path& dat) { fs::remove(dat); }, "No such file or directory"},
    {"became a FIFO",
     [](const fs::path& dat) {
         fs::remove(dat);
         if (::mkfifo(dat.c_str(), 0600) != 0) throw std::runtime_error("mkfifo failed");
     },
     "_FUNC001.DAT: not a regular file"},
};

TEST(Columns, ADataFileThatChangedAfterOpeningFailsWhereDecodeScanFails) {
    for (const FileChange& change : kFileChanges) {
        SCOPED_TRACE(change.name);
        std::mt19937 random(11);
        TempDir temp;
        const fs::path dir = write_raw_dir(temp, random_raw_dir(random, {'A', 50, 10, false}));
        const Reader reader = open_reader(dir);
        change.apply(dir / "_FUNC001.DAT");
        for (unsigned threads : {1u, 2u, 8u}) {
            auto columns = read_columns(reader, reader.functions.front(), {threads, OnError::Fail, 64});
            EXPECT_NE(error_text(columns).find(change.expected), std::string::npos) << error_text(columns);
            EXPECT_TRUE(error_text(columns).starts_with(reader.dir.string() + " function 1 scan "));
            auto skipping = read_columns(reader, reader.functions.front(), {threads, OnError::Skip, 64});
            ASSERT_TRUE(skipping);
            expect_skip_mode_matches(reader, *skipping);
        }
    }
}

TEST(Columns, AFunctionWithoutScansHasEmptyColumns) {
    TempDir temp;
    RawDirSpec spec;
    spec.functions = {function_a({})};
    const Reader reader = open_reader(write_raw_dir(temp, spec));
    for (unsigned threads : {1u, 4u}) {
        auto columns = read_columns(reader, reader.functions.front(), {threads, OnError::Fail, 0});
        ASSERT_TRUE(columns);
        EXPECT_EQ(columns->n_scans(), 0u);
        EXPECT_EQ(columns->n_points(), 0u);
        EXPECT_EQ(std::vector<std::uint64_t>(columns->scan_offsets.view().begin(),
                                             columns->scan_offsets.view().end()),
                  std::vector<std::uint64_t>{0});
    }
}

} // namespace
} // namespace tarnvale::columns
