// _FUNCnnn.IDX: one record per scan, 22-byte (Variant A) or 30-byte (Variant B).
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <vector>

#include "bytes.hpp"
#include "error.hpp"
#include "io.hpp"

namespace tarnvale::raw {

inline constexpr std::size_t kIndexStrideA = 22;
inline constexpr std::size_t kIndexStrideB = 30;

struct ScanIndexA {
    std::uint32_t offset = 0;
    std::uint32_t n_points = 0; // low 24 bits only
    float rt_min = 0;
    std::uint16_t aux_word = 0;
};

struct ScanIndexB {
    std::uint32_t offset = 0;
    float rt_min = 0;
};

// Where each field lies in a record.
namespace index_fields {
inline constexpr std::size_t kOffsetA = 0;
inline constexpr std::size_t kPointsA = 4; // 24 bits; byte 7 is the layout marker
inline constexpr std::size_t kRtMin = 12;  // both layouts
inline constexpr std::size_t kAuxWordA = 16;
inline constexpr std::size_t kOffsetB = 22;
} // namespace index_fields

// The file's bytes as read, kept whole: a field is loaded from its record when asked
// for, so that opening a function makes no pass over its records and no second copy
// of them. Copies share the bytes, which never change.
class ScanIndex {
  public:
    ScanIndex() = default;

    bool is_variant_a() const { return variant_a_; }
    std::size_t size() const { return count_; }

    // scan < size() for all of these; record_a and n_points only for Variant A,
    // record_b only for Variant B.
    std::uint32_t offset(std::size_t scan) const {
        return variant_a_ ? load_u32(record(scan) + index_fields::kOffsetA)
                          : load_u32(record(scan) + index_fields::kOffsetB);
    }
    std::uint32_t n_points(std::size_t scan) const {
        return load_u32(record(scan) + index_fields::kPointsA) & 0xFF'FFFF;
    }
    float rt_min(std::size_t scan) const { return load_f32(record(scan) + index_fields::kRtMin); }
    ScanIndexA record_a(std::size_t scan) const;
    ScanIndexB record_b(std::size_t scan) const;
    // Variant A: the largest offset + n_points × record_width over the records (0
    // without records), in 64 bits.
    std::uint64_t largest_end(std::uint32_t record_width) const;

    // Copies the bytes.
    static Result<ScanIndex> from_bytes(std::span<const std::uint8_t> bytes);
    // Keeps the buffer.
    static Result<ScanIndex> from_buffer(ByteBuffer bytes);
    static Result<ScanIndex> from_path(const std::filesystem::path& path);

  private:
    const std::uint8_t* record(std::size_t scan) const { return records_ + scan * stride_; }

    std::shared_ptr<const ByteBuffer> bytes_;
    const std::uint8_t* records_ = nullptr;
    std::size_t count_ = 0;
    std::size_t stride_ = kIndexStrideA;
    bool variant_a_ = true;
};

// Whole records of each layout; a trailing remainder is ignored.
std::vector<ScanIndexA> parse_variant_a(std::span<const std::uint8_t> bytes);
std::vector<ScanIndexB> parse_variant_b(std::span<const std::uint8_t> bytes);

} // namespace tarnvale::raw
