// _FUNCnnn.STS parser and value lookups on arbitrary bytes; every lookup, in range or
// not, must stay inside the parsed data.
#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz_input.hpp"
#include "raw/func_sts.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tarnvale;
    const auto sts = raw::FuncSts::from_bytes(std::span<const std::uint8_t>(data, size));
    if (!sts) return 0;
    fuzzing::require(sts->data.size() == sts->n_records * sts->scan_record_size);
    const std::size_t scans = std::min<std::size_t>(sts->n_records + 2, 64);
    for (std::size_t scan = 0; scan < scans; ++scan) {
        for (const auto& descriptor : sts->descriptors) (void)sts->value_at(descriptor, scan);
        (void)sts->collision_energy(scan);
        (void)sts->etd_fragmentation_mode(scan);
        if (!sts->descriptors.empty()) (void)sts->named_value(sts->descriptors.front().name, scan);
    }
    for (const auto& descriptor : sts->descriptors) (void)sts->value_at(descriptor, SIZE_MAX);
    return 0;
}
