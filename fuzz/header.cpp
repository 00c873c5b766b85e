// _HEADER.TXT parser on arbitrary bytes, decoded the way from_path decodes them.
#include <cstddef>
#include <cstdint>
#include <span>

#include "display.hpp"
#include "fuzz_input.hpp"
#include "numbers.hpp"
#include "raw/header.hpp"
#include "text.hpp"
#include "utf8.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tarnvale;
    const std::string text = lossy_utf8(std::span<const std::uint8_t>(data, size));
    if (const auto header = raw::Header::from_str(text)) {
        for (const auto* field : {&header->version, &header->acquired_name, &header->instrument,
                                  &header->operator_, &header->sample_description})
            fuzzing::require(!field->has_value() || !(*field)->empty());
    } else {
        fuzzing::require(header.error().to_string().starts_with("parse error: _HEADER.TXT: "));
    }
    (void)raw::parse_cal_value(text);
    return 0;
}
