// Locating a raw directory's files: exact, differently cased and prefixed names,
// listing order, entries that are not regular files, and listing failures.
#include "reader/locate.hpp"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support/log_capture.hpp"
#include "support/support.hpp"

namespace tarnvale {
namespace {

namespace fs = std::filesystem;
using testing::LogCapture;
using testing::TempDir;

constexpr std::string_view kTarget = "tarnvale::reader";

// Reader-target messages of one level.
std::vector<std::string> reader_messages(const LogCapture& capture, log::Level level) {
    std::vector<std::string> out;
    for (const auto& record : capture.records()) {
        if (record.level == level && record.target == kTarget) out.push_back(record.message);
    }
    return out;
}

// The directory's regular-file names in the order the OS lists them.
std::vector<std::string> listing_order(const fs::path& dir) {
    std::vector<std::string> names;
    DIR* stream = ::opendir(dir.c_str());
    while (const dirent* entry = ::readdir(stream)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(stream);
    return names;
}

void create_files(const TempDir& temp, const std::vector<std::string>& names) {
    for (const auto& name : names) temp.write(name, "x");
}

struct FindCase {
    std::string label = {};
    std::vector<std::string> files = {};
    std::string wanted = {};
    std::string found = {}; // empty: not found
    std::string error = {}; // expected display text, placeholders filled in
    std::vector<std::string> trace = {};
    std::vector<std::string> debug = {};
};

// Placeholders: {dir} is the directory, {path} the found file's path.
std::string fill(std::string text, const fs::path& dir, const std::string& found) {
    auto replace = [&](const std::string& key, const std::string& value) {
        for (std::size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + value.size()))
            text.replace(at, key.size(), value);
    };
    replace("{path}", (dir / found).string());
    replace("{dir}", dir.string());
    return text;
}

class FindFileTest : public ::testing::TestWithParam<FindCase> {};

TEST_P(FindFileTest, ChoosesFileAndLogs) {
    const FindCase& c = GetParam();
    TempDir temp;
    create_files(temp, c.files);
    LogCapture capture;

    auto result = find_file(temp.path(), c.wanted);

    if (!c.error.empty()) {
        ASSERT_FALSE(result.has_value());
        EXPECT_EQ(result.error().to_string(), fill(c.error, temp.path(), c.found));
    } else {
        ASSERT_TRUE(result.has_value()) << result.error().to_string();
        if (c.found.empty()) {
            EXPECT_FALSE(result->has_value()) << **result;
        } else {
            ASSERT_TRUE(result->has_value());
            EXPECT_EQ(**result, temp.path() / c.found);
        }
    }
    std::vector<std::string> trace, debug;
    for (const auto& line : c.trace) trace.push_back(fill(line, temp.path(), c.found));
    for (const auto& line : c.debug) debug.push_back(fill(line, temp.path(), c.found));
    EXPECT_EQ(reader_messages(capture, log::Level::Trace), trace);
    EXPECT_EQ(reader_messages(capture, log::Level::Debug), debug);

    // The quiet style makes the same choice without a single log line.
    capture.clear();
    auto quiet = find_file(temp.path(), c.wanted, LocateStyle::Quiet);
    ASSERT_EQ(quiet.has_value(), result.has_value());
    if (quiet) {
        EXPECT_EQ(*quiet, *result);
    }
    EXPECT_TRUE(capture.records().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Names, FindFileTest,
    ::testing::Values(FindCase{"Exact", {"_HEADER.TXT", "_extern.inf"}, "_HEADER.TXT", "_HEADER.TXT"},
                      FindCase{.label = "LowerCaseOnDisk",
                               .files = {"_header.txt"},
                               .wanted = "_HEADER.TXT",
                               .found = "_header.txt",
                               .trace = {"_HEADER.TXT: using differently cased {path}"}},
                      FindCase{.label = "LowerCaseWanted",
                               .files = {"_EXTERN.INF"},
                               .wanted = "_extern.inf",
                               .found = "_EXTERN.INF",
                               .trace = {"_extern.inf: using differently cased {path}"}},
                      FindCase{.label = "NonAsciiSameBytes",
                               .files = {"_FUNC\xc3\xa4.dat"},
                               .wanted = "_func\xc3\xa4.DAT",
                               .found = "_FUNC\xc3\xa4.dat",
                               .trace = {"_func\xc3\xa4.DAT: using differently cased {path}"}},
                      FindCase{"NonAsciiLettersNotFolded", {"_FUNC\xc3\x84.DAT"}, "_FUNC\xc3\xa4.DAT", ""},
                      FindCase{.label = "SinglePrefixed",
                               .files = {"SAMPLE_FUNC001.DAT", "_FUNC001.IDX"},
                               .wanted = "_FUNC001.DAT",
                               .found = "SAMPLE_FUNC001.DAT",
                               .debug = {"_FUNC001.DAT: using prefixed {path}"}},
                      FindCase{.label = "PrefixedAnyCase",
                               .files = {"sample_func001.dat"},
                               .wanted = "_FUNC001.DAT",
                               .found = "sample_func001.dat",
                               .debug = {"_FUNC001.DAT: using prefixed {path}"}},
                      FindCase{.label = "TwoPrefixed",
                               .files = {"A_FUNC001.DAT", "B_FUNC001.DAT"},
                               .wanted = "_FUNC001.DAT",
                               .error = "parse error: multiple files match _FUNC001.DAT in {dir}"},
                      FindCase{"OnlyTheEndCounts",
                               {"_FUNC001.DAT.bak", "_FUNC0001.DAT", "_FUNC001.DA"},
                               "_FUNC001.DAT",
                               ""},
                      FindCase{"EmptyDirectory", {}, "_FUNC001.STS", ""}),
    [](const auto& info) { return info.param.label; });

TEST(FindFile, NonUtf8PrefixIsMatchedAndShownLossily) {
    TempDir temp;
    create_files(temp, {"\xff_HEADER.TXT"});
    LogCapture capture;
    auto result = find_file(temp.path(), "_HEADER.TXT");
    ASSERT_TRUE(result && *result);
    EXPECT_EQ((*result)->filename().native(), "\xff_HEADER.TXT"); // spelled as on disk
    EXPECT_EQ(reader_messages(capture, log::Level::Debug),
              std::vector<std::string>{"_HEADER.TXT: using prefixed " + temp.path().string() +
                                       "/\xef\xbf\xbd_HEADER.TXT"});
}

TEST(FindFile, InvalidBytesCompareAsReplacementCharacter) {
    // Names are compared after lossy conversion, so a wanted name spelled with
    // U+FFFD matches the invalid byte, and counts as the same spelling (no trace line).
    TempDir temp;
    create_files(temp, {"_F\xff.DAT"});
    LogCapture capture;
    auto result = find_file(temp.path(), "_F\xef\xbf\xbd.DAT");
    ASSERT_TRUE(result && *result);
    EXPECT_EQ((*result)->filename().native(), "_F\xff.DAT");
    EXPECT_TRUE(reader_messages(capture, log::Level::Trace).empty());
}

// The outcome for exact + prefixed names depends on where the second prefixed
// name falls in the OS's listing; the test reads the actual order and checks the rule.
std::string expected_outcome(const std::vector<std::string>& order, const std::string& exact) {
    int prefixed = 0;
    for (const auto& name : order) {
        if (name == exact) return name;
        if (++prefixed == 2) return "error";
    }
    return prefixed == 1 ? "prefixed" : "none";
}

class ListingOrderTest : public ::testing::TestWithParam<std::vector<std::string>> {};

TEST_P(ListingOrderTest, FollowsTheRuleForTheActualOrder) {
    TempDir temp;
    create_files(temp, GetParam());
    const std::vector<std::string> order = listing_order(temp.path());
    auto result = find_file(temp.path(), "_HEADER.TXT");
    const std::string expected = expected_outcome(order, "_HEADER.TXT");
    SCOPED_TRACE(::testing::PrintToString(order));
    if (expected == "error") {
        ASSERT_FALSE(result.has_value());
        EXPECT_EQ(result.error().to_string(),
                  "parse error: multiple files match _HEADER.TXT in " + temp.path().string());
    } else {
        ASSERT_TRUE(result && *result) << expected;
        EXPECT_EQ(**result, temp.path() / "_HEADER.TXT");
    }
}

INSTANTIATE_TEST_SUITE_P(
    BothCreationOrders, ListingOrderTest,
    ::testing::Values(std::vector<std::string>{"_HEADER.TXT", "X_HEADER.TXT"},
                      std::vector<std::string>{"X_HEADER.TXT", "_HEADER.TXT"},
                      std::vector<std::string>{"_HEADER.TXT", "A_HEADER.TXT", "B_HEADER.TXT"},
                      std::vector<std::string>{"A_HEADER.TXT", "_HEADER.TXT", "B_HEADER.TXT"},
                      std::vector<std::string>{"A_HEADER.TXT", "B_HEADER.TXT", "_HEADER.TXT"}));

TEST(FindFile, OnePrefixedNameNeverFailsWhateverTheOrder) {
    for (const bool exact_first : {true, false}) {
        TempDir temp;
        create_files(temp, exact_first ? std::vector<std::string>{"_HEADER.TXT", "X_HEADER.TXT"}
                                       : std::vector<std::string>{"X_HEADER.TXT", "_HEADER.TXT"});
        auto result = find_file(temp.path(), "_HEADER.TXT");
        ASSERT_TRUE(result && *result);
        EXPECT_EQ(**result, temp.path() / "_HEADER.TXT");
    }
}

TEST(FindFile, IgnoresDirectoriesAndSymlinks) {
    TempDir temp;
    const fs::path dir = temp.path() / "sample.raw";
    fs::create_directories(dir / "_FUNC001.IDX");
    fs::create_directories(dir / "A_FUNC001.DAT");
    const fs::path target = temp.write("elsewhere/_FUNC001.DAT", "x");
    fs::create_symlink(target, dir / "_FUNC001.DAT");
    fs::create_symlink(target, dir / "B_FUNC001.DAT");
    fs::create_symlink(dir / "missing", dir / "_FUNC001.STS"); // dangling
    temp.write("sample.raw/C_FUNC001.DAT", "x");

    auto idx = find_file(dir, "_FUNC001.IDX");
    ASSERT_TRUE(idx.has_value());
    EXPECT_FALSE(idx->has_value());
    // The symlink and the directory do not count as matches: one prefixed regular file remains.
    auto dat = find_file(dir, "_FUNC001.DAT");
    ASSERT_TRUE(dat && *dat);
    EXPECT_EQ(**dat, dir / "C_FUNC001.DAT");
    auto sts = find_file(dir, "_FUNC001.STS");
    ASSERT_TRUE(sts.has_value());
    EXPECT_FALSE(sts->has_value());
}

struct ListingFailureCase {
    std::string label;
    bool make_file; // the path names a regular file instead of nothing
    std::string os_text;
};

class ListingFailureTest : public ::testing::TestWithParam<ListingFailureCase> {};

TEST_P(ListingFailureTest, LoggedStyleAddsContextQuietStyleDoesNot) {
    TempDir temp;
    const fs::path dir = GetParam().make_file ? temp.write("plain.raw", "x") : temp.path() / "missing.raw";
    const std::string io = "I/O error: " + GetParam().os_text;

    auto logged = find_file(dir, "_HEADER.TXT");
    ASSERT_FALSE(logged.has_value());
    EXPECT_EQ(logged.error().kind(), Error::Kind::Context);
    EXPECT_EQ(logged.error().to_string(), "listing " + dir.string() + ": " + io);

    auto quiet = find_file(dir, "_HEADER.TXT", LocateStyle::Quiet);
    ASSERT_FALSE(quiet.has_value());
    EXPECT_EQ(quiet.error().to_string(), io);

    auto required = required_file(dir, "_HEADER.TXT");
    ASSERT_FALSE(required.has_value());
    EXPECT_EQ(required.error().to_string(), "listing " + dir.string() + ": " + io);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, ListingFailureTest,
    ::testing::Values(ListingFailureCase{"Missing", false, "No such file or directory (os error 2)"},
                      ListingFailureCase{"RegularFile", true, "Not a directory (os error 20)"}),
    [](const auto& info) { return info.param.label; });

TEST(FindFile, UnreadableDirectoryIsAListingError) {
    if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
    TempDir temp;
    const fs::path dir = temp.path() / "locked.raw";
    fs::create_directory(dir);
    fs::permissions(dir, fs::perms::none);
    auto result = find_file(dir, "_HEADER.TXT");
    fs::permissions(dir, fs::perms::owner_all);
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().to_string(),
              "listing " + dir.string() + ": I/O error: Permission denied (os error 13)");
}

TEST(RequiredFile, MissingNamesFileAndDirectoryAsPassed) {
    TempDir temp;
    create_files(temp, {"_extern.inf", "_header.bak"});
    const fs::path as_passed = temp.path().string() + "/"; // trailing separator kept in the message
    auto result = required_file(as_passed, "_HEADER.TXT");
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().kind(), Error::Kind::Parse);
    EXPECT_EQ(result.error().to_string(),
              "parse error: required file _HEADER.TXT missing in " + as_passed.string());
}

TEST(RequiredFile, PassesFoundPathAndErrorsThrough) {
    TempDir temp;
    create_files(temp, {"x_header.txt", "A_FUNC001.DAT", "B_FUNC001.DAT"});
    auto found = required_file(temp.path(), "_HEADER.TXT");
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(*found, temp.path() / "x_header.txt");
    auto ambiguous = required_file(temp.path(), "_FUNC001.DAT");
    ASSERT_FALSE(ambiguous.has_value());
    EXPECT_EQ(ambiguous.error().to_string(),
              "parse error: multiple files match _FUNC001.DAT in " + temp.path().string());
}

TEST(NumberedName, PadsToThreeDigits) {
    EXPECT_EQ(numbered_name("_FUNC", 7, ".IDX"), "_FUNC007.IDX");
    EXPECT_EQ(numbered_name("_FUNC", 42, ".STS"), "_FUNC042.STS");
    EXPECT_EQ(numbered_name("_FUNC", 1000, ".IDX"), "_FUNC1000.IDX");
    EXPECT_EQ(numbered_name("_CHRO", 0, ".DAT"), "_CHRO000.DAT");
    EXPECT_EQ(numbered_name("_FUNC", 4294967295u, ".DAT"), "_FUNC4294967295.DAT");
}

} // namespace
} // namespace tarnvale
