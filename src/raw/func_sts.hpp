// _FUNCnnn.STS: per-scan statistics channels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "error.hpp"
#include "io.hpp"

namespace tarnvale::raw {

inline constexpr std::string_view kCollisionEnergy = "Collision Energy";
inline constexpr std::string_view kEtdFragmentationMode = "ETD Fragmentation Mode";

enum class ChannelEncoding : std::uint8_t { U8 = 0, I16 = 1, U32 = 2, F32 = 3 };

struct ChannelDescriptor {
    std::string name; // trimmed
    std::size_t offset = 0;
    std::uint16_t id_word = 0;
    ChannelEncoding value_type = ChannelEncoding::U8;
};

struct FuncSts {
    std::vector<ChannelDescriptor> descriptors;
    std::span<const std::uint8_t> data;      // n_records × scan_record_size bytes, in `bytes`
    std::shared_ptr<const ByteBuffer> bytes; // the file as read, kept rather than copied
    std::size_t scan_record_size = 1;
    std::size_t n_records = 0;

    // Copies the bytes.
    static Result<FuncSts> from_bytes(std::span<const std::uint8_t> bytes);
    // Keeps the buffer.
    static Result<FuncSts> from_buffer(ByteBuffer bytes);
    static Result<FuncSts> from_path(const std::filesystem::path& path);

    std::optional<double> value_at(const ChannelDescriptor& descriptor, std::size_t scan) const;
    // The first descriptor of that name, or null; a caller reading many scans looks it up once.
    const ChannelDescriptor* channel(std::string_view name) const;
    std::optional<double> named_value(std::string_view name, std::size_t scan) const;
    std::optional<double> collision_energy(std::size_t scan) const;
    std::optional<double> etd_fragmentation_mode(std::size_t scan) const;
};

} // namespace tarnvale::raw
