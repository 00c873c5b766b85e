// The largest byte end a Variant A index addresses: offset + points x record width,
// over every record. An open computes it for every function to warn about an index
// larger than its data file, so the records are taken several at a time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "raw/decoder_path.hpp"

namespace tarnvale::raw {

// `records` holds `count` whole 22-byte records; 0 when there are none. Every path
// gives the same value.
std::uint64_t largest_record_end(const std::uint8_t* records, std::size_t count, std::uint32_t record_width,
                                 DecoderPath path);

} // namespace tarnvale::raw
