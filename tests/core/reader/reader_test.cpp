// Opening whole synthetic raw directories and decoding single scans from them.
#include "reader/reader.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
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
using ::testing::DoubleEq;
using ::testing::ElementsAre;

// Encoding A and D records whose uncalibrated m/z is exactly 256.
const RecordA kA256 = record_a_mz(100, 256.0);
const Record8 kD256 = record_d_mz(1.5, 256.0);

// A synthetic directory, written and opened (a failed open throws with the error's text);
// `log` holds what was logged from the open on. `subpath` is opened instead of the directory.
struct Opened {
    explicit Opened(const RawDirSpec& spec, const fs::path& subpath = {})
        : dir(write_raw_dir(temp, spec)), reader(open(subpath.empty() ? dir : dir / subpath)) {}

    static Reader open(const fs::path& path) {
        auto reader = Reader::open(path);
        if (!reader) throw std::runtime_error("open failed: " + reader.error().to_string());
        return std::move(*reader);
    }
    std::vector<std::string> messages(log::Level level) const {
        return log.messages(level, "tarnvale::reader");
    }
    DecodedScan decode(std::uint32_t function, std::uint64_t scan) const {
        auto decoded = reader.decode_scan(function, scan);
        if (!decoded) throw std::runtime_error("decode failed: " + decoded.error().to_string());
        return std::move(*decoded);
    }
    raw::Spectrum spectrum(std::uint32_t function, std::uint64_t scan) const {
        return std::get<raw::Spectrum>(decode(function, scan).spectrum);
    }
    std::string decode_error(std::uint32_t function, std::uint64_t scan) const {
        return error_text(reader.decode_scan(function, scan));
    }

    TempDir temp;
    fs::path dir;
    LogCapture log;
    Reader reader;
};

std::vector<IndexARecord>
index_records(std::initializer_list<std::pair<std::uint32_t, std::uint32_t>> pairs) {
    std::vector<IndexARecord> out;
    for (auto [offset, n_points] : pairs) out.push_back({.offset = offset, .n_points = n_points});
    return out;
}

// The records as the reader reads them from an index file.
raw::ScanIndex scan_index_a(const std::vector<IndexARecord>& records) {
    auto index = raw::ScanIndex::from_bytes(testing::index_a(records));
    EXPECT_TRUE(index.has_value());
    return index ? std::move(*index) : raw::ScanIndex{};
}

std::string replaced(std::string text, std::string_view key, const std::string& value) {
    for (auto at = text.find(key); at != std::string::npos; at = text.find(key, at + value.size()))
        text.replace(at, key.size(), value);
    return text;
}

// ---------------------------------------------------------------- opening

TEST(ReaderOpen, BuildsEveryFunctionAndLogsTheRun) {
    RawDirSpec spec;
    spec.header.cal = {{1, "0,2,T1"}, {2, "0.5,1,T0"}};
    spec.extern_inf.pusher_interval = "64.5";
    spec.functions = {function_a({{kA256, kA256}, {kA256}}), function_d({{kD256}, {kD256, kD256}}),
                      function_b_index({{record_c(1, 0, 10), record_c(1, 0, 20)}, {}})};
    spec.functions[0].info.scan_subtype = 0x81;
    spec.functions[0].info.mz_low = 50.1f;
    spec.functions[1].info.scan_subtype = 0x01;
    spec.on_disk_name = {{"_HEADER.TXT", "_header.txt"},
                         {"_extern.inf", "RUN_EXTERN.INF"},
                         {"_FUNC001.DAT", "SAMPLE_FUNC001.DAT"}};
    const Opened o(spec);
    const Reader& reader = o.reader;

    EXPECT_EQ(reader.dir, o.dir);
    EXPECT_EQ(reader.name, "sample.raw");
    ASSERT_EQ(reader.functions.size(), 3u);
    const FunctionEntry& a = reader.functions[0];
    // Encoding, scan count, DAT size and calibration type of each entry show in the debug lines below.
    EXPECT_EQ(a.number, 1u);
    EXPECT_EQ(a.info.index, 1u);
    EXPECT_EQ(a.dat_path, o.dir / "SAMPLE_FUNC001.DAT");
    EXPECT_EQ(a.coefficients, (std::vector<double>{0, 2}));
    EXPECT_FALSE(a.sts.has_value());
    EXPECT_EQ(reader.functions[1].coefficients, (std::vector<double>{0.5, 1}));
    EXPECT_TRUE(reader.functions[2].coefficients.empty());
    EXPECT_EQ(reader.function(2), &reader.functions[1]);
    EXPECT_EQ(reader.function(4), nullptr);

    EXPECT_EQ(
        o.messages(log::Level::Debug),
        (std::vector<std::string>{
            "opening " + o.dir.string(),
            "_extern.inf: using prefixed " + (o.dir / "RUN_EXTERN.INF").string(),
            // NOLINTNEXTLINE(bugprone-suspicious-missing-comma): one line, split for its length
            "instrument \"QTOF\"; Lteff 1000 mm, Veff 10000 V, pusher interval 64.5 us; 3 functions in "
            "_FUNCTNS.INF; T1 calibration for functions [1, 2]",
            "_FUNC001.DAT: using prefixed " + (o.dir / "SAMPLE_FUNC001.DAT").string(),
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
        o.messages(log::Level::Warn),
        std::vector<std::string>{"function 3: no Cal Function line in _HEADER.TXT; m/z is uncalibrated"});
    EXPECT_EQ(
        o.messages(log::Level::Trace),
        std::vector<std::string>{"_HEADER.TXT: using differently cased " + (o.dir / "_header.txt").string()});
}

TEST(ReaderOpen, NoReadableFunctionStillOpensAndParentPathGivesTheDefaultName) {
    RawDirSpec spec;
    spec.header.instrument = "Q\"TOF\\1";
    spec.extern_inf.lteff = "1800.25";
    spec.extern_inf.veff = "7000";
    spec.functions = {function_a({{kA256}})};
    spec.omit = {"_FUNC001.IDX", "_FUNC001.DAT"};
    spec.extra_files = {{"sub/file", "x"}};
    const Opened o(spec, fs::path("sub") / "..");
    const std::string opened = (o.dir / "sub" / "..").string();
    EXPECT_TRUE(o.reader.functions.empty());
    EXPECT_EQ(o.reader.dir, o.dir / "sub" / "..");
    EXPECT_EQ(o.reader.name, "bundle.raw");
    EXPECT_EQ(o.messages(log::Level::Debug),
              (std::vector<std::string>{
                  "opening " + opened,
                  "instrument \"Q\\\"TOF\\\\1\"; Lteff 1800.25 mm, Veff 7000 V, pusher interval absent; 1 "
                  "functions in _FUNCTNS.INF; T1 calibration for functions []",
                  "opened bundle.raw: 0 of 1 functions readable"}));
    EXPECT_EQ(o.messages(log::Level::Warn),
              std::vector<std::string>{"function 1: _FUNC001.IDX or _FUNC001.DAT missing in " + opened +
                                       "; skipping function"});
}

TEST(ReaderOpen, MissingIndexOrDataSkipsTheFunction) {
    for (const std::string missing : {"_FUNC002.DAT", "_FUNC002.IDX"}) {
        SCOPED_TRACE(missing);
        RawDirSpec spec;
        spec.header.cal = {{1, "0,1,T1"}, {2, "0,1,T1"}, {3, "0,1,T1"}};
        spec.functions = {function_a({{kA256}}), function_a({{kA256}}), function_a({{kA256}})};
        spec.omit = {missing};
        const Opened o(spec);

        ASSERT_EQ(o.reader.functions.size(), 2u);
        EXPECT_EQ(o.reader.functions[0].number, 1u);
        EXPECT_EQ(o.reader.functions[1].number, 3u);
        EXPECT_EQ(o.messages(log::Level::Warn),
                  std::vector<std::string>{"function 2: _FUNC002.IDX or _FUNC002.DAT missing in " +
                                           o.dir.string() + "; skipping function"});
        EXPECT_EQ(o.messages(log::Level::Debug).back(), "opened sample.raw: 2 of 3 functions readable");
        EXPECT_EQ(o.decode_error(2, 0),
                  o.dir.string() + " function 2 scan 0: parse error: function 2 not present in bundle");
        EXPECT_EQ(o.spectrum(3, 0).mz, std::vector<double>{256.0});
    }
}

// Variant A index over a 4 KiB data file.
FunctionSpec variant_a(std::vector<IndexARecord> records) {
    FunctionSpec function;
    function.index_a = std::move(records);
    function.dat_bytes = std::vector<std::uint8_t>(4096, 0);
    return function;
}

// The 6- and 8-byte Variant A cases and a non-SYNAPT Variant B are in BuildsEveryFunctionAndLogsTheRun.
TEST(ReaderOpen, EncodingFromIndexVariantThenInstrumentOrOffsetSpacing) {
    const FunctionSpec variant_b = function_b_index({{record_b(1, 0, 1), record_b(1, 0, 2)}});
    const struct {
        std::optional<std::string> instrument;
        FunctionSpec function;
        Encoding encoding;
        std::string reason; // as shown in the function's debug line
    } cases[] = {
        {"Synapt G2-S", variant_b, Encoding::B,
         "30-byte index, instrument \"Synapt G2-S\" starts with SYNAPT"},
        {"SYNAPT", variant_b, Encoding::B, "30-byte index, instrument \"SYNAPT\" starts with SYNAPT"},
        {"synapt xs", variant_b, Encoding::B, "30-byte index, instrument \"synapt xs\" starts with SYNAPT"},
        {"SYNAP", variant_b, Encoding::C, "30-byte index, instrument \"SYNAP\" is not SYNAPT"},
        {"G2 SYNAPT", variant_b, Encoding::C, "30-byte index, instrument \"G2 SYNAPT\" is not SYNAPT"},
        {std::nullopt, variant_b, Encoding::C, "30-byte index, instrument \"\" is not SYNAPT"},
        {"SYNAPT", variant_a(index_records({{0, 100}})), Encoding::A,
         "22-byte index, record width not established from offsets; assuming 6-byte records"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        RawDirSpec spec;
        spec.header.instrument = c.instrument;
        spec.functions = {c.function};
        const Opened o(spec);
        ASSERT_EQ(o.reader.functions.size(), 1u);
        EXPECT_EQ(o.reader.functions[0].encoding, c.encoding);
        const auto debug = o.messages(log::Level::Debug);
        const std::string& summary = debug.at(debug.size() - 2);
        EXPECT_NE(
            summary.find(std::string("encoding ") + encoding_letter(c.encoding) + " (" + c.reason + "), "),
            std::string::npos)
            << summary;
    }
}

TEST(VariantARecordWidth, FirstDecidingPairWins) {
    const std::vector<std::pair<std::vector<IndexARecord>, std::optional<std::uint32_t>>> cases = {
        {index_records({}), std::nullopt},
        {index_records({{0, 100}}), std::nullopt},
        {index_records({{0, 100}, {600, 100}}), 6},
        {index_records({{0, 100}, {800, 100}, {1400, 100}}), 8},            // a later 6 is not looked at
        {index_records({{0, 100}, {700, 100}, {1300, 100}}), 6},            // 7 skipped, then 6
        {index_records({{0, 100}, {700, 100}, {1400, 100}}), std::nullopt}, // 7 everywhere
        {index_records({{800, 100}, {0, 100}, {600, 100}}), 6},             // decreasing pair skipped
        {index_records({{0, 50}, {0, 100}, {600, 90}}), 6},                 // equal offsets skipped
        {index_records({{0, 0}, {600, 100}, {1400, 100}}), 8},              // zero points skipped
        {index_records({{0, 7}, {50, 100}}), std::nullopt},                 // 50 is no multiple of 7
        {index_records({{0, 1}, {4, 1}, {10, 1}}), 6},                      // 4 bytes per point skipped
        {index_records({{0, 100}, {650, 100}, {1450, 100}}), 8},            // 6.5 bytes per point skipped
        {index_records({{0xFFFFFFF0u, 2}, {0xFFFFFFFCu, 2}}), 6},           // spacing near the u32 limit
    };
    for (std::size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ(variant_a_record_width(scan_index_a(cases[i].first)), cases[i].second) << "case " << i;
}

TEST(IndexEnd, MaximumOverRecordsIn64Bits) {
    auto a = [](std::initializer_list<std::pair<std::uint32_t, std::uint32_t>> pairs) {
        return scan_index_a(index_records(pairs));
    };
    EXPECT_EQ(index_end(a({}), Encoding::A), std::nullopt);
    EXPECT_EQ(index_end(*raw::ScanIndex::from_bytes(testing::index_b({{}})), Encoding::C), std::nullopt);
    EXPECT_EQ(index_end(a({{0, 125}, {1000, 10}}), Encoding::D), 1080u);
    EXPECT_EQ(index_end(a({{0, 125}, {1000, 10}}), Encoding::A), 1060u);
    EXPECT_EQ(index_end(a({{2000, 0}, {1000, 10}}), Encoding::B), 2000u); // not the last record's end
    EXPECT_EQ(index_end(a({{0xFFFFFFFFu, 0xFFFFFFu}}), Encoding::D), 0xFFFFFFFFull + 0xFFFFFFull * 8);
    // The largest end at the start, the middle and the end of the records.
    EXPECT_EQ(index_end(a({{0, 1}, {9000, 1}, {0, 1}, {0, 1}}), Encoding::A), 9006u);
    EXPECT_EQ(index_end(a({{0, 1}, {0, 1}, {9000, 1}, {0, 1}}), Encoding::A), 9006u);
    EXPECT_EQ(index_end(a({{0, 1}, {0, 1}, {0, 1}, {0, 1}, {9000, 2}}), Encoding::D), 9016u);
}

TEST(ReaderOpen, IndexBeyondDataWarnsAndKeepsFunction) {
    RawDirSpec spec;
    spec.functions = {variant_a(index_records({{0, 125}, {1000, 10}}))};
    spec.functions[0].dat_bytes = std::vector<std::uint8_t>(1000, 0);
    const Opened o(spec);
    ASSERT_EQ(o.reader.functions.size(), 1u);
    EXPECT_EQ(o.reader.functions[0].encoding, Encoding::D);
    EXPECT_EQ(
        o.messages(log::Level::Warn),
        (std::vector<std::string>{"function 1: no Cal Function line in _HEADER.TXT; m/z is uncalibrated",
                                  "function 1: index addresses 1080 bytes but " +
                                      (o.dir / "_FUNC001.DAT").string() + " is 1000 bytes"}));
    // The scan that starts at the end of the file reads nothing and decodes empty.
    EXPECT_TRUE(o.spectrum(1, 1).mz.empty());
}

TEST(ReaderOpen, BadOrMissingStatisticsNeverEndOpen) {
    const struct {
        std::optional<std::vector<std::uint8_t>> sts;
        bool kept;
        std::string warning; // after "function 1: ignoring unreadable <path>: "
    } cases[] = {
        {std::nullopt, false, ""},
        {std::vector<std::uint8_t>(10, 0), false,
         "parse error: _FUNCnnn.STS too small: 10 bytes (need at least 32)"},
        {func_sts_file({.scan_record_size = 0}), false,
         "parse error: _FUNCnnn.STS: scan_record_size is zero"},
        {func_sts_file({.scan_record_size = 4}), true, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sts ? c.sts->size() : 0);
        RawDirSpec spec;
        spec.header.cal = {{1, "0,1,T1"}};
        spec.functions = {function_a({{kA256}})};
        spec.functions[0].sts_bytes = c.sts;
        const Opened o(spec);
        ASSERT_EQ(o.reader.functions.size(), 1u);
        EXPECT_EQ(o.reader.functions[0].sts.has_value(), c.kept);
        const std::string prefix =
            "function 1: ignoring unreadable " + (o.dir / "_FUNC001.STS").string() + ": ";
        EXPECT_EQ(o.messages(log::Level::Warn), c.warning.empty()
                                                    ? std::vector<std::string>{}
                                                    : std::vector<std::string>{prefix + c.warning});
        EXPECT_EQ(std::ranges::count(o.messages(log::Level::Debug), std::string("function 1: no STS file")),
                  c.sts ? 0 : 1);
    }
}

auto omit = [](const std::set<std::string>& names) {
    return [names](RawDirSpec& spec) { spec.omit = names; };
};
auto extra = [](const std::map<std::string, std::string>& files) {
    return [files](RawDirSpec& spec) { spec.extra_files = files; };
};

TEST(ReaderOpen, FailsWithTheFirstError) {
    const struct {
        std::function<void(RawDirSpec&)> adjust;
        std::string error;     // {dir} is the directory
        std::string path = {}; // opened below the directory; empty: the directory itself
    } cases[] = {
        {omit({"_HEADER.TXT"}), "parse error: required file _HEADER.TXT missing in {dir}"},
        {omit({"_HEADER.TXT", "_extern.inf"}), "parse error: required file _HEADER.TXT missing in {dir}"},
        {omit({"_extern.inf"}), "parse error: required file _extern.inf missing in {dir}"},
        {omit({"_FUNCTNS.INF"}), "parse error: required file _FUNCTNS.INF missing in {dir}"},
        {[](RawDirSpec& s) { s.header.cal[1] = "1,T9"; },
         "reading {dir}/_HEADER.TXT: parse error: _HEADER.TXT: unknown calibration type \"T9\""},
        {[](RawDirSpec& s) { s.extern_inf.lteff.clear(); },
         "reading {dir}/_extern.inf: parse error: _extern.inf: Lteff field not found"},
        {extra({{"_FUNCTNS.INF", std::string(417, '\0')}}),
         "reading {dir}/_FUNCTNS.INF: parse error: _FUNCTNS.INF: file size 417 is not a multiple of 416 "
         "(record size)"},
        {[](RawDirSpec& s) { s.functions[0].index_bytes = std::vector<std::uint8_t>(50, 0); },
         "reading {dir}/_FUNC001.IDX: parse error: _FUNCnnn.IDX: size 50 is not a multiple of 22 "
         "(Variant A) or 30 (Variant B)"},
        {extra({{"A_FUNC001.STS", "x"}, {"B_FUNC001.STS", "x"}}),
         "parse error: multiple files match _FUNC001.STS in {dir}"},
        {extra({{"A_FUNC001.IDX", "x"}, {"B_FUNC001.IDX", "x"}}),
         "parse error: multiple files match _FUNC001.IDX in {dir}"},
        {[](RawDirSpec&) {}, "listing {dir}/_HEADER.TXT: I/O error: Not a directory (os error 20)",
         "_HEADER.TXT"},
        {[](RawDirSpec&) {}, "listing {dir}/nothing: " + std::string(kNoSuchFile), "nothing"},
    };
    for (const auto& c : cases) {
        TempDir temp;
        RawDirSpec spec;
        spec.header.cal = {{1, "0,1,T1"}};
        spec.functions = {function_a({{kA256}})};
        c.adjust(spec);
        const fs::path dir = write_raw_dir(temp, spec);
        EXPECT_EQ(error_text(Reader::open(c.path.empty() ? dir : dir / c.path)),
                  replaced(c.error, "{dir}", dir.string()));
    }
}

TEST(RawDirName, LastNormalComponent) {
    for (const std::string path :
         {"x/sample.raw", "x/sample.raw/", "x/sample.raw/.", "x/sample.raw//./", "sample.raw"})
        EXPECT_EQ(raw_dir_name(path), "sample.raw") << path;
    for (const std::string path : {"x/sample.raw/..", "..", "/", ".", ""})
        EXPECT_EQ(raw_dir_name(path), "bundle.raw") << path;
    EXPECT_EQ(raw_dir_name("/data/../run.raw"), "run.raw");
    EXPECT_EQ(raw_dir_name("x/\xffrun.raw"), "\xef\xbf\xbdrun.raw");
}

// ---------------------------------------------------------------- decoding

TEST(TofConstant, EvaluatedStepByStepForBitExactResults) {
    EXPECT_EQ(tof_k_us(1000, 10000), 0.7224847745293227);
    EXPECT_EQ(tof_k_us(1800, 7000), 1.5543620501867195);
    EXPECT_EQ(tof_k_us(1234.5, 9543.21), 0.9130037330163687);
}

TEST(DecodeScan, VariantBRangesRunToTheNextOffsetOrTheFileEnd) {
    RawDirSpec spec;
    FunctionSpec function = function_b_index({});
    // Five 8-byte records; scan 1 starts after scan 2, so it is empty.
    function.dat_bytes = join({record_c(1, 0, 100), record_c(1, 0, 200), record_c(1, 0, 100),
                               record_c(0, 0, 150), record_c(1, 0, 250)});
    function.index_b = std::vector<IndexBRecord>{{0, 0.5f}, {16, 1.0f}, {8, 1.5f}};
    function.info.mz_low = 100.0f;
    function.info.mz_high = 400.0f;
    spec.functions = {function};
    Opened o(spec);
    o.log.clear();

    const raw::Spectrum scan0 = o.spectrum(1, 0);
    const raw::Spectrum scan1 = o.spectrum(1, 1);
    const DecodedScan scan2 = o.decode(1, 2);

    const std::string dat = (o.dir / "_FUNC001.DAT").string();
    EXPECT_EQ(o.messages(log::Level::Trace),
              (std::vector<std::string>{"function 1 scan 0: C bytes 0..16 of " + dat + ", RT 0.5 min",
                                        "function 1 scan 1: C bytes 16..16 of " + dat + ", RT 1 min",
                                        "function 1 scan 2: C bytes 8..40 of " + dat + ", RT 1.5 min"}));
    EXPECT_THAT(scan0.mz, ElementsAre(DoubleEq(100.0), DoubleEq(400.0)));
    EXPECT_TRUE(scan1.mz.empty());
    // Anchored at positions 200 and 250; the zero-intensity record is dropped.
    EXPECT_THAT(std::get<raw::Spectrum>(scan2.spectrum).mz,
                ElementsAre(DoubleEq(100.0), DoubleEq(100.0), DoubleEq(400.0)));
    EXPECT_EQ(scan2.rt_min, 1.5f);
    EXPECT_EQ(scan2.scan_index, 2u);
    EXPECT_EQ(scan2.func_index, 1u);
}

TEST(DecodeScan, VariantAReadsPointsTimesWidthClampedToTheFile) {
    const auto six = index_records({{0, 100}, {600, 100}});
    const auto eight = index_records({{0, 100}, {800, 100}});
    const struct {
        std::size_t width; // of the records filling the data file, as the offsets say
        std::vector<IndexARecord> index;
        std::size_t dat_size;
        std::uint64_t scan;
        std::string range; // "offset..end" in the trace line
        std::size_t points;
        std::string error = {}; // after "<dir> function 1 scan <n>: "; empty: decodes
    } cases[] = {
        {6, six, 1200, 1, "600..1200", 100},
        {8, eight, 1600, 1, "800..1600", 100},
        // Clamped to the file: a partial record for A, whole records for D.
        {6, six, 1000, 1, "600..1000", 0, "parse error: Encoding A: scan size 400 is not a multiple of 6"},
        {8, eight, 1200, 1, "800..1200", 50},
        // A huge point count reads only what the file holds; an offset beyond it reads nothing.
        {6, index_records({{0, 100}, {600, 0xFFFFFF}}), 660, 1, "600..660", 10},
        {6, index_records({{0, 100}, {600, 100}, {5000, 100}}), 1200, 2, "5000..5000", 0},
        {6, index_records({{0, 100}, {600, 0}}), 1200, 1, "600..600", 0},
        {8, index_records({{0, 100}, {800, 0}}), 1600, 1, "800..800", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.range);
        std::vector<std::uint8_t> dat;
        while (dat.size() < c.dat_size) {
            if (c.width == 6)
                dat.insert(dat.end(), kA256.begin(), kA256.end());
            else
                dat.insert(dat.end(), kD256.begin(), kD256.end());
        }
        dat.resize(c.dat_size);
        RawDirSpec spec;
        spec.functions = {variant_a(c.index)};
        spec.functions[0].dat_bytes = std::move(dat);
        Opened o(spec);
        o.log.clear();
        auto decoded = o.reader.decode_scan(1, c.scan);
        const std::string scan = "function 1 scan " + std::to_string(c.scan);
        EXPECT_EQ(o.messages(log::Level::Trace),
                  std::vector<std::string>{scan + ": " + (c.width == 6 ? "A" : "D") + " bytes " + c.range +
                                           " of " + (o.dir / "_FUNC001.DAT").string() + ", RT 0 min"});
        EXPECT_EQ(error_text(decoded),
                  c.error.empty() ? "no error" : o.dir.string() + " " + scan + ": " + c.error);
        const std::size_t points = decoded ? std::get<raw::Spectrum>(decoded->spectrum).mz.size() : 0;
        EXPECT_EQ(points, c.points);
    }
}

TEST(DecodeScan, OutOfRangeScanIsWrapped) {
    RawDirSpec spec;
    spec.functions = {function_a({{kA256}, {kA256}, {kA256}})};
    const Opened o(spec);
    const std::string d = o.dir.string();
    EXPECT_EQ(o.decode_error(1, 3), d + " function 1 scan 3: parse error: function 1 scan 3 out of range");
    EXPECT_EQ(o.decode_error(1, UINT64_MAX),
              d + " function 1 scan 18446744073709551615: parse error: function 1 "
                  "scan 18446744073709551615 out of range");
    EXPECT_EQ(o.decode_error(0, 0), d + " function 0 scan 0: parse error: function 0 not present in bundle");
}

TEST(DecodeScan, FileShrunkOrRemovedAfterOpen) {
    RawDirSpec spec;
    spec.functions = {function_a({{kA256, kA256}, {kA256, kA256}})};
    const Opened o(spec);
    fs::resize_file(o.dir / "_FUNC001.DAT", 14);
    EXPECT_EQ(o.decode_error(1, 1),
              o.dir.string() + " function 1 scan 1: I/O error: failed to fill whole buffer");
    EXPECT_EQ(o.spectrum(1, 0).mz.size(), 2u); // what remains still decodes
    fs::remove(o.dir / "_FUNC001.DAT");
    EXPECT_EQ(o.decode_error(1, 0), o.dir.string() + " function 1 scan 0: " + std::string(kNoSuchFile));
}

TEST(DecodeScan, CalibrationAppliedPerFunction) {
    const std::pair<std::optional<std::string>, double> cases[] = {
        {std::nullopt, 256.0}, {"0,1,T1", 256.0}, {"0,2,T1", 1024.0}, {"0,2,T0", 256.0}, {"T1", 0.0},
    };
    for (const auto& [cal, mz] : cases) {
        SCOPED_TRACE(cal.value_or("no calibration"));
        RawDirSpec spec;
        if (cal) spec.header.cal = {{1, *cal}, {2, *cal}};
        spec.functions = {function_a({{kA256}, {kA256}}), function_d({{kD256}, {kD256}})};
        const Opened o(spec);
        ASSERT_EQ(o.reader.functions[1].encoding, Encoding::D);
        EXPECT_EQ(o.spectrum(1, 0).mz, std::vector<double>{mz});
        EXPECT_EQ(o.spectrum(2, 0).mz, std::vector<double>{mz});
        EXPECT_EQ(o.spectrum(1, 0).intensity, std::vector<float>{100.0f});
        EXPECT_EQ(o.spectrum(2, 0).intensity, std::vector<float>{1.5f});
    }
}

TEST(DecodeScan, ImsDriftUsesScanTime) {
    RawDirSpec spec;
    spec.header.instrument = "synapt xs";
    spec.functions = {function_b_index({{record_b(7, 32768, 100), record_b(9, 16384, 200)}})};
    spec.functions[0].info.scan_time_s = 0.5f;
    spec.functions[0].info.mz_low = 100.0f;
    spec.functions[0].info.mz_high = 400.0f;
    const DecodedScan decoded = Opened(spec).decode(1, 0);
    const auto& ims = std::get<raw::ImsSpectrum>(decoded.spectrum);
    EXPECT_EQ(ims.drift_time_ms, (std::vector<double>{250.0, 125.0}));
    EXPECT_EQ(ims.intensity, (std::vector<float>{7.0f, 9.0f}));
    EXPECT_THAT(ims.mz, ElementsAre(DoubleEq(100.0), DoubleEq(400.0)));
}

TEST(DecodeScan, StatisticsValuesPerScan) {
    RawDirSpec spec;
    spec.functions = {function_a({{kA256}, {kA256}, {kA256}})};
    ByteWriter records(16);
    records.put_f32(0, 25.5f).put_u8(4, 2).put_f32(8, 30.0f).put_u8(12, 0);
    spec.functions[0].sts =
        StsFileFields{.descriptors = {{.type_code = kStsF32, .offset = 0, .name = "Collision Energy"},
                                      {.type_code = kStsU8, .offset = 4, .name = "ETD Fragmentation Mode"}},
                      .scan_record_size = 8,
                      .records = records.take()};
    spec.functions.push_back(function_a({{kA256}}));
    const Opened o(spec);
    // Scan 2 has no statistics record.
    const std::optional<double> energy[] = {25.5, 30.0, std::nullopt}, mode[] = {2.0, 0.0, std::nullopt};
    const FunctionEntry& entry = o.reader.functions[0];
    for (std::uint64_t scan = 0; scan < 3; ++scan) {
        const DecodedScan decoded = o.decode(1, scan);
        EXPECT_EQ(decoded.collision_energy, energy[scan]) << scan;
        EXPECT_EQ(decoded.etd_fragmentation_mode, mode[scan]) << scan;
        // The same values without decoding.
        EXPECT_EQ(entry.collision_energy(scan), energy[scan]) << scan;
        EXPECT_EQ(entry.etd_fragmentation_mode(scan), mode[scan]) << scan;
    }
    // A function without a statistics file has none.
    EXPECT_EQ(o.reader.functions[1].collision_energy(0), std::nullopt);
    EXPECT_EQ(o.decode(2, 0).etd_fragmentation_mode, std::nullopt);
}

} // namespace
} // namespace tarnvale
