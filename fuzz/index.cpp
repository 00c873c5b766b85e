// _FUNCnnn.IDX parser and record readers on arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz_input.hpp"
#include "raw/index.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tarnvale;
    const std::span<const std::uint8_t> bytes(data, size);
    if (const auto index = raw::ScanIndex::from_bytes(bytes)) {
        const std::size_t stride = index->is_variant_a() ? raw::kIndexStrideA : raw::kIndexStrideB;
        fuzzing::require(index->size() == size / stride);
        volatile float sink = 0;
        for (std::size_t scan = 0; scan < index->size(); ++scan) sink = index->rt_min(scan);
        (void)sink;
    }
    fuzzing::require(raw::parse_variant_a(bytes).size() == size / raw::kIndexStrideA);
    fuzzing::require(raw::parse_variant_b(bytes).size() == size / raw::kIndexStrideB);
    return 0;
}
