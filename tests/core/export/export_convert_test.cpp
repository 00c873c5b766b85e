// Whole runs converted to mzML: the bytes do not depend on threads or batch sizes,
// the header describes the run, ion mobility is laid out as asked, lock-mass
// functions are marked or left out, and failures name the run and leave no file.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "export/batch_spectra.hpp"
#include "export/convert.hpp"
#include "export/run_description.hpp"
#include "mzml/sha1.hpp"
#include "support/random_raw.hpp"
#include "support/raw_dir.hpp"
#include "support/support.hpp"

namespace tarnvale::testing {
namespace {

using exporter::ConversionOptions;
using exporter::ImsLayout;

std::string read_text(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::size_t count_of(const std::string& text, const std::string& what) {
    std::size_t count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
    return count;
}

std::vector<std::string> directory_names(const std::filesystem::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        names.push_back(entry.path().filename());
    std::ranges::sort(names);
    return names;
}

// A run of two functions: a random one of the encoding, and a lock-mass function of
// three encoding A scans; a pressure channel and a solvent composition channel.
RawDirSpec two_function_run(char encoding, unsigned seed, bool profile = false) {
    std::mt19937 random(seed);
    RawDirSpec spec =
        random_raw_dir(random, {.encoding = encoding, .scans = 37, .max_points = 40, .profile = profile});
    FunctionSpec lock = function_a({{record_a_mz(100, 556.2771)}, {}, {record_a_mz(7, 556.2771)}});
    lock.info.scan_subtype = 0x80;
    spec.functions.push_back(lock);
    spec.extern_inf.polarity = "ES+";
    spec.chroms =
        ChromsInfFields{.channels = {{.label = std::string("Pump Pressure\0$CC$,1.0,0,0,0,bar", 32)},
                                     {.label = std::string("Solvent B\0$CC$,1.0,0,0,0,%B", 28)}}};
    spec.chro[3] = {{0.5f, 101.0f}, {1.0f, 102.5f}};
    spec.chro[4] = {{0.5f, 5.0f}};
    return spec;
}

struct Converted {
    std::string text;
    std::uint64_t spectra = 0;
};

Converted convert(const std::filesystem::path& raw, const TempDir& out_dir,
                  const ConversionOptions& options) {
    const std::filesystem::path out = out_dir.path() / "out.mzML";
    auto summary = exporter::convert_to_mzml(raw, out, options);
    EXPECT_TRUE(summary.has_value()) << (summary ? "" : summary.error().to_string());
    if (!summary) return {};
    return {read_text(out), summary->spectra};
}

struct LayoutCase {
    char encoding;
    ImsLayout ims;
    bool processed = false; // peaks picked and the lock mass corrected
};

class SameBytes : public ::testing::TestWithParam<LayoutCase> {};

// Batches of one scan, of a few scans, of one byte's budget and of the whole run, on
// one thread and on three, all write the same file.
TEST_P(SameBytes, WhateverTheBatchesAndThreads) {
    const TempDir temp;
    const bool processed = GetParam().processed;
    const std::filesystem::path raw =
        write_raw_dir(temp, two_function_run(GetParam().encoding, 11, processed));
    const TempDir out;
    ConversionOptions options{.ims = GetParam().ims};
    if (processed)
        options.processing = {.centroid = processing::PickingOptions{},
                              .lock_mass = processing::LockMassOptions{.reference_mz = 556.2771}};
    const Converted reference = convert(raw, out, options);
    ASSERT_FALSE(reference.text.empty());
    if (processed) { // the data processing says what was done
        EXPECT_EQ(count_of(reference.text, "name=\"peak picking\""), GetParam().encoding == 'A' ? 0u : 1u);
        EXPECT_EQ(count_of(reference.text, "<userParam name=\"lock scans used\" value=\"2\""), 1u);
    }
    struct Variant {
        std::uint64_t scans;
        std::uint64_t bytes;
        unsigned threads;
    };
    for (const Variant v : {Variant{1, 1 << 20, 1}, Variant{5, 1 << 20, 3}, Variant{4096, 1, 2},
                            Variant{4096, std::uint64_t{1} << 40, 3}}) {
        options.batch = {v.scans, v.bytes};
        options.threads = v.threads;
        const Converted other = convert(raw, out, options);
        EXPECT_EQ(other.text, reference.text) << v.scans << " scans, " << v.bytes << " bytes, " << v.threads;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Encodings, SameBytes,
    ::testing::Values(LayoutCase{'A', ImsLayout::Combined}, LayoutCase{'B', ImsLayout::Combined},
                      LayoutCase{'B', ImsLayout::PerBin}, LayoutCase{'C', ImsLayout::Combined},
                      LayoutCase{'D', ImsLayout::PerBin}, LayoutCase{'A', ImsLayout::Combined, true},
                      LayoutCase{'B', ImsLayout::Combined, true}, LayoutCase{'B', ImsLayout::PerBin, true},
                      LayoutCase{'C', ImsLayout::Combined, true}));

TEST(ConvertTest, DescribesTheRun) {
    const TempDir temp;
    const std::filesystem::path raw = write_raw_dir(temp, two_function_run('B', 3));
    const TempDir out;
    const Converted converted = convert(raw, out, {});
    const std::string& text = converted.text;
    const std::string sha1 = *mzml::sha1_file_hex(raw / "_FUNCTNS.INF");
    EXPECT_NE(text.find("<mzML xmlns=\"http://psi.hupo.org/ms/mzml\""), std::string::npos);
    EXPECT_NE(text.find("id=\"sample\""), std::string::npos);
    EXPECT_NE(text.find("name=\"sample.raw\""), std::string::npos);
    EXPECT_NE(text.find("location=\"file://" + temp.path().string()), std::string::npos);
    EXPECT_NE(text.find("value=\"" + sha1 + "\""), std::string::npos);
    EXPECT_NE(text.find("MS:1002726"), std::string::npos) << "SYNAPT G2-Si";
    EXPECT_NE(text.find("MS:1003226"), std::string::npos) << "ion mobility content";
    EXPECT_NE(text.find("MS:1000579"), std::string::npos) << "MS1 content";
    EXPECT_EQ(converted.spectra, 37u + 3u);
    EXPECT_NE(text.find("<spectrumList count=\"40\""), std::string::npos);
    // TIC and base peak per function, and the channel.
    EXPECT_NE(text.find("<chromatogramList count=\"6\""), std::string::npos);
    EXPECT_NE(text.find("id=\"BPC function=2\""), std::string::npos);
    EXPECT_NE(text.find("value=\"Pump Pressure\""), std::string::npos);
    // Function 1 is profile (B), the lock-mass function centroid (A) and marked.
    EXPECT_EQ(count_of(text, "name=\"profile spectrum\""), 37u);
    EXPECT_EQ(count_of(text, "name=\"centroid spectrum\""), 3u);
    EXPECT_EQ(count_of(text, "name=\"lock mass function\""), 3u);
    EXPECT_EQ(count_of(text, "MS:1000130"), 40u) << "positive scan";
}

TEST(ConvertTest, SkipLockMassLeavesItsSpectraAndChromatogramsOut) {
    const TempDir temp;
    const std::filesystem::path raw = write_raw_dir(temp, two_function_run('A', 5));
    const TempDir out;
    const Converted converted = convert(raw, out, {.skip_lock_mass = true});
    EXPECT_EQ(converted.spectra, 37u);
    EXPECT_EQ(count_of(converted.text, "function=2 process=0"), 0u);
    EXPECT_EQ(count_of(converted.text, "function=2\""), 0u);
    EXPECT_EQ(count_of(converted.text, "lock mass function"), 0u);
    EXPECT_NE(converted.text.find("<chromatogramList count=\"4\""), std::string::npos);
}

// Per bin, every point of a scan is in exactly one bin's spectrum, and every bin
// named is one of the scan's drift words; combined, one spectrum per scan.
TEST(ConvertTest, PerBinSplitsEveryScanByDriftWord) {
    const TempDir temp;
    RawDirSpec spec;
    spec.header.instrument = "SYNAPT G2-Si";
    FunctionSpec ims = function_b_index({{record_b(5, 100, 10), record_b(6, 300, 20), record_b(7, 100, 30)},
                                         {record_b(1, 65535, 10), record_b(2, 65535, 30)},
                                         {}});
    ims.info.scan_time_s = 0.02f;
    spec.functions.push_back(ims);
    const std::filesystem::path raw = write_raw_dir(temp, spec);
    const TempDir out;
    const Converted per_bin = convert(raw, out, {.ims = ImsLayout::PerBin});
    EXPECT_EQ(per_bin.spectra, 3u);
    for (const char* id :
         {"function=1 process=0 scan=0 driftBin=100", "function=1 process=0 scan=0 driftBin=300",
          "function=1 process=0 scan=1 driftBin=65535"})
        EXPECT_NE(per_bin.text.find(std::string("id=\"") + id + "\""), std::string::npos) << id;
    EXPECT_EQ(count_of(per_bin.text, "MS:1002476"), 3u) << "one drift time per bin";
    EXPECT_EQ(count_of(per_bin.text, "MS:1003153"), 0u);
    const Converted combined = convert(raw, out, {.ims = ImsLayout::Combined});
    EXPECT_EQ(combined.spectra, 3u);
    EXPECT_EQ(count_of(combined.text, "accession=\"MS:1003153\""), 3u);
    EXPECT_EQ(count_of(combined.text, "driftBin"), 0u);
}

TEST(DriftBinsTest, WordsFromTimesOrRanks) {
    struct Case {
        std::vector<double> times;
        double scan_time_ms;
        std::vector<std::uint32_t> bins;
    };
    const double st = static_cast<double>(0.0217f) * 1000.0;
    const auto at_word = [st](double word) { return word * st * 0x1p-16; };
    const std::vector<Case> cases = {
        {{at_word(0), at_word(1), at_word(65535)}, st, {0, 1, 65535}},
        {{at_word(17), at_word(18)}, st, {17, 18}},
        {{at_word(17), at_word(17.25)}, st, {0, 1}},                    // two times, one word: ranks
        {{0.5, 0.7}, 0.0, {0, 1}},                                      // no scan time: ranks
        {{0.5, 0.7}, std::numeric_limits<double>::quiet_NaN(), {0, 1}}, // nor a usable one
        {{1e9}, 20.0, {0}},                                             // not a drift word: ranks
        {{}, 20.0, {}},
    };
    for (const Case& c : cases) EXPECT_EQ(exporter::drift_bins(c.times, c.scan_time_ms), c.bins);
}

TEST(RunIdTest, DirectoryNameWithoutTheExtension) {
    const std::vector<std::pair<std::string, std::string>> cases = {{"sample.raw", "sample"},
                                                                    {"S1.RAW", "S1"},
                                                                    {".raw", ".raw"},
                                                                    {"plain", "plain"},
                                                                    {"a.raw.raw", "a.raw"}};
    for (const auto& [name, id] : cases) EXPECT_EQ(exporter::run_id_of(name), id) << name;
}

struct FailureCase {
    const char* name;
    std::function<std::filesystem::path(const TempDir&)> make_raw;
    ConversionOptions options;
    const char* message; // pieces of the error text, in order, with ".*" between them
};

// Whether the pieces of `pattern` between ".*" appear in `text` in order (what the
// cases need of a regular expression, without <regex>, which sanitizer builds reject).
bool contains_in_order(std::string_view text, std::string_view pattern) {
    std::size_t from = 0;
    while (true) {
        const std::size_t gap = pattern.find(".*");
        const std::string_view piece = pattern.substr(0, gap);
        const std::size_t at = text.find(piece, from);
        if (at == std::string_view::npos) return false;
        from = at + piece.size();
        if (gap == std::string_view::npos) return true;
        pattern.remove_prefix(gap + 2);
    }
}

std::filesystem::path damaged_scan(const TempDir& temp) {
    RawDirSpec spec;
    spec.functions.push_back(function_a({{record_a_mz(5, 300.0)}, {record_a(1, 0x01, 0)}}));
    return write_raw_dir(temp, spec);
}

std::filesystem::path missing_channel_file(const TempDir& temp) {
    RawDirSpec spec;
    spec.functions.push_back(function_a({{record_a_mz(5, 300.0)}}));
    spec.chroms = ChromsInfFields{.channels = {{.label = "Temperature"}, {.label = "Pressure"}}};
    return write_raw_dir(temp, spec);
}

class FailureTest : public ::testing::TestWithParam<FailureCase> {};

// Each failure names the run and what is wrong, and leaves the output directory empty.
TEST_P(FailureTest, NamesTheRunAndLeavesNoFile) {
    const TempDir temp;
    const std::filesystem::path raw = GetParam().make_raw(temp);
    const TempDir out;
    auto summary = exporter::convert_to_mzml(raw, out.path() / "out.mzML", GetParam().options);
    ASSERT_FALSE(summary.has_value());
    const std::string text = summary.error().to_string();
    EXPECT_TRUE(text.starts_with("converting " + raw.string() + ": ")) << text;
    EXPECT_TRUE(contains_in_order(text, GetParam().message)) << text;
    EXPECT_EQ(directory_names(out.path()), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    Runs, FailureTest,
    ::testing::Values(
        FailureCase{"NotADirectory",
                    [](const TempDir& dir) { return dir.write("file.raw", "x"); },
                    {},
                    "not a directory"},
        FailureCase{"NoFunctionTable",
                    [](const TempDir& dir) {
                        RawDirSpec spec;
                        spec.functions.push_back(function_a({{record_a_mz(5, 300.0)}}));
                        spec.omit = {"_FUNCTNS.INF"};
                        return write_raw_dir(dir, spec);
                    },
                    {},
                    "_FUNCTNS"},
        FailureCase{
            "UndecodableScan", damaged_scan, {}, "function 1 scan 1: .*Encoding A: unsupported m/z word"},
        FailureCase{"UndecodableScanOnTwoThreads", damaged_scan, {.threads = 2}, "function 1 scan 1: "},
        FailureCase{"MissingChannelFile", missing_channel_file, {}, "chromatogram channel 0: .*not found"},
        FailureCase{"NoThreads", damaged_scan, {.threads = 0}, "0 threads; 1 to 256"},
        FailureCase{"TooManyThreads", damaged_scan, {.threads = 257}, "257 threads"}),
    [](const ::testing::TestParamInfo<FailureCase>& param) { return std::string(param.param.name); });

TEST(ConvertTest, ProgressReportsEveryBatchAndItsErrorStops) {
    const TempDir temp;
    const std::filesystem::path raw = write_raw_dir(temp, two_function_run('A', 9));
    const TempDir out;
    const std::filesystem::path path = out.path() / "out.mzML";
    std::vector<std::pair<std::uint64_t, std::uint64_t>> calls;
    const ConversionOptions options{.batch = {10, 1 << 20}};
    auto summary =
        exporter::convert_to_mzml(raw, path, options, [&](std::uint64_t done, std::uint64_t total) {
            calls.emplace_back(done, total);
            return Result<void>{};
        });
    ASSERT_TRUE(summary.has_value());
    const std::vector<std::pair<std::uint64_t, std::uint64_t>> expected = {
        {10, 40}, {20, 40}, {30, 40}, {37, 40}, {40, 40}};
    EXPECT_EQ(calls, expected);
    std::filesystem::remove(path);
    summary =
        exporter::convert_to_mzml(raw, path, options, [](std::uint64_t done, std::uint64_t) -> Result<void> {
            if (done >= 20) return parse_error("cancelled");
            return {};
        });
    ASSERT_FALSE(summary.has_value());
    EXPECT_NE(summary.error().to_string().find("cancelled"), std::string::npos);
    EXPECT_EQ(directory_names(out.path()), std::vector<std::string>{});
}

} // namespace
} // namespace tarnvale::testing
