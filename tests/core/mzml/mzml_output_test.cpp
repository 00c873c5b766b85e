// Atomic output: the final name shows either nothing (or what was there before)
// or the complete file, never a part of it; nothing temporary is left behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <vector>

#include "io.hpp"
#include "mzml/output_file.hpp"
#include "mzml/support/synthetic.hpp"
#include "mzml/writer.hpp"
#include "support/support.hpp"

namespace tarnvale::mzml {
namespace {

using tarnvale::testing::error_text;
using tarnvale::testing::TempDir;

std::vector<std::string> entries(const std::filesystem::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        names.push_back(entry.path().filename());
    std::ranges::sort(names);
    return names;
}

std::string contents(const std::filesystem::path& path) {
    const auto bytes = read_whole_file(path, SizeLimit{256 * kMiB, "a written mzML file"});
    return bytes ? std::string(bytes->begin(), bytes->end()) : "<" + bytes.error().to_string() + ">";
}

TEST(MzmlOutput, CommitMakesTheWholeFileAppearAtOnce) {
    const TempDir dir;
    const auto target = dir.write("run.mzML", std::string_view("old"));
    {
        auto file = OutputFile::create(target);
        ASSERT_TRUE(file) << file.error().to_string();
        EXPECT_EQ(file->temporary_path().parent_path(), dir.path());
        ASSERT_TRUE(file->write("new "));
        ASSERT_TRUE(file->write("content"));
        EXPECT_EQ(contents(target), "old");
        EXPECT_EQ(entries(dir.path()).size(), 2u);
        ASSERT_TRUE(file->commit());
    }
    EXPECT_EQ(contents(target), "new content");
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"run.mzML"});
}

// Long files are handed to the disk in steps while they are written: whatever the
// pieces' sizes around those steps, and after a move, the file holds every byte once,
// in the temporary directory and on the working directory's file system.
TEST(MzmlOutput, LongFilesInPiecesOfAnySize) {
    constexpr std::size_t mib = std::size_t{1} << 20;
    struct Case {
        std::string name;
        std::vector<std::size_t> pieces;
    };
    const std::vector<Case> cases = {
        {"one piece over several steps", {20 * mib + 3}},
        {"pieces ending exactly on a step", {8 * mib, 8 * mib, 1}},
        {"pieces straddling the steps", {5 * mib, 5 * mib, 5 * mib, 5 * mib + 7}},
        {"small pieces", std::vector<std::size_t>(300, 64 * 1024 + 1)},
        // Past a few steps the oldest pages are let go, again at every step.
        {"many steps, pieces of the buffer's size", std::vector<std::size_t>(61, mib + 1)},
        {"nothing", {}},
    };
    const TempDir temporary;
    // Also below the working directory: the temporary directory may be RAM-backed, where
    // handing pages to the disk and letting them go does nothing.
    const TempDir scratch(std::filesystem::current_path());
    for (const std::filesystem::path& dir : {temporary.path(), scratch.path()}) {
        for (const Case& c : cases) {
            const auto target = dir / "run.mzML";
            std::string expected;
            {
                auto created = OutputFile::create(target);
                ASSERT_TRUE(created) << c.name;
                std::optional<OutputFile> file(std::move(*created));
                for (std::size_t i = 0; i < c.pieces.size(); ++i) {
                    const std::string piece(c.pieces[i], static_cast<char>('a' + i % 26));
                    ASSERT_TRUE(file->write(piece)) << c.name;
                    expected += piece;
                    if (i == c.pieces.size() / 2) { // moved midway
                        OutputFile moved(std::move(*file));
                        file.reset();
                        file.emplace(std::move(moved));
                    }
                }
                ASSERT_TRUE(file->commit()) << c.name;
            }
            EXPECT_TRUE(contents(target) == expected) << c.name << " in " << dir;
            EXPECT_EQ(entries(dir), std::vector<std::string>{"run.mzML"}) << c.name << " in " << dir;
        }
    }
}

TEST(MzmlOutput, TheLongestFileNameStillGetsATemporaryName) {
    const TempDir dir;
    const auto target = dir.path() / (std::string(250, 'r') + ".mzML");
    auto file = OutputFile::create(target);
    ASSERT_TRUE(file) << file.error().to_string();
    ASSERT_TRUE(file->write("x"));
    ASSERT_TRUE(file->commit());
    EXPECT_EQ(contents(target), "x");
}

TEST(MzmlOutput, DroppedWithoutCommitLeavesNothing) {
    const TempDir dir;
    {
        auto file = OutputFile::create(dir.path() / "run.mzML");
        ASSERT_TRUE(file);
        ASSERT_TRUE(file->write("partial"));
        auto moved = std::move(*file); // the moved-from file must not remove anything twice
    }
    EXPECT_TRUE(entries(dir.path()).empty());
}

TEST(MzmlOutput, FailuresNameTheFile) {
    const TempDir dir;
    const auto missing = dir.path() / "no such dir" / "run.mzML";
    EXPECT_EQ(error_text(OutputFile::create(missing)),
              "creating a temporary file for " + missing.string() +
                  ": I/O error: No such file or directory (os error 2)");
    EXPECT_EQ(error_text(OutputFile::create(dir.path() / "")),
              "creating " + dir.path().string() + "/: I/O error: Invalid argument (os error 22)");

    // A directory under the final name: the rename fails and the temporary file goes.
    std::filesystem::create_directory(dir.path() / "taken.mzML");
    auto file = OutputFile::create(dir.path() / "taken.mzML");
    ASSERT_TRUE(file);
    ASSERT_TRUE(file->write("x"));
    EXPECT_EQ(error_text(file->commit()), "renaming the finished file onto " +
                                              (dir.path() / "taken.mzML").string() +
                                              ": I/O error: Is a directory (os error 21)");
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"taken.mzML"});
    EXPECT_EQ(error_text(file->write("more")), "writing " + (dir.path() / "taken.mzML").string() +
                                                   ": I/O error: Bad file descriptor (os error 9)");
}

// Limits the size of files this process may write, as a full disk would.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        previous_handler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previous_handler_);
    }

  private:
    rlimit saved_{};
    void (*previous_handler_)(int) = nullptr;
};

TEST(MzmlOutput, AWriterThatFailsMidwayLeavesNothing) {
    const TempDir dir;
    const auto target = dir.path() / "big.mzML";
    std::vector<testing::SyntheticSpectrum> spectra;
    spectra.reserve(200);
    for (std::uint64_t scan = 0; scan < 200; ++scan)
        spectra.push_back(testing::random_spectrum(1, scan, 1000, 7));
    std::vector<SpectrumInput> inputs;
    inputs.reserve(spectra.size());
    for (const auto& s : spectra) inputs.push_back(s.input());
    RunDescription run = testing::sample_run(false).run;
    run.spectrum_count = inputs.size();
    run.chromatogram_count = 0;
    {
        auto writer = Writer::create(target, run, {.compression = Compression::None, .threads = 2});
        ASSERT_TRUE(writer);
        const FileSizeLimit limit(1 << 20);
        const auto written = writer->write_spectra(inputs);
        ASSERT_FALSE(written);
        EXPECT_EQ(written.error().to_string(),
                  "writing " + target.string() + ": I/O error: File too large (os error 27)");
        EXPECT_EQ(error_text(writer->finish()),
                  "writing " + target.string() + ": parse error: stopped by an earlier error");
    }
    EXPECT_TRUE(entries(dir.path()).empty());
}

} // namespace
} // namespace tarnvale::mzml
