// _CHROMS.INF parser on arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz_input.hpp"
#include "raw/chroms.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tarnvale;
    const std::span<const std::uint8_t> bytes(data, size);
    if (const auto inf = raw::ChromsInf::from_bytes(bytes)) {
        for (std::size_t i = 0; i < inf->channels.size(); ++i) {
            fuzzing::require(inf->channels[i].index == i);
            fuzzing::require(fuzzing::is_utf8(inf->channels[i].name));
            fuzzing::require(fuzzing::is_utf8(inf->channels[i].units));
        }
    }
    fuzzing::require(fuzzing::is_utf8(decode_cp1252(bytes)));
    return 0;
}
