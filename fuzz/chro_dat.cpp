// _CHROnnn.DAT parser on arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz_input.hpp"
#include "raw/chroms.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tarnvale;
    if (const auto points = raw::parse_chro_bytes(std::span<const std::uint8_t>(data, size)))
        fuzzing::require(points->size() <= size / 8);
    return 0;
}
