#include "byte_cursor.hpp"

#include <format>
#include <limits>

namespace tarnvale {

Result<void> ByteCursor::need(std::uint64_t n) const {
    if (n <= remaining()) return {};
    const std::uint64_t total = n > std::numeric_limits<std::uint64_t>::max() - position_
                                    ? std::numeric_limits<std::uint64_t>::max()
                                    : position_ + n;
    return parse_error(std::format("{} too small: {} bytes (need at least {})", file_, size(), total));
}

Result<void> ByteCursor::need(std::uint64_t n, std::string_view what) const {
    if (n <= remaining()) return {};
    return parse_error(std::format("{}: file too small for {}", file_, what));
}

} // namespace tarnvale
