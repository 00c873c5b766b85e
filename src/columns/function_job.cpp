#include "columns/scan_walk.hpp"

namespace tarnvale::columns {

namespace {

// Reads of a few MiB keep the file streaming; an eighth of a worker's share keeps
// the buffer small beside the columns of a small function.
constexpr std::size_t kLargestChunk = std::size_t{4} << 20;
constexpr std::size_t kSmallestChunk = std::size_t{64} << 10;

std::size_t chunk_size(const Options& options, std::uint64_t total_bytes, std::size_t workers) {
    if (options.chunk_bytes != 0) return options.chunk_bytes;
    const std::uint64_t share = total_bytes / std::max<std::size_t>(workers, 1) / 8;
    return static_cast<std::size_t>(std::clamp<std::uint64_t>(share, kSmallestChunk, kLargestChunk));
}

} // namespace

FunctionJob::FunctionJob(const Reader& reader_, const FunctionEntry& entry_, const Options& options,
                         std::uint64_t total_bytes, std::size_t workers)
    : reader(reader_), entry(entry_), ranges(entry_), context(decode_context(entry_, reader_.extern_inf)),
      decoder(encoding_letter(entry_.encoding), context), width(record_width(entry_.encoding)),
      chunk_bytes(chunk_size(options, total_bytes, workers)), on_error(options.on_error),
      processing(options.processing) {}

} // namespace tarnvale::columns
