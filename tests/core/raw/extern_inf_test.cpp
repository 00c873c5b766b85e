#include "raw/extern_inf.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "support/log_capture.hpp"
#include "support/support.hpp"

namespace tarnvale::raw {
namespace {

ExternInf parse_ok(std::string_view text) {
    Result<ExternInf> inf = ExternInf::from_str(text);
    EXPECT_TRUE(inf.has_value()) << inf.error().to_string();
    return inf ? std::move(*inf) : ExternInf{};
}

// With the two required constants first, so that a case can focus on the other lines.
ExternInf parse_with_constants(std::string_view text) {
    return parse_ok("Lteff 1.5\nVeff 2.5\n" + std::string(text));
}

TEST(ExternInf, MinimalTextParsesAndLogsOnlyAMissingPusherInterval) {
    testing::LogCapture capture;
    const ExternInf inf = parse_ok("Lteff 1.5\nVeff 2.5");
    EXPECT_EQ(inf.lteff, 1.5);
    EXPECT_EQ(inf.veff, 2.5);
    EXPECT_TRUE(inf.functions.empty());
    EXPECT_FALSE(inf.polarity.has_value());
    EXPECT_FALSE(inf.pusher_interval.has_value());

    EXPECT_EQ(capture.records().size(), 1u);
    EXPECT_EQ(capture.messages(log::Level::Debug, "tarnvale::raw::extern_inf"),
              std::vector<std::string>{"_extern.inf: no numeric PusherInterval or Pusher Cycle Time"});
    capture.clear();
    parse_with_constants("Pusher Cycle Time 40");
    EXPECT_TRUE(capture.records().empty());
}

TEST(ExternInf, FailsWithExactMessage) {
    const std::string no_lteff = "parse error: _extern.inf: Lteff field not found";
    const std::string no_veff = "parse error: _extern.inf: Veff field not found";
    const std::pair<std::string_view, std::string> cases[] = {
        {"", no_lteff},
        {"Veff 2", no_lteff},
        {"Lteff abc", no_lteff},
        {"Lteff abc\nVeff 2", no_lteff},
        {"Lteff 300us\nVeff 2", no_lteff},
        {"lteff 1\nVeff 2", no_lteff},
        {"Lteff", no_lteff},
        {"Lteff 1", no_veff},
        {"Lteff 1\nVeff x", no_veff},
        {"Lteff 1\nV eff 2", no_veff},
    };
    for (const auto& [text, message] : cases)
        EXPECT_EQ(testing::error_text(ExternInf::from_str(text)), message) << text;
}

TEST(ExternInf, FirstNumericRunValueWins) {
    const struct {
        std::string_view text; // followed by "Veff 9"
        double lteff;
        std::optional<double> pusher_interval;
    } cases[] = {
        {"Lteff 1.0\nLteff 2.0", 1.0, std::nullopt},
        {"Lteff x\nLteff 2.0", 2.0, std::nullopt},
        {"Lteff (mm) 1000", 1000.0, std::nullopt},
        {"Lteff(mm) 7", 7.0, std::nullopt},
        {"  Lteff \t  2.5e1  ", 25.0, std::nullopt},
        {"Lteff 1\nPusher Cycle Time 40\nPusherInterval 30", 1.0, 30.0},
        {"Lteff 1\nPusher Interval 31\nPusherInterval 30", 1.0, 31.0},
        {"Lteff 1\nPusherInterval x\nPusher Interval 32", 1.0, 32.0},
        {"Lteff 1\nPusher Cycle Time 40\nPusher Cycle Time 41", 1.0, 40.0},
        {"Lteff 1\nPusher Cycle Time (us) 45", 1.0, 45.0},
        {"Lteff 1\nPusher Cycle Time fast", 1.0, std::nullopt},
        {"Lteff 1\nPusher  Cycle   Time\t46", 1.0, 46.0},
        {"Lteff 1\nPusherinterval 30", 1.0, std::nullopt},
    };
    for (const auto& c : cases) {
        const ExternInf inf = parse_ok(std::string(c.text) + "\nVeff 9");
        EXPECT_EQ(inf.lteff, c.lteff) << c.text;
        EXPECT_EQ(inf.veff, 9.0) << c.text;
        EXPECT_EQ(inf.pusher_interval, c.pusher_interval) << c.text;
    }
}

TEST(ExternInf, FirstRecognisedPolarityWins) {
    const std::pair<std::string_view, std::optional<Polarity>> cases[] = {
        {"Polarity ES-\nPolarity ES+", Polarity::Negative},
        {"Polarity Positive", Polarity::Positive},
        {"Polarity es+", Polarity::Positive},
        {"Polarity neg", Polarity::Negative},
        {"Polarity ESI", std::nullopt},
        {"Polarity ESI\nPolarity Negative", Polarity::Negative},
        {"Polarity ES", std::nullopt},
        {"Ion Mode ES+", std::nullopt},
        {"Polarity (mode) ES+", Polarity::Positive},
        {"Function Parameters - Function 1 - TOF MS\nPolarity NEG", Polarity::Negative},
    };
    for (const auto& [lines, polarity] : cases)
        EXPECT_EQ(parse_with_constants(lines).polarity, polarity) << lines;
}

TEST(ExternInf, TitleGivesKindAndMsLevel) {
    const struct {
        std::string_view title;
        std::uint32_t number;
        FunctionKind kind;
        std::uint32_t ms_level;
    } cases[] = {
        {"Function Parameters - Function 2 - TOF MSMS", 2, FunctionKind::Msms, 2},
        {"Function Parameters - Function 1 - TOF MS", 1, FunctionKind::TofMs, 1},
        {"Function Parameters - Function 3", 3, FunctionKind::Other, 1},
        {"Function Parameters - Function 4 - TOF PARENT REFERENCE", 4, FunctionKind::Reference, 1},
        {"Function Parameters - Function 5 - daughter scan", 5, FunctionKind::Daughter, 2},
        {"Function Parameters - Function 6 - Parent", 6, FunctionKind::Parent, 2},
        {"Function Parameters - Function 7 - MSMS DAUGHTER", 7, FunctionKind::Daughter, 2},
        {"Function Parameters - Function 8 - TOF-MS", 8, FunctionKind::Other, 1},
        {"Function Parameters - Function 9 - A - TOF MS", 9, FunctionKind::TofMs, 1},
        {"Function Parameters - Function +010-TOFMS", 10, FunctionKind::Other, 1},
        {"Function Parameters - Function  11  -  TOF MS  ", 11, FunctionKind::TofMs, 1},
        // A title line ending in a colon is still a title, not a section boundary.
        {"Function Parameters - Function 12 - MSMS:", 12, FunctionKind::Msms, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        const ExternInf inf = parse_with_constants(c.title);
        ASSERT_EQ(inf.functions.size(), 1u);
        const ExternFunction& function = inf.functions.at(c.number);
        EXPECT_EQ(function.number, c.number);
        EXPECT_EQ(function.kind, c.kind);
        EXPECT_EQ(inf.ms_level(c.number), c.ms_level);
        EXPECT_EQ(inf.ms_level(c.number + 1), 1u) << "undescribed function";
        EXPECT_FALSE(function.set_mass || function.adc_pusher_frequency);
        EXPECT_EQ(function.start_mass, 0.0);
        EXPECT_EQ(function.end_mass, 0.0);
    }
}

TEST(ExternInf, TitleWhoseNumberDoesNotParseOpensNoSection) {
    for (std::string_view title :
         {"Function Parameters - Function x - TOF MSMS\nSet Mass 300",
          "Function Parameters - Function - MSMS", "Function Parameters - Function 4294967296 - MSMS",
          "Function Parameters - Function -1 - MSMS"}) {
        EXPECT_TRUE(parse_with_constants(title).functions.empty()) << title;
    }
}

TEST(ExternInf, FirstTitleFixesKindAndLaterSectionsAddValues) {
    const ExternInf inf =
        parse_with_constants("Function Parameters - Function 2 - TOF MSMS\nStart Mass 50\n"
                             "Function Parameters - Function 1 - TOF MS\nStart Mass 60\n"
                             "Function Parameters - Function 2 - REFERENCE\nEnd Mass 1.5e3\n");
    ASSERT_EQ(inf.functions.size(), 2u);
    EXPECT_EQ(inf.functions.at(2).kind, FunctionKind::Msms);
    EXPECT_EQ(inf.functions.at(2).start_mass, 50.0);
    EXPECT_EQ(inf.functions.at(2).end_mass, 1500.0);
    EXPECT_EQ(inf.functions.at(1).start_mass, 60.0);
    EXPECT_EQ(inf.functions.at(1).end_mass, 0.0);
}

TEST(ExternInf, SectionKeysApplyOnlyInsideASection) {
    const ExternInf inf = parse_with_constants("Start Mass 10\nSet Mass 11\n"
                                               "Function Parameters - Function 1 - TOF MS\n"
                                               "Start Mass 50\nStart Mass (x) 2.5\n"
                                               "End Mass 1.5e3\nEnd Mass wide\n"
                                               "Set Mass 500\nSet Mass\n"
                                               "ADC Pusher Frequency 15000\nstart mass 99\n");
    const ExternFunction& f = inf.functions.at(1);
    EXPECT_EQ(f.start_mass, 2.5);
    EXPECT_EQ(f.end_mass, 1500.0);
    EXPECT_EQ(f.set_mass, 500.0);
    EXPECT_EQ(f.adc_pusher_frequency, 15000.0);
}

TEST(ExternInf, LineEndingInColonClosesOrKeepsTheSection) {
    const std::pair<std::string_view, bool> cases[] = {
        {"Abc:", false},
        {"  Abc:  ", false},
        {"Function 1 extra settings:", true},
        {"Cone Function:", true},
        {"Instrument Function settings:", false},
        {"Instrument:", false},
        {"function:", false},
        {"Abc: x", true},
        {"Abc :", false},
        // A title without a number is no boundary either.
        {"Function Parameters - Function x - MSMS", true},
    };
    for (const auto& [boundary, stays_open] : cases) {
        const ExternInf inf =
            parse_with_constants("Function Parameters - Function 1 - TOF MS\nSet Mass 100\n" +
                                 std::string(boundary) + "\nSet Mass 200\n");
        EXPECT_EQ(inf.functions.size(), 1u) << boundary;
        EXPECT_EQ(inf.functions.at(1).set_mass, stays_open ? 200.0 : 100.0) << boundary;
    }
}

TEST(ExternInf, CrLfBlankLinesAndRunKeysInsideASection) {
    const ExternInf inf =
        parse_ok("\r\n  \r\nFunction Parameters - Function 2 - TOF MSMS\r\nLteff 3\r\nVeff 4\r\n"
                 "\r\nPusherInterval 5\r\nSet Mass 9\r\n");
    EXPECT_EQ(inf.lteff, 3.0);
    EXPECT_EQ(inf.veff, 4.0);
    EXPECT_EQ(inf.pusher_interval, 5.0);
    EXPECT_EQ(inf.functions.at(2).kind, FunctionKind::Msms);
    EXPECT_EQ(inf.functions.at(2).set_mass, 9.0);
}

TEST(ExternInfFromPath, DecodesLossilyAndPassesTheIoErrorOn) {
    testing::TempDir dir;
    Result<ExternInf> inf = ExternInf::from_path(
        dir.write("_extern.inf", std::string_view("Comment \xFF\xFE\nLteff 1.5\nVeff 2.5\nPolarity ES+\n")));
    ASSERT_TRUE(inf.has_value()) << inf.error().to_string();
    EXPECT_EQ(inf->veff, 2.5);
    EXPECT_EQ(inf->polarity, Polarity::Positive);
    EXPECT_EQ(testing::error_text(ExternInf::from_path(dir.path() / "nothing.inf")), testing::kNoSuchFile);
}

} // namespace
} // namespace tarnvale::raw
