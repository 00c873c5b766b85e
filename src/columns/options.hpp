// How a whole function is read: threads, what a scan that cannot be decoded does,
// and the size of the reads.
#pragma once

#include <cstddef>
#include <cstdint>

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
};

} // namespace tarnvale::columns
