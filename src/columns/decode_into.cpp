#include "columns/decode_into.hpp"

namespace tarnvale::columns {

std::size_t count_points(Encoding encoding, Bytes records) {
    return encoding == Encoding::A ? raw::count_points_a(records) : raw::count_points_d(records);
}

} // namespace tarnvale::columns
