// _FUNCnnn.IDX: one record per scan, 22-byte (Variant A) or 30-byte (Variant B).
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <variant>
#include <vector>

#include "error.hpp"

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

struct ScanIndex {
    std::variant<std::vector<ScanIndexA>, std::vector<ScanIndexB>> records;

    bool is_variant_a() const { return records.index() == 0; }
    const std::vector<ScanIndexA>* variant_a() const { return std::get_if<0>(&records); }
    const std::vector<ScanIndexB>* variant_b() const { return std::get_if<1>(&records); }
    std::size_t size() const;
    float rt_min(std::size_t scan) const; // scan < size()

    static Result<ScanIndex> from_bytes(std::span<const std::uint8_t> bytes);
    static Result<ScanIndex> from_path(const std::filesystem::path& path);
};

// Whole records of each layout; a trailing remainder is ignored.
std::vector<ScanIndexA> parse_variant_a(std::span<const std::uint8_t> bytes);
std::vector<ScanIndexB> parse_variant_b(std::span<const std::uint8_t> bytes);

} // namespace tarnvale::raw
