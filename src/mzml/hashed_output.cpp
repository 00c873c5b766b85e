#include "mzml/hashed_output.hpp"

namespace tarnvale::mzml {

HashedOutput::HashedOutput(OutputFile file, Sha1 sha1) : file_(std::move(file)), sha1_(std::move(sha1)) {
    buffer_.reserve(buffer_capacity);
}

Result<HashedOutput> HashedOutput::create(const std::filesystem::path& final_path) {
    TV_ASSIGN_OR_RETURN(OutputFile file, OutputFile::create(final_path));
    TV_ASSIGN_OR_RETURN(Sha1 sha1, Sha1::create());
    return HashedOutput(std::move(file), std::move(sha1));
}

Result<void> HashedOutput::flush() {
    if (hashing_) sha1_.update(buffer_);
    TV_RETURN_IF_ERROR(file_.write(buffer_));
    buffer_.clear();
    // One large element filled the buffer far beyond its size: that memory goes back.
    if (buffer_.capacity() > 4 * buffer_capacity) {
        buffer_ = std::string();
        buffer_.reserve(buffer_capacity);
    }
    return {};
}

Result<void> HashedOutput::write(std::string_view bytes) {
    position_ += bytes.size();
    if (buffer_.size() + bytes.size() <= buffer_capacity) {
        buffer_ += bytes;
        return {};
    }
    TV_RETURN_IF_ERROR(flush());
    if (bytes.size() < buffer_capacity) {
        buffer_ += bytes;
        return {};
    }
    if (hashing_) sha1_.update(bytes);
    return file_.write(bytes);
}

Result<std::string> HashedOutput::finish_checksum() {
    TV_RETURN_IF_ERROR(flush());
    hashing_ = false;
    TV_ASSIGN_OR_RETURN(const Sha1Digest digest, sha1_.finish());
    return to_hex(digest);
}

Result<void> HashedOutput::commit() {
    TV_RETURN_IF_ERROR(flush());
    return file_.commit();
}

} // namespace tarnvale::mzml
