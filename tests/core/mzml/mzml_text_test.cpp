// The mzML writer's text pieces: escaping, ids, numbers, parameter lines, the
// instrument and channel term choices, file URIs and spectrum summaries. Each
// table row names its input.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "mzml/channel_terms.hpp"
#include "mzml/file_uri.hpp"
#include "mzml/instrument_model.hpp"
#include "mzml/native_id.hpp"
#include "mzml/spectrum_summary.hpp"
#include "mzml/terms.hpp"
#include "mzml/xml.hpp"
#include "numbers.hpp"
#include "raw/decoder_path.hpp"

namespace tarnvale::mzml {
namespace {

const std::string R = "\xEF\xBF\xBD"; // U+FFFD
constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();
constexpr float fnan = std::numeric_limits<float>::quiet_NaN();
constexpr float finf = std::numeric_limits<float>::infinity();

TEST(MzmlText, EscapingForContentAndAttributes) {
    struct Case {
        std::string input, text, attribute;
    };
    // clang-format off
    const Case cases[] = {
        {"plain", "plain", "plain"},
        {"a&b<c>d\"e'", "a&amp;b&lt;c&gt;d\"e'", "a&amp;b&lt;c&gt;d&quot;e'"},
        {"tab\tlf\ncr\r", "tab\tlf\ncr&#13;", "tab&#9;lf&#10;cr&#13;"},
        {"\xC2\xB0" "C \xE2\x82\xAC", "\xC2\xB0" "C \xE2\x82\xAC", "\xC2\xB0" "C \xE2\x82\xAC"},
        {std::string("nul\0bell\x07", 9), "nul" + R + "bell" + R, "nul" + R + "bell" + R},
        {"non\xEF\xBF\xBE" "char\xEF\xBF\xBF", "non" + R + "char" + R, "non" + R + "char" + R},
        {"bad\xFF utf8", "bad" + R + " utf8", "bad" + R + " utf8"},
        {"", "", ""},
        {"-1.5e-7 ~!@#$%^*()[]{}|\x7F", "-1.5e-7 ~!@#$%^*()[]{}|\x7F", "-1.5e-7 ~!@#$%^*()[]{}|\x7F"},
        {"ends with &", "ends with &amp;", "ends with &amp;"},
        {"\x1F" "first", R + "first", R + "first"},
    };
    // clang-format on
    for (const Case& c : cases) {
        std::string text = "<", attribute = "<";
        append_escaped_text(text, c.input);
        append_escaped_attribute(attribute, c.input);
        EXPECT_EQ(text, "<" + c.text) << c.input;
        EXPECT_EQ(attribute, "<" + c.attribute) << c.input;
    }
}

TEST(MzmlText, NcnameMakesValidIds) {
    const std::pair<std::string, std::string> cases[] = {
        {"sample", "sample"},
        {"run-1.2_x", "run-1.2_x"},
        {"2021 run", "_2021_run"},
        {"", "_"},
        {"-x", "_-x"},
        {"a:b/c", "a_b_c"},
        {"_ok", "_ok"},
        {"\xC3\xA9t\xC3\xA9", "___t__"},
    };
    for (const auto& [input, expected] : cases) EXPECT_EQ(ncname(input), expected) << input;
}

TEST(MzmlText, NumbersUseTheSchemaSpellings) {
    const std::pair<double, std::string> doubles[] = {
        {0.0, "0"},   {-0.0, "-0"},   {1.5, "1.5"}, {0.1, "0.1"},          {1e21, "1000000000000000000000"},
        {inf, "INF"}, {-inf, "-INF"}, {nan, "NaN"}, {785.8426, "785.8426"}};
    for (const auto& [value, text] : doubles) EXPECT_EQ(xsd_double(value), text) << text;
    EXPECT_EQ(xsd_float(0.1f), "0.1");
    EXPECT_EQ(xsd_float(-std::numeric_limits<float>::infinity()), "-INF");
    EXPECT_EQ(xsd_float(3.4028235e38f), "340282350000000000000000000000000000000");
}

// The writer lays numbers out itself: the same text as format_f64 and format_f32
// (with the schema's INF), for hand-picked values and for random bit patterns,
// subnormals, NaN payloads and integers beyond 2^53 among them.
TEST(MzmlText, NumbersAsTheShortestRoundTripText) {
    const auto schema = [](const std::string& text) -> std::string {
        if (text == "inf") return "INF";
        if (text == "-inf") return "-INF";
        return text;
    };
    std::vector<double> doubles = {5e-324,
                                   -2.2250738585072014e-308,
                                   1.7976931348623157e308,
                                   1e-7,
                                   123456.0,
                                   9007199254740993.0,
                                   0.001,
                                   1e15,
                                   1e16,
                                   1e22,
                                   3.0e-5,
                                   100.0,
                                   -12.5};
    std::vector<float> floats = {1e-45F, 1.17549435e-38F, 3.4028235e38F, 16777217.0F, 0.3F, -7.0F, 1e10F};
    std::mt19937_64 random(17);
    for (int i = 0; i < 20000; ++i) {
        const std::uint64_t bits = random();
        doubles.push_back(std::bit_cast<double>(bits));
        floats.push_back(std::bit_cast<float>(static_cast<std::uint32_t>(bits >> 32)));
    }
    for (const double value : doubles) {
        std::string appended = "<";
        append_xsd_double(appended, value);
        ASSERT_EQ(appended, "<" + schema(format_f64(value))) << std::bit_cast<std::uint64_t>(value);
    }
    for (const float value : floats) {
        std::string appended = "<";
        append_xsd_float(appended, value);
        ASSERT_EQ(appended, "<" + schema(format_f32(value))) << std::bit_cast<std::uint32_t>(value);
    }
}

TEST(MzmlText, ParameterLines) {
    std::string out;
    append_cv_param(out, "  ", Term::MsLevel, "2");
    append_cv_param(out, "", Term::ScanStartTime, "1.5", Term::Minute);
    append_cv_param(out, "", Term::CentroidSpectrum);
    append_user_param(out, "", "instrument model", "Q<TOF>", "xsd:string");
    append_user_param(out, "", "note", "x");
    append_number_param(out, " ", Term::TotalIonCurrent, 2.5e-7);
    append_number_param(out, "", Term::BasePeakIntensity, 0.1F, Term::DetectorCounts);
    EXPECT_EQ(out,
              "  <cvParam cvRef=\"MS\" accession=\"MS:1000511\" name=\"ms level\" value=\"2\"/>\n"
              "<cvParam cvRef=\"MS\" accession=\"MS:1000016\" name=\"scan start time\" value=\"1.5\" "
              "unitCvRef=\"UO\" unitAccession=\"UO:0000031\" unitName=\"minute\"/>\n"
              "<cvParam cvRef=\"MS\" accession=\"MS:1000127\" name=\"centroid spectrum\" value=\"\"/>\n"
              "<userParam name=\"instrument model\" value=\"Q&lt;TOF&gt;\" type=\"xsd:string\"/>\n"
              "<userParam name=\"note\" value=\"x\"/>\n"
              " <cvParam cvRef=\"MS\" accession=\"MS:1000285\" name=\"total ion current\" "
              "value=\"0.00000025\"/>\n"
              "<cvParam cvRef=\"MS\" accession=\"MS:1000505\" name=\"base peak intensity\" value=\"0.1\" "
              "unitCvRef=\"MS\" unitAccession=\"MS:1000131\" unitName=\"number of detector counts\"/>\n");
    for (const TermInfo& info : all_terms()) {
        EXPECT_EQ(&term_info(info.term), &info);
        EXPECT_EQ(info.accession.substr(0, cv_ref(info.term).size() + 1),
                  std::string(cv_ref(info.term)) + ":");
    }
}

TEST(MzmlText, InstrumentModels) {
    const std::pair<std::string, Term> cases[] = {
        {"SYNAPT G2-Si", Term::SynaptG2Si},
        {"synapt g2-si", Term::SynaptG2Si},
        {"SYNAPT G2Si ", Term::SynaptG2Si},
        {"Synapt G2 HDMS", Term::SynaptG2Hdms},
        {"SYNAPT HDMS", Term::SynaptHdms},
        {"Synapt XS", Term::SynaptXs},
        {"SYNAPT G2-S", Term::WatersInstrumentModel},
        {"SYNAPT G2-Si HDMS", Term::WatersInstrumentModel},
        {"XEVO-G2XSQTOF#NotSet", Term::WatersInstrumentModel},
        {"", Term::WatersInstrumentModel},
        {"-", Term::WatersInstrumentModel},
    };
    for (const auto& [text, term] : cases) EXPECT_EQ(instrument_model(text), term) << text;
}

TEST(MzmlText, ChannelTerms) {
    struct Case {
        std::string name, units;
        std::optional<Term> type;
        Term array;
        std::optional<Term> unit;
    };
    constexpr Term other = Term::NonStandardDataArray;
    // clang-format off
    const Case cases[] = {
        {"Pump Pressure", "bar", Term::PressureChromatogram, other, {}},
        {"Pressure", "Pa", Term::PressureChromatogram, Term::PressureArray, Term::Pascal},
        {"Column Temperature", "\xC2\xB0" "C", Term::TemperatureChromatogram, Term::TemperatureArray, Term::DegreeCelsius},
        {"Sample", " k ", Term::TemperatureChromatogram, Term::TemperatureArray, Term::Kelvin},
        {"Flow", "\xC2\xB5L/min", Term::FlowRateChromatogram, Term::FlowRateArray, Term::MicrolitersPerMinute},
        {"Flow", "mL/min", Term::FlowRateChromatogram, other, {}},
        {"UV 254", "AU", Term::AbsorptionChromatogram, Term::IntensityArray, Term::AbsorbanceUnit},
        {"Column Temp.", "", Term::TemperatureChromatogram, other, {}},
        {"UV detector", "counts", Term::AbsorptionChromatogram, other, {}},
        {"Fluorescence", "", Term::EmissionChromatogram, other, {}},
        {"Solvent B", "%", std::nullopt, other, {}},
        {"Curve", "", std::nullopt, other, {}}, // "UV" inside a word does not count
    };
    // clang-format on
    for (const Case& c : cases) {
        const ChannelTerms terms = channel_terms(c.name, c.units);
        EXPECT_EQ(terms.type, c.type) << c.name << " / " << c.units;
        EXPECT_EQ(terms.array, c.array) << c.name << " / " << c.units;
        EXPECT_EQ(terms.unit, c.unit) << c.name << " / " << c.units;
    }
}

TEST(MzmlText, FileUris) {
    const std::pair<std::string, std::string> cases[] = {
        {"/data/runs", "file:///data/runs"},
        {"/data/run 1/x#y?.raw", "file:///data/run%201/x%23y%3F.raw"},
        {"/data/./a/../b", "file:///data/b"},
        {"/d/\xC3\xA9", "file:///d/%C3%A9"},
    };
    for (const auto& [path, uri] : cases) EXPECT_EQ(file_uri(path), uri) << path;
    EXPECT_TRUE(file_uri("relative").starts_with("file:///"));
}

TEST(MzmlText, SpectrumIds) {
    EXPECT_EQ(spectrum_id(1, 0, std::nullopt), "function=1 process=0 scan=0");
    EXPECT_EQ(spectrum_id(12, 4294967296, std::nullopt), "function=12 process=0 scan=4294967296");
    EXPECT_EQ(spectrum_id(3, 7, 199), "function=3 process=0 scan=7 driftBin=199");
}

// Counting up (step 1) or down (step -1) from the step: 1, 2, 3... or -1, -2, -3...
std::vector<double> ramp(std::size_t count, double step) {
    std::vector<double> values(count);
    for (std::size_t i = 0; i < count; ++i) values[i] = step * static_cast<double>(i + 1);
    return values;
}

std::vector<float> ones(std::size_t count) { return std::vector<float>(count, 1.0F); }
std::vector<float> minus_ones(std::size_t count) { return std::vector<float>(count, -1.0F); }

template <class T>
std::vector<T> with(std::vector<T> values, std::initializer_list<std::pair<std::size_t, T>> set) {
    for (const auto& [at, value] : set) values[at] = value;
    return values;
}

// The same bits, or NaN for NaN.
bool same_bits(double a, double b) {
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b) ||
           (std::isnan(a) && std::isnan(b));
}

void expect_same_summary(const SpectrumSummary& got, const SpectrumSummary& want, const std::string& what) {
    EXPECT_TRUE(same_bits(got.total_ion_current, want.total_ion_current))
        << what << ": " << got.total_ion_current << " vs " << want.total_ion_current;
    EXPECT_EQ(got.base_peak, want.base_peak) << what;
    EXPECT_TRUE(same_bits(got.lowest_mz, want.lowest_mz)) << what;
    EXPECT_TRUE(same_bits(got.highest_mz, want.highest_mz)) << what;
}

TEST(MzmlText, SpectrumSummaries) {
    struct Case {
        std::string name;
        std::vector<double> mz;
        std::vector<float> intensity;
        double tic;
        std::size_t base_peak;
        double lowest, highest;
    };
    const Case cases[] = {
        {"first of equal maxima", {100, 200, 300, 400}, {1, 5, 5, 3}, 14, 1, 100, 400},
        {"unsorted m/z", {300, 100, 200}, {1, 2, 3}, 6, 2, 100, 300},
        {"NaN intensity skipped", {100, 200, 300}, {fnan, 2, 1}, nan, 1, 100, 300},
        {"all NaN", {100, 200}, {fnan, fnan}, nan, 0, 100, 200},
        {"NaN m/z ignored", {nan, 5, 1}, {1, 1, 1}, 3, 0, 1, 5},
        {"one point", {42.5}, {0}, 0, 0, 42.5, 42.5},
        {"only NaN m/z", {nan, nan}, {1, 2}, 3, 1, nan, nan},
        {"the first of equal zeros", {0.0, -0.0}, {1, 1}, 2, 0, 0.0, 0.0},
        {"no points", {}, {}, 0, 0, nan, nan},
        {"-inf after leading NaNs", {1, 2, 3}, {fnan, -finf, -finf}, nan, 1, 1, 3},
        {"-0 then 0 intensity keeps the first", {1, 2}, {-0.0F, 0.0F}, 0, 0, 1, 2},
        {"inf intensity", {1, 2, 3}, {5, finf, 7}, inf, 1, 1, 3},
        {"infinite m/z", {-inf, 7, inf}, {1, 2, 3}, 6, 2, -inf, inf},
        {"NaN between maxima", {1, 2, 3, 4}, {3, fnan, 3, 4}, nan, 3, 1, 4},
        // 2^53 + 1 + 1 is 2^53 when added in point order, 2^53 + 2 in pairs.
        {"sum in point order", {1, 2, 3}, {9007199254740992.0F, 1, 1}, 9007199254740992.0, 0, 1, 3},
        // Forty points: two blocks of sixteen side by side, and eight after them.
        {"the first zero m/z gives the smallest's sign", with(ramp(40, 1), {{3, -0.0}, {18, 0.0}}), ones(40),
         40, 0, -0.0, 40},
        {"the first zero m/z, positive", with(ramp(40, 1), {{3, 0.0}, {18, -0.0}}), ones(40), 40, 0, 0.0, 40},
        {"the first zero m/z gives the largest's sign", with(ramp(40, -1), {{5, -0.0}, {20, 0.0}}), ones(40),
         40, 0, -40, -0.0},
        {"NaN intensities before and in the lanes", ramp(40, 1),
         with(ones(40), {{0, fnan}, {1, fnan}, {20, fnan}, {37, 9}}), nan, 37, 1, 40},
        {"equal maxima in two lanes: the first point", ramp(40, 1), with(ones(40), {{25, 9}, {9, 9}}), 56, 9,
         1, 40},
        {"greatest after the lanes", ramp(40, 1), with(ones(40), {{39, 2}}), 41, 39, 1, 40},
        {"off-grid sum in point order over the lanes", ramp(40, 1),
         with(ones(40), {{0, 9007199254740992.0F}}), 9007199254740992.0, 0, 1, 40},
        {"quarter counts", ramp(40, 1), std::vector<float>(40, 0.25F), 10, 0, 1, 40},
        {"every intensity NaN", ramp(40, 1), std::vector<float>(40, fnan), nan, 0, 1, 40},
        {"-inf after NaN over the lanes", ramp(40, 1),
         with(std::vector<float>(40, -finf), {{0, fnan}, {1, fnan}}), nan, 2, 1, 40},
        {"signed zero intensities in two lanes", ramp(40, 1), with(minus_ones(40), {{4, -0.0F}, {17, 0.0F}}),
         -38, 4, 1, 40},
        {"every m/z NaN over the lanes", std::vector<double>(40, nan), ones(40), 40, 0, nan, nan},
    };
    // Equal down to the sign of zero, or both NaN.
    for (const raw::DecoderPath path : raw::available_decoder_paths())
        for (const Case& c : cases)
            expect_same_summary(summarize_on(path, c.mz, c.intensity),
                                {c.tic, c.base_peak, c.lowest, c.highest},
                                c.name + " on " + std::string(raw::to_string(path)));
}

// Intensities of the kinds a spectrum can hold, some with awkward values mixed in.
std::vector<float> random_intensities(std::mt19937& random, std::size_t count, int kind) {
    std::vector<float> values(count);
    std::uniform_int_distribution<std::int32_t> mantissa(0, 1 << 24);
    std::uniform_int_distribution<int> exponent(-16, -8);
    std::uniform_int_distribution<int> counts(0, 5000);
    std::uniform_real_distribution<float> wide(1e-3F, 1e9F);
    const float awkward[] = {fnan, 0.0F, -0.0F, finf, -finf, 65536.0F, 65536.5F, -1.5F, 1e-30F};
    std::uniform_int_distribution<std::size_t> pick(0, std::size(awkward) - 1);
    std::uniform_int_distribution<int> percent(0, 99);
    for (float& value : values) {
        switch (kind) {
        case 0: // detector counts, as most scans hold
            value = static_cast<float>(counts(random));
            break;
        case 1: // multiples of 2^-16 up to 2^16, the decoders' whole range
            value = std::ldexp(static_cast<float>(mantissa(random)), exponent(random));
            break;
        default: // anything else a caller might pass
            value = wide(random);
            break;
        }
        if (kind == 3 && percent(random) < 5) value = awkward[pick(random)];
    }
    return values;
}

std::vector<double> random_mz(std::mt19937& random, std::size_t count, bool awkward_values) {
    std::vector<double> values(count);
    std::uniform_real_distribution<double> mz(50, 2000);
    const double awkward[] = {nan, 0.0, -0.0, inf, -inf, 50.0};
    std::uniform_int_distribution<std::size_t> pick(0, std::size(awkward) - 1);
    std::uniform_int_distribution<int> percent(0, 99);
    for (double& value : values)
        value = awkward_values && percent(random) < 5 ? awkward[pick(random)] : mz(random);
    return values;
}

TEST(MzmlText, SpectrumSummariesAreTheSameOnEveryPath) {
    std::vector<std::size_t> lengths;
    for (std::size_t n = 0; n <= 48; ++n) lengths.push_back(n);
    lengths.insert(lengths.end(), {1000, 4099});
    std::mt19937 random(11);
    const char* kinds[] = {"counts", "grid", "wide", "awkward"};
    for (const raw::DecoderPath path : raw::available_decoder_paths()) {
        for (int kind = 0; kind < 4; ++kind) {
            for (const std::size_t n : lengths) {
                for (int round = 0; round < 4; ++round) {
                    const std::vector<double> mz = random_mz(random, n, kind == 3);
                    const std::vector<float> intensity = random_intensities(random, n, kind);
                    expect_same_summary(summarize_on(path, mz, intensity),
                                        summarize_on(raw::DecoderPath::Baseline, mz, intensity),
                                        std::string(kinds[kind]) + " × " + std::to_string(n) + " on " +
                                            std::string(raw::to_string(path)));
                }
            }
        }
    }
}

// Up to 2^21 intensities on the 2^-16 grid sum exactly in any order; past that
// the order matters. With 2^16 in every point but the last sixteen, which hold
// 2^-16, the running total of 2^21 + 17 points is past 2^37 when the small ones
// come, and each is lost to rounding in point order but kept lane by lane.
TEST(MzmlText, SpectrumSummariesAtTheExactSumLimit) {
    for (const std::size_t n : {std::size_t{1} << 21, (std::size_t{1} << 21) + 17}) {
        std::vector<float> intensity(n, 65536.0F);
        for (std::size_t i = n - 16; i < n; ++i) intensity[i] = 1.0F / 65536.0F;
        const std::vector<double> mz(n, 100.0);
        const SpectrumSummary plain = summarize_on(raw::DecoderPath::Baseline, mz, intensity);
        for (const raw::DecoderPath path : raw::available_decoder_paths())
            expect_same_summary(summarize_on(path, mz, intensity), plain,
                                std::to_string(n) + " points on " + std::string(raw::to_string(path)));
    }
}

} // namespace
} // namespace tarnvale::mzml
