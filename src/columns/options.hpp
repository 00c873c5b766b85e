// How a whole function is read: threads, what a scan that cannot be decoded does,
// the size of the reads, and what is done to each scan's points.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "processing/scan_processing.hpp"

namespace tarnvale::columns {

enum class OnError : std::uint8_t {
    Fail, // the first scan (in scan order) that cannot be decoded fails the call
    Skip, // such scans are left empty and listed
};

struct Options {
    unsigned threads = 1;
    OnError on_error = OnError::Fail;
    // Bytes of the .DAT file read at a time; 0 picks a size from the function's
    // size. A scan larger than this is read on its own.
    std::size_t chunk_bytes = 0;
    // Peak picking and lock-mass correction of every scan read (prepared for the
    // run); none reads the scans as they are decoded.
    std::shared_ptr<const processing::ScanProcessing> processing = {};
};

} // namespace tarnvale::columns
