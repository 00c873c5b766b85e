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

Header parse_ok(std::string_view text) {
    Result<Header> header = Header::from_str(text);
    EXPECT_TRUE(header.has_value()) << header.error().to_string();
    return header ? std::move(*header) : Header{};
}

TEST(Header, SetsOrSkipsTextFields) {
    using Field = std::optional<std::string> Header::*;
    const struct {
        std::string_view text;
        Field field;
        std::optional<std::string> expected;
    } cases[] = {
        {"$$ Version: 01.00", &Header::version, "01.00"},
        {"$$ Version   : 01.00", &Header::version, "01.00"},
        {"$$ Version:\t01.00", &Header::version, std::nullopt},
        {"   $$Acquired Time: 16:20:52   ", &Header::acquired_time, "16:20:52"},
        {"$$ Sample Description: a: b", &Header::sample_description, "a: b"},
        {"$$ Sample Description:  padded value \t", &Header::sample_description, "padded value"},
        {"$$ Instrument:", &Header::instrument, std::nullopt},
        {"$$ Instrument: QTOF\n$$ Instrument:", &Header::instrument, "QTOF"},
        {"$$ Instrument: QTOF\n$$ Instrument:   ", &Header::instrument, "QTOF"},
        {"Version: 1", &Header::version, std::nullopt},
        {"$$ version: 1", &Header::version, std::nullopt},
        {"$$ Acquired  Name: x", &Header::acquired_name, std::nullopt},
        {"$$ Acquired Name: run7", &Header::acquired_name, "run7"},
        {"$$ Acquired Date: 14-Jan-2021", &Header::acquired_date, "14-Jan-2021"},
        {"$$ User Name: alice\n$$ User Name: bob", &Header::operator_, "bob"},
        {"$ $ Version: 1", &Header::version, std::nullopt},
        // U+3000 (ideographic space) is Unicode white space and is trimmed everywhere.
        {"\u3000$$\u3000Version\u3000: 2\u3000", &Header::version, "2"},
        // A byte-order mark is not white space: the first line is not recognised.
        {"\uFEFF$$ Version: 1\n", &Header::version, std::nullopt},
        {"\uFEFF$$ Version: 1\n$$ Instrument: Q", &Header::instrument, "Q"},
        // A lone CR does not end a line; it is trimmed away at the end of the value.
        {"$$ Version: 1\r$$ Instrument: Q", &Header::version, "1\r$$ Instrument: Q"},
        {"$$ Version: 1\r$$ Instrument: Q", &Header::instrument, std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(parse_ok(c.text).*c.field, c.expected) << c.text;
}

TEST(Header, EmptyAndUnrecognisedTextsGiveAnEmptyHeader) {
    for (std::string_view text : {"", "\n\n", "no marker here\nkey: value\n$$ nothing"}) {
        const Header header = parse_ok(text);
        EXPECT_FALSE(header.version || header.acquired_name || header.acquired_date || header.acquired_time ||
                     header.instrument || header.operator_ || header.sample_description);
        EXPECT_TRUE(header.cal_functions.empty());
    }
}

TEST(Header, CrLfLineEnds) {
    const Header header =
        parse_ok("$$ Version: 01.00\r\n$$ Instrument: SYNAPT G2\r\n$$ Cal Function 1: 1.5,2,T1\r\n");
    EXPECT_EQ(header.version, "01.00");
    EXPECT_EQ(header.instrument, "SYNAPT G2");
    ASSERT_TRUE(header.cal_functions.contains(1));
    EXPECT_EQ(header.cal_functions.at(1).coefficients, (std::vector<double>{1.5, 2.0}));
    EXPECT_EQ(header.cal_functions.at(1).cal_type, CalType::T1);
}

TEST(Header, StoresOneCalibrationPerFunction) {
    const struct {
        std::string_view text;
        std::uint32_t function;
        std::vector<double> coefficients;
        CalType cal_type;
    } cases[] = {
        {"$$ Cal Function 2: 1.0,2.0,T1", 2, {1.0, 2.0}, CalType::T1},
        {"$$ Cal Function 2: T0", 2, {}, CalType::T0},
        {"$$ Cal Function +02: 5,T1", 2, {5.0}, CalType::T1},
        {"$$ Cal Function 2: 1.2e-3, 0.99986,,T1", 2, {0.0012, 0.99986}, CalType::T1},
        {"$$ Cal Function 7:  1. , .5 ,  T0  ", 7, {1.0, 0.5}, CalType::T0},
        {"$$ Cal Function 4294967295: -1E2,T1", 4294967295u, {-100.0}, CalType::T1},
        {"$$ Cal Function Cal Function 3: 1,T1", 3, {1.0}, CalType::T1},
        {"$$ Cal Function  5 : 1,T1", 5, {1.0}, CalType::T1},
        {"$$ Cal Function 1: 1,T0\n$$ Cal Function 1: 2,3,T1", 1, {2.0, 3.0}, CalType::T1},
        // The bare key, however spaced, is not a calibration line.
        {"$$ Cal Function: 1,T1\n$$ Cal Function 9: T1", 9, {}, CalType::T1},
        {"$$ Cal Function  : 1,T1\n$$ Cal Function 9: T1", 9, {}, CalType::T1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const Header header = parse_ok(c.text);
        ASSERT_EQ(header.cal_functions.size(), 1u);
        ASSERT_TRUE(header.cal_functions.contains(c.function));
        EXPECT_EQ(header.cal_functions.at(c.function).coefficients, c.coefficients);
        EXPECT_EQ(header.cal_functions.at(c.function).cal_type, c.cal_type);
    }
}

TEST(Header, CalibrationAcceptsSpecialFloatWords) {
    const Header header = parse_ok("$$ Cal Function 1: inf,-Infinity,NaN,T1");
    const std::vector<double>& c = header.cal_functions.at(1).coefficients;
    ASSERT_EQ(c.size(), 3u);
    EXPECT_EQ(c[0], std::numeric_limits<double>::infinity());
    EXPECT_EQ(c[1], -std::numeric_limits<double>::infinity());
    EXPECT_TRUE(std::isnan(c[2]));
}

TEST(Header, FailsWithExactMessage) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"$$ Cal Function x: 1,T1", R"(invalid function index in key "Cal Function x")"},
        {"$$ Cal Function -1: 1,T1", R"(invalid function index in key "Cal Function -1")"},
        {"$$ Cal Function 1 Mod: 1,T1", R"(invalid function index in key "Cal Function 1 Mod")"},
        {"$$ Cal Function 4294967296: 1,T1", R"(invalid function index in key "Cal Function 4294967296")"},
        {"$$ Cal Function \"q\\: 1,T1", R"(invalid function index in key "Cal Function \"q\\")"},
        {"$$ Cal Function 2: 1.0,2.0", R"(unknown calibration type "2.0")"},
        {"$$ Cal Function 2: 1.0,2.0,t1", R"(unknown calibration type "t1")"},
        {"$$ Cal Function 2: 1.0,2.0,", R"(unknown calibration type "")"},
        {"$$ Cal Function 2: 1.0,T1 x", R"(unknown calibration type "T1 x")"},
        {"$$ Cal Function 2: 1.0, x,T1", R"(invalid coefficient " x")"},
        {"$$ Cal Function 2: 1.0,\t1 2 ,T1", R"(invalid coefficient "\t1 2 ")"},
        {"$$ Cal Function 2: .,T1", R"(invalid coefficient ".")"},
        {"$$ Cal Function 2: 0x10,T1", R"(invalid coefficient "0x10")"},
        // The checks run in the order: function number, calibration type, coefficients.
        {"$$ Cal Function x: 1.0,2.0,t1", R"(invalid function index in key "Cal Function x")"},
        {"$$ Cal Function 1: bad,T9", R"(unknown calibration type "T9")"},
        // The first error ends the parse.
        {"$$ Cal Function 1: a,T1\n$$ Cal Function 2: 1,T3", R"(invalid coefficient "a")"},
    };
    for (const auto& [text, message] : cases)
        EXPECT_EQ(testing::error_text(Header::from_str(text)),
                  "parse error: _HEADER.TXT: " + std::string(message))
            << text;
}

TEST(HeaderFromPath, DecodesLossilyAndPassesErrorsOn) {
    testing::TempDir dir;
    Result<Header> header = Header::from_path(
        dir.write("_HEADER.TXT", std::string_view("$$ Instrument: Q\xFFT\xC3(OF\r\n$$ Version: 1\r\n")));
    ASSERT_TRUE(header.has_value()) << header.error().to_string();
    EXPECT_EQ(header->instrument, "Q\uFFFDT\uFFFD(OF");
    EXPECT_EQ(header->version, "1");

    Result<Header> bad =
        Header::from_path(dir.write("bad.txt", std::string_view("$$ Cal Function 2: 1,T2\n")));
    ASSERT_FALSE(bad.has_value());
    EXPECT_EQ(bad.error().to_string(), R"(parse error: _HEADER.TXT: unknown calibration type "T2")");

    Result<Header> missing = Header::from_path(dir.path() / "nothing.txt");
    ASSERT_FALSE(missing.has_value());
    EXPECT_EQ(missing.error().kind(), Error::Kind::Io);
    EXPECT_EQ(missing.error().to_string(), testing::kNoSuchFile);
}

} // namespace
} // namespace tarnvale::raw
