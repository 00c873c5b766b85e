#include "raw/extern_inf.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "support/log_capture.hpp"
#include "support/support.hpp"

namespace tarnvale::raw {
namespace {

// The two required constants, so that a case can focus on the other lines.
constexpr std::string_view kConstants = "Lteff 1.5\nVeff 2.5\n";

ExternInf parse_ok(std::string_view text) {
    Result<ExternInf> inf = ExternInf::from_str(text);
    EXPECT_TRUE(inf.has_value()) << inf.error().to_string();
    return inf ? std::move(*inf) : ExternInf{};
}

ExternInf parse_with_constants(std::string_view text) {
    return parse_ok(std::string(kConstants) + std::string(text));
}

TEST(ExternInf, MinimalTextParsesAndLogsMissingPusherInterval) {
    testing::LogCapture capture;
    const ExternInf inf = parse_ok("Lteff 1.5\nVeff 2.5");
    EXPECT_EQ(inf.lteff, 1.5);
    EXPECT_EQ(inf.veff, 2.5);
    EXPECT_TRUE(inf.functions.empty());
    EXPECT_FALSE(inf.polarity.has_value());
    EXPECT_FALSE(inf.pusher_interval.has_value());

    const auto records = capture.records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].level, log::Level::Debug);
    EXPECT_EQ(records[0].target, "tarnvale::raw::extern_inf");
    EXPECT_EQ(records[0].message, "_extern.inf: no numeric PusherInterval or Pusher Cycle Time");
}

TEST(ExternInf, NoLogRecordWhenPusherIntervalIsKnown) {
    testing::LogCapture capture;
    parse_with_constants("Pusher Cycle Time 40");
    EXPECT_TRUE(capture.records().empty());
}

struct ErrorCase {
    std::string text;
    std::string message;
};

class ExternInfErrorTest : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(ExternInfErrorTest, FailsWithExactMessage) {
    const ErrorCase& c = GetParam();
    Result<ExternInf> inf = ExternInf::from_str(c.text);
    ASSERT_FALSE(inf.has_value()) << c.text;
    EXPECT_EQ(inf.error().kind(), Error::Kind::Parse);
    EXPECT_EQ(inf.error().to_string(), "parse error: " + c.message) << c.text;
}

constexpr const char* kNoLteff = "_extern.inf: Lteff field not found";
constexpr const char* kNoVeff = "_extern.inf: Veff field not found";

INSTANTIATE_TEST_SUITE_P(
    Texts, ExternInfErrorTest,
    ::testing::Values(ErrorCase{"", kNoLteff}, ErrorCase{"Veff 2", kNoLteff},
                      ErrorCase{"Lteff abc", kNoLteff}, ErrorCase{"Lteff abc\nVeff 2", kNoLteff},
                      ErrorCase{"Lteff 300us\nVeff 2", kNoLteff}, ErrorCase{"lteff 1\nVeff 2", kNoLteff},
                      ErrorCase{"Lteff", kNoLteff}, ErrorCase{"Lteff 1", kNoVeff},
                      ErrorCase{"Lteff 1\nVeff x", kNoVeff}, ErrorCase{"Lteff 1\nV eff 2", kNoVeff}));

struct RunValueCase {
    std::string text;
    double lteff;
    std::optional<double> pusher_interval;
};

class ExternInfRunValueTest : public ::testing::TestWithParam<RunValueCase> {};

TEST_P(ExternInfRunValueTest, FirstNumericOccurrenceWins) {
    const RunValueCase& c = GetParam();
    const ExternInf inf = parse_ok(std::string(c.text) + "\nVeff 9");
    EXPECT_EQ(inf.lteff, c.lteff) << c.text;
    EXPECT_EQ(inf.pusher_interval, c.pusher_interval) << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ExternInfRunValueTest,
    ::testing::Values(RunValueCase{"Lteff 1.0\nLteff 2.0", 1.0, std::nullopt},
                      RunValueCase{"Lteff x\nLteff 2.0", 2.0, std::nullopt},
                      RunValueCase{"Lteff (mm) 1000", 1000.0, std::nullopt},
                      RunValueCase{"Lteff(mm) 7", 7.0, std::nullopt},
                      RunValueCase{"  Lteff \t  2.5e1  ", 25.0, std::nullopt},
                      RunValueCase{"Lteff 1\nPusher Cycle Time 40\nPusherInterval 30", 1.0, 30.0},
                      RunValueCase{"Lteff 1\nPusher Interval 31\nPusherInterval 30", 1.0, 31.0},
                      RunValueCase{"Lteff 1\nPusherInterval x\nPusher Interval 32", 1.0, 32.0},
                      RunValueCase{"Lteff 1\nPusher Cycle Time 40\nPusher Cycle Time 41", 1.0, 40.0},
                      RunValueCase{"Lteff 1\nPusher Cycle Time (us) 45", 1.0, 45.0},
                      RunValueCase{"Lteff 1\nPusher Cycle Time fast", 1.0, std::nullopt},
                      RunValueCase{"Lteff 1\nPusher  Cycle   Time\t46", 1.0, 46.0},
                      RunValueCase{"Lteff 1\nPusherinterval 30", 1.0, std::nullopt}));

struct PolarityCase {
    std::string lines;
    std::optional<Polarity> expected;
};

class ExternInfPolarityTest : public ::testing::TestWithParam<PolarityCase> {};

TEST_P(ExternInfPolarityTest, FirstRecognisedValueWins) {
    const PolarityCase& c = GetParam();
    EXPECT_EQ(parse_with_constants(c.lines).polarity, c.expected) << c.lines;
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ExternInfPolarityTest,
    ::testing::Values(PolarityCase{"Polarity ES-\nPolarity ES+", Polarity::Negative},
                      PolarityCase{"Polarity Positive", Polarity::Positive},
                      PolarityCase{"Polarity es+", Polarity::Positive},
                      PolarityCase{"Polarity neg", Polarity::Negative},
                      PolarityCase{"Polarity ESI", std::nullopt},
                      PolarityCase{"Polarity ESI\nPolarity Negative", Polarity::Negative},
                      PolarityCase{"Polarity ES", std::nullopt}, PolarityCase{"Ion Mode ES+", std::nullopt},
                      PolarityCase{"Polarity (mode) ES+", Polarity::Positive},
                      PolarityCase{"Function Parameters - Function 1 - TOF MS\nPolarity NEG",
                                   Polarity::Negative}));

struct TitleCase {
    std::string title;
    std::uint32_t number;
    FunctionKind kind;
    std::uint32_t ms_level;
};

class ExternInfTitleTest : public ::testing::TestWithParam<TitleCase> {};

TEST_P(ExternInfTitleTest, ClassifiesKindFromTitle) {
    const TitleCase& c = GetParam();
    const ExternInf inf = parse_with_constants(c.title);
    ASSERT_EQ(inf.functions.size(), 1u) << c.title;
    const ExternFunction& function = inf.functions.at(c.number);
    EXPECT_EQ(function.number, c.number);
    EXPECT_EQ(function.kind, c.kind) << c.title;
    EXPECT_EQ(inf.ms_level(c.number), c.ms_level) << c.title;
    EXPECT_FALSE(function.set_mass || function.adc_pusher_frequency);
    EXPECT_EQ(function.start_mass, 0.0);
    EXPECT_EQ(function.end_mass, 0.0);
}

INSTANTIATE_TEST_SUITE_P(
    Titles, ExternInfTitleTest,
    ::testing::Values(
        TitleCase{"Function Parameters - Function 2 - TOF MSMS", 2, FunctionKind::Msms, 2},
        TitleCase{"Function Parameters - Function 1 - TOF MS", 1, FunctionKind::TofMs, 1},
        TitleCase{"Function Parameters - Function 3", 3, FunctionKind::Other, 1},
        TitleCase{"Function Parameters - Function 4 - TOF PARENT REFERENCE", 4, FunctionKind::Reference, 1},
        TitleCase{"Function Parameters - Function 5 - daughter scan", 5, FunctionKind::Daughter, 2},
        TitleCase{"Function Parameters - Function 6 - Parent", 6, FunctionKind::Parent, 2},
        TitleCase{"Function Parameters - Function 7 - MSMS DAUGHTER", 7, FunctionKind::Daughter, 2},
        TitleCase{"Function Parameters - Function 8 - TOF-MS", 8, FunctionKind::Other, 1},
        TitleCase{"Function Parameters - Function 9 - A - TOF MS", 9, FunctionKind::TofMs, 1},
        TitleCase{"Function Parameters - Function +010-TOFMS", 10, FunctionKind::Other, 1},
        TitleCase{"Function Parameters - Function  11  -  TOF MS  ", 11, FunctionKind::TofMs, 1},
        // A title line ending in a colon is still a title, not a section boundary.
        TitleCase{"Function Parameters - Function 12 - MSMS:", 12, FunctionKind::Msms, 2}));

TEST(ExternInf, MsLevelOfUndescribedFunctionIsOne) {
    const ExternInf inf = parse_with_constants("Function Parameters - Function 2 - TOF MSMS");
    EXPECT_EQ(inf.ms_level(1), 1u);
    EXPECT_EQ(inf.ms_level(3), 1u);
}

TEST(ExternInf, IgnoresTitleWhoseNumberDoesNotParse) {
    for (std::string_view title :
         {"Function Parameters - Function x - TOF MSMS", "Function Parameters - Function - MSMS",
          "Function Parameters - Function 4294967296 - MSMS", "Function Parameters - Function -1 - MSMS"}) {
        EXPECT_TRUE(parse_with_constants(title).functions.empty()) << title;
    }
}

TEST(ExternInf, FirstTitleFixesKindAndLaterSectionsAddValues) {
    const ExternInf inf = parse_with_constants("Function Parameters - Function 2 - TOF MSMS\n"
                                               "Start Mass 50\n"
                                               "Function Parameters - Function 1 - TOF MS\n"
                                               "Start Mass 60\n"
                                               "Function Parameters - Function 2 - REFERENCE\n"
                                               "End Mass 1.5e3\n");
    ASSERT_EQ(inf.functions.size(), 2u);
    EXPECT_EQ(inf.functions.at(2).kind, FunctionKind::Msms);
    EXPECT_EQ(inf.functions.at(2).start_mass, 50.0);
    EXPECT_EQ(inf.functions.at(2).end_mass, 1500.0);
    EXPECT_EQ(inf.functions.at(1).start_mass, 60.0);
    EXPECT_EQ(inf.functions.at(1).end_mass, 0.0);
}

TEST(ExternInf, SectionKeysApplyOnlyInsideASection) {
    const ExternInf inf = parse_with_constants("Start Mass 10\n"
                                               "Set Mass 11\n"
                                               "Function Parameters - Function 1 - TOF MS\n"
                                               "Start Mass 50\n"
                                               "Start Mass (x) 2.5\n"
                                               "End Mass 1.5e3\n"
                                               "End Mass wide\n"
                                               "Set Mass 500\n"
                                               "Set Mass\n"
                                               "ADC Pusher Frequency 15000\n"
                                               "start mass 99\n");
    const ExternFunction& f = inf.functions.at(1);
    EXPECT_EQ(f.start_mass, 2.5);
    EXPECT_EQ(f.end_mass, 1500.0);
    EXPECT_EQ(f.set_mass, 500.0);
    EXPECT_EQ(f.adc_pusher_frequency, 15000.0);
}

struct BoundaryCase {
    std::string boundary;
    bool section_stays_open;
};

class ExternInfBoundaryTest : public ::testing::TestWithParam<BoundaryCase> {};

TEST_P(ExternInfBoundaryTest, LineEndingInColonClosesOrKeepsSection) {
    const BoundaryCase& c = GetParam();
    const ExternInf inf = parse_with_constants("Function Parameters - Function 1 - TOF MS\nSet Mass 100\n" +
                                               c.boundary + "\nSet Mass 200\n");
    EXPECT_EQ(inf.functions.at(1).set_mass, c.section_stays_open ? 200.0 : 100.0) << c.boundary;
}

INSTANTIATE_TEST_SUITE_P(Lines, ExternInfBoundaryTest,
                         ::testing::Values(BoundaryCase{"Abc:", false}, BoundaryCase{"  Abc:  ", false},
                                           BoundaryCase{"Function 1 extra settings:", true},
                                           BoundaryCase{"Cone Function:", true},
                                           BoundaryCase{"Instrument Function settings:", false},
                                           BoundaryCase{"Instrument:", false},
                                           BoundaryCase{"function:", false}, BoundaryCase{"Abc: x", true},
                                           BoundaryCase{"Abc :", false}));

TEST(ExternInf, BadTitleKeepsPreviousSectionOpen) {
    const ExternInf inf = parse_with_constants("Function Parameters - Function 1 - TOF MS\n"
                                               "Function Parameters - Function x - MSMS\n"
                                               "Set Mass 300\n");
    ASSERT_EQ(inf.functions.size(), 1u);
    EXPECT_EQ(inf.functions.at(1).set_mass, 300.0);
}

TEST(ExternInf, BadTitleDoesNotOpenASection) {
    const ExternInf inf = parse_with_constants("Function Parameters - Function x - MSMS\nSet Mass 300\n");
    EXPECT_TRUE(inf.functions.empty());
}

TEST(ExternInf, RunKeysAreTakenInsideSections) {
    const ExternInf inf =
        parse_ok("Function Parameters - Function 1 - TOF MS\nLteff 3\nVeff 4\nPusherInterval 5\n");
    EXPECT_EQ(inf.lteff, 3.0);
    EXPECT_EQ(inf.veff, 4.0);
    EXPECT_EQ(inf.pusher_interval, 5.0);
}

TEST(ExternInf, CrLfLineEndsAndBlankLines) {
    const ExternInf inf = parse_ok("\r\n  \r\nLteff 1.5\r\nVeff 2.5\r\n\r\nFunction Parameters - Function 2 "
                                   "- TOF MSMS\r\nSet Mass 9\r\n");
    EXPECT_EQ(inf.lteff, 1.5);
    EXPECT_EQ(inf.functions.at(2).kind, FunctionKind::Msms);
    EXPECT_EQ(inf.functions.at(2).set_mass, 9.0);
}

TEST(ExternInfFromPath, DecodesLossilyAndParses) {
    testing::TempDir dir;
    const auto path =
        dir.write("_extern.inf", std::string_view("Comment \xFF\xFE\nLteff 1.5\nVeff 2.5\nPolarity ES+\n"));
    Result<ExternInf> inf = ExternInf::from_path(path);
    ASSERT_TRUE(inf.has_value()) << inf.error().to_string();
    EXPECT_EQ(inf->veff, 2.5);
    EXPECT_EQ(inf->polarity, Polarity::Positive);
}

TEST(ExternInfFromPath, MissingFileIsAnIoError) {
    testing::TempDir dir;
    Result<ExternInf> inf = ExternInf::from_path(dir.path() / "_extern.inf");
    ASSERT_FALSE(inf.has_value());
    EXPECT_EQ(inf.error().kind(), Error::Kind::Io);
    EXPECT_EQ(inf.error().to_string(), "I/O error: No such file or directory (os error 2)");
}

} // namespace
} // namespace tarnvale::raw
