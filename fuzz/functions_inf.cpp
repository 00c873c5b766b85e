// _FUNCTNS.INF parser on arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz_input.hpp"
#include "raw/functions_inf.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tarnvale;
    if (const auto table = raw::FunctionTable::from_bytes(std::span<const std::uint8_t>(data, size))) {
        fuzzing::require(table->functions.size() <= size / raw::kFunctionRecordSize);
        for (std::size_t i = 0; i < table->functions.size(); ++i)
            fuzzing::require(table->functions[i].index == i + 1);
    }
    return 0;
}
