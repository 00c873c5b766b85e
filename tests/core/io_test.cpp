#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
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

std::vector<std::uint8_t> to_vector(const ByteBuffer& bytes) { return {bytes.begin(), bytes.end()}; }

// Ends the test program if a call blocks: a hang must fail the test, not stop the run.
class HangGuard {
  public:
    HangGuard() { ::alarm(20); }
    ~HangGuard() { ::alarm(0); }
    HangGuard(const HangGuard&) = delete;
    HangGuard& operator=(const HangGuard&) = delete;
};

// A sparse file of `size` bytes: it costs no disk and must cost no memory either.
std::filesystem::path sparse_file(const TempDir& dir, const std::string& name, std::uint64_t size) {
    const auto path = dir.write(name, std::string_view());
    std::filesystem::resize_file(path, size);
    return path;
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
        const auto read = read_whole_file(path, kMetadataFileLimit);
        ASSERT_TRUE(read) << read.error().to_string();
        EXPECT_EQ(to_vector(*read), bytes) << size;
    }
}

TEST(Io, ReadsReportTheOsError) {
    const TempDir dir;
    const std::string missing = "I/O error: No such file or directory (os error 2)";
    const auto whole = read_whole_file(dir.path() / "missing", kMetadataFileLimit);
    ASSERT_FALSE(whole);
    EXPECT_EQ(whole.error().kind(), Error::Kind::Io);
    EXPECT_EQ(whole.error().to_string(), missing);
    EXPECT_EQ(error_of(read_exact_at(dir.path() / "missing.DAT", 0, 4, kScanLimit)), missing);
    EXPECT_EQ(error_of(read_whole_file(dir.path(), kMetadataFileLimit)),
              "I/O error: Is a directory (os error 21)");
    EXPECT_EQ(error_of(read_exact_at(dir.path(), 0, 4, kScanLimit)),
              "I/O error: Is a directory (os error 21)");
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
        const auto read = read_exact_at(path, c.offset, c.length, kScanLimit);
        ASSERT_EQ(read.has_value(), c.ok) << (read ? "" : read.error().to_string());
        if (c.ok)
            EXPECT_EQ(to_vector(*read), bytes_of(c.expected));
        else
            EXPECT_EQ(read.error().to_string(), c.expected);
    }
}

TEST(Io, HandlesAreClosedOnEveryPath) {
    const TempDir dir;
    const auto path = dir.write("data", std::string_view("abcdef"));
    const auto fifo = dir.path() / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const SizeLimit tiny{3, "a test file"};
    const HangGuard guard;
    const std::size_t before = open_descriptor_count();
    for (int i = 0; i < 200; ++i) {
        EXPECT_TRUE(read_exact_at(path, 1, 2, kScanLimit));
        EXPECT_FALSE(read_exact_at(path, 4, 10, kScanLimit));
        EXPECT_FALSE(read_exact_at(path, 0, 4, tiny));
        EXPECT_TRUE(read_whole_file(path, kMetadataFileLimit));
        EXPECT_FALSE(read_whole_file(path, tiny));
        EXPECT_FALSE(read_whole_file(dir.path(), kMetadataFileLimit));
        EXPECT_FALSE(read_whole_file(fifo, kMetadataFileLimit));
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
    EXPECT_EQ(error_of(read_whole_file(path, kMetadataFileLimit)), invalid_argument);
    EXPECT_EQ(error_of(read_exact_at(path, 0, 1, kScanLimit)), invalid_argument);
    EXPECT_EQ(error_of(tarnvale::file_size(path)), invalid_argument);
}

// Anything but a regular file or a directory is refused when it is opened, before a
// read could wait on it: the core never blocks on a FIFO or reads a device.
TEST(Io, NonRegularFilesAreRefusedAtOnce) {
    const TempDir dir;
    const auto fifo = dir.path() / "_FUNC001.DAT";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const auto socket_path = dir.path() / "_HEADER.TXT";
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socket_path.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    std::filesystem::create_symlink(fifo, dir.path() / "link_to_fifo");
    const struct {
        std::filesystem::path path;
        std::string error;
    } cases[] = {
        {fifo, "I/O error: " + fifo.string() + ": not a regular file (FIFO)"},
        {dir.path() / "link_to_fifo",
         "I/O error: " + (dir.path() / "link_to_fifo").string() + ": not a regular file (FIFO)"},
        {"/dev/zero", "I/O error: /dev/zero: not a regular file (character device)"},
        {socket_path, "I/O error: No such device or address (os error 6)"}, // the OS refuses to open it
        {dir.path(), "I/O error: Is a directory (os error 21)"},            // as before: the read's error
    };
    const HangGuard guard;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        struct stat info{};
        if (c.path == "/dev/zero" && (::stat("/dev/zero", &info) != 0 || !S_ISCHR(info.st_mode))) continue;
        EXPECT_EQ(error_of(File::open(c.path)), c.error);
        EXPECT_EQ(error_of(read_whole_file(c.path, kMetadataFileLimit)), c.error);
        EXPECT_EQ(error_of(read_exact_at(c.path, 0, 8, kScanLimit)), c.error);
        EXPECT_EQ(error_of(read_exact_at(c.path, 0, 0, kScanLimit)), c.error);
    }
    ::close(listener);
}

// A file at its limit is read whole, one byte more fails before anything is allocated.
TEST(Io, FilesOverTheirLimitFailNamingFileSizeAndLimit) {
    const TempDir dir;
    const SizeLimit limit{5, "a test file"};
    const auto at_limit = dir.write("five", std::string_view("12345"));
    const auto whole = read_whole_file(at_limit, limit);
    ASSERT_TRUE(whole);
    EXPECT_EQ(to_vector(*whole), bytes_of("12345"));
    const auto over = dir.write("six", std::string_view("123456"));
    EXPECT_EQ(error_of(read_whole_file(over, limit)),
              "I/O error: " + over.string() + ": file of 6 bytes is over the 5-byte limit for a test file");
    const auto sparse = sparse_file(dir, "_FUNC001.IDX", kIndexFileLimit.bytes + 1);
    EXPECT_EQ(
        error_of(read_whole_file(sparse, kIndexFileLimit)),
        "I/O error: " + sparse.string() +
            ": file of 1073741825 bytes is over the 1073741824-byte limit for an index or statistics file");
}

TEST(Io, ScanReadsAreBoundedByTheLimitAndByWhatTheFileHolds) {
    const TempDir dir;
    const std::uint64_t size = kScanLimit.bytes * 2; // sparse
    const auto dat = sparse_file(dir, "_FUNC001.DAT", size);
    const std::string over = "I/O error: " + dat.string() + ": ";
    const struct {
        std::uint64_t offset;
        std::uint64_t length;
        std::string error;
    } cases[] = {
        {0, kScanLimit.bytes + 1,
         over + "1073741825 bytes at offset 0 are over the 1073741824-byte limit for a scan"},
        {16, size - 16, over + "2147483632 bytes at offset 16 are over the 1073741824-byte limit for a scan"},
        // Past the end the read is short whatever the limit: nothing is allocated for it.
        {0, size + 1, "I/O error: failed to fill whole buffer"},
        {size, std::uint64_t{1} << 40, "I/O error: failed to fill whole buffer"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(error_of(read_exact_at(dat, c.offset, c.length, kScanLimit)), c.error);
    const auto last = read_exact_at(dat, size - 4, 4, kScanLimit);
    ASSERT_TRUE(last);
    EXPECT_EQ(to_vector(*last), std::vector<std::uint8_t>(4, 0));
}

// /proc files report size 0 and hold text: a file that has more than fstat said is
// read to its end, within the limit.
TEST(Io, AFileLargerThanItsReportedSizeIsReadWithinTheLimit) {
    const std::filesystem::path cmdline = "/proc/self/cmdline";
    std::ifstream in(cmdline, std::ios::binary);
    const std::vector<std::uint8_t> expected{std::istreambuf_iterator<char>(in), {}};
    ASSERT_GT(expected.size(), 2u);
    const SizeLimit exact{expected.size(), "a test file"};
    const auto read = read_whole_file(cmdline, exact);
    ASSERT_TRUE(read) << read.error().to_string();
    EXPECT_EQ(to_vector(*read), expected);
    const SizeLimit short_by_one{expected.size() - 1, "a test file"};
    EXPECT_EQ(error_of(read_whole_file(cmdline, short_by_one)),
              "I/O error: /proc/self/cmdline: file grew past the " + std::to_string(expected.size() - 1) +
                  "-byte limit for a test file while being read");
}

TEST(Io, FileReadsAtOffsetsThroughOneDescriptor) {
    const TempDir dir;
    const auto path = dir.write("_FUNC001.DAT", std::string_view("0123456789"));
    auto file = File::open(path);
    ASSERT_TRUE(file) << file.error().to_string();
    EXPECT_EQ(file->size(), 10u);
    std::vector<std::uint8_t> out(4);
    ASSERT_TRUE(file->read_exact_at(6, out));
    EXPECT_EQ(out, bytes_of("6789"));
    ASSERT_TRUE(file->read_exact_at(0, std::span(out).first(2)));
    EXPECT_EQ(out, bytes_of("0189"));
    EXPECT_EQ(error_of(file->read_exact_at(7, out)), "I/O error: failed to fill whole buffer");
    EXPECT_EQ(file->read_at(7, out).value_or(99), 3u);
    EXPECT_EQ(file->read_at(10, out).value_or(99), 0u);
    const File moved = std::move(*file);
    EXPECT_TRUE(moved.read_exact_at(0, out));
}

} // namespace
} // namespace tarnvale
