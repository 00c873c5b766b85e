// Text helpers on arbitrary bytes: lossy decoding, trimming, quoting and the number
// syntax, with the round trips they promise.
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "display.hpp"
#include "fuzz_input.hpp"
#include "numbers.hpp"
#include "text.hpp"
#include "utf8.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tarnvale;
    using fuzzing::require;
    const std::string_view raw_text(reinterpret_cast<const char*>(data), size);
    const std::string text = lossy_utf8(std::span<const std::uint8_t>(data, size));
    require(fuzzing::is_utf8(text));
    require(fuzzing::is_utf8(debug_quote(raw_text)));
    require(trim(trim(text)) == trim(text));
    for (const auto line : split_lines(text)) require(line.find('\n') == std::string_view::npos);
    for (const auto piece : split_whitespace(text)) require(!piece.empty() && trim(piece) == piece);

    (void)parse_u32(raw_text);
    if (const auto value = parse_f64(raw_text); value && std::isfinite(*value)) {
        const std::string shortest = format_f64(*value);
        const auto again = parse_f64(shortest);
        require(again && std::bit_cast<std::uint64_t>(*again) == std::bit_cast<std::uint64_t>(*value));
        const float single = static_cast<float>(*value);
        if (std::isfinite(single)) {
            const std::string single_text = format_f32(single);
            require(std::strtof(single_text.c_str(), nullptr) == single);
        }
        (void)format_fixed(*value, static_cast<int>(size % 24));
    }
    return 0;
}
