// Locating a raw directory's files: exact, differently cased and prefixed names,
// listing order, entries that are not regular files, and listing failures.
#include "reader/locate.hpp"

#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "support/log_capture.hpp"
#include "support/support.hpp"

namespace tarnvale {
namespace {

namespace fs = std::filesystem;
using testing::error_text;
using testing::LogCapture;
using testing::TempDir;

constexpr std::string_view kTarget = "tarnvale::reader";

// Creates one small file for each space-separated name.
void create_files(const TempDir& temp, std::string_view names) {
    for (std::size_t end = 0, start = 0; start < names.size(); start = end + 1) {
        end = std::min(names.find(' ', start), names.size());
        temp.write(names.substr(start, end - start), "x");
    }
}

// What a lookup came to: the path as on disk, "not found", or the error's text.
std::string outcome(const Result<std::optional<fs::path>>& result) {
    if (!result) return result.error().to_string();
    return *result ? (*result)->native() : "not found";
}

// Each log line is empty when the level must stay silent.
struct FindCase {
    std::string label;
    std::string files; // names separated by spaces
    std::string wanted;
    std::string found = {}; // as on disk; empty: not found
    std::string trace = {};
    std::string debug = {};
    std::string error = {};
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

std::vector<std::string> lines(const std::string& line, const fs::path& dir, const std::string& found) {
    if (line.empty()) return {};
    return {fill(line, dir, found)};
}

void PrintTo(const FindCase& c, std::ostream* out) { *out << c.label; }

class FindFileTest : public ::testing::TestWithParam<FindCase> {};

TEST_P(FindFileTest, ChoosesFileAndLogsAndRequiredFileAgrees) {
    const FindCase& c = GetParam();
    TempDir temp;
    create_files(temp, c.files);
    LogCapture capture;

    auto result = find_file(temp.path(), c.wanted);

    const std::string found = c.found.empty() ? "not found" : (temp.path() / c.found).native();
    EXPECT_EQ(outcome(result), c.error.empty() ? found : fill(c.error, temp.path(), c.found));
    EXPECT_EQ(capture.messages(log::Level::Trace, kTarget), lines(c.trace, temp.path(), c.found));
    EXPECT_EQ(capture.messages(log::Level::Debug, kTarget), lines(c.debug, temp.path(), c.found));

    // The quiet style makes the same choice without a single log line.
    capture.clear();
    EXPECT_EQ(outcome(find_file(temp.path(), c.wanted, LocateStyle::Quiet)), outcome(result));
    EXPECT_TRUE(capture.records().empty());

    // A required file is the same choice; not found becomes an error naming file and directory.
    auto required = required_file(temp.path(), c.wanted);
    const std::string required_outcome =
        result && !*result ? "parse error: required file " + c.wanted + " missing in " + temp.path().string()
                           : outcome(result);
    EXPECT_EQ(required ? required->native() : required.error().to_string(), required_outcome);

    // One listing searched for the name gives the same choice, the same lines and the same error.
    capture.clear();
    const auto listing = DirectoryListing::read(temp.path());
    ASSERT_TRUE(listing) << listing.error().to_string();
    EXPECT_EQ(outcome(listing->find(c.wanted)), outcome(result));
    EXPECT_EQ(capture.messages(log::Level::Trace, kTarget), lines(c.trace, temp.path(), c.found));
    EXPECT_EQ(capture.messages(log::Level::Debug, kTarget), lines(c.debug, temp.path(), c.found));
    capture.clear();
    EXPECT_EQ(outcome(listing->find(c.wanted, LocateStyle::Quiet)), outcome(result));
    EXPECT_TRUE(capture.records().empty());
    const auto listed_required = listing->require(c.wanted);
    EXPECT_EQ(listed_required ? listed_required->native() : listed_required.error().to_string(),
              required_outcome);
}

INSTANTIATE_TEST_SUITE_P(
    Names, FindFileTest,
    ::testing::Values(
        FindCase{"Exact", "_HEADER.TXT _extern.inf", "_HEADER.TXT", "_HEADER.TXT"},
        FindCase{"LowerCaseOnDisk", "_header.txt", "_HEADER.TXT", "_header.txt",
                 "_HEADER.TXT: using differently cased {path}"},
        FindCase{"LowerCaseWanted", "_EXTERN.INF", "_extern.inf", "_EXTERN.INF",
                 "_extern.inf: using differently cased {path}"},
        FindCase{"NonAsciiSameBytes", "_FUNC\xc3\xa4.dat", "_func\xc3\xa4.DAT", "_FUNC\xc3\xa4.dat",
                 "_func\xc3\xa4.DAT: using differently cased {path}"},
        FindCase{"NonAsciiLettersNotFolded", "_FUNC\xc3\x84.DAT", "_FUNC\xc3\xa4.DAT"},
        // Names compare after lossy conversion: U+FFFD matches the invalid byte as the same spelling.
        FindCase{"InvalidByteAsReplacementCharacter", "_F\xff.DAT", "_F\xef\xbf\xbd.DAT", "_F\xff.DAT"},
        FindCase{"SinglePrefixed", "SAMPLE_FUNC001.DAT _FUNC001.IDX", "_FUNC001.DAT", "SAMPLE_FUNC001.DAT",
                 "", "_FUNC001.DAT: using prefixed {path}"},
        FindCase{"PrefixedAnyCase", "sample_func001.dat", "_FUNC001.DAT", "sample_func001.dat", "",
                 "_FUNC001.DAT: using prefixed {path}"},
        FindCase{"NonUtf8PrefixShownLossily", "\xff_HEADER.TXT", "_HEADER.TXT", "\xff_HEADER.TXT", "",
                 "_HEADER.TXT: using prefixed {dir}/\xef\xbf\xbd_HEADER.TXT"},
        FindCase{"TwoPrefixed", "A_FUNC001.DAT B_FUNC001.DAT", "_FUNC001.DAT", "", "", "",
                 "parse error: multiple files match _FUNC001.DAT in {dir}"},
        FindCase{"OnlyTheEndCounts", "_FUNC001.DAT.bak _FUNC0001.DAT _FUNC001.DA", "_FUNC001.DAT"},
        FindCase{"EmptyDirectory", "", "_FUNC001.STS"},
        // Names shorter than the listing's tail index are searched entry by entry.
        FindCase{"ShortExact", "XA.B A.B", "a.b", "A.B", "a.b: using differently cased {path}"},
        FindCase{"ShortPrefixed", "XA.B B", "A.B", "XA.B", "", "A.B: using prefixed {path}"},
        FindCase{"ShortTwoPrefixed", "XA.B YA.B", "A.B", "", "", "",
                 "parse error: multiple files match A.B in {dir}"},
        FindCase{"KeyAsLongAsTheTail", "x_FUNC001 _FUNC001", "_func001", "_FUNC001",
                 "_func001: using differently cased {path}"},
        // Same last bytes, different names: the tail only narrows the search.
        FindCase{"SameTailOtherNames", "XYFUNC001.DAT ZZFUNC001.DAT _FUNC001.DAT", "_FUNC001.DAT",
                 "_FUNC001.DAT"},
        FindCase{"SameTailNoMatch", "XYFUNC001.DAT ZZFUNC001.DAT", "_FUNC001.DAT"},
        FindCase{"EmptyName", "A B", "", "", "", "", "parse error: multiple files match  in {dir}"}),
    [](const auto& test) { return test.param.label; });

// Whether the OS lists two names other than `exact` before it: then the lookup meets the
// second prefixed name before the exact one and fails.
bool two_listed_before(const fs::path& dir, std::string_view exact) {
    int before = 0;
    DIR* stream = ::opendir(dir.c_str());
    while (const dirent* entry = ::readdir(stream)) {
        const std::string_view name = entry->d_name;
        if (name == exact) break;
        if (name != "." && name != ".." && ++before == 2) break;
    }
    ::closedir(stream);
    return before == 2;
}

TEST(FindFile, ExactNameWinsUnlessTwoPrefixedNamesAreListedBeforeIt) {
    for (std::string_view files :
         {"_HEADER.TXT X_HEADER.TXT", "X_HEADER.TXT _HEADER.TXT", "_HEADER.TXT A_HEADER.TXT B_HEADER.TXT",
          "A_HEADER.TXT _HEADER.TXT B_HEADER.TXT", "A_HEADER.TXT B_HEADER.TXT _HEADER.TXT"}) {
        SCOPED_TRACE(files); // in creation order; the rule applies to the listing order
        TempDir temp;
        create_files(temp, files);
        const std::string expected =
            two_listed_before(temp.path(), "_HEADER.TXT")
                ? "parse error: multiple files match _HEADER.TXT in " + temp.path().string()
                : (temp.path() / "_HEADER.TXT").native();
        EXPECT_EQ(outcome(find_file(temp.path(), "_HEADER.TXT")), expected);
        const auto listing = DirectoryListing::read(temp.path());
        ASSERT_TRUE(listing);
        EXPECT_EQ(outcome(listing->find("_HEADER.TXT")), expected);
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

    const auto listing = DirectoryListing::read(dir);
    ASSERT_TRUE(listing);
    for (const auto& [name, expected] :
         {std::pair<std::string, std::string>{"_FUNC001.IDX", "not found"},
          // The symlinks and the directory do not count as matches: one prefixed regular file remains.
          {"_FUNC001.DAT", (dir / "C_FUNC001.DAT").native()},
          {"_FUNC001.STS", "not found"}}) {
        EXPECT_EQ(outcome(find_file(dir, name)), expected);
        EXPECT_EQ(outcome(listing->find(name)), expected);
    }
}

enum class BadDir { Missing, RegularFile, Unreadable };

TEST(FindFile, ListingFailureGetsContextOnlyInTheLoggedStyle) {
    const std::pair<BadDir, std::string> cases[] = {
        {BadDir::Missing, "No such file or directory (os error 2)"},
        {BadDir::RegularFile, "Not a directory (os error 20)"},
        {BadDir::Unreadable, "Permission denied (os error 13)"}, // skipped as root: permissions do not bind
    };
    for (const auto& [kind, os_text] : cases) {
        if (kind == BadDir::Unreadable && ::geteuid() == 0) continue;
        SCOPED_TRACE(os_text);
        TempDir temp;
        fs::path dir = temp.path() / "missing.raw";
        if (kind == BadDir::RegularFile) dir = temp.write("plain.raw", "x");
        if (kind == BadDir::Unreadable) {
            fs::create_directory(dir);
            fs::permissions(dir, fs::perms::none);
        }
        auto logged = find_file(dir, "_HEADER.TXT");
        auto quiet = find_file(dir, "_HEADER.TXT", LocateStyle::Quiet);
        auto required = required_file(dir, "_HEADER.TXT");
        auto listed_logged = DirectoryListing::read(dir);
        auto listed_quiet = DirectoryListing::read(dir, LocateStyle::Quiet);
        if (kind == BadDir::Unreadable) fs::permissions(dir, fs::perms::owner_all);

        const std::string io = "I/O error: " + os_text;
        ASSERT_FALSE(logged.has_value());
        EXPECT_EQ(logged.error().kind(), Error::Kind::Context);
        EXPECT_EQ(logged.error().to_string(), "listing " + dir.string() + ": " + io);
        EXPECT_EQ(outcome(quiet), io);
        EXPECT_EQ(error_text(required), "listing " + dir.string() + ": " + io);
        EXPECT_EQ(error_text(listed_logged), "listing " + dir.string() + ": " + io);
        EXPECT_EQ(error_text(listed_quiet), io);
    }
}

// Each find_file lists the directory; a DirectoryListing lists it once for any number of searches.
TEST(DirectoryListing, ListsOnceForEverySearch) {
    TempDir temp;
    create_files(temp, "_HEADER.TXT _extern.inf _FUNC001.IDX A_FUNC001.DAT");
    const std::uint64_t before = directory_listings_started();
    ASSERT_TRUE(find_file(temp.path(), "_HEADER.TXT"));
    ASSERT_TRUE(required_file(temp.path(), "_extern.inf"));
    EXPECT_EQ(directory_listings_started() - before, 2u);
    const auto listing = DirectoryListing::read(temp.path());
    ASSERT_TRUE(listing);
    for (int i = 0; i < 100; ++i) {
        ASSERT_TRUE(listing->find(numbered_name("_FUNC", static_cast<std::uint64_t>(i), ".DAT")));
        ASSERT_TRUE(listing->require("_HEADER.TXT"));
    }
    EXPECT_EQ(directory_listings_started() - before, 3u);
}

TEST(RequiredFile, MissingNamesFileAndDirectoryAsPassed) {
    TempDir temp;
    create_files(temp, "_extern.inf _header.bak");
    const fs::path as_passed = temp.path().string() + "/"; // trailing separator kept in the message
    EXPECT_EQ(error_text(required_file(as_passed, "_HEADER.TXT")),
              "parse error: required file _HEADER.TXT missing in " + as_passed.string());
}

TEST(NumberedName, PadsToThreeDigits) {
    EXPECT_EQ(numbered_name("_FUNC", 7, ".IDX"), "_FUNC007.IDX");
    EXPECT_EQ(numbered_name("_FUNC", 42, ".STS"), "_FUNC042.STS");
    EXPECT_EQ(numbered_name("_FUNC", 1000, ".IDX"), "_FUNC1000.IDX");
    EXPECT_EQ(numbered_name("_CHRO", 0, ".DAT"), "_CHRO000.DAT");
    EXPECT_EQ(numbered_name("_FUNC", 4294967295u, ".DAT"), "_FUNC4294967295.DAT");
    EXPECT_EQ(numbered_name("_FUNC", 99, ".DAT"), "_FUNC099.DAT");
    EXPECT_EQ(numbered_name("_FUNC", 100, ".DAT"), "_FUNC100.DAT");
    EXPECT_EQ(numbered_name("", 18446744073709551615ull, ""), "18446744073709551615");
}

} // namespace
} // namespace tarnvale
