#include "raw/func_sts.hpp"

#include <algorithm>
#include <format>
#include <memory>
#include <utility>

#include "byte_cursor.hpp"
#include "bytes.hpp"
#include "raw/parse_file.hpp"
#include "text.hpp"
#include "utf8.hpp"

namespace tarnvale::raw {

namespace {

constexpr std::uint64_t kPreambleSize = 32;
constexpr std::uint64_t kDescriptorSize = 48;
constexpr std::size_t kNameOffset = 6;
constexpr std::size_t kNameSize = 42;
constexpr std::uint16_t kHighestEncoding = 3;

// The name field ends at its first NUL or fills all 42 bytes.
std::string descriptor_name(Bytes field) {
    const Bytes name =
        field.first(static_cast<std::size_t>(std::ranges::find(field, std::uint8_t{0}) - field.begin()));
    return std::string(trim(lossy_utf8(name)));
}

// `record` is a complete 48-byte descriptor.
Result<ChannelDescriptor> read_descriptor(const ByteCursor& record) {
    const std::uint16_t type_code = record.u16_at(2);
    if (type_code > kHighestEncoding)
        return parse_error(std::format("_FUNCnnn.STS: unknown channel encoding type {}", type_code));
    ChannelDescriptor descriptor;
    descriptor.id_word = record.u16_at(0);
    descriptor.value_type = static_cast<ChannelEncoding>(type_code);
    descriptor.offset = record.u16_at(4);
    descriptor.name = descriptor_name(record.bytes_at(kNameOffset, kNameSize));
    return descriptor;
}

std::optional<std::size_t> encoding_width(ChannelEncoding encoding) {
    switch (encoding) {
    case ChannelEncoding::U8:
        return 1;
    case ChannelEncoding::I16:
        return 2;
    case ChannelEncoding::U32:
    case ChannelEncoding::F32:
        return 4;
    }
    return std::nullopt;
}

double load_channel_value(ChannelEncoding encoding, const std::uint8_t* at) {
    switch (encoding) {
    case ChannelEncoding::U8:
        return at[0];
    case ChannelEncoding::I16:
        return load_i16(at);
    case ChannelEncoding::U32:
        return load_u32(at);
    case ChannelEncoding::F32:
        return load_f32(at);
    }
    return 0.0; // unreachable: callers check encoding_width first
}

} // namespace

Result<FuncSts> FuncSts::from_bytes(std::span<const std::uint8_t> bytes) {
    TV_ASSIGN_OR_RETURN(ByteBuffer copy, ByteBuffer::allocate(bytes.size()));
    std::ranges::copy(bytes, copy.begin());
    return from_buffer(std::move(copy));
}

Result<FuncSts> FuncSts::from_buffer(ByteBuffer buffer) {
    auto kept = std::make_shared<const ByteBuffer>(std::move(buffer));
    ByteCursor file(kept->span(), "_FUNCnnn.STS");
    TV_RETURN_IF_ERROR(file.need(kPreambleSize));
    const std::uint64_t data_offset = file.u16_at(0);
    const std::uint64_t record_size = file.u16_at(4);
    const std::uint64_t n_desc = file.u16_at(6);
    const std::uint64_t expected_offset = kPreambleSize + kDescriptorSize * n_desc;
    if (data_offset != expected_offset)
        return parse_error(
            std::format("_FUNCnnn.STS: data_offset {} does not match preamble + n_desc*48 = {}", data_offset,
                        expected_offset));
    TV_RETURN_IF_ERROR(file.need(data_offset, std::format("declared {} descriptor records", n_desc)));

    // Bounded by the file: the descriptors lie wholly before data_offset.
    FuncSts sts;
    sts.descriptors.reserve(n_desc);
    file.skip(kPreambleSize);
    for (std::uint64_t k = 0; k < n_desc; ++k) {
        TV_ASSIGN_OR_RETURN(ChannelDescriptor descriptor, read_descriptor(file.take(kDescriptorSize)));
        sts.descriptors.push_back(std::move(descriptor));
    }
    if (record_size == 0) return parse_error("_FUNCnnn.STS: scan_record_size is zero");

    sts.scan_record_size = record_size;
    sts.n_records = file.remaining() / record_size;
    sts.data = file.rest().first(sts.n_records * record_size);
    sts.bytes = std::move(kept);
    return sts;
}

Result<FuncSts> FuncSts::from_path(const std::filesystem::path& path) {
    return parse_file(path, kIndexFileLimit, &from_buffer);
}

std::optional<double> FuncSts::value_at(const ChannelDescriptor& descriptor, std::size_t scan) const {
    // The third condition keeps a FuncSts whose fields disagree with its `data` (one not
    // made by from_bytes) inside `data`.
    if (scan >= n_records || scan_record_size == 0 || scan >= data.size() / scan_record_size)
        return std::nullopt;
    const std::optional<std::size_t> width = encoding_width(descriptor.value_type);
    // A value must lie wholly inside its own scan record; written to avoid overflow.
    if (!width || descriptor.offset > scan_record_size || *width > scan_record_size - descriptor.offset)
        return std::nullopt;
    const std::size_t position = scan * scan_record_size + descriptor.offset;
    return load_channel_value(descriptor.value_type, data.data() + position);
}

const ChannelDescriptor* FuncSts::channel(std::string_view name) const {
    const auto match = std::ranges::find(descriptors, name, &ChannelDescriptor::name);
    return match == descriptors.end() ? nullptr : &*match;
}

std::optional<double> FuncSts::named_value(std::string_view name, std::size_t scan) const {
    // Only the first descriptor of that name is consulted.
    const ChannelDescriptor* match = channel(name);
    if (match == nullptr) return std::nullopt;
    return value_at(*match, scan);
}

std::optional<double> FuncSts::collision_energy(std::size_t scan) const {
    return named_value(kCollisionEnergy, scan);
}

std::optional<double> FuncSts::etd_fragmentation_mode(std::size_t scan) const {
    return named_value(kEtdFragmentationMode, scan);
}

} // namespace tarnvale::raw
