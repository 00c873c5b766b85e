// An opened raw directory's tables, queries and their exact failure messages,
// chromatogram traces and the files they come from.
#include "reader/acquisition.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "reader/locate.hpp"
#include "support/log_capture.hpp"
#include "support/raw_dir.hpp"

namespace tarnvale {
namespace {

namespace fs = std::filesystem;
using namespace tarnvale::testing;

constexpr std::uint64_t kU64Max = std::numeric_limits<std::uint64_t>::max();

const RecordA kA256 = record_a_mz(100, 256.0);

// Two functions of which the second has no data file, and two channels of which
// only the first has a data file.
RawDirSpec two_functions_two_channels() {
    RawDirSpec spec;
    spec.header.cal = {{1, "0,1,T1"}, {2, "0,1,T1"}};
    spec.functions = {function_a({{kA256}, {kA256, kA256}}), function_a({{kA256}})};
    spec.functions[0].scans[1].rt_min = 0.25f;
    spec.omit = {"_FUNC002.DAT"};
    spec.chroms = ChromsInfFields{.channels = {{.source_type = 4, .label = "Pressure"}, {.label = "Temp"}}};
    spec.chro = {{3, {{0.5f, 10.0f}, {1.0f, 12.5f}}}};
    return spec;
}

std::string replaced(std::string text, std::string_view key, const std::string& value) {
    for (auto at = text.find(key); at != std::string::npos; at = text.find(key, at + value.size()))
        text.replace(at, key.size(), value);
    return text;
}

// What a query came to: "ok" or the failure's message.
template <class T> std::string outcome(const QueryResult<T>& result) {
    return result ? std::string("ok") : result.error().message();
}

struct Opened {
    explicit Opened(const RawDirSpec& spec) : dir(write_raw_dir(temp, spec)), acquisition(open(dir)) {}

    static Acquisition open(const fs::path& dir) {
        auto opened = Acquisition::open(dir);
        if (!opened) throw std::runtime_error("open failed: " + opened.error().message());
        return std::move(*opened);
    }

    TempDir temp;
    fs::path dir;
    Acquisition acquisition;
};

TEST(AcquisitionOpen, KeepsEveryFunctionRecordAndTheChannelTable) {
    RawDirSpec spec = two_functions_two_channels();
    spec.extern_inf.function_titles = {{1, "TOF MSMS"}};
    spec.extern_inf.extra_lines = {"Set Mass\t556.28", "Start Mass (Da)\t50", "End Mass\t1200.5"};
    const Opened o(spec);
    const Acquisition& a = o.acquisition;

    EXPECT_EQ(a.dir(), o.dir);
    EXPECT_EQ(a.reader().functions.size(), 1u);
    ASSERT_EQ(a.function_table().functions.size(), 2u);
    EXPECT_EQ(a.function_table().functions[1].index, 2u);
    ASSERT_TRUE(a.channel_table().has_value());
    ASSERT_EQ(a.channel_table()->channels.size(), 2u);
    EXPECT_EQ(a.channel_table()->channels[0].name, "Pressure");
    EXPECT_EQ(a.channel_table()->channels[0].source_type, 4u);

    // What an export needs from _extern.inf stays with the reader.
    const raw::ExternFunction& extern_function = a.reader().extern_inf.functions.at(1);
    EXPECT_EQ(extern_function.kind, raw::FunctionKind::Msms);
    EXPECT_EQ(extern_function.set_mass, 556.28);
    EXPECT_EQ(extern_function.start_mass, 50.0);
    EXPECT_EQ(extern_function.end_mass, 1200.5);
}

TEST(AcquisitionOpen, NoChannelTableIsNoFailure) {
    RawDirSpec spec = two_functions_two_channels();
    spec.chroms.reset();
    EXPECT_FALSE(Opened(spec).acquisition.channel_table().has_value());
}

TEST(AcquisitionOpen, FailsWithTheReadersErrorOrTheChannelTables) {
    const struct {
        std::function<void(RawDirSpec&)> adjust;
        std::string error; // {dir} is the directory
    } cases[] = {
        {[](RawDirSpec& s) { s.omit = {"_HEADER.TXT"}; },
         "parse error: required file _HEADER.TXT missing in {dir}"},
        {[](RawDirSpec& s) { s.extra_files = {{"_CHROMS.INF", std::string(10, 'x')}}; },
         "reading {dir}/_CHROMS.INF: parse error: _CHROMS.INF too small: 10 bytes (need at least 298)"},
        {[](RawDirSpec& s) { s.chroms->record_size = 84; },
         "reading {dir}/_CHROMS.INF: parse error: _CHROMS.INF: record size field is 84, expected 85"},
        {[](RawDirSpec& s) {
             s.chroms.reset();
             s.extra_files = {{"a_CHROMS.INF", ""}, {"b_CHROMS.INF", ""}};
         },
         "parse error: multiple files match _CHROMS.INF in {dir}"},
    };
    for (const auto& c : cases) {
        TempDir temp;
        RawDirSpec spec = two_functions_two_channels();
        c.adjust(spec);
        const fs::path dir = write_raw_dir(temp, spec);
        auto opened = Acquisition::open(dir);
        ASSERT_FALSE(opened.has_value()) << c.error;
        EXPECT_EQ(opened.error().message(), replaced(c.error, "{dir}", dir.string()));
    }
}

// A run among thousands of unrelated files: the open lists the directory once, however
// many functions it has, and finds what a listing per file would find; queries made
// after the open list it anew.
TEST(AcquisitionOpen, ListsACrowdedDirectoryOnce) {
    RawDirSpec spec = two_functions_two_channels();
    spec.functions.assign(60, function_a({{kA256}, {kA256}}));
    spec.omit = {"_FUNC020.DAT"};
    spec.on_disk_name = {{"_HEADER.TXT", "_header.txt"}, {"_FUNC010.IDX", "run_func010.idx"}};
    for (int i = 0; i < 3000; ++i) spec.extra_files["unrelated" + std::to_string(i) + ".bin"] = "x";
    TempDir temp;
    const fs::path dir = write_raw_dir(temp, spec);

    const std::uint64_t before = directory_listings_started();
    const auto reader = Reader::open(dir);
    ASSERT_TRUE(reader) << reader.error().to_string();
    EXPECT_EQ(directory_listings_started() - before, 1u);
    const Acquisition acquisition = Opened::open(dir);
    EXPECT_EQ(directory_listings_started() - before, 2u);

    ASSERT_EQ(acquisition.reader().functions.size(), 59u);
    EXPECT_EQ(acquisition.function_table().functions.size(), 60u);
    EXPECT_TRUE(acquisition.channel_table().has_value());
    EXPECT_TRUE(acquisition.read_chrom(0).has_value());
    EXPECT_TRUE(acquisition.find_side_file("_NOTES.TXT").has_value());
    EXPECT_EQ(directory_listings_started() - before, 4u);

    for (const FunctionEntry& entry : acquisition.reader().functions) {
        const auto dat = find_file(dir, numbered_name("_FUNC", entry.number, ".DAT"));
        ASSERT_TRUE(dat && *dat);
        EXPECT_EQ(entry.dat_path, **dat);
        EXPECT_EQ(entry.scans.size(), 2u);
    }
}

TEST(AcquisitionQueries, FunctionAndRetentionTimeNameWhatIsMissing) {
    const Opened o(two_functions_two_channels());
    const Acquisition& a = o.acquisition;
    const struct {
        std::uint32_t function;
        std::uint64_t scan;
        std::string outcome;
    } cases[] = {
        {1, 0, "ok"},
        {1, 1, "ok"},
        {1, 2, "scan 2 out of range"},
        {1, kU64Max, "scan 18446744073709551615 out of range"},
        {2, 0, "function 2 not found"}, // in the table, but the reader skipped it
        {0, 0, "function 0 not found"},
        {std::numeric_limits<std::uint32_t>::max(), 0, "function 4294967295 not found"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.outcome);
        EXPECT_EQ(outcome(a.retention_time(c.function, c.scan)), c.outcome);
        if (c.scan == 0) {
            EXPECT_EQ(outcome(a.function(c.function)), c.outcome);
        }
    }
    EXPECT_EQ(*a.retention_time(1, 1), 0.25f);
    EXPECT_EQ(*a.function(1), &a.reader().functions[0]);
}

TEST(AcquisitionQueries, ReadChromReadsTheChannelsFileAnew) {
    const Opened o(two_functions_two_channels());
    auto points = o.acquisition.read_chrom(0);
    ASSERT_TRUE(points.has_value()) << points.error().message();
    ASSERT_EQ(points->size(), 2u);
    EXPECT_EQ((*points)[1].rt_min, 1.0f);
    EXPECT_EQ((*points)[1].value, 12.5f);

    fs::remove(o.dir / "_CHRO003.DAT");
    EXPECT_EQ(outcome(o.acquisition.read_chrom(0)), "CHRO file 3 not found");
}

TEST(AcquisitionQueries, ReadChromFailures) {
    const struct {
        std::function<void(RawDirSpec&)> adjust;
        std::uint64_t channel;
        std::string outcome; // {dir} is the directory
    } cases[] = {
        {[](RawDirSpec&) {}, 1, "CHRO file 4 not found"},
        {[](RawDirSpec&) {}, kU64Max - 3, "CHRO file 18446744073709551615 not found"},
        {[](RawDirSpec&) {}, kU64Max, "CHRO file 18446744073709551618 not found"},
        {[](RawDirSpec& s) { s.chroms.reset(); }, 0, "no _CHROMS.INF in this .raw directory"},
        {[](RawDirSpec& s) { s.chro[3] = {{0.5f, 1.0f}}; }, 0, "ok"},
        {[](RawDirSpec& s) {
             s.chro.clear();
             s.extra_files = {{"run_chro003.dat", std::string(136, '\0')}};
         },
         0, "ok"},
        {[](RawDirSpec& s) { s.extra_files = {{"_CHRO003.DAT", std::string(100, '\0')}}; }, 0,
         "reading {dir}/_CHRO003.DAT: parse error: _CHRO*.DAT too small: 100 bytes (need at least 128)"},
        {[](RawDirSpec& s) { s.extra_files = {{"_CHRO003.DAT", std::string(140, '\0')}}; }, 0,
         "reading {dir}/_CHRO003.DAT: parse error: _CHRO*.DAT data section size 12 is not a multiple of 8"},
        {[](RawDirSpec& s) {
             s.chro.clear();
             s.extra_files = {{"A_CHRO003.DAT", ""}, {"B_CHRO003.DAT", ""}};
         },
         0, "parse error: multiple files match _CHRO003.DAT in {dir}"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.outcome);
        RawDirSpec spec = two_functions_two_channels();
        c.adjust(spec);
        const Opened o(spec);
        EXPECT_EQ(outcome(o.acquisition.read_chrom(c.channel)), replaced(c.outcome, "{dir}", o.dir.string()));
    }
}

TEST(ChroFile, NumberIsTheChannelPlusThreeAlsoPastTwoToThe64) {
    const struct {
        std::uint64_t channel;
        std::string number;
        std::string name;
    } cases[] = {
        {0, "3", "_CHRO003.DAT"},
        {996, "999", "_CHRO999.DAT"},
        {997, "1000", "_CHRO1000.DAT"},
        {kU64Max - 3, "18446744073709551615", "_CHRO18446744073709551615.DAT"},
        {kU64Max - 2, "18446744073709551616", "_CHRO18446744073709551616.DAT"},
        {kU64Max, "18446744073709551618", "_CHRO18446744073709551618.DAT"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(chro_file_number(c.channel), c.number) << c.channel;
        EXPECT_EQ(chro_file_name(c.channel), c.name) << c.channel;
    }
}

TEST(AcquisitionSideFiles, FoundByTheNameRulesWithoutLogLines) {
    RawDirSpec spec = two_functions_two_channels();
    spec.extra_files = {{"RUN_NOTES.TXT", "x"}, {"_Extra.Inf", "x"}};
    const Opened o(spec);
    LogCapture log;
    const struct {
        std::string wanted;
        std::string found; // empty: not found
    } cases[] = {{"_NOTES.TXT", "RUN_NOTES.TXT"}, {"_EXTRA.INF", "_Extra.Inf"}, {"_NONE.TXT", ""}};
    for (const auto& c : cases) {
        auto found = o.acquisition.find_side_file(c.wanted);
        ASSERT_TRUE(found.has_value()) << found.error().to_string();
        EXPECT_EQ(found->value_or(fs::path()), c.found.empty() ? fs::path() : o.dir / c.found);
    }
    EXPECT_TRUE(log.records().empty());

    // A listing failure is the bare I/O error, without "listing <dir>".
    fs::remove_all(o.dir);
    EXPECT_EQ(error_text(o.acquisition.find_side_file("_NOTES.TXT")), kNoSuchFile);
}

} // namespace
} // namespace tarnvale
