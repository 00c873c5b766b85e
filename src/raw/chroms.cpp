#include "raw/chroms.hpp"

#include <algorithm>
#include <format>
#include <optional>
#include <string_view>

#include "byte_cursor.hpp"
#include "numbers.hpp"
#include "raw/parse_file.hpp"
#include "text.hpp"
#include "utf8.hpp"

namespace tarnvale::raw {

namespace {

constexpr std::uint64_t kChromsHeaderSize = 128;
constexpr std::uint64_t kChannelRecordSize = 85;
constexpr std::uint64_t kChromsMinimumSize = 298;
constexpr std::size_t kLabelOffset = 4;
constexpr std::size_t kLabelSize = 81;

constexpr std::uint64_t kChroHeaderSize = 128;
constexpr std::uint64_t kChroSampleSize = 8;

constexpr std::string_view kScalingMarker = "$CC$";
constexpr std::size_t kScalingItems = 6;

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

struct Scaling {
    double scale_f = 1.0;
    std::string units;
};

// A label may carry "$CC$,<scale>,a,b,c,<units>" anywhere in its 81-byte field,
// even after the NUL that ends the name. Anything unreadable means no scaling.
std::optional<Scaling> read_scaling(ByteSpan label) {
    const std::size_t marker = as_text(label).find(kScalingMarker);
    if (marker == std::string_view::npos) return std::nullopt;
    const std::vector<ByteSpan> items = split_items(up_to_nul(label.subspan(marker)), kScalingItems);
    if (items.size() < kScalingItems) return std::nullopt;
    if (!is_valid_utf8(items[1])) return std::nullopt;
    const std::optional<double> scale = parse_f64(trim(as_text(items[1])));
    if (!scale) return std::nullopt;
    return Scaling{*scale, decode_cp1252(items[5])};
}

// `record` is one complete 85-byte channel record.
ChromChannel read_channel(const ByteCursor& record, std::size_t index) {
    const ByteSpan label = record.bytes_at(kLabelOffset, kLabelSize);
    ChromChannel channel;
    channel.index = index;
    channel.source_type = record.u32_at(0);
    channel.name = decode_cp1252(up_to_nul(label));
    if (std::optional<Scaling> scaling = read_scaling(label)) {
        channel.scale_f = scaling->scale_f;
        channel.units = std::move(scaling->units);
    }
    return channel;
}

} // namespace

Result<ChromsInf> ChromsInf::from_bytes(std::span<const std::uint8_t> bytes) {
    ByteCursor file(bytes, "_CHROMS.INF");
    TV_RETURN_IF_ERROR(file.need(kChromsMinimumSize));
    const std::uint16_t record_size = file.u16_at(4);
    if (record_size != kChannelRecordSize)
        return parse_error(std::format("_CHROMS.INF: record size field is {}, expected {}", record_size,
                                       kChannelRecordSize));
    const std::uint64_t n_meta = file.u16_at(6);
    file.skip(kChromsHeaderSize);
    const std::uint64_t meta_size = kChannelRecordSize * n_meta;
    TV_RETURN_IF_ERROR(file.need(meta_size, std::format("declared {} meta records", n_meta)));
    file.skip(meta_size);
    const std::uint64_t data_size = file.remaining();
    if (data_size % kChannelRecordSize != 0)
        return parse_error(std::format("_CHROMS.INF: data section size {} is not a multiple of {}", data_size,
                                       kChannelRecordSize));

    ChromsInf inf;
    const std::uint64_t count = data_size / kChannelRecordSize;
    inf.channels.reserve(count);
    for (std::uint64_t i = 0; i < count; ++i)
        inf.channels.push_back(read_channel(file.take(kChannelRecordSize), i));
    return inf;
}

Result<ChromsInf> ChromsInf::from_path(const std::filesystem::path& path) {
    return parse_file(path, kMetadataFileLimit, &from_bytes);
}

Result<std::vector<ChromPoint>> parse_chro_bytes(std::span<const std::uint8_t> bytes) {
    ByteCursor file(bytes, "_CHRO*.DAT");
    TV_RETURN_IF_ERROR(file.need(kChroHeaderSize));
    file.skip(kChroHeaderSize);
    const std::uint64_t data_size = file.remaining();
    if (data_size % kChroSampleSize != 0)
        return parse_error(std::format("_CHRO*.DAT data section size {} is not a multiple of 8", data_size));

    std::vector<ChromPoint> points;
    points.reserve(data_size / kChroSampleSize);
    while (file.remaining() > 0) {
        const ByteCursor sample = file.take(kChroSampleSize);
        points.push_back(ChromPoint{sample.f32_at(0), sample.f32_at(4)});
    }
    return points;
}

Result<std::vector<ChromPoint>> read_chro_dat(const std::filesystem::path& path) {
    return parse_file(path, kChromatogramFileLimit, &parse_chro_bytes);
}

} // namespace tarnvale::raw
