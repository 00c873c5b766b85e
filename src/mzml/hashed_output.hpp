// The writer's byte sink: buffers, counts every byte (the index offsets) and
// hashes them (the file checksum) on their way into the output file, optionally
// compressing the whole file as gzip. Offsets and checksum are those of the mzML
// text, whether or not it is compressed.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "error.hpp"
#include "mzml/gzip_members.hpp"
#include "mzml/output_file.hpp"
#include "mzml/sha1.hpp"

namespace tarnvale::mzml {

class HashedOutput {
  public:
    static Result<HashedOutput> create(const std::filesystem::path& final_path, bool gzip = false);

    Result<void> write(std::string_view bytes);
    // Lets fill(std::string&) append its bytes straight to the buffer, saving the copy
    // a separate string would need; the buffer is written out once it is full.
    template <class Fill> Result<void> write_with(Fill&& fill) {
        const std::size_t before = buffer_.size();
        fill(buffer_);
        position_ += buffer_.size() - before;
        if (buffer_.size() < buffer_capacity) return {};
        return flush();
    }
    // Bytes written so far: the offset the next byte will have in the file.
    std::uint64_t position() const { return position_; }
    // The SHA-1 of every byte written so far, as hex; later bytes are not hashed.
    Result<std::string> finish_checksum();
    // Writes what is buffered and commits the file under its final name.
    Result<void> commit();
    const std::filesystem::path& final_path() const { return file_.final_path(); }

  private:
    static constexpr std::size_t buffer_capacity = std::size_t{1} << 20;

    HashedOutput(OutputFile file, Sha1 sha1, std::optional<GzipMembers> gzip);
    Result<void> flush();
    Result<void> emit(std::string_view bytes);

    OutputFile file_;
    std::optional<GzipMembers> gzip_;
    Sha1 sha1_;
    bool hashing_ = true;
    std::string buffer_;
    std::uint64_t position_ = 0;
};

} // namespace tarnvale::mzml
