// Builders for the binary metadata files of a raw directory: _FUNCTNS.INF,
// _FUNCnnn.STS, _CHROMS.INF and _CHROnnn.DAT. This is the one place in the
// tests that knows their byte layouts; every test and synthetic directory
// builds these files through it.
//
// Each file kind has a put_* function that writes one record into a
// ByteWriter at a given offset, and a function returning the whole file.
// The whole-file builders write well-formed files by default; the fields
// marked "override" let a test write a malformed preamble on purpose.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "support/support.hpp"

namespace tarnvale::testing {

// ---------------------------------------------------------------- _FUNCTNS.INF

inline constexpr std::size_t kFunctionRecordBytes = 416;

// The interpreted fields of one function record; everything else stays zero.
struct FunctionRecordFields {
    std::uint8_t function_type = 0x12;
    std::uint8_t scan_subtype = 0;
    float cycle_time_s = 0;
    std::uint16_t tof_depth = 0;
    float interscan_delay_s = 0;
    float scan_time_s = 0;
    float mz_low = 0;
    float mz_high = 0;
};

inline ByteWriter& put_function_record(ByteWriter& out, std::size_t at, const FunctionRecordFields& f) {
    out.put_u8(at + 0, f.function_type)
        .put_u8(at + 1, f.scan_subtype)
        .put_f32(at + 2, f.cycle_time_s)
        .put_u16(at + 16, f.tof_depth)
        .put_f32(at + 28, f.interscan_delay_s)
        .put_f32(at + 32, f.scan_time_s)
        .put_f32(at + 160, f.mz_low)
        .put_f32(at + 288, f.mz_high);
    // Always the full record, even when the last fields are zero.
    if (out.size() < at + kFunctionRecordBytes) out.put_u8(at + kFunctionRecordBytes - 1, 0);
    return out;
}

inline std::vector<std::uint8_t> function_record(const FunctionRecordFields& fields) {
    ByteWriter out(kFunctionRecordBytes);
    put_function_record(out, 0, fields);
    return out.take();
}

// A whole _FUNCTNS.INF: the records back to back, function 1 first.
inline std::vector<std::uint8_t> functions_inf(std::span<const FunctionRecordFields> records) {
    ByteWriter out(records.size() * kFunctionRecordBytes);
    for (std::size_t k = 0; k < records.size(); ++k)
        put_function_record(out, k * kFunctionRecordBytes, records[k]);
    return out.take();
}
inline std::vector<std::uint8_t> functions_inf(const std::vector<FunctionRecordFields>& records) {
    return functions_inf(std::span<const FunctionRecordFields>(records));
}

// ---------------------------------------------------------------- _FUNCnnn.STS

inline constexpr std::size_t kStsPreambleBytes = 32;
inline constexpr std::size_t kStsDescriptorBytes = 48;
inline constexpr std::size_t kStsNameBytes = 42;

// Channel encoding codes as stored in a descriptor.
inline constexpr std::uint16_t kStsU8 = 0;
inline constexpr std::uint16_t kStsI16 = 1;
inline constexpr std::uint16_t kStsU32 = 2;
inline constexpr std::uint16_t kStsF32 = 3;

struct StsDescriptorFields {
    std::uint16_t id_word = 0;
    std::uint16_t type_code = kStsF32;
    std::uint16_t offset = 0;
    // Raw name bytes: at most 42 are written, the rest of the field is NUL.
    // Write exactly 42 non-NUL bytes for a name that fills the field.
    std::string name = {};
};

struct StsFileFields {
    std::vector<StsDescriptorFields> descriptors = {};
    std::uint16_t scan_record_size = 0;
    // Appended directly after the descriptors (whole records plus any tail).
    std::vector<std::uint8_t> records = {};
    // Overrides of the preamble; by default the values that match the descriptors.
    std::optional<std::uint16_t> data_offset = {};
    std::optional<std::uint16_t> n_desc = {};
};

inline ByteWriter& put_sts_descriptor(ByteWriter& out, std::size_t at, const StsDescriptorFields& d) {
    out.put_u16(at + 0, d.id_word).put_u16(at + 2, d.type_code).put_u16(at + 4, d.offset);
    std::string_view name = d.name;
    name = name.substr(0, std::min(name.size(), kStsNameBytes));
    out.put_text(at + 6, name);
    if (out.size() < at + kStsDescriptorBytes) out.put_u8(at + kStsDescriptorBytes - 1, 0);
    return out;
}

inline std::uint16_t sts_data_offset_for(std::size_t n_desc) {
    return static_cast<std::uint16_t>(kStsPreambleBytes + kStsDescriptorBytes * n_desc);
}

inline std::vector<std::uint8_t> func_sts_file(const StsFileFields& f) {
    const std::size_t n = f.descriptors.size();
    ByteWriter out(kStsPreambleBytes + kStsDescriptorBytes * n);
    out.put_u16(0, f.data_offset.value_or(sts_data_offset_for(n)))
        .put_u16(4, f.scan_record_size)
        .put_u16(6, f.n_desc.value_or(static_cast<std::uint16_t>(n)));
    for (std::size_t k = 0; k < n; ++k)
        put_sts_descriptor(out, kStsPreambleBytes + kStsDescriptorBytes * k, f.descriptors[k]);
    out.append(f.records);
    return out.take();
}

// ---------------------------------------------------------------- _CHROMS.INF

inline constexpr std::size_t kChromsHeaderBytes = 128;
inline constexpr std::size_t kChromsRecordBytes = 85;
inline constexpr std::size_t kChromsLabelBytes = 81;

struct ChromChannelFields {
    std::uint32_t source_type = 0;
    // Raw label bytes (Windows-1252): at most 81 are written, the rest is NUL.
    std::string label = {};
};

struct ChromsInfFields {
    // Meta records written as zeros between the header and the channels.
    std::uint16_t n_meta = 0;
    std::vector<ChromChannelFields> channels = {};
    // Override of the record-size field; 85 in a well-formed file.
    std::uint16_t record_size = kChromsRecordBytes;
};

inline ByteWriter& put_chrom_channel(ByteWriter& out, std::size_t at, const ChromChannelFields& c) {
    out.put_u32(at, c.source_type);
    std::string_view label = c.label;
    label = label.substr(0, std::min(label.size(), kChromsLabelBytes));
    out.put_text(at + 4, label);
    if (out.size() < at + kChromsRecordBytes) out.put_u8(at + kChromsRecordBytes - 1, 0);
    return out;
}

inline std::vector<std::uint8_t> chroms_inf(const ChromsInfFields& f) {
    const std::size_t first_channel = kChromsHeaderBytes + kChromsRecordBytes * f.n_meta;
    ByteWriter out(first_channel + kChromsRecordBytes * f.channels.size());
    out.put_u16(4, f.record_size).put_u16(6, f.n_meta);
    for (std::size_t i = 0; i < f.channels.size(); ++i)
        put_chrom_channel(out, first_channel + kChromsRecordBytes * i, f.channels[i]);
    return out.take();
}

// ---------------------------------------------------------------- _CHROnnn.DAT

inline constexpr std::size_t kChroHeaderBytes = 128;

// A channel data file: a zero header, then (rt_min, value) pairs as f32.
inline std::vector<std::uint8_t> chro_dat(const std::vector<std::pair<float, float>>& points) {
    ByteWriter out(kChroHeaderBytes + 8 * points.size());
    for (std::size_t i = 0; i < points.size(); ++i) {
        out.put_f32(kChroHeaderBytes + 8 * i, points[i].first);
        out.put_f32(kChroHeaderBytes + 8 * i + 4, points[i].second);
    }
    return out.take();
}

} // namespace tarnvale::testing
