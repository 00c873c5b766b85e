// _extern.inf parser on arbitrary bytes, decoded the way from_path decodes them.
#include <cstddef>
#include <cstdint>
#include <span>

#include "display.hpp"
#include "fuzz_input.hpp"
#include "numbers.hpp"
#include "raw/extern_inf.hpp"
#include "text.hpp"
#include "utf8.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tarnvale;
    const std::string text = lossy_utf8(std::span<const std::uint8_t>(data, size));
    if (const auto inf = raw::ExternInf::from_str(text)) {
        for (const auto& [number, function] : inf->functions) {
            const std::uint32_t level = inf->ms_level(number);
            fuzzing::require(level == 1 || level == 2);
        }
        fuzzing::require(inf->ms_level(0) >= 1);
    }
    return 0;
}
