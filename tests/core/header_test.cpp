#include "raw/header.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "support/support.hpp"

namespace tarnvale::raw {
namespace {

using Field = std::optional<std::string> Header::*;

Header parse_ok(std::string_view text) {
    Result<Header> header = Header::from_str(text);
    EXPECT_TRUE(header.has_value()) << header.error().to_string();
    return header ? std::move(*header) : Header{};
}

std::string parse_error_text(std::string_view text) {
    Result<Header> header = Header::from_str(text);
    if (header) return "<no error>";
    EXPECT_EQ(header.error().kind(), Error::Kind::Parse);
    return header.error().to_string();
}

struct FieldCase {
    std::string text;
    Field field;
    std::optional<std::string> expected;
};

class HeaderFieldTest : public ::testing::TestWithParam<FieldCase> {};

TEST_P(HeaderFieldTest, SetsOrSkipsField) {
    const FieldCase& c = GetParam();
    const Header header = parse_ok(c.text);
    EXPECT_EQ(header.*c.field, c.expected) << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Lines, HeaderFieldTest,
    ::testing::Values(FieldCase{"$$ Version: 01.00", &Header::version, "01.00"},
                      FieldCase{"$$ Version   : 01.00", &Header::version, "01.00"},
                      FieldCase{"$$ Version:\t01.00", &Header::version, std::nullopt},
                      FieldCase{"   $$Acquired Time: 16:20:52   ", &Header::acquired_time, "16:20:52"},
                      FieldCase{"$$ Sample Description: a: b", &Header::sample_description, "a: b"},
                      FieldCase{"$$ Sample Description:  padded value \t", &Header::sample_description,
                                "padded value"},
                      FieldCase{"$$ Instrument:", &Header::instrument, std::nullopt},
                      FieldCase{"$$ Instrument: QTOF\n$$ Instrument:", &Header::instrument, "QTOF"},
                      FieldCase{"$$ Instrument: QTOF\n$$ Instrument:   ", &Header::instrument, "QTOF"},
                      FieldCase{"Version: 1", &Header::version, std::nullopt},
                      FieldCase{"$$ version: 1", &Header::version, std::nullopt},
                      FieldCase{"$$ Acquired  Name: x", &Header::acquired_name, std::nullopt},
                      FieldCase{"$$ Acquired Name: run7", &Header::acquired_name, "run7"},
                      FieldCase{"$$ Acquired Date: 14-Jan-2021", &Header::acquired_date, "14-Jan-2021"},
                      FieldCase{"$$ User Name: alice\n$$ User Name: bob", &Header::operator_, "bob"},
                      FieldCase{"$ $ Version: 1", &Header::version, std::nullopt},
                      // U+3000 (ideographic space) is Unicode white space and is trimmed everywhere.
                      FieldCase{"\u3000$$\u3000Version\u3000: 2\u3000", &Header::version, "2"},
                      // A byte-order mark is not white space: the first line is not recognised.
                      FieldCase{"\uFEFF$$ Version: 1\n", &Header::version, std::nullopt},
                      FieldCase{"\uFEFF$$ Version: 1\n$$ Instrument: Q", &Header::instrument, "Q"},
                      // A lone CR does not end a line; it is trimmed away at the end of the value.
                      FieldCase{"$$ Version: 1\r$$ Instrument: Q", &Header::version, "1\r$$ Instrument: Q"},
                      FieldCase{"$$ Version: 1\r$$ Instrument: Q", &Header::instrument, std::nullopt}));

TEST(Header, EmptyAndUnrecognisedTextsGiveAnEmptyHeader) {
    for (std::string_view text : {"", "\n\n", "no marker here\nkey: value\n$$ nothing"}) {
        const Header header = parse_ok(text);
        EXPECT_FALSE(header.version || header.acquired_name || header.acquired_date || header.acquired_time ||
                     header.instrument || header.operator_ || header.sample_description);
        EXPECT_TRUE(header.cal_functions.empty());
    }
}

TEST(Header, CrLfLineEndsParseLikeLf) {
    const std::string lf = "$$ Version: 01.00\n$$ Instrument: SYNAPT G2\n$$ Cal Function 1: 1.5,2,T1\n";
    std::string crlf;
    for (char c : lf) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    const Header a = parse_ok(lf);
    const Header b = parse_ok(crlf);
    EXPECT_EQ(b.version, "01.00");
    EXPECT_EQ(b.instrument, a.instrument);
    ASSERT_TRUE(b.cal_functions.contains(1));
    EXPECT_EQ(b.cal_functions.at(1).coefficients, a.cal_functions.at(1).coefficients);
    EXPECT_EQ(b.cal_functions.at(1).cal_type, CalType::T1);
}

struct CalCase {
    std::string text;
    std::uint32_t function;
    std::vector<double> coefficients;
    CalType cal_type;
};

class HeaderCalibrationTest : public ::testing::TestWithParam<CalCase> {};

TEST_P(HeaderCalibrationTest, StoresCalibration) {
    const CalCase& c = GetParam();
    const Header header = parse_ok(c.text);
    ASSERT_EQ(header.cal_functions.size(), 1u) << c.text;
    ASSERT_TRUE(header.cal_functions.contains(c.function)) << c.text;
    EXPECT_EQ(header.cal_functions.at(c.function).coefficients, c.coefficients) << c.text;
    EXPECT_EQ(header.cal_functions.at(c.function).cal_type, c.cal_type) << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Lines, HeaderCalibrationTest,
    ::testing::Values(CalCase{"$$ Cal Function 2: 1.0,2.0,T1", 2, {1.0, 2.0}, CalType::T1},
                      CalCase{"$$ Cal Function 2: T0", 2, {}, CalType::T0},
                      CalCase{"$$ Cal Function +02: 5,T1", 2, {5.0}, CalType::T1},
                      CalCase{"$$ Cal Function 2: 1.2e-3, 0.99986,,T1", 2, {0.0012, 0.99986}, CalType::T1},
                      CalCase{"$$ Cal Function 7:  1. , .5 ,  T0  ", 7, {1.0, 0.5}, CalType::T0},
                      CalCase{"$$ Cal Function 4294967295: -1E2,T1", 4294967295u, {-100.0}, CalType::T1},
                      CalCase{"$$ Cal Function Cal Function 3: 1,T1", 3, {1.0}, CalType::T1},
                      CalCase{"$$ Cal Function  5 : 1,T1", 5, {1.0}, CalType::T1},
                      CalCase{
                          "$$ Cal Function 1: 1,T0\n$$ Cal Function 1: 2,3,T1", 1, {2.0, 3.0}, CalType::T1},
                      // The bare key, however spaced, is not a calibration line.
                      CalCase{"$$ Cal Function: 1,T1\n$$ Cal Function 9: T1", 9, {}, CalType::T1},
                      CalCase{"$$ Cal Function  : 1,T1\n$$ Cal Function 9: T1", 9, {}, CalType::T1}));

TEST(Header, CalibrationAcceptsSpecialFloatWords) {
    const Header header = parse_ok("$$ Cal Function 1: inf,-Infinity,NaN,T1");
    const std::vector<double>& c = header.cal_functions.at(1).coefficients;
    ASSERT_EQ(c.size(), 3u);
    EXPECT_EQ(c[0], std::numeric_limits<double>::infinity());
    EXPECT_EQ(c[1], -std::numeric_limits<double>::infinity());
    EXPECT_TRUE(std::isnan(c[2]));
}

TEST(Header, CalibrationMapIteratesInFunctionOrder) {
    const Header header = parse_ok("$$ Cal Function 3: T0\n$$ Cal Function 1: T1\n$$ Cal Function 2: T0");
    std::vector<std::uint32_t> keys;
    for (const auto& [key, cal] : header.cal_functions) keys.push_back(key);
    EXPECT_EQ(keys, (std::vector<std::uint32_t>{1, 2, 3}));
}

struct ErrorCase {
    std::string text;
    std::string message;
};

class HeaderErrorTest : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(HeaderErrorTest, FailsWithExactMessage) {
    const ErrorCase& c = GetParam();
    EXPECT_EQ(parse_error_text(c.text), "parse error: " + c.message) << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Lines, HeaderErrorTest,
    ::testing::Values(
        ErrorCase{"$$ Cal Function x: 1,T1",
                  R"(_HEADER.TXT: invalid function index in key "Cal Function x")"},
        ErrorCase{"$$ Cal Function -1: 1,T1",
                  R"(_HEADER.TXT: invalid function index in key "Cal Function -1")"},
        ErrorCase{"$$ Cal Function 1 Mod: 1,T1",
                  R"(_HEADER.TXT: invalid function index in key "Cal Function 1 Mod")"},
        ErrorCase{"$$ Cal Function 4294967296: 1,T1",
                  R"(_HEADER.TXT: invalid function index in key "Cal Function 4294967296")"},
        ErrorCase{"$$ Cal Function \"q\\: 1,T1",
                  R"(_HEADER.TXT: invalid function index in key "Cal Function \"q\\")"},
        ErrorCase{"$$ Cal Function 2: 1.0,2.0", R"(_HEADER.TXT: unknown calibration type "2.0")"},
        ErrorCase{"$$ Cal Function 2: 1.0,2.0,t1", R"(_HEADER.TXT: unknown calibration type "t1")"},
        ErrorCase{"$$ Cal Function 2: 1.0,2.0,", R"(_HEADER.TXT: unknown calibration type "")"},
        ErrorCase{"$$ Cal Function 2: 1.0,T1 x", R"(_HEADER.TXT: unknown calibration type "T1 x")"},
        ErrorCase{"$$ Cal Function 2: 1.0, x,T1", R"(_HEADER.TXT: invalid coefficient " x")"},
        ErrorCase{"$$ Cal Function 2: 1.0,\t1 2 ,T1", R"(_HEADER.TXT: invalid coefficient "\t1 2 ")"},
        ErrorCase{"$$ Cal Function 2: .,T1", R"(_HEADER.TXT: invalid coefficient ".")"},
        ErrorCase{"$$ Cal Function 2: 0x10,T1", R"(_HEADER.TXT: invalid coefficient "0x10")"},
        // The checks run in the order: function number, calibration type, coefficients.
        ErrorCase{"$$ Cal Function x: 1.0,2.0,t1",
                  R"(_HEADER.TXT: invalid function index in key "Cal Function x")"},
        ErrorCase{"$$ Cal Function 1: bad,T9", R"(_HEADER.TXT: unknown calibration type "T9")"},
        // The first error ends the parse.
        ErrorCase{"$$ Cal Function 1: a,T1\n$$ Cal Function 2: 1,T3",
                  R"(_HEADER.TXT: invalid coefficient "a")"}));

TEST(Header, ParseCalValueDirectly) {
    Result<FunctionCal> cal = parse_cal_value(" 1.2e-3, 0.99986,,T1");
    ASSERT_TRUE(cal.has_value());
    EXPECT_EQ(cal->coefficients, (std::vector<double>{0.0012, 0.99986}));
    EXPECT_EQ(cal->cal_type, CalType::T1);
}

TEST(HeaderFromPath, InvalidUtf8BecomesReplacementCharacter) {
    testing::TempDir dir;
    const auto path =
        dir.write("_HEADER.TXT", std::string_view("$$ Instrument: Q\xFFT\xC3(OF\r\n$$ Version: 1\r\n"));
    Result<Header> header = Header::from_path(path);
    ASSERT_TRUE(header.has_value()) << header.error().to_string();
    EXPECT_EQ(header->instrument, "Q\uFFFDT\uFFFD(OF");
    EXPECT_EQ(header->version, "1");
}

TEST(HeaderFromPath, MissingFileIsAnIoError) {
    testing::TempDir dir;
    Result<Header> header = Header::from_path(dir.path() / "_HEADER.TXT");
    ASSERT_FALSE(header.has_value());
    EXPECT_EQ(header.error().kind(), Error::Kind::Io);
    EXPECT_EQ(header.error().to_string(), "I/O error: No such file or directory (os error 2)");
}

TEST(HeaderFromPath, ParseErrorsPassThrough) {
    testing::TempDir dir;
    const auto path = dir.write("_HEADER.TXT", std::string_view("$$ Cal Function 2: 1,T2\n"));
    Result<Header> header = Header::from_path(path);
    ASSERT_FALSE(header.has_value());
    EXPECT_EQ(header.error().to_string(), R"(parse error: _HEADER.TXT: unknown calibration type "T2")");
}

} // namespace
} // namespace tarnvale::raw
