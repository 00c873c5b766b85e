#include "chroms.hpp"

#include <algorithm>
#include <array>
#include <format>
#include <optional>
#include <string_view>

#include "../bytes.hpp"
#include "../io.hpp"
#include "../text.hpp"

namespace tarnvale::raw {

namespace {

constexpr std::uint64_t kChromsHeaderSize = 128;
constexpr std::uint64_t kChannelRecordSize = 85;
constexpr std::uint64_t kChromsMinimumSize = 298;
constexpr std::size_t kLabelOffset = 4;
constexpr std::size_t kLabelSize = 81;

constexpr std::uint64_t kChroHeaderSize = 128;
constexpr std::uint64_t kChroSampleSize = 8;

constexpr std::string_view kScaleSpecMarker = "$CC$";
constexpr std::size_t kScaleSpecItems = 6;

// Windows-1252 for 0x80..0x9F; the five bytes the code page leaves undefined
// keep their C1 control code points so that no byte is lost.
constexpr std::array<char16_t, 32> kCp1252High{
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

using ByteSpan = std::span<const std::uint8_t>;

ByteSpan up_to_nul(ByteSpan bytes) {
    return bytes.first(static_cast<std::size_t>(std::ranges::find(bytes, std::uint8_t{0}) - bytes.begin()));
}

std::string_view as_text(ByteSpan bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// Splits at commas into at most `limit` items; the last keeps any further commas.
std::vector<ByteSpan> split_items(ByteSpan text, std::size_t limit) {
    std::vector<ByteSpan> items;
    while (items.size() + 1 < limit) {
        const auto comma = std::ranges::find(text, std::uint8_t{','});
        if (comma == text.end()) break;
        const auto length = static_cast<std::size_t>(comma - text.begin());
        items.push_back(text.first(length));
        text = text.subspan(length + 1);
    }
    items.push_back(text);
    return items;
}

struct ScaleSpec {
    double scale_f = 1.0;
    std::string units;
};

// A label may carry "$CC$,<scale>,a,b,c,<units>" anywhere in its 81-byte field,
// even after the NUL that ends the name. Anything unreadable means no scaling.
std::optional<ScaleSpec> read_scale_spec(ByteSpan label) {
    const std::size_t marker = as_text(label).find(kScaleSpecMarker);
    if (marker == std::string_view::npos) return std::nullopt;
    const std::vector<ByteSpan> items = split_items(up_to_nul(label.subspan(marker)), kScaleSpecItems);
    if (items.size() < kScaleSpecItems) return std::nullopt;
    if (!is_valid_utf8(items[1])) return std::nullopt;
    const std::optional<double> scale = parse_f64(trim(as_text(items[1])));
    if (!scale) return std::nullopt;
    return ScaleSpec{*scale, decode_cp1252(items[5])};
}

// `record` is one complete 85-byte channel record.
ChromChannel read_channel(ByteSpan record, std::size_t index) {
    const ByteSpan label = record.subspan(kLabelOffset, kLabelSize);
    ChromChannel channel;
    channel.index = index;
    channel.source_type = load_u32(record.data());
    channel.name = decode_cp1252(up_to_nul(label));
    if (std::optional<ScaleSpec> spec = read_scale_spec(label)) {
        channel.scale_f = spec->scale_f;
        channel.units = std::move(spec->units);
    }
    return channel;
}

} // namespace

std::string decode_cp1252(std::span<const std::uint8_t> bytes) {
    std::string text;
    text.reserve(bytes.size());
    for (const std::uint8_t byte : bytes) {
        if (byte >= 0x80 && byte <= 0x9F)
            append_utf8(text, kCp1252High[byte - 0x80]);
        else
            append_utf8(text, byte);
    }
    return text;
}

Result<ChromsInf> ChromsInf::from_bytes(std::span<const std::uint8_t> bytes) {
    const std::uint64_t length = bytes.size();
    if (length < kChromsMinimumSize)
        return parse_error(
            std::format("_CHROMS.INF too small: {} bytes (need at least {})", length, kChromsMinimumSize));
    const std::uint16_t record_size = load_u16(bytes.data() + 4);
    if (record_size != kChannelRecordSize)
        return parse_error(std::format("_CHROMS.INF: record size field is {}, expected {}", record_size,
                                       kChannelRecordSize));
    const std::uint64_t n_meta = load_u16(bytes.data() + 6);
    const std::uint64_t meta_end = kChromsHeaderSize + kChannelRecordSize * n_meta;
    if (length < meta_end)
        return parse_error(std::format("_CHROMS.INF: file too small for declared {} meta records", n_meta));
    const std::uint64_t data_size = length - meta_end;
    if (data_size % kChannelRecordSize != 0)
        return parse_error(std::format("_CHROMS.INF: data section size {} is not a multiple of {}", data_size,
                                       kChannelRecordSize));

    ChromsInf inf;
    const std::uint64_t count = data_size / kChannelRecordSize;
    inf.channels.reserve(count);
    for (std::uint64_t i = 0; i < count; ++i)
        inf.channels.push_back(
            read_channel(bytes.subspan(meta_end + kChannelRecordSize * i, kChannelRecordSize), i));
    return inf;
}

Result<ChromsInf> ChromsInf::from_path(const std::filesystem::path& path) {
    TV_ASSIGN_OR_RETURN(const std::vector<std::uint8_t> bytes, read_whole_file(path));
    return from_bytes(bytes);
}

Result<std::vector<ChromPoint>> parse_chro_bytes(std::span<const std::uint8_t> bytes) {
    const std::uint64_t length = bytes.size();
    if (length < kChroHeaderSize)
        return parse_error(
            std::format("_CHRO*.DAT too small: {} bytes (need at least {})", length, kChroHeaderSize));
    const std::uint64_t data_size = length - kChroHeaderSize;
    if (data_size % kChroSampleSize != 0)
        return parse_error(std::format("_CHRO*.DAT data section size {} is not a multiple of 8", data_size));

    std::vector<ChromPoint> points;
    points.reserve(data_size / kChroSampleSize);
    for (std::uint64_t at = kChroHeaderSize; at < length; at += kChroSampleSize)
        points.push_back(ChromPoint{load_f32(bytes.data() + at), load_f32(bytes.data() + at + 4)});
    return points;
}

Result<std::vector<ChromPoint>> read_chro_dat(const std::filesystem::path& path) {
    TV_ASSIGN_OR_RETURN(const std::vector<std::uint8_t> bytes, read_whole_file(path));
    return parse_chro_bytes(bytes);
}

} // namespace tarnvale::raw
