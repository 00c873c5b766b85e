#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "log.hpp"
#include "support/log_capture.hpp"

namespace tarnvale {
namespace {

using log::Level;

class RejectingSink final : public log::Sink {
  public:
    bool enabled(Level, std::string_view) const override { return false; }
    void log(const log::Record&) override {}
    void flush() override {}
};

// Runs in a fresh process (re-executed test binary), before any sink exists.
TEST(LogDeathTest, NothingIsEnabledBeforeASinkAndLevelAreSet) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            const bool quiet =
                log::max_level() == Level::Off && !log::enabled(Level::Error, "tarnvale::reader");
            log::set_max_level(Level::Trace);
            const bool still_quiet = !log::enabled(Level::Error, "tarnvale::reader"); // no sink yet
            std::exit(quiet && still_quiet ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(Log, LevelNames) {
    const std::pair<Level, std::string> names[] = {{Level::Error, "ERROR"}, {Level::Warn, "WARN"},
                                                   {Level::Info, "INFO"},   {Level::Debug, "DEBUG"},
                                                   {Level::Trace, "TRACE"}, {Level::Off, "OFF"}};
    for (const auto& [level, name] : names) EXPECT_EQ(log::level_name(level), name);
}

TEST(Log, RecordCarriesLevelTargetMessageAndSource) {
    testing::LogCapture capture;
    const int line = __LINE__ + 1;
    TV_LOG(Level::Warn, "tarnvale::reader", "function " + std::to_string(3) + " skipped");
    const auto records = capture.records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].level, Level::Warn);
    EXPECT_EQ(records[0].target, "tarnvale::reader");
    EXPECT_EQ(records[0].message, "function 3 skipped");
    EXPECT_TRUE(records[0].file.ends_with("log_test.cpp")) << records[0].file;
    EXPECT_EQ(records[0].line, static_cast<std::uint32_t>(line));
}

TEST(Log, MessageIsNotFormattedAboveTheMaximumLevelNorAtOff) {
    testing::LogCapture capture;
    log::set_max_level(Level::Debug);
    int formatted = 0;
    const auto count = [&] {
        ++formatted;
        return std::string("text");
    };
    TV_LOG(Level::Trace, "t", count());
    EXPECT_EQ(formatted, 0);
    EXPECT_FALSE(log::enabled(Level::Trace, "t"));
    EXPECT_TRUE(log::enabled(Level::Debug, "t"));
    TV_LOG(Level::Debug, "t", count());
    EXPECT_EQ(formatted, 1);

    log::set_max_level(Level::Off);
    EXPECT_EQ(log::max_level(), Level::Off);
    TV_LOG(Level::Error, "t", count());
    EXPECT_EQ(formatted, 1);
    EXPECT_FALSE(log::enabled(Level::Error, "t"));
    EXPECT_EQ(capture.records().size(), 1u);

    // Off is a maximum level, never the level of a record.
    log::set_max_level(Level::Trace);
    EXPECT_FALSE(log::enabled(Level::Off, "t"));
    TV_LOG(Level::Off, "t", count());
    EXPECT_EQ(formatted, 1);
    EXPECT_EQ(capture.records().size(), 1u);
}

TEST(Log, OnlyOneSinkPerProcess) {
    testing::LogCapture capture; // installs the capturing sink if this test runs alone
    EXPECT_FALSE(log::set_sink(std::make_unique<RejectingSink>()));
    EXPECT_FALSE(log::set_sink(nullptr));
    TV_LOG(Level::Info, "t", "still captured");
    EXPECT_EQ(capture.messages(Level::Info), (std::vector<std::string>{"still captured"}));
}

TEST(Log, RecordsFromSeveralThreadsAllArrive) {
    testing::LogCapture capture;
    constexpr int threads = 4;
    constexpr int per_thread = 500;
    std::vector<std::thread> workers;
    workers.reserve(threads);
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([t] {
            for (int i = 0; i < per_thread; ++i) TV_LOG(Level::Trace, "t", std::to_string(t));
        });
    for (auto& worker : workers) worker.join();
    EXPECT_EQ(capture.records().size(), static_cast<std::size_t>(threads * per_thread));
}

} // namespace
} // namespace tarnvale
