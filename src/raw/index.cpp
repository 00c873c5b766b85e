#include "raw/index.hpp"

#include <format>
#include <string_view>

#include "byte_cursor.hpp"
#include "log.hpp"
#include "raw/parse_file.hpp"

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
    for (ByteCursor file(bytes, "_FUNCnnn.IDX"); file.remaining() > 0;) {
        const ByteCursor record = file.take(kIndexStrideA);
        if (record.u8_at(kMarkerOffset) != kVariantAMarker) return false;
        const std::uint32_t offset = record.u32_at(0);
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

} // namespace

std::vector<ScanIndexA> parse_variant_a(Bytes bytes) {
    std::vector<ScanIndexA> records;
    records.reserve(bytes.size() / kIndexStrideA);
    for (ByteCursor file(bytes, "_FUNCnnn.IDX"); file.remaining() >= kIndexStrideA;) {
        const ByteCursor record = file.take(kIndexStrideA);
        records.push_back({
            .offset = record.u32_at(0),
            .n_points = record.u32_at(4) & 0xFFFFFF, // byte 7 is the layout marker
            .rt_min = record.f32_at(12),
            .aux_word = record.u16_at(16),
        });
    }
    return records;
}

std::vector<ScanIndexB> parse_variant_b(Bytes bytes) {
    std::vector<ScanIndexB> records;
    records.reserve(bytes.size() / kIndexStrideB);
    for (ByteCursor file(bytes, "_FUNCnnn.IDX"); file.remaining() >= kIndexStrideB;) {
        const ByteCursor record = file.take(kIndexStrideB);
        records.push_back({.offset = record.u32_at(22), .rt_min = record.f32_at(12)});
    }
    return records;
}

Result<ScanIndex> ScanIndex::from_bytes(Bytes bytes) {
    const std::size_t length = bytes.size();
    const bool fits_a = length % kIndexStrideA == 0;
    const bool fits_b = length % kIndexStrideB == 0;
    if (!fits_a && !fits_b) {
        return parse_error(
            std::format("_FUNCnnn.IDX: size {} is not a multiple of {} (Variant A) or {} (Variant B)", length,
                        kIndexStrideA, kIndexStrideB));
    }
    bool variant_a = fits_a;
    if (fits_a && fits_b && length > 0) variant_a = choose_variant_a_for_ambiguous_length(bytes);
    if (variant_a) return ScanIndex{parse_variant_a(bytes)};
    return ScanIndex{parse_variant_b(bytes)};
}

Result<ScanIndex> ScanIndex::from_path(const std::filesystem::path& path) {
    return parse_file(path, kIndexFileLimit, &from_bytes);
}

std::size_t ScanIndex::size() const {
    return std::visit([](const auto& list) { return list.size(); }, records);
}

float ScanIndex::rt_min(std::size_t scan) const {
    return std::visit([scan](const auto& list) { return list[scan].rt_min; }, records);
}

} // namespace tarnvale::raw
