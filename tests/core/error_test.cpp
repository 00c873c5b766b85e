#include <gtest/gtest.h>

#include <cerrno>
#include <ostream>
#include <string>

#include "error.hpp"

namespace tarnvale {
namespace {

struct DisplayCase {
    std::string name;
    Error (*make)();
    Error::Kind kind;
    std::string text;
};

void PrintTo(const DisplayCase& c, std::ostream* os) { *os << c.name; }

class ErrorDisplay : public ::testing::TestWithParam<DisplayCase> {};

TEST_P(ErrorDisplay, RendersTheDisplayText) {
    const Error error = GetParam().make();
    EXPECT_EQ(error.kind(), GetParam().kind);
    EXPECT_EQ(error.to_string(), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Error, ErrorDisplay,
    ::testing::Values(
        DisplayCase{"Parse", [] { return Error::parse("_FUNCTNS.INF: bad"); }, Error::Kind::Parse,
                    "parse error: _FUNCTNS.INF: bad"},
        DisplayCase{"EmptyParse", [] { return Error::parse(""); }, Error::Kind::Parse, "parse error: "},
        DisplayCase{"Missing", [] { return Error::io(ENOENT); }, Error::Kind::Io,
                    "I/O error: No such file or directory (os error 2)"},
        DisplayCase{"Unknown", [] { return Error::io(4242); }, Error::Kind::Io,
                    "I/O error: Unknown error 4242 (os error 4242)"},
        DisplayCase{"ShortRead", [] { return Error::io_short_read(); }, Error::Kind::Io,
                    "I/O error: failed to fill whole buffer"},
        DisplayCase{"Refused", [] { return Error::io_refused("x/_FUNC001.DAT: not a regular file (FIFO)"); },
                    Error::Kind::Io, "I/O error: x/_FUNC001.DAT: not a regular file (FIFO)"},
        DisplayCase{"ContextAroundParse",
                    [] { return Error::context("reading x/_HEADER.TXT", Error::parse("m")); },
                    Error::Kind::Context, "reading x/_HEADER.TXT: parse error: m"},
        DisplayCase{"NestedContext",
                    [] {
                        return Error::context("d.raw function 2 scan 10",
                                              Error::context("inner", Error::io_short_read()));
                    },
                    Error::Kind::Context,
                    "d.raw function 2 scan 10: inner: I/O error: failed to fill whole buffer"},
        DisplayCase{"EmptyContext", [] { return Error::context("", Error::io(EACCES)); },
                    Error::Kind::Context, ": I/O error: Permission denied (os error 13)"}),
    [](const auto& test) { return test.param.name; });

TEST(Error, MovedErrorKeepsItsChain) {
    Error original = Error::context("outer", Error::parse("inner"));
    Error moved = std::move(original);
    EXPECT_EQ(moved.to_string(), "outer: parse error: inner");
    Error assigned = Error::parse("other");
    assigned = std::move(moved);
    EXPECT_EQ(assigned.to_string(), "outer: parse error: inner");
}

TEST(Error, DeepChainsDoNotRecurse) {
    Error error = Error::parse("leaf");
    for (int i = 0; i < 100000; ++i) error = Error::context("c", std::move(error));
    const std::string text = error.to_string();
    EXPECT_EQ(text.size(), 100000uz * 3 + std::string("parse error: leaf").size());
    EXPECT_TRUE(text.ends_with("c: c: parse error: leaf"));
    // Destroying the chain must not overflow the stack either.
}

Result<int> parse_positive(int value) {
    if (value <= 0) return parse_error("not positive: " + std::to_string(value));
    return value;
}

Result<int> doubled(int value) {
    TV_ASSIGN_OR_RETURN(const int checked, parse_positive(value));
    return checked * 2;
}

Result<void> checked_only(int value) {
    TV_RETURN_IF_ERROR(parse_positive(value));
    return {};
}

TEST(Error, MacrosPropagateErrorsUnchanged) {
    EXPECT_EQ(*doubled(4), 8); // value() would need a copyable error
    ASSERT_FALSE(doubled(-1));
    EXPECT_EQ(doubled(-1).error().to_string(), "parse error: not positive: -1");
    EXPECT_TRUE(checked_only(1));
    ASSERT_FALSE(checked_only(0));
    EXPECT_EQ(checked_only(0).error().kind(), Error::Kind::Parse);
    const Result<int> failed = fail(Error::io(ENOENT));
    EXPECT_EQ(failed.error().kind(), Error::Kind::Io);
}

} // namespace
} // namespace tarnvale
