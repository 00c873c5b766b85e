#include "raw/index.hpp"

#include <algorithm>
#include <format>
#include <string_view>

#include "log.hpp"
#include "raw/decoder_path.hpp"
#include "raw/index_extent.hpp"
#include "raw/parse_file.hpp"
#include "size_limits.hpp"

namespace tarnvale::raw {

namespace {

constexpr std::string_view kLogTarget = "tarnvale::raw::index";
constexpr std::uint8_t kVariantAMarker = 0x18;
constexpr std::size_t kMarkerOffset = 7;

// A length that is a multiple of both strides (330) could be either layout.
// Variant A files carry 0x18 at byte 7 of every record and their data offsets
// grow from scan to scan; anything else is taken as Variant B.
// `bytes` holds whole Variant A records.
bool looks_like_variant_a(Bytes bytes) {
    std::uint32_t previous = 0;
    for (std::size_t at = 0; at < bytes.size(); at += kIndexStrideA) {
        const std::uint8_t* record = bytes.data() + at;
        if (record[kMarkerOffset] != kVariantAMarker) return false;
        const std::uint32_t offset = load_u32(record + index_fields::kOffsetA);
        if (offset < previous) return false;
        previous = offset;
    }
    return true;
}

// Variant choice for a length that fits both strides; the log record only reports it.
bool choose_variant_a_for_ambiguous_length(Bytes bytes) {
    bool variant_a = looks_like_variant_a(bytes);
    if (log::enabled(log::Level::Debug, kLogTarget)) {
        TV_LOG(log::Level::Debug, kLogTarget,
               std::format("_FUNCnnn.IDX: {} bytes fits both strides; record markers select {}", bytes.size(),
                           variant_a ? "22-byte Variant A" : "30-byte Variant B"));
    }
    return variant_a;
}

// Which layout the file's length (and, for a length both fit, its records) selects.
Result<bool> choose_variant_a(Bytes bytes) {
    const std::size_t length = bytes.size();
    const bool fits_a = length % kIndexStrideA == 0;
    const bool fits_b = length % kIndexStrideB == 0;
    if (!fits_a && !fits_b) {
        return parse_error(
            std::format("_FUNCnnn.IDX: size {} is not a multiple of {} (Variant A) or {} (Variant B)", length,
                        kIndexStrideA, kIndexStrideB));
    }
    if (fits_a && fits_b && length > 0) return choose_variant_a_for_ambiguous_length(bytes);
    return fits_a;
}

ScanIndexA read_record_a(const std::uint8_t* record) {
    return {.offset = load_u32(record + index_fields::kOffsetA),
            .n_points = load_u32(record + index_fields::kPointsA) & 0xFF'FFFF,
            .rt_min = load_f32(record + index_fields::kRtMin),
            .aux_word = load_u16(record + index_fields::kAuxWordA)};
}

ScanIndexB read_record_b(const std::uint8_t* record) {
    return {.offset = load_u32(record + index_fields::kOffsetB),
            .rt_min = load_f32(record + index_fields::kRtMin)};
}

template <class Record, class Read> std::vector<Record> read_all(Bytes bytes, std::size_t stride, Read read) {
    std::vector<Record> records;
    records.reserve(bytes.size() / stride);
    for (std::size_t at = 0; bytes.size() - at >= stride; at += stride)
        records.push_back(read(bytes.data() + at));
    return records;
}

} // namespace

std::vector<ScanIndexA> parse_variant_a(Bytes bytes) {
    return read_all<ScanIndexA>(bytes, kIndexStrideA, read_record_a);
}

std::vector<ScanIndexB> parse_variant_b(Bytes bytes) {
    return read_all<ScanIndexB>(bytes, kIndexStrideB, read_record_b);
}

ScanIndexA ScanIndex::record_a(std::size_t scan) const { return read_record_a(record(scan)); }

ScanIndexB ScanIndex::record_b(std::size_t scan) const { return read_record_b(record(scan)); }

std::uint64_t ScanIndex::largest_end(std::uint32_t record_width) const {
    return largest_record_end(records_, count_, record_width, best_decoder_path());
}

Result<ScanIndex> ScanIndex::from_buffer(ByteBuffer bytes) {
    TV_ASSIGN_OR_RETURN(const bool variant_a, choose_variant_a(bytes.span()));
    ScanIndex index;
    index.variant_a_ = variant_a;
    index.stride_ = variant_a ? kIndexStrideA : kIndexStrideB;
    index.count_ = bytes.size() / index.stride_;
    if (index.count_ > 0) {
        auto kept = std::make_shared<const ByteBuffer>(std::move(bytes));
        index.records_ = kept->data();
        index.bytes_ = std::move(kept);
    }
    return index;
}

Result<ScanIndex> ScanIndex::from_bytes(Bytes bytes) {
    TV_ASSIGN_OR_RETURN(ByteBuffer copy, ByteBuffer::allocate(bytes.size()));
    std::ranges::copy(bytes, copy.begin());
    return from_buffer(std::move(copy));
}

Result<ScanIndex> ScanIndex::from_path(const std::filesystem::path& path) {
    return parse_file(path, kIndexFileLimit, &from_buffer);
}

} // namespace tarnvale::raw
