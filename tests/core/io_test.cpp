#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "io.hpp"
#include "support/support.hpp"

namespace tarnvale {
namespace {

using testing::bytes_of;
using testing::TempDir;

std::size_t open_descriptor_count() {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++count;
    return count;
}

// The display text of a result's error, or "no error".
template <class T> std::string error_of(const Result<T>& result) {
    return result ? "no error" : result.error().to_string();
}

std::vector<std::uint8_t> random_bytes(std::size_t size) {
    std::mt19937 random(7);
    std::vector<std::uint8_t> bytes(size);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
    return bytes;
}

TEST(Io, ReadWholeFileReturnsEveryByte) {
    const TempDir dir;
    for (const std::size_t size : {0u, 1u, 65535u, 65536u, 65537u, 300000u}) {
        const auto bytes = random_bytes(size);
        const auto path = dir.write("f" + std::to_string(size), bytes);
        const auto read = read_whole_file(path);
        ASSERT_TRUE(read) << read.error().to_string();
        EXPECT_EQ(*read, bytes) << size;
    }
}

TEST(Io, ReadsReportTheOsError) {
    const TempDir dir;
    const std::string missing = "I/O error: No such file or directory (os error 2)";
    const auto whole = read_whole_file(dir.path() / "missing");
    ASSERT_FALSE(whole);
    EXPECT_EQ(whole.error().kind(), Error::Kind::Io);
    EXPECT_EQ(whole.error().to_string(), missing);
    EXPECT_EQ(error_of(read_exact_at(dir.path() / "missing.DAT", 0, 4)), missing);
    EXPECT_EQ(error_of(read_whole_file(dir.path())), "I/O error: Is a directory (os error 21)");
    EXPECT_EQ(error_of(read_exact_at(dir.path(), 0, 4)), "I/O error: Is a directory (os error 21)");
}

TEST(Io, NamesDirectoryFollowsSymbolicLinks) {
    const TempDir dir;
    const auto file = dir.write("file", random_bytes(3));
    std::filesystem::create_directory(dir.path() / "sub");
    std::filesystem::create_directory_symlink(dir.path() / "sub", dir.path() / "to_sub");
    std::filesystem::create_symlink(dir.path() / "nowhere", dir.path() / "dangling");
    const std::pair<std::filesystem::path, bool> cases[] = {
        {dir.path(), true},
        {dir.path() / "sub", true},
        {dir.path() / "to_sub", true},
        {file, false},
        {dir.path() / "dangling", false},
        {dir.path() / "missing", false},
        {file / "below_a_file", false},
        // The OS would see only the part before the NUL, which is a directory.
        {std::filesystem::path(dir.path().native() + std::string("\0x", 2)), false},
    };
    for (const auto& [path, expected] : cases) EXPECT_EQ(names_directory(path), expected) << path;
}

TEST(Io, ReadExactAtReadsExactlyTheRangeOrFails) {
    const TempDir dir;
    const auto path = dir.write("_FUNC001.DAT", std::string_view("0123456789"));
    const std::string short_read = "I/O error: failed to fill whole buffer";
    const std::string invalid_argument = "I/O error: Invalid argument (os error 22)";
    constexpr auto u64_max = std::numeric_limits<std::uint64_t>::max();
    struct Case {
        std::uint64_t offset;
        std::uint64_t length;
        std::string expected; // read bytes, or the error display text
        bool ok;
    };
    // clang-format off
    const Case cases[] = {
        {0, 10, "0123456789", true}, {3, 4, "3456", true}, {0, 0, "", true}, {10, 0, "", true},
        {5, 6, short_read, false}, {10, 1, short_read, false},
        // A damaged index may ask for absurd lengths: no huge allocation, just a short read.
        {0, std::uint64_t{1} << 62, short_read, false}, {std::uint64_t{1} << 62, 1, short_read, false},
        {u64_max, 1, invalid_argument, false}, {1, u64_max, invalid_argument, false}};
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.offset) + "+" + std::to_string(c.length));
        const auto read = read_exact_at(path, c.offset, c.length);
        ASSERT_EQ(read.has_value(), c.ok) << (read ? "" : read.error().to_string());
        if (c.ok)
            EXPECT_EQ(*read, bytes_of(c.expected));
        else
            EXPECT_EQ(read.error().to_string(), c.expected);
    }
}

TEST(Io, HandlesAreClosedOnEveryPath) {
    const TempDir dir;
    const auto path = dir.write("data", std::string_view("abcdef"));
    const std::size_t before = open_descriptor_count();
    for (int i = 0; i < 200; ++i) {
        EXPECT_TRUE(read_exact_at(path, 1, 2));
        EXPECT_FALSE(read_exact_at(path, 4, 10));
        EXPECT_TRUE(read_whole_file(path));
        EXPECT_FALSE(read_whole_file(dir.path()));
    }
    EXPECT_EQ(open_descriptor_count(), before);
}

TEST(Io, FileSizeFollowsSymbolicLinks) {
    const TempDir dir;
    const auto target = dir.write("target", random_bytes(1234));
    std::filesystem::create_symlink(target, dir.path() / "link");
    EXPECT_EQ(tarnvale::file_size(target).value_or(0), 1234u);
    EXPECT_EQ(tarnvale::file_size(dir.path() / "link").value_or(0), 1234u);

    std::filesystem::create_symlink(dir.path() / "nowhere", dir.path() / "dangling");
    EXPECT_EQ(error_of(tarnvale::file_size(dir.path() / "dangling")),
              "I/O error: No such file or directory (os error 2)");
}

TEST(Io, PathsWithAnEmbeddedNulAreRejected) {
    const std::filesystem::path path(std::string("a\0b", 3));
    const std::string invalid_argument = "I/O error: Invalid argument (os error 22)";
    EXPECT_EQ(error_of(read_whole_file(path)), invalid_argument);
    EXPECT_EQ(error_of(read_exact_at(path, 0, 1)), invalid_argument);
    EXPECT_EQ(error_of(tarnvale::file_size(path)), invalid_argument);
}

} // namespace
} // namespace tarnvale
