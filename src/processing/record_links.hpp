// Where the segments of a B or C scan run: for every record, the count of the record
// after it when that one continues the record's segment, else 0. One pass over the
// scan answers the walk's question at every sample, with the decoders' instruction
// sets (every path gives the same words).
#pragma once

#include <cstdint>

#include "bytes.hpp"
#include "raw/decoder_path.hpp"

namespace tarnvale::processing {

// Writes one word per whole record of `scan` into `nexts` (the last one's is 0). A
// record continues the segment of the one before it when it has a point and its key
// is the previous key plus one step: for B the upper half (position, then drift word)
// one position up, the drift word the same; for C the position alone.
using LinkRecords = void (*)(Bytes scan, std::uint32_t* nexts);

// The pass for encoding B (`with_fraction` false) or C, on `path`.
LinkRecords record_links(bool with_fraction, raw::DecoderPath path);

} // namespace tarnvale::processing
