// A file written under a temporary name beside its final name, and renamed onto
// the final name only by commit(). Dropped without a commit, it removes the
// temporary file: a reader never finds a half-written file under the final name.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string_view>

#include "error.hpp"
#include "mzml/unique_fd.hpp"

namespace tarnvale::mzml {

class OutputFile {
  public:
    // Creates ".NAME.<unique>.tmp" in the final path's directory.
    static Result<OutputFile> create(const std::filesystem::path& final_path);

    OutputFile(OutputFile&& other) noexcept;
    OutputFile& operator=(OutputFile&&) = delete;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();

    // Writes every byte or fails.
    Result<void> write(std::string_view bytes);
    // Flushes to stable storage, closes, renames onto the final name and syncs the
    // directory. On failure the temporary file is removed and nothing is renamed.
    Result<void> commit();

    const std::filesystem::path& final_path() const { return final_path_; }
    const std::filesystem::path& temporary_path() const { return temporary_path_; }

  private:
    OutputFile(std::filesystem::path final_path, std::filesystem::path temporary_path, UniqueFd fd);
    void discard();
    // The OS error of a failed wait on earlier bytes (0 when none): that wait is where
    // the failure is reported, so it must fail the write.
    int start_writeback();

    std::filesystem::path final_path_;
    std::filesystem::path temporary_path_;
    UniqueFd fd_;
    bool pending_ = true;            // the temporary file exists and is ours to remove
    std::uint64_t written_ = 0;      // bytes written so far
    std::uint64_t written_back_ = 0; // bytes handed to the disk ahead of commit()
    std::uint64_t released_ = 0;     // bytes on the disk and let go from the page cache
};

} // namespace tarnvale::mzml
