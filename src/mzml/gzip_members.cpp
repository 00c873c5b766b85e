#include "mzml/gzip_members.hpp"

#include <algorithm>
#include <libdeflate.h>

namespace tarnvale::mzml {

struct GzipMembers::Compressor {
    struct Free {
        void operator()(libdeflate_compressor* compressor) const { libdeflate_free_compressor(compressor); }
    };
    std::unique_ptr<libdeflate_compressor, Free> handle;
};

GzipMembers::GzipMembers(std::unique_ptr<Compressor> compressor) : compressor_(std::move(compressor)) {
    pending_.reserve(member_size);
}
GzipMembers::GzipMembers(GzipMembers&&) noexcept = default;
GzipMembers& GzipMembers::operator=(GzipMembers&&) noexcept = default;
GzipMembers::~GzipMembers() = default;

Result<GzipMembers> GzipMembers::create() {
    auto compressor = std::make_unique<Compressor>();
    compressor->handle.reset(libdeflate_alloc_compressor(level));
    if (compressor->handle == nullptr) return parse_error("libdeflate could not allocate a compressor");
    return GzipMembers(std::move(compressor));
}

Result<void> GzipMembers::write_member(OutputFile& file) {
    libdeflate_compressor* handle = compressor_->handle.get();
    const std::size_t bound = libdeflate_gzip_compress_bound(handle, pending_.size());
    if (compressed_.size() < bound) compressed_.resize(bound);
    const std::size_t size = libdeflate_gzip_compress(handle, pending_.data(), pending_.size(),
                                                      compressed_.data(), compressed_.size());
    // The bound always suffices; were it ever not to, a member left out would be a
    // silently shorter file.
    if (size == 0) return parse_error("libdeflate could not compress a gzip member");
    pending_.clear();
    wrote_member_ = true;
    return file.write(std::string_view(compressed_.data(), size));
}

Result<void> GzipMembers::write(std::string_view bytes, OutputFile& file) {
    while (!bytes.empty()) {
        const std::size_t taken = std::min(bytes.size(), member_size - pending_.size());
        pending_.insert(pending_.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(taken));
        bytes.remove_prefix(taken);
        if (pending_.size() == member_size) TV_RETURN_IF_ERROR(write_member(file));
    }
    return {};
}

Result<void> GzipMembers::finish(OutputFile& file) {
    if (pending_.empty() && wrote_member_) return {};
    return write_member(file);
}

} // namespace tarnvale::mzml
