#include "mzml/hashed_output.hpp"

namespace tarnvale::mzml {

HashedOutput::HashedOutput(OutputFile file, Sha1 sha1, std::optional<GzipMembers> gzip)
    : file_(std::move(file)), gzip_(std::move(gzip)), sha1_(std::move(sha1)) {
    buffer_.reserve(buffer_capacity);
}

Result<HashedOutput> HashedOutput::create(const std::filesystem::path& final_path, bool gzip) {
    std::optional<GzipMembers> members;
    if (gzip) {
        TV_ASSIGN_OR_RETURN(members, GzipMembers::create());
    }
    TV_ASSIGN_OR_RETURN(OutputFile file, OutputFile::create(final_path));
    TV_ASSIGN_OR_RETURN(Sha1 sha1, Sha1::create());
    return HashedOutput(std::move(file), std::move(sha1), std::move(members));
}

Result<void> HashedOutput::emit(std::string_view bytes) {
    if (gzip_) return gzip_->write(bytes, file_);
    return file_.write(bytes);
}

Result<void> HashedOutput::flush() {
    if (hashing_) sha1_.update(buffer_);
    TV_RETURN_IF_ERROR(emit(buffer_));
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
    return emit(bytes);
}

Result<std::string> HashedOutput::finish_checksum() {
    TV_RETURN_IF_ERROR(flush());
    hashing_ = false;
    TV_ASSIGN_OR_RETURN(const Sha1Digest digest, sha1_.finish());
    return to_hex(digest);
}

Result<void> HashedOutput::commit() {
    TV_RETURN_IF_ERROR(flush());
    if (gzip_) TV_RETURN_IF_ERROR(gzip_->finish(file_));
    return file_.commit();
}

} // namespace tarnvale::mzml
