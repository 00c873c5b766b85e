// Opening whole synthetic raw directories and decoding single scans from them.
#include "reader/reader.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/log_capture.hpp"
#include "support/raw_dir.hpp"

namespace tarnvale {
namespace {

namespace fs = std::filesystem;
using namespace tarnvale::testing;

constexpr std::string_view kTarget = "tarnvale::reader";

std::vector<std::string> reader_messages(const LogCapture& capture, log::Level level) {
    std::vector<std::string> out;
    for (const auto& record : capture.records()) {
        if (record.level == level && record.target == kTarget) out.push_back(record.message);
    }
    return out;
}

// Opens or throws, so that a failure is reported with the error's text.
Reader open_ok(const fs::path& dir) {
    auto reader = Reader::open(dir);
    if (!reader) throw std::runtime_error("open failed: " + reader.error().to_string());
    return std::move(*reader);
}

DecodedScan decode_ok(const Reader& reader, std::uint32_t function, std::uint64_t scan) {
    auto decoded = reader.decode_scan(function, scan);
    if (!decoded) throw std::runtime_error("decode failed: " + decoded.error().to_string());
    return std::move(*decoded);
}

std::string decode_error(const Reader& reader, std::uint32_t function, std::uint64_t scan) {
    auto decoded = reader.decode_scan(function, scan);
    return decoded ? std::string("no error") : decoded.error().to_string();
}

const raw::Spectrum& spectrum_of(const DecodedScan& scan) { return std::get<raw::Spectrum>(scan.spectrum); }

// Encoding A and D records whose uncalibrated m/z is exactly 256.
const RecordA kA256 = record_a_mz(100, 256.0);
const Record8 kD256 = record_d_mz(1.5, 256.0);

std::vector<IndexARecord>
index_records(std::initializer_list<std::pair<std::uint32_t, std::uint32_t>> pairs) {
    std::vector<IndexARecord> out;
    for (auto [offset, n_points] : pairs) out.push_back({.offset = offset, .n_points = n_points});
    return out;
}

// ---------------------------------------------------------------- opening

TEST(ReaderOpen, BuildsEveryFunctionAndLogsTheRun) {
    TempDir temp;
    RawDirSpec spec;
    spec.header.cal = {{1, "0,2,T1"}, {2, "0.5,1,T0"}};
    spec.extern_inf.pusher_interval = "64.5";
    spec.functions = {function_a({{kA256, kA256}, {kA256}}), function_d({{kD256}, {kD256, kD256}}),
                      function_b_index({{record_c(1, 0, 10), record_c(1, 0, 20)}, {}})};
    spec.functions[0].info.scan_subtype = 0x81;
    spec.functions[0].info.mz_low = 50.1f;
    spec.functions[1].info.scan_subtype = 0x01;
    const fs::path dir = write_raw_dir(temp, spec);
    LogCapture capture;

    const Reader reader = open_ok(dir);

    EXPECT_EQ(reader.dir, dir);
    EXPECT_EQ(reader.name, "sample.raw");
    ASSERT_EQ(reader.functions.size(), 3u);
    const FunctionEntry& a = reader.functions[0];
    EXPECT_EQ(a.number, 1u);
    EXPECT_EQ(a.info.index, 1u);
    EXPECT_EQ(a.encoding, Encoding::A);
    EXPECT_EQ(a.scans.size(), 2u);
    EXPECT_EQ(a.dat_path, dir / "_FUNC001.DAT");
    EXPECT_EQ(a.dat_len, 18u);
    EXPECT_EQ(a.coefficients, (std::vector<double>{0, 2}));
    EXPECT_EQ(a.cal_type, raw::CalType::T1);
    EXPECT_FALSE(a.sts.has_value());
    EXPECT_EQ(reader.functions[1].encoding, Encoding::D);
    EXPECT_EQ(reader.functions[1].cal_type, raw::CalType::T0);
    EXPECT_EQ(reader.functions[1].coefficients, (std::vector<double>{0.5, 1}));
    EXPECT_EQ(reader.functions[2].encoding, Encoding::C);
    EXPECT_TRUE(reader.functions[2].coefficients.empty());
    EXPECT_EQ(reader.function(2), &reader.functions[1]);
    EXPECT_EQ(reader.function(4), nullptr);

    const std::string d = dir.string();
    EXPECT_EQ(
        reader_messages(capture, log::Level::Debug),
        (std::vector<std::string>{
            "opening " + d,
            "instrument \"QTOF\"; Lteff 1000 mm, Veff 10000 V, pusher interval 64.5 us; 3 functions in "
            "_FUNCTNS.INF; T1 calibration for functions [1, 2]",
            "function 1: no STS file",
            "function 1: 2 scans, m/z 50.1-1200, subtype 0x81 (lock mass), encoding A (22-byte index, "
            "6-byte records), calibration T1 with 2 coefficients, DAT 18 bytes",
            "function 2: no STS file",
            "function 2: 2 scans, m/z 50-1200, subtype 0x01, encoding D (22-byte index, 8-byte records), "
            "calibration T0 with 2 coefficients, DAT 24 bytes",
            "function 3: no STS file",
            "function 3: 2 scans, m/z 50-1200, subtype 0x00, encoding C (30-byte index, instrument \"QTOF\" "
            "is not SYNAPT), calibration T0 with 0 coefficients, DAT 16 bytes",
            "opened sample.raw: 3 of 3 functions readable",
        }));
    EXPECT_EQ(
        reader_messages(capture, log::Level::Warn),
        std::vector<std::string>{"function 3: no Cal Function line in _HEADER.TXT; m/z is uncalibrated"});
}

TEST(ReaderOpen, RunLineQuotesInstrumentAndReportsAbsentPusher) {
    TempDir temp;
    RawDirSpec spec;
    spec.header.instrument = "Q\"TOF\\1";
    spec.extern_inf.lteff = "1800.25";
    spec.extern_inf.veff = "7000";
    const fs::path dir = write_raw_dir(temp, spec);
    LogCapture capture;
    const Reader reader = open_ok(dir);
    EXPECT_TRUE(reader.functions.empty());
    const auto debug = reader_messages(capture, log::Level::Debug);
    ASSERT_EQ(debug.size(), 3u);
    EXPECT_EQ(debug[1],
              "instrument \"Q\\\"TOF\\\\1\"; Lteff 1800.25 mm, Veff 7000 V, pusher interval absent; 0 "
              "functions in _FUNCTNS.INF; T1 calibration for functions []");
    EXPECT_EQ(debug[2], "opened sample.raw: 0 of 0 functions readable");
}

struct SkipCase {
    std::string label;
    std::string missing;
};

class SkippedFunctionTest : public ::testing::TestWithParam<SkipCase> {};

TEST_P(SkippedFunctionTest, MissingIndexOrDataSkipsTheFunction) {
    TempDir temp;
    RawDirSpec spec;
    spec.header.cal = {{1, "0,1,T1"}, {2, "0,1,T1"}, {3, "0,1,T1"}};
    spec.functions = {function_a({{kA256}}), function_a({{kA256}}), function_a({{kA256}})};
    spec.omit = {GetParam().missing};
    const fs::path dir = write_raw_dir(temp, spec);
    LogCapture capture;

    const Reader reader = open_ok(dir);

    ASSERT_EQ(reader.functions.size(), 2u);
    EXPECT_EQ(reader.functions[0].number, 1u);
    EXPECT_EQ(reader.functions[1].number, 3u);
    EXPECT_EQ(reader_messages(capture, log::Level::Warn),
              std::vector<std::string>{"function 2: _FUNC002.IDX or _FUNC002.DAT missing in " + dir.string() +
                                       "; skipping function"});
    EXPECT_EQ(reader_messages(capture, log::Level::Debug).back(),
              "opened sample.raw: 2 of 3 functions readable");
    EXPECT_EQ(decode_error(reader, 2, 0),
              dir.string() + " function 2 scan 0: parse error: function 2 not present in bundle");
    EXPECT_EQ(spectrum_of(decode_ok(reader, 3, 0)).mz, std::vector<double>{256.0});
}

INSTANTIATE_TEST_SUITE_P(Files, SkippedFunctionTest,
                         ::testing::Values(SkipCase{"NoData", "_FUNC002.DAT"},
                                           SkipCase{"NoIndex", "_FUNC002.IDX"}),
                         [](const auto& info) { return info.param.label; });

TEST(ReaderOpen, EveryFunctionSkippedStillOpens) {
    TempDir temp;
    RawDirSpec spec;
    spec.functions = {function_a({{kA256}})};
    spec.omit = {"_FUNC001.IDX", "_FUNC001.DAT"};
    const Reader reader = open_ok(write_raw_dir(temp, spec));
    EXPECT_TRUE(reader.functions.empty());
}

TEST(ReaderOpen, FindsPrefixedAndDifferentlyCasedFiles) {
    TempDir temp;
    RawDirSpec spec;
    spec.functions = {function_a({{kA256}})};
    spec.on_disk_name = {{"_HEADER.TXT", "_header.txt"},
                         {"_extern.inf", "RUN_EXTERN.INF"},
                         {"_FUNC001.DAT", "SAMPLE_FUNC001.DAT"}};
    const fs::path dir = write_raw_dir(temp, spec);
    const Reader reader = open_ok(dir);
    ASSERT_EQ(reader.functions.size(), 1u);
    EXPECT_EQ(reader.functions[0].dat_path, dir / "SAMPLE_FUNC001.DAT");
}

struct InstrumentCase {
    std::string label;
    std::optional<std::string> instrument;
    Encoding encoding;
    std::string reason;
};

class VariantBEncodingTest : public ::testing::TestWithParam<InstrumentCase> {};

TEST_P(VariantBEncodingTest, InstrumentDecides) {
    TempDir temp;
    RawDirSpec spec;
    spec.header.instrument = GetParam().instrument;
    spec.functions = {function_b_index({{record_b(1, 0, 1), record_b(1, 0, 2)}})};
    const fs::path dir = write_raw_dir(temp, spec);
    LogCapture capture;
    const Reader reader = open_ok(dir);
    ASSERT_EQ(reader.functions.size(), 1u);
    EXPECT_EQ(reader.functions[0].encoding, GetParam().encoding);
    const auto debug = reader_messages(capture, log::Level::Debug);
    ASSERT_GE(debug.size(), 2u);
    const std::string& summary = debug[debug.size() - 2];
    EXPECT_NE(summary.find(std::string("encoding ") + encoding_letter(GetParam().encoding) + " (" +
                           GetParam().reason + "), "),
              std::string::npos)
        << summary;
}

INSTANTIATE_TEST_SUITE_P(
    Instruments, VariantBEncodingTest,
    ::testing::Values(InstrumentCase{"Synapt", "Synapt G2-S", Encoding::B,
                                     "30-byte index, instrument \"Synapt G2-S\" starts with SYNAPT"},
                      InstrumentCase{"ExactlySynapt", "SYNAPT", Encoding::B,
                                     "30-byte index, instrument \"SYNAPT\" starts with SYNAPT"},
                      InstrumentCase{"Xevo", "Xevo G2-XS", Encoding::C,
                                     "30-byte index, instrument \"Xevo G2-XS\" is not SYNAPT"},
                      InstrumentCase{"TooShort", "SYNAP", Encoding::C,
                                     "30-byte index, instrument \"SYNAP\" is not SYNAPT"},
                      InstrumentCase{"NotAtStart", "G2 SYNAPT", Encoding::C,
                                     "30-byte index, instrument \"G2 SYNAPT\" is not SYNAPT"},
                      InstrumentCase{"NoInstrument", std::nullopt, Encoding::C,
                                     "30-byte index, instrument \"\" is not SYNAPT"}),
    [](const auto& info) { return info.param.label; });

struct WidthCase {
    std::string label;
    std::vector<IndexARecord> records;
    Encoding encoding;
    std::string reason;
};

class VariantAEncodingTest : public ::testing::TestWithParam<WidthCase> {};

TEST_P(VariantAEncodingTest, OffsetSpacingDecides) {
    TempDir temp;
    RawDirSpec spec;
    FunctionSpec function;
    function.index_a = GetParam().records;
    function.dat_bytes = std::vector<std::uint8_t>(4096, 0);
    spec.functions = {function};
    LogCapture capture;
    const Reader reader = open_ok(write_raw_dir(temp, spec));
    ASSERT_EQ(reader.functions.size(), 1u);
    EXPECT_EQ(reader.functions[0].encoding, GetParam().encoding);
    const auto debug = reader_messages(capture, log::Level::Debug);
    const std::string& summary = debug.at(debug.size() - 2);
    EXPECT_NE(summary.find("(" + GetParam().reason + ")"), std::string::npos) << summary;
}

const std::string kNotEstablished =
    "22-byte index, record width not established from offsets; assuming 6-byte records";

INSTANTIATE_TEST_SUITE_P(
    Spacings, VariantAEncodingTest,
    ::testing::Values(WidthCase{"Six", index_records({{0, 100}, {600, 100}, {1200, 100}}), Encoding::A,
                                "22-byte index, 6-byte records"},
                      WidthCase{"Eight", index_records({{0, 100}, {800, 100}}), Encoding::D,
                                "22-byte index, 8-byte records"},
                      WidthCase{"SingleRecord", index_records({{0, 100}}), Encoding::A, kNotEstablished},
                      WidthCase{"SevenEverywhere", index_records({{0, 100}, {700, 100}, {1400, 100}}),
                                Encoding::A, kNotEstablished},
                      WidthCase{"EqualOffsetsSkipped", index_records({{0, 50}, {0, 100}, {600, 90}}),
                                Encoding::A, "22-byte index, 6-byte records"},
                      WidthCase{"NoRecords", {}, Encoding::A, kNotEstablished}),
    [](const auto& info) { return info.param.label; });

struct RecordWidthCase {
    std::vector<IndexARecord> records;
    std::optional<std::uint32_t> width;
};

TEST(VariantARecordWidth, FirstDecidingPairWins) {
    const std::vector<RecordWidthCase> cases = {
        {index_records({}), std::nullopt},
        {index_records({{0, 100}}), std::nullopt},
        {index_records({{0, 100}, {600, 100}}), 6},
        {index_records({{0, 100}, {800, 100}, {1400, 100}}), 8},  // a later 6 is not looked at
        {index_records({{0, 100}, {700, 100}, {1300, 100}}), 6},  // 7 skipped, then 6
        {index_records({{800, 100}, {0, 100}, {600, 100}}), 6},   // decreasing pair skipped
        {index_records({{0, 0}, {600, 100}, {1400, 100}}), 8},    // zero points skipped
        {index_records({{0, 7}, {50, 100}}), std::nullopt},       // 50 is no multiple of 7
        {index_records({{0, 1}, {4, 1}, {10, 1}}), 6},            // 4 bytes per point skipped
        {index_records({{0xFFFFFFF0u, 2}, {0xFFFFFFFCu, 2}}), 6}, // spacing near the u32 limit
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        std::vector<raw::ScanIndexA> records;
        for (const auto& r : cases[i].records) records.push_back({r.offset, r.n_points, 0, 0});
        EXPECT_EQ(variant_a_record_width(records), cases[i].width) << "case " << i;
    }
}

TEST(IndexEnd, MaximumOverRecordsIn64Bits) {
    auto a = [](std::initializer_list<std::pair<std::uint32_t, std::uint32_t>> pairs) {
        raw::ScanIndex index{std::vector<raw::ScanIndexA>{}};
        for (auto [offset, n] : pairs) std::get<0>(index.records).push_back({offset, n, 0, 0});
        return index;
    };
    EXPECT_EQ(index_end(a({}), Encoding::A), std::nullopt);
    EXPECT_EQ(index_end(raw::ScanIndex{std::vector<raw::ScanIndexB>{{0, 0}}}, Encoding::C), std::nullopt);
    EXPECT_EQ(index_end(a({{0, 125}, {1000, 10}}), Encoding::D), 1080u);
    EXPECT_EQ(index_end(a({{0, 125}, {1000, 10}}), Encoding::A), 1060u);
    EXPECT_EQ(index_end(a({{2000, 0}, {1000, 10}}), Encoding::B), 2000u); // not the last record's end
    EXPECT_EQ(index_end(a({{0xFFFFFFFFu, 0xFFFFFFu}}), Encoding::D), 0xFFFFFFFFull + 0xFFFFFFull * 8);
}

TEST(ReaderOpen, IndexBeyondDataWarnsAndKeepsFunction) {
    TempDir temp;
    RawDirSpec spec;
    FunctionSpec function;
    function.index_a = index_records({{0, 125}, {1000, 10}});
    function.dat_bytes = std::vector<std::uint8_t>(1000, 0);
    spec.functions = {function};
    const fs::path dir = write_raw_dir(temp, spec);
    LogCapture capture;
    const Reader reader = open_ok(dir);
    ASSERT_EQ(reader.functions.size(), 1u);
    EXPECT_EQ(reader.functions[0].encoding, Encoding::D);
    EXPECT_EQ(
        reader_messages(capture, log::Level::Warn),
        (std::vector<std::string>{"function 1: no Cal Function line in _HEADER.TXT; m/z is uncalibrated",
                                  "function 1: index addresses 1080 bytes but " +
                                      (dir / "_FUNC001.DAT").string() + " is 1000 bytes"}));
    // The scan that starts at the end of the file reads nothing and decodes empty.
    EXPECT_TRUE(spectrum_of(decode_ok(reader, 1, 1)).mz.empty());
}

struct StsCase {
    std::string label;
    std::optional<std::vector<std::uint8_t>> sts;
    bool kept;
    std::string warning; // {path} is the statistics file
};

class StatisticsTest : public ::testing::TestWithParam<StsCase> {};

TEST_P(StatisticsTest, BadOrMissingStatisticsNeverEndOpen) {
    TempDir temp;
    RawDirSpec spec;
    spec.header.cal = {{1, "0,1,T1"}};
    spec.functions = {function_a({{kA256}})};
    spec.functions[0].sts_bytes = GetParam().sts;
    const fs::path dir = write_raw_dir(temp, spec);
    LogCapture capture;
    const Reader reader = open_ok(dir);
    ASSERT_EQ(reader.functions.size(), 1u);
    EXPECT_EQ(reader.functions[0].sts.has_value(), GetParam().kept);
    std::string warning = GetParam().warning;
    if (auto at = warning.find("{path}"); at != std::string::npos)
        warning.replace(at, 6, (dir / "_FUNC001.STS").string());
    EXPECT_EQ(reader_messages(capture, log::Level::Warn),
              warning.empty() ? std::vector<std::string>{} : std::vector<std::string>{warning});
    const auto debug = reader_messages(capture, log::Level::Debug);
    EXPECT_EQ(std::ranges::count(debug, std::string("function 1: no STS file")), GetParam().sts ? 0 : 1);
}

INSTANTIATE_TEST_SUITE_P(
    Files, StatisticsTest,
    ::testing::Values(
        StsCase{"Missing", std::nullopt, false, ""},
        StsCase{
            "TooSmall", std::vector<std::uint8_t>(10, 0), false,
            "function 1: ignoring unreadable {path}: parse error: _FUNCnnn.STS too small: 10 bytes (need at "
            "least 32)"},
        StsCase{
            "ZeroRecordSize", func_sts_file({.scan_record_size = 0}), false,
            "function 1: ignoring unreadable {path}: parse error: _FUNCnnn.STS: scan_record_size is zero"},
        StsCase{"Valid", func_sts_file({.scan_record_size = 4}), true, ""}),
    [](const auto& info) { return info.param.label; });

struct OpenFailureCase {
    std::string label;
    std::function<void(RawDirSpec&)> adjust;
    std::function<void(const TempDir&, const fs::path&)> after_write; // may break files further
    std::string error;                                                // {dir} is the directory
    fs::path open_path = {}; // relative to the directory; empty: the directory itself
};

class OpenFailureTest : public ::testing::TestWithParam<OpenFailureCase> {};

TEST_P(OpenFailureTest, FailsWithTheFirstError) {
    TempDir temp;
    RawDirSpec spec;
    spec.header.cal = {{1, "0,1,T1"}};
    spec.functions = {function_a({{kA256}})};
    GetParam().adjust(spec);
    const fs::path dir = write_raw_dir(temp, spec);
    GetParam().after_write(temp, dir);
    const fs::path path = GetParam().open_path.empty() ? dir : dir / GetParam().open_path;
    auto reader = Reader::open(path);
    ASSERT_FALSE(reader.has_value());
    std::string expected = GetParam().error;
    for (auto at = expected.find("{dir}"); at != std::string::npos; at = expected.find("{dir}"))
        expected.replace(at, 5, dir.string());
    EXPECT_EQ(reader.error().to_string(), expected);
}

auto no_change = [](RawDirSpec&) {};
auto no_after = [](const TempDir&, const fs::path&) {};
auto omit = [](std::set<std::string> names) { return [names](RawDirSpec& spec) { spec.omit = names; }; };

INSTANTIATE_TEST_SUITE_P(
    Directories, OpenFailureTest,
    ::testing::Values(
        OpenFailureCase{"NoHeader", omit({"_HEADER.TXT"}), no_after,
                        "parse error: required file _HEADER.TXT missing in {dir}"},
        OpenFailureCase{"HeaderBeforeExtern", omit({"_HEADER.TXT", "_extern.inf"}), no_after,
                        "parse error: required file _HEADER.TXT missing in {dir}"},
        OpenFailureCase{"NoExtern", omit({"_extern.inf"}), no_after,
                        "parse error: required file _extern.inf missing in {dir}"},
        OpenFailureCase{"NoFunctionTable", omit({"_FUNCTNS.INF"}), no_after,
                        "parse error: required file _FUNCTNS.INF missing in {dir}"},
        OpenFailureCase{
            "BadHeader", [](RawDirSpec& s) { s.header.cal[1] = "1,T9"; }, no_after,
            "reading {dir}/_HEADER.TXT: parse error: _HEADER.TXT: unknown calibration type \"T9\""},
        OpenFailureCase{"NoLteff", [](RawDirSpec& s) { s.extern_inf.lteff.clear(); }, no_after,
                        "reading {dir}/_extern.inf: parse error: _extern.inf: Lteff field not found"},
        OpenFailureCase{
            "BadFunctionTable", no_change,
            [](const TempDir& t, const fs::path&) {
                t.write("sample.raw/_FUNCTNS.INF", std::vector<std::uint8_t>(417, 0));
            },
            "reading {dir}/_FUNCTNS.INF: parse error: _FUNCTNS.INF: file size 417 is not a multiple "
            "of 416 (record size)"},
        OpenFailureCase{
            "BadIndex", [](RawDirSpec& s) { s.functions[0].index_bytes = std::vector<std::uint8_t>(50, 0); },
            no_after,
            "reading {dir}/_FUNC001.IDX: parse error: _FUNCnnn.IDX: size 50 is not a multiple of 22 "
            "(Variant A) or 30 (Variant B)"},
        OpenFailureCase{"TwoPrefixedStatistics", no_change,
                        [](const TempDir& t, const fs::path&) {
                            t.write("sample.raw/A_FUNC001.STS", "x");
                            t.write("sample.raw/B_FUNC001.STS", "x");
                        },
                        "parse error: multiple files match _FUNC001.STS in {dir}"},
        OpenFailureCase{"TwoPrefixedIndexes", no_change,
                        [](const TempDir& t, const fs::path&) {
                            t.write("sample.raw/A_FUNC001.IDX", "x");
                            t.write("sample.raw/B_FUNC001.IDX", "x");
                        },
                        "parse error: multiple files match _FUNC001.IDX in {dir}"},
        OpenFailureCase{"PathIsAFile", no_change, no_after,
                        "listing {dir}/_HEADER.TXT: I/O error: Not a directory (os error 20)", "_HEADER.TXT"},
        OpenFailureCase{"PathIsMissing", no_change, no_after,
                        "listing {dir}/nothing: I/O error: No such file or directory (os error 2)",
                        "nothing"}),
    [](const auto& info) { return info.param.label; });

TEST(BundleName, LastNormalComponent) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"x/sample.raw", "sample.raw"},
        {"x/sample.raw/", "sample.raw"},
        {"x/sample.raw/.", "sample.raw"},
        {"x/sample.raw//./", "sample.raw"},
        {"sample.raw", "sample.raw"},
        {"/data/../run.raw", "run.raw"},
        {"x/sample.raw/..", "bundle.raw"},
        {"..", "bundle.raw"},
        {"/", "bundle.raw"},
        {".", "bundle.raw"},
        {"", "bundle.raw"},
        {"x/\xffrun.raw", "\xef\xbf\xbdrun.raw"},
    };
    for (const auto& [path, name] : cases) EXPECT_EQ(bundle_name(path), name) << path;
}

TEST(ReaderOpen, ParentComponentGivesDefaultName) {
    TempDir temp;
    RawDirSpec spec;
    const fs::path dir = write_raw_dir(temp, spec);
    fs::create_directory(dir / "sub");
    LogCapture capture;
    const Reader reader = open_ok(dir / "sub" / "..");
    EXPECT_EQ(reader.dir, dir / "sub" / "..");
    EXPECT_EQ(reader.name, "bundle.raw");
    EXPECT_EQ(reader_messages(capture, log::Level::Debug).back(),
              "opened bundle.raw: 0 of 0 functions readable");
}

// ---------------------------------------------------------------- decoding

TEST(TofConstant, EvaluatedInTheDocumentedOrder) {
    EXPECT_EQ(tof_k_us(1000, 10000), 0.7224847745293227);
    EXPECT_EQ(tof_k_us(1800, 7000), 1.5543620501867195);
    EXPECT_EQ(tof_k_us(1234.5, 9543.21), 0.9130037330163687);
}

TEST(DecodeScan, VariantBRangesRunToTheNextOffsetOrTheFileEnd) {
    TempDir temp;
    RawDirSpec spec;
    FunctionSpec function = function_b_index({});
    // Five 8-byte records; scan 1 starts after scan 2, so it is empty.
    function.dat_bytes = join({record_c(1, 0, 100), record_c(1, 0, 200), record_c(1, 0, 100),
                               record_c(0, 0, 150), record_c(1, 0, 250)});
    function.index_b = std::vector<IndexBRecord>{{0, 0.5f}, {16, 1.0f}, {8, 1.5f}};
    function.info.mz_low = 100.0f;
    function.info.mz_high = 400.0f;
    spec.functions = {function};
    const fs::path dir = write_raw_dir(temp, spec);
    const Reader reader = open_ok(dir);
    LogCapture capture;

    const DecodedScan scan0 = decode_ok(reader, 1, 0);
    const DecodedScan scan1 = decode_ok(reader, 1, 1);
    const DecodedScan scan2 = decode_ok(reader, 1, 2);

    const std::string dat = (dir / "_FUNC001.DAT").string();
    EXPECT_EQ(reader_messages(capture, log::Level::Trace),
              (std::vector<std::string>{"function 1 scan 0: C bytes 0..16 of " + dat + ", RT 0.5 min",
                                        "function 1 scan 1: C bytes 16..16 of " + dat + ", RT 1 min",
                                        "function 1 scan 2: C bytes 8..40 of " + dat + ", RT 1.5 min"}));
    ASSERT_EQ(spectrum_of(scan0).mz.size(), 2u);
    EXPECT_DOUBLE_EQ(spectrum_of(scan0).mz[0], 100.0);
    EXPECT_DOUBLE_EQ(spectrum_of(scan0).mz[1], 400.0);
    EXPECT_TRUE(spectrum_of(scan1).mz.empty());
    // Anchored at positions 200 and 250; the zero-intensity record is dropped.
    ASSERT_EQ(spectrum_of(scan2).mz.size(), 3u);
    EXPECT_DOUBLE_EQ(spectrum_of(scan2).mz[0], 100.0);
    EXPECT_DOUBLE_EQ(spectrum_of(scan2).mz[1], 100.0);
    EXPECT_DOUBLE_EQ(spectrum_of(scan2).mz[2], 400.0);
    EXPECT_EQ(scan2.rt_min, 1.5f);
    EXPECT_EQ(scan2.scan_index, 2u);
    EXPECT_EQ(scan2.func_index, 1u);
}

struct VariantARangeCase {
    std::string label;
    FunctionSpec function;
    std::uint64_t scan;
    std::string trace_range; // "offset..end"
    std::string error;       // empty: decodes; otherwise the inner error text
    std::size_t points = 0;
};

FunctionSpec with_index(FunctionSpec function, std::vector<IndexARecord> records, std::size_t dat_size) {
    std::vector<std::uint8_t> dat;
    while (dat.size() < dat_size) {
        const auto record = function.record_width == 6
                                ? std::vector<std::uint8_t>(kA256.begin(), kA256.end())
                                : std::vector<std::uint8_t>(kD256.begin(), kD256.end());
        dat.insert(dat.end(), record.begin(), record.end());
    }
    dat.resize(dat_size);
    function.index_a = std::move(records);
    function.dat_bytes = std::move(dat);
    return function;
}

class VariantARangeTest : public ::testing::TestWithParam<VariantARangeCase> {};

TEST_P(VariantARangeTest, ReadsPointsTimesWidthClampedToTheFile) {
    const VariantARangeCase& c = GetParam();
    TempDir temp;
    RawDirSpec spec;
    spec.functions = {c.function};
    const fs::path dir = write_raw_dir(temp, spec);
    const Reader reader = open_ok(dir);
    LogCapture capture;
    auto decoded = reader.decode_scan(1, c.scan);
    const auto trace = reader_messages(capture, log::Level::Trace);
    ASSERT_EQ(trace.size(), 1u);
    EXPECT_NE(trace[0].find(" bytes " + c.trace_range + " of "), std::string::npos) << trace[0];
    if (c.error.empty()) {
        ASSERT_TRUE(decoded.has_value()) << decoded.error().to_string();
        EXPECT_EQ(spectrum_of(*decoded).mz.size(), c.points);
    } else {
        ASSERT_FALSE(decoded.has_value());
        EXPECT_EQ(decoded.error().to_string(),
                  dir.string() + " function 1 scan " + std::to_string(c.scan) + ": " + c.error);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, VariantARangeTest,
    ::testing::Values(
        VariantARangeCase{"SixBytesForA",
                          with_index(function_a({}), index_records({{0, 100}, {600, 100}}), 1200), 1,
                          "600..1200", "", 100},
        VariantARangeCase{"EightBytesForD",
                          with_index(function_d({}), index_records({{0, 100}, {800, 100}}), 1600), 1,
                          "800..1600", "", 100},
        VariantARangeCase{"ClampedLeavesPartialRecordA",
                          with_index(function_a({}), index_records({{0, 100}, {600, 100}}), 1000), 1,
                          "600..1000", "parse error: Encoding A: scan size 400 is not a multiple of 6"},
        VariantARangeCase{"ClampedWholeRecordsD",
                          with_index(function_d({}), index_records({{0, 100}, {800, 100}}), 1200), 1,
                          "800..1200", "", 50},
        VariantARangeCase{"HugeCountReadsOnlyTheFile",
                          with_index(function_a({}), index_records({{0, 100}, {600, 0xFFFFFF}}), 660), 1,
                          "600..660", "", 10},
        VariantARangeCase{
            "OffsetBeyondFile",
            with_index(function_a({}), index_records({{0, 100}, {600, 100}, {5000, 100}}), 1200), 2,
            "5000..5000", "", 0},
        VariantARangeCase{"NoPoints", with_index(function_a({}), index_records({{0, 100}, {600, 0}}), 1200),
                          1, "600..600", "", 0}),
    [](const auto& info) { return info.param.label; });

TEST(DecodeScan, OutOfRangeScanIsWrapped) {
    TempDir temp;
    RawDirSpec spec;
    spec.functions = {function_a({{kA256}, {kA256}, {kA256}})};
    const fs::path dir = write_raw_dir(temp, spec);
    const Reader reader = open_ok(dir);
    EXPECT_EQ(decode_error(reader, 1, 3),
              dir.string() + " function 1 scan 3: parse error: function 1 scan 3 out of range");
    EXPECT_EQ(decode_error(reader, 1, UINT64_MAX),
              dir.string() + " function 1 scan 18446744073709551615: parse error: function 1 scan "
                             "18446744073709551615 out of range");
    EXPECT_EQ(decode_error(reader, 0, 0),
              dir.string() + " function 0 scan 0: parse error: function 0 not present in bundle");
}

TEST(DecodeScan, FileShrunkOrRemovedAfterOpen) {
    TempDir temp;
    RawDirSpec spec;
    spec.functions = {function_a({{kA256, kA256}, {kA256, kA256}})};
    const fs::path dir = write_raw_dir(temp, spec);
    const Reader reader = open_ok(dir);
    fs::resize_file(dir / "_FUNC001.DAT", 14);
    EXPECT_EQ(decode_error(reader, 1, 1),
              dir.string() + " function 1 scan 1: I/O error: failed to fill whole buffer");
    EXPECT_EQ(spectrum_of(decode_ok(reader, 1, 0)).mz.size(), 2u); // what remains still decodes
    fs::remove(dir / "_FUNC001.DAT");
    EXPECT_EQ(decode_error(reader, 1, 0),
              dir.string() + " function 1 scan 0: I/O error: No such file or directory (os error 2)");
}

TEST(DecodeScan, EmptyAndZeroIntensityScans) {
    TempDir temp;
    RawDirSpec spec;
    spec.header.instrument = "SYNAPT G2";
    spec.functions = {function_a({{}, {record_a(0, 0x01, 0)}, {kA256}}),
                      function_d({{record_d(0, 1)}, {}, {kD256}}),
                      function_b_index({{record_b(0, 0, 1), record_b(0, 0, 9)}, {}, {record_b(1, 0, 5)}})};
    const Reader reader = open_ok(write_raw_dir(temp, spec));
    ASSERT_EQ(reader.functions[2].encoding, Encoding::B);
    for (std::uint32_t function : {1u, 2u}) {
        EXPECT_TRUE(spectrum_of(decode_ok(reader, function, 0)).mz.empty()) << function;
        EXPECT_TRUE(spectrum_of(decode_ok(reader, function, 1)).intensity.empty()) << function;
    }
    for (std::uint64_t scan : {0u, 1u, 2u}) {
        const DecodedScan decoded = decode_ok(reader, 3, scan);
        EXPECT_TRUE(std::get<raw::ImsSpectrum>(decoded.spectrum).mz.empty()) << scan;
    }
}

struct CalibrationCase {
    std::string label;
    std::optional<std::string> cal;
    double mz;
};

class CalibrationTest : public ::testing::TestWithParam<CalibrationCase> {};

TEST_P(CalibrationTest, AppliedPerFunction) {
    TempDir temp;
    RawDirSpec spec;
    if (GetParam().cal) spec.header.cal = {{1, *GetParam().cal}, {2, *GetParam().cal}};
    spec.functions = {function_a({{kA256}, {kA256}}), function_d({{kD256}, {kD256}})};
    const Reader reader = open_ok(write_raw_dir(temp, spec));
    ASSERT_EQ(reader.functions[1].encoding, Encoding::D);
    for (std::uint32_t function : {1u, 2u}) {
        const DecodedScan decoded = decode_ok(reader, function, 0);
        const raw::Spectrum& spectrum = spectrum_of(decoded);
        ASSERT_EQ(spectrum.mz.size(), 1u);
        EXPECT_EQ(spectrum.mz[0], GetParam().mz) << function;
    }
    EXPECT_EQ(spectrum_of(decode_ok(reader, 1, 0)).intensity, std::vector<float>{100.0f});
    EXPECT_EQ(spectrum_of(decode_ok(reader, 2, 0)).intensity, std::vector<float>{1.5f});
}

INSTANTIATE_TEST_SUITE_P(Headers, CalibrationTest,
                         ::testing::Values(CalibrationCase{"None", std::nullopt, 256.0},
                                           CalibrationCase{"Identity", "0,1,T1", 256.0},
                                           CalibrationCase{"Doubled", "0,2,T1", 1024.0},
                                           CalibrationCase{"T0Ignored", "0,2,T0", 256.0},
                                           CalibrationCase{"T1Empty", "T1", 0.0}),
                         [](const auto& info) { return info.param.label; });

TEST(DecodeScan, ImsDriftUsesScanTime) {
    TempDir temp;
    RawDirSpec spec;
    spec.header.instrument = "synapt xs";
    spec.functions = {function_b_index({{record_b(7, 32768, 100), record_b(9, 16384, 200)}})};
    spec.functions[0].info.scan_time_s = 0.5f;
    spec.functions[0].info.mz_low = 100.0f;
    spec.functions[0].info.mz_high = 400.0f;
    const Reader reader = open_ok(write_raw_dir(temp, spec));
    const DecodedScan decoded = decode_ok(reader, 1, 0);
    const auto& ims = std::get<raw::ImsSpectrum>(decoded.spectrum);
    EXPECT_EQ(ims.drift_time_ms, (std::vector<double>{250.0, 125.0}));
    EXPECT_EQ(ims.intensity, (std::vector<float>{7.0f, 9.0f}));
    ASSERT_EQ(ims.mz.size(), 2u);
    EXPECT_DOUBLE_EQ(ims.mz[0], 100.0);
    EXPECT_DOUBLE_EQ(ims.mz[1], 400.0);
}

TEST(DecodeScan, StatisticsValuesPerScan) {
    TempDir temp;
    RawDirSpec spec;
    spec.functions = {function_a({{kA256}, {kA256}, {kA256}})};
    ByteWriter records(16);
    records.put_f32(0, 25.5f).put_u8(4, 2).put_f32(8, 30.0f).put_u8(12, 0);
    spec.functions[0].sts =
        StsFileFields{.descriptors = {{.type_code = kStsF32, .offset = 0, .name = "Collision Energy"},
                                      {.type_code = kStsU8, .offset = 4, .name = "ETD Fragmentation Mode"}},
                      .scan_record_size = 8,
                      .records = records.take()};
    const Reader reader = open_ok(write_raw_dir(temp, spec));
    const DecodedScan first = decode_ok(reader, 1, 0);
    EXPECT_EQ(first.collision_energy, 25.5);
    EXPECT_EQ(first.etd_fragmentation_mode, 2.0);
    const DecodedScan second = decode_ok(reader, 1, 1);
    EXPECT_EQ(second.collision_energy, 30.0);
    EXPECT_EQ(second.etd_fragmentation_mode, 0.0);
    const DecodedScan third = decode_ok(reader, 1, 2); // no statistics record for this scan
    EXPECT_EQ(third.collision_energy, std::nullopt);
    EXPECT_EQ(third.etd_fragmentation_mode, std::nullopt);
}

} // namespace
} // namespace tarnvale
